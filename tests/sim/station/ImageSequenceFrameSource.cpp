#include "ImageSequenceFrameSource.h"

#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

std::string CImageSequenceFrameSource::WriteSequence(const std::string& folder, int camera,
                                                     const cv::Mat& frame, int count) {
    const std::string dir = folder + "/cam" + std::to_string(camera + 1);
    fs::create_directories(dir);
    for (int n = 0; n < count; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.png", n);
        cv::imwrite(dir + name, frame);
    }
    const std::string link = folder + "/wcam" + std::to_string(camera + 1);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(dir + "/000.png", link);
    return link;
}

void CImageSequenceFrameSource::Open(const std::string& path) {
    m_path = path;
    m_capture.open(path, cv::CAP_IMAGES);
}

bool CImageSequenceFrameSource::Read(cv::Mat& image) {
    if (m_capture.read(image)) return true;
    // The end of the sequence: start it over.
    m_capture.open(m_path, cv::CAP_IMAGES);
    if (m_capture.read(image)) return true;
    image.release();
    return false;
}
