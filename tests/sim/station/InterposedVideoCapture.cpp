#include "InterposedVideoCapture.h"

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
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

// The devices' stream state, as the V4L2 driver keeps it: per open file description, which a
// forked child shares with its parent. OpenCV's V4L2 back end stops the stream (VIDIOC_STREAMOFF)
// when a capture that is still open is destroyed, whichever process destroys it; the parent's
// next buffer then never comes. Kept in memory shared across fork(), and read without a lock (a
// child must not wait for a lock one of its parent's threads held at the fork).
constexpr int kDevices = 8;
struct Device {
    std::atomic<const cv::VideoCapture*> capture;  // process memory: the same address in a child
};
Device g_devices[kDevices];
std::atomic<bool>* StreamingFlags() {
    static std::atomic<bool>* const flags = [] {
        void* page = mmap(nullptr, sizeof(std::atomic<bool>) * kDevices, PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        return page == MAP_FAILED ? nullptr : new (page) std::atomic<bool>[kDevices]();
    }();
    return flags;
}
int DeviceOf(const cv::VideoCapture* capture) {
    for (int i = 0; i < kDevices; ++i)
        if (g_devices[i].capture.load() == capture) return i;
    return -1;
}
void StreamOn(const cv::VideoCapture* capture) {
    for (int i = 0; i < kDevices; ++i) {
        const cv::VideoCapture* none = nullptr;
        if (g_devices[i].capture.compare_exchange_strong(none, capture)) {
            if (StreamingFlags() != nullptr) StreamingFlags()[i] = true;
            return;
        }
    }
}
void StreamOff(const cv::VideoCapture* capture) {
    const int i = DeviceOf(capture);
    if (i < 0) return;
    if (StreamingFlags() != nullptr) StreamingFlags()[i] = false;
    g_devices[i].capture = nullptr;
}
bool Streaming(const cv::VideoCapture* capture) {
    const int i = DeviceOf(capture);
    return i < 0 || StreamingFlags() == nullptr || StreamingFlags()[i];
}

}  // namespace

uint64_t qvsim::InterposedCaptureReads() {
    return g_reads.load();
}

bool cv::VideoCapture::open(const cv::String& /*filename*/, int /*apiPreference*/) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_open.insert(this);
    }
    StreamOn(this);
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
    if (!Streaming(this)) {
        image.release();
        return false;
    }
    image.create(kHeight, kWidth, CV_8UC3);
    image.getMat().setTo(cv::Scalar(40, 120, 200));
    ++g_reads;
    return true;
}

void cv::VideoCapture::release() {
    StreamOff(this);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.erase(this);
}

// The capture's destructor (the complete object's, which the station's frame source calls):
// like the V4L2 back end's, it stops the stream of a capture still open. The library's own
// destructor has nothing else to do here: the capture never opened a back end of its own.
extern "C" void _ZN2cv12VideoCaptureD1Ev(cv::VideoCapture* capture) {
    StreamOff(capture);
}
