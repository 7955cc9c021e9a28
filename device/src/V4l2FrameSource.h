// An upper camera through OpenCV's video capture with the V4L2 back end.
#pragma once

#include <memory>
#include <string>

#include <opencv2/videoio.hpp>

#include "WcamFrameSource.h"

class CV4l2FrameSource : public CWcamFrameSource {
  public:
    static std::unique_ptr<CWcamFrameSource> Create();

    void Open(const std::string& path) override;
    bool IsOpened() const override;
    bool Set(int propId, double value) override;
    bool Read(cv::Mat& image) override;
    void Release() override;

  private:
    cv::VideoCapture m_capture;
};
