// What the upper cameras need of a video device: open a path, set a property, read a frame,
// release. The station's own implementation is CV4l2FrameSource (OpenCV's V4L2 capture); the
// interface exists because the devices behind /dev/wcam1 to /dev/wcam4 are absent on machines
// without the station's hardware, where another source stands in.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

class CWcamFrameSource {
  public:
    virtual ~CWcamFrameSource() = default;

    // Opens the device at `path` (already resolved); IsOpened tells whether it worked.
    virtual void Open(const std::string& path) = 0;
    virtual bool IsOpened() const = 0;
    // A cv::CAP_PROP_* property; false when the device refused it.
    virtual bool Set(int propId, double value) = 0;
    // The next frame, blue-green-red; false and an empty image when none came.
    virtual bool Read(cv::Mat& image) = 0;
    virtual void Release() = 0;
};

using WcamFrameSourceFactory = std::function<std::unique_ptr<CWcamFrameSource>()>;
