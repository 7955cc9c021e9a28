// An upper camera played from a folder of PNG files through OpenCV's own image-sequence reader
// (cv::VideoCapture with cv::CAP_IMAGES), so the real OpenCV read path runs behind the station's
// frame-source seam. The sequence starts over at its end, so the camera never runs dry.
#pragma once

#include <string>

#include <opencv2/videoio.hpp>

#include "WcamFrameSource.h"

class CImageSequenceFrameSource : public CWcamFrameSource {
  public:
    // Writes `count` copies of `frame` as folder/cam<camera+1>/000.png, 001.png ... (a folder per
    // camera: the reader takes the first run of digits of the file name as the frame number)
    // and the link folder/wcam<camera+1> to the first; returns the link.
    static std::string WriteSequence(const std::string& folder, int camera, const cv::Mat& frame,
                                     int count);

    void Open(const std::string& path) override;
    bool IsOpened() const override { return m_capture.isOpened(); }
    bool Set(int propId, double value) override { return m_capture.set(propId, value); }
    bool Read(cv::Mat& image) override;
    void Release() override { m_capture.release(); }

  private:
    std::string m_path;
    cv::VideoCapture m_capture;
};
