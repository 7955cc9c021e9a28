// Opening, streaming and closing the four upper cameras.
#include "Wcam.h"

#include <limits.h>
#include <pthread.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include <opencv2/videoio.hpp>

#include "TarnLog.h"
#include "V4l2FrameSource.h"

cv::Mat m_wCameraFrames[CAMERA_NUM];
std::mutex m_frameMutexes[CAMERA_NUM];
cv::Mat m_shotFrames[CAMERA_NUM];
std::mutex m_shotMutex;
std::atomic<bool> m_wcamThreadState{false};
cv::Mat m_previewImage;
std::mutex m_previewMutex;
bool m_newPreviewAvailable = false;

namespace {

// Each camera's pause after storing a frame: keeps the copying below the cameras' 60 frames/s.
constexpr auto kCapturePause = std::chrono::milliseconds(15);
// Frames read before the loop, to let the camera settle its exposure.
constexpr int kWarmUpFrames = 5;

// Held without a static destructor: a child that fork() made of the station's process would
// otherwise destroy them at its exit, and a V4L2 capture destroyed while open turns off the
// stream of the descriptor it shares with the parent. Only wcam_Close deletes them, which the
// station's process calls at its release, exit or unload.
CWcamFrameSource* cameraCaptures[CAMERA_NUM] = {};
pthread_t m_wcamThreadIDs[CAMERA_NUM];
bool m_wcamThreadStarted[CAMERA_NUM] = {};

std::mutex g_factoryMutex;  // guards g_factory
WcamFrameSourceFactory g_factory;

std::unique_ptr<CWcamFrameSource> MakeSource() {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    return g_factory ? g_factory() : CV4l2FrameSource::Create();
}

// Reads one frame and makes a deep copy of it the camera's newest frame; a failed read leaves
// an empty newest frame, so a shot then keeps that camera's earlier frozen frame.
void StoreNewest(int i) {
    cv::Mat frame;
    if (!cameraCaptures[i]->Read(frame)) frame.release();
    cv::Mat copy = frame.clone();
    std::lock_guard<std::mutex> lock(m_frameMutexes[i]);
    m_wCameraFrames[i] = copy;
}

}  // namespace

void wcam_SetFrameSourceFactory(WcamFrameSourceFactory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::string resolveSymlink(const std::string& path) {
    char resolved[4096];
    static_assert(sizeof resolved >= PATH_MAX);
    if (realpath(path.c_str(), resolved) == nullptr) {
        perror("realpath");
        return std::string();
    }
    return std::string(resolved);
}

bool wcam_Open() {
    return wcam_OpenPaths({"/dev/wcam1", "/dev/wcam2", "/dev/wcam3", "/dev/wcam4"});
}

bool wcam_OpenPaths(const std::array<std::string, CAMERA_NUM>& links) {
    std::string resolved[CAMERA_NUM];
    for (int i = 0; i < CAMERA_NUM; ++i) resolved[i] = resolveSymlink(links[i]);
    for (int i = 0; i < CAMERA_NUM; ++i) {
        TARN_LOG_INFO(resolved[i]);
        if (resolved[i].empty()) {
            TARN_LOG_INFO("符号链接解析失败");
            return false;
        }
    }
    for (int i = 0; i < CAMERA_NUM; ++i) {
        delete cameraCaptures[i];
        cameraCaptures[i] = MakeSource().release();
        cameraCaptures[i]->Open(resolved[i]);
        if (!cameraCaptures[i]->IsOpened()) {
            std::fprintf(stderr, "错误：无法打开摄像头设备：%s\n", resolved[i].c_str());
            std::fflush(stderr);
            return false;
        }
        // A mode the device refuses is not detected: it then delivers what it can.
        cameraCaptures[i]->Set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V'));
        cameraCaptures[i]->Set(cv::CAP_PROP_FRAME_WIDTH, 1280);
        cameraCaptures[i]->Set(cv::CAP_PROP_FRAME_HEIGHT, 720);
        cameraCaptures[i]->Set(cv::CAP_PROP_FPS, 60);
    }

    m_wcamThreadState = false;
    // A new session never freezes a frame of the previous one.
    for (int i = 0; i < CAMERA_NUM; ++i) {
        std::lock_guard<std::mutex> lock(m_frameMutexes[i]);
        m_wCameraFrames[i].release();
    }
    {
        // Black until the first shot, so a quarter whose camera never delivered shows nothing.
        std::lock_guard<std::mutex> lock(m_previewMutex);
        m_newPreviewAvailable = false;
        m_previewImage = cv::Mat::zeros(kMosaicHeight, kMosaicWidth, CV_8UC3);
    }
    TARN_LOG_INFO("鞋面相机打开成功");
    return true;
}

void* wcam_SingleCameraProc(void* arg) {
    const int i = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    if (i < 0 || i >= CAMERA_NUM || cameraCaptures[i] == nullptr) return nullptr;
    // Named after the camera's link, for debuggers and the host's thread lists.
    pthread_setname_np(pthread_self(), ("wcam" + std::to_string(i + 1)).c_str());
    // No exception may end the process from here; one error line per run of failures.
    bool failing = false;
    auto turn = [&](auto&& body) {
        try {
            body();
            failing = false;
        } catch (const std::exception& e) {
            if (!failing) TARN_LOG_ERROR("相机" + std::to_string(i) + ": " + e.what());
            failing = true;
        }
    };
    for (int n = 0; n < kWarmUpFrames && m_wcamThreadState; ++n) turn([i] { StoreNewest(i); });
    while (m_wcamThreadState) {
        turn([i] { StoreNewest(i); });
        std::this_thread::sleep_for(kCapturePause);
    }
    return nullptr;
}

bool wcam_StartStreaming() {
    m_wcamThreadState = true;
    for (int i = 0; i < CAMERA_NUM; ++i) {
        if (m_wcamThreadStarted[i]) continue;
        const int rc = pthread_create(&m_wcamThreadIDs[i], nullptr, wcam_SingleCameraProc,
                                      reinterpret_cast<void*>(static_cast<intptr_t>(i)));
        if (rc != 0) {
            TARN_LOG_ERROR("创建相机" + std::to_string(i) + "线程失败");
            // The threads already running end at their next turn: no cancellation in the middle
            // of a frame read.
            wcam_StopStreaming();
            return false;
        }
        m_wcamThreadStarted[i] = true;
    }
    return true;
}

bool wcam_StopStreaming() {
    m_wcamThreadState = false;
    for (int i = 0; i < CAMERA_NUM; ++i) {
        if (!m_wcamThreadStarted[i]) continue;
        pthread_join(m_wcamThreadIDs[i], nullptr);
        m_wcamThreadStarted[i] = false;
    }
    return true;
}

bool wcam_Close() {
    TARN_LOG_INFO("wcam_Close");
    wcam_StopStreaming();
    for (auto& capture : cameraCaptures) {
        if (capture == nullptr) continue;
        capture->Release();
        delete capture;
        capture = nullptr;
    }
    return true;
}

bool wcam_FetchPreview(unsigned char* dst) {
    std::lock_guard<std::mutex> lock(m_previewMutex);
    if (!m_newPreviewAvailable || m_previewImage.empty()) return false;
    std::memcpy(dst, m_previewImage.data, kMosaicBytes);
    m_newPreviewAvailable = false;
    return true;
}
