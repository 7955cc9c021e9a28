#include "V4l2FrameSource.h"

std::unique_ptr<CWcamFrameSource> CV4l2FrameSource::Create() {
    return std::make_unique<CV4l2FrameSource>();
}

void CV4l2FrameSource::Open(const std::string& path) {
    m_capture.open(path, cv::CAP_V4L2);
}

bool CV4l2FrameSource::IsOpened() const {
    return m_capture.isOpened();
}

bool CV4l2FrameSource::Set(int propId, double value) {
    return m_capture.set(propId, value);
}

bool CV4l2FrameSource::Read(cv::Mat& image) {
    if (m_capture.read(image)) return true;
    image.release();
    return false;
}

void CV4l2FrameSource::Release() {
    m_capture.release();
}
