// The sole camera through the camera SDK's exports, and the sole thread.
#include "Qvcam.h"

#include <dlfcn.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "PW_Mosaic.h"
#include "QVCameraApi.h"
#include "TarnLog.h"
#include "Wcam.h"

std::mutex m_qvBufferMutex;
std::atomic<bool> m_bQVThreadState{false};
std::atomic<bool> m_bQVStartGrabbing{false};

namespace {

// The crop rectangle of a frame: 1200 columns from 40, 520 rows from 252.
constexpr int kCropX = 40;
constexpr int kCropY = 252;
// Wait for a frame, and the pause after each one (the thread leaves the CPU to the host).
constexpr int kFrameWaitMs = 1000;
constexpr auto kFramePause = std::chrono::milliseconds(5);
// After a wait that ended without a frame at once (a processing failure, a lost camera), so that
// the thread does not spin.
constexpr auto kNoFramePause = std::chrono::milliseconds(5);
// The idle turn while grabbing is off.
constexpr auto kIdleWait = std::chrono::milliseconds(500);

HANDLE m_qvHandle = nullptr;
bool m_qvOpen = false;
pthread_t m_qvThreadID;
bool m_qvThreadStarted = false;
const int m_qvWidth = kQvFrameWidth;
const int m_qvHeight = kQvFrameHeight;
const int rotatedWidth = kSoleWidth;
const int rotatedHeight = kSoleHeight;
unsigned char* m_pRotatedImageData = nullptr;
unsigned char* m_pMosaicImageData = nullptr;
// The double buffer: the sole thread stretches into writeBuffer and swaps the pointers under
// m_qvBufferMutex; readers copy readBuffer under the same mutex.
unsigned char bufferA[kSoleBytes];
unsigned char bufferB[kSoleBytes];
unsigned char* writeBuffer = bufferA;
unsigned char* readBuffer = bufferB;

// Wakes the idle turn at close. Held around the change of the run flags, so that a close
// between the idle turn's check of the flags and its wait is not missed. (The sole thread has
// ended before static objects are destroyed, also in a host that exits without the release.)
std::mutex g_idleMutex;
std::condition_variable g_idleWake;

// The SDK's camera manager, which the first enumeration starts, keeps threads of its own for
// the rest of the process: the SDK must stay loaded when a host unloads this library after
// using it. (The name matches the loaded library; nothing is loaded here.)
void KeepSdkLoaded() {
    static const bool kept =
        dlopen("libQVCameraSDK.so", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    (void)kept;
}

// Steps 2 to 8 of the open, after the accumulator.
bool OpenCamera() {
    KeepSdkLoaded();
    int count = -1;
    if (CameraEnumerateDevice(&count) != 0 || count < 1) {
        TARN_LOG_INFO("异常:鞋底相机枚举设备失败，检查驱动和USB连接");
        return false;
    }
    HANDLE handle = nullptr;
    const int init = CameraInit(&handle, 0);
    if (init != 0) {
        // A camera without its device parameters leaves its handle allocated: give it back.
        if (handle != nullptr && (init == CAMERA_STATUS_EEPROM_NOT_WRITTEN ||
                                  init == CAMERA_STATUS_PROPERTY_NOT_WRITTEN))
            CameraUnInit(handle);
        m_qvHandle = nullptr;
        m_qvOpen = false;
        TARN_LOG_INFO("异常:鞋底相机初始化失败，检查 USB 连接");
        return false;
    }
    m_qvHandle = handle;
    qvcam_LightControl(true);

    if (CameraSetIspOutFormat(m_qvHandle, CAMERA_MEDIA_TYPE_MONO) != 0)
        TARN_LOG_INFO("qvcam: CameraSetIspOutFormat Fail");
    if (CameraSetTriggerMode(m_qvHandle, 0) != 0) TARN_LOG_INFO("qvcam: CameraSetTriggerMode Fail");
    // Manual exposure of 30 ms at unity gain, neutral contrast, no sharpening, no mirroring. No
    // resolution is set: the camera keeps its stored one, which must be 1280x1024.
    CameraSetAeState(m_qvHandle, 0);
    CameraSetExposureTime(m_qvHandle, 30000.0);
    CameraSetAnalogGain(m_qvHandle, 1000);
    CameraSetContrast(m_qvHandle, 50);
    CameraSetSharpness(m_qvHandle, 0);
    CameraSetMirror(m_qvHandle, 0, 0);
    CameraSetMirror(m_qvHandle, 1, 0);

    if (CameraPlay(m_qvHandle) != 0) {
        TARN_LOG_INFO("qvcam: CameraPlay Fail");
        // The light went on above: it must not stay on over a camera nobody drives.
        qvcam_LightControl(false);
        CameraUnInit(m_qvHandle);
        m_qvHandle = nullptr;
        m_qvOpen = false;
        return false;
    }
    return true;
}

// Whether a frame is what the crop expects; one error line each time the format changes.
bool FrameUsable(const stImageInfo& info) {
    static uint32_t lastWidth = kQvFrameWidth, lastHeight = kQvFrameHeight,
                    lastType = CAMERA_MEDIA_TYPE_MONO8;
    const bool usable = info.iWidth == static_cast<uint32_t>(m_qvWidth) &&
                        info.iHeight == static_cast<uint32_t>(m_qvHeight) &&
                        info.uiMediaType == CAMERA_MEDIA_TYPE_MONO8;
    if (info.iWidth != lastWidth || info.iHeight != lastHeight || info.uiMediaType != lastType) {
        if (!usable) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "qvcam: frame %ux%u of media type 0x%08X skipped (1280x1024 mono 8-bit "
                          "expected)",
                          info.iWidth, info.iHeight, info.uiMediaType);
            TARN_LOG_ERROR(text);
        }
        lastWidth = info.iWidth;
        lastHeight = info.iHeight;
        lastType = info.uiMediaType;
    }
    return usable;
}

