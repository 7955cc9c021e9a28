// The station's six exported functions.
#include "Tarnlex.h"

#include <cstdlib>
#include <mutex>

#include "Qvcam.h"
#include "Tarn.h"
#include "TarnLog.h"
#include "Wcam.h"

namespace {

// Guards g_running and serialises opening, releasing and the stop at exit.
std::mutex g_lifecycleMutex;
// True from a successful open to the release.
bool g_running = false;

// A host that exits, or unloads the library, without Tarn_ReleaseDevice: the station's threads
// must not go on reading into the frames, mutexes and cameras that the process destroys next.
// Only the threads stop; a Tarn_ReleaseDevice still to come (from a host's own static object)
// closes the cameras as usual.
void StopThreadsAtExit() {
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    if (!g_running) return;
    // The sole thread first: it takes the shots, which read the upper cameras' frames.
    qvcam_StopThread();
    wcam_StopStreaming();
}

// Exit handlers run in the reverse order of their registration, the destructors of static
// objects among them. Registered once the SDK and OpenCV have made their own process-wide
// objects for a running station, so the threads stop before any of those or the station's own
// go; in a library that is unloaded, the handler runs at dlclose.
void StopThreadsAtExitFromNowOn() {
    static const bool registered = std::atexit(StopThreadsAtExit) == 0;
    (void)registered;
}

}  // namespace

extern "C" {

TARN_API int Tarn_InitDevice(void) {
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    TARN_LOG_INFO("初始化足迹采集设备");
    // Opening twice would start a second set of threads over the same state.
    if (g_running) return 1;
    // The upper capture threads run before the sole camera opens: its contact shots rely on them.
    if (!wcam_Open()) {
        wcam_Close();
        return -2;
    }
    if (!wcam_StartStreaming()) {
        wcam_Close();
        return -5;
    }
    if (!qvcam_Open()) {
        qvcam_Close();
        wcam_Close();
        return -1;
    }
    if (!qvcam_StartThreads()) {
        qvcam_Close();
        wcam_Close();
        return -4;
    }
    g_running = true;
    StopThreadsAtExitFromNowOn();
    return 1;
}

TARN_API int Tarn_ReleaseDevice(void) {
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    TARN_LOG_INFO("释放足迹采集设备");
    wcam_Close();
    qvcam_Close();
    g_running = false;
    return 1;
}

TARN_API int Tarn_SetFootDirect(int FootDirect) {
    if (FootDirect != 0 && FootDirect != 1) return -3;
    footDirect = FootDirect;
    return 1;
}

TARN_API int Tarn_SaveXDImageEX(char* ImgOutDir, char* XDImageName, char** XMImageName,
                                char* XMGroupImageName, FOOT_XD_INFO* pInfo) {
    TARN_LOG_INFO("从足迹采集设备保存图像");
    if (pInfo == nullptr) return -6;
    if (ImgOutDir == nullptr || XDImageName == nullptr || XMImageName == nullptr ||
        XMGroupImageName == nullptr)
        return -6;
    for (int i = 0; i < CAMERA_NUM; ++i)
        if (XMImageName[i] == nullptr) return -6;

    // Every path is built before anything is created or written: one that does not fit refuses
    // the whole save.
    char soleImageFullPath[kTarnPathSize] = {};
    char groupImageFullPath[kTarnPathSize] = {};
    char upperImageFullPaths[CAMERA_NUM][kTarnPathSize] = {};
    bool fits = CombinePath(soleImageFullPath, ImgOutDir, XDImageName);
    fits = CombinePath(groupImageFullPath, ImgOutDir, XMGroupImageName) && fits;
    for (int i = 0; i < CAMERA_NUM; ++i)
        fits = CombinePath(upperImageFullPaths[i], ImgOutDir, XMImageName[i]) && fits;
    if (!fits) {
        TARN_LOG_ERROR(std::string("path longer than ") + std::to_string(kTarnPathSize - 1) +
                       " characters under " + ImgOutDir);
        return -6;
    }

    if (!createDirectoryIfNotExists(ImgOutDir)) return -7;
    const bool soleWritten =
        qvcam_save(soleImageFullPath, footDirect, &pInfo->footLong, &pInfo->footFrontWidth,
                   &pInfo->footBackWidth, &pInfo->footScore);
    const bool upperWritten = wcam_save(upperImageFullPaths, groupImageFullPath);
    // A file that should have been written and was not is a failure, not a success.
    return soleWritten && upperWritten ? 1 : -8;
}

TARN_API int Tarn_GetPreviewImage(unsigned char* pRawData, unsigned char* pRawShot) {
    return qvcam_GetPreviewImage(pRawData, pRawShot);
}

TARN_API int Tarn_IsSupportCap(void) {
    return 1;
}

}  // extern "C"
