#include "InterposedVideoCapture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include <opencv2/videoio.hpp>

namespace {

std::mutex g_mutex;                        // guards g_open
std::set<const cv::VideoCapture*> g_open;  // the captures opened and not released
std::atomic<uint64_t> g_reads{0};

// Small frames at 5 frames/s: a host that only needs the cameras to stream need not pay for
// four streams of 1280x720 at 60 (the station's capture threads copy every frame twice).
constexpr auto kFrameTime = std::chrono::milliseconds(200);
constexpr int kWidth = 320;
constexpr int kHeight = 180;

bool IsOpen(const cv::VideoCapture* capture) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_open.count(capture) != 0;
}

}  // namespace

uint64_t qvsim::InterposedCaptureReads() {
    return g_reads.load();
}

bool cv::VideoCapture::open(const cv::String& /*filename*/, int /*apiPreference*/) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.insert(this);
    return true;
}

bool cv::VideoCapture::isOpened() const {
    return IsOpen(this);
}

bool cv::VideoCapture::set(int /*propId*/, double /*value*/) {
    return IsOpen(this);
}

bool cv::VideoCapture::read(cv::OutputArray image) {
    if (!IsOpen(this)) {
        image.release();
        return false;
    }
    std::this_thread::sleep_for(kFrameTime);
    image.create(kHeight, kWidth, CV_8UC3);
    image.getMat().setTo(cv::Scalar(40, 120, 200));
    ++g_reads;
    return true;
}

void cv::VideoCapture::release() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.erase(this);
}