void ProcessFrame(unsigned char* frame) {
    qvcam_processImage(frame, m_qvWidth, m_qvHeight, kCropX, kCropY, rotatedHeight, rotatedWidth,
                       false, m_pRotatedImageData);
    if (qvcam_DetectFullContact(m_pRotatedImageData, rotatedWidth, rotatedHeight)) wcam_shot();
    const int ret =
        MOSAIC_DoMosaic(m_pRotatedImageData, m_pMosaicImageData, rotatedWidth, rotatedHeight);
    qvcam_ContrastStretchingAuto(m_pMosaicImageData, writeBuffer, rotatedWidth, rotatedHeight);
    // Swapped only while a foot is present (and on the accumulator's reset), so the preview keeps
    // the last impression while the plate is empty.
    std::lock_guard<std::mutex> lock(m_qvBufferMutex);
    if (ret != 0) std::swap(readBuffer, writeBuffer);
}

}  // namespace

void qvcam_LightControl(bool isOn) {
    if (m_qvHandle == nullptr) return;
    CameraSetOutputIOMode(m_qvHandle, 0, IOMODE_GP_OUTPUT);
    CameraSetOutputIOState(m_qvHandle, 0, isOn ? 1 : 0);
}

bool qvcam_Open() {
    const int mosaic = MOSAIC_Init(rotatedWidth, rotatedHeight);
    if (mosaic != 1) {
        TARN_LOG_INFO("拼接初始化失败：" + std::to_string(mosaic));
        return false;
    }
    try {
        if (!OpenCamera()) return false;
    } catch (const std::exception& e) {
        TARN_LOG_ERROR(std::string("qvcam: Exception in InitCamera: ") + e.what());
        return false;
    }

    m_bQVStartGrabbing = false;
    m_bQVThreadState = false;
    if (m_pRotatedImageData == nullptr) m_pRotatedImageData = new unsigned char[kSoleBytes]();
    if (m_pMosaicImageData == nullptr) m_pMosaicImageData = new unsigned char[kSoleBytes]();
    {
        std::lock_guard<std::mutex> lock(m_qvBufferMutex);
        std::memset(bufferA, 0, sizeof bufferA);
        std::memset(bufferB, 0, sizeof bufferB);
    }
    TARN_LOG_INFO("鞋底相机打开成功");
    m_qvOpen = true;
    return true;
}

bool qvcam_StartThreads() {
    if (m_qvThreadStarted) return true;
    m_bQVStartGrabbing = true;
    m_bQVThreadState = true;
    if (pthread_create(&m_qvThreadID, nullptr, qvcam_ThreadProc, nullptr) != 0) {
        TARN_LOG_INFO("qvcam_StartThreads: 创建线程失败");
        m_bQVStartGrabbing = false;
        m_bQVThreadState = false;
        return false;
    }
    m_qvThreadStarted = true;
    return true;
}

void* qvcam_ThreadProc(void* /*arg*/) {
    pthread_setname_np(pthread_self(), "qvcam");
    // No exception may end the host from here: one error line per run of failures.
    bool failing = false;
    while (m_bQVThreadState) {
        if (!m_bQVStartGrabbing) {
            std::unique_lock<std::mutex> lock(g_idleMutex);
            g_idleWake.wait_for(lock, kIdleWait,
                                [] { return !m_bQVThreadState || m_bQVStartGrabbing; });
            continue;
        }
        stImageInfo info{};
        unsigned char* frame = CameraGetImageBufferEx(m_qvHandle, &info, kFrameWaitMs);
        if (frame == nullptr) {
            std::this_thread::sleep_for(kNoFramePause);
            continue;
        }
        // A frame of another size or format is never cropped as if it were 1280x1024.
        if (!FrameUsable(info)) continue;
        try {
            ProcessFrame(frame);
            failing = false;
        } catch (const std::exception& e) {
            if (!failing) TARN_LOG_ERROR(std::string("qvcam: ") + e.what());
            failing = true;
        }
        std::this_thread::sleep_for(kFramePause);
    }
    return nullptr;
}

void qvcam_CopyPublished(unsigned char* dst) {
    std::lock_guard<std::mutex> lock(m_qvBufferMutex);
    std::memcpy(dst, readBuffer, kSoleBytes);
}

int qvcam_GetPreviewImage(unsigned char* pFootPreviewData, unsigned char* pUpperData) {
    if (pFootPreviewData == nullptr || pUpperData == nullptr) return -1;
    // One lock after the other, never both at once.
    const bool mosaic = wcam_FetchPreview(pUpperData);
    qvcam_CopyPublished(pFootPreviewData);
    return mosaic ? 2 : 1;
}

void qvcam_StopThread() {
    {
        std::lock_guard<std::mutex> lock(g_idleMutex);
        m_bQVStartGrabbing = false;
        m_bQVThreadState = false;
    }
    g_idleWake.notify_all();
    if (m_qvThreadStarted) {
        pthread_join(m_qvThreadID, nullptr);
        m_qvThreadStarted = false;
    }
}

bool qvcam_Close() {
    TARN_LOG_INFO("qvcam_Close");
    qvcam_StopThread();
    qvcam_LightControl(false);
    if (m_qvOpen) {
        CameraUnInit(m_qvHandle);
        m_qvHandle = nullptr;
        m_qvOpen = false;
    }
    delete[] m_pRotatedImageData;
    m_pRotatedImageData = nullptr;
    delete[] m_pMosaicImageData;
    m_pMosaicImageData = nullptr;
    MOSAIC_Close();
    return true;
}
