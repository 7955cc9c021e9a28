// The station's six exported functions.
#include "Tarnlex.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "Qvcam.h"
#include "Tarn.h"
#include "TarnLog.h"
#include "Wcam.h"

namespace {

// Guards g_running and serialises opening, releasing and the release at exit or unload.
std::mutex g_lifecycleMutex;
// True from a successful open to the release.
bool g_running = false;
// The process the station belongs to: the first one that opened it, or tried to (the SDK's camera
// manager starts its threads there). A child that fork() makes of it inherits the state but
// none of the threads (the station's, the SDK's, OpenCV's), and possibly a lock another thread
// held at the fork: it must not touch any of them, nor wait for the lifecycle mutex. Read
// without the mutex for that reason.
enum Owner : int { kUnclaimed, kThisProcess, kAnotherProcess };
std::atomic<int> g_owner{kUnclaimed};
// A process ID alone does not tell the child: the first process of a PID namespace has ID 1, and
// so has its child forked into a namespace of its own. It still tells a child made without fork()
// (which runs no fork handler).
std::atomic<pid_t> g_stationPid{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "read and written in a fork child handler");

// Runs in the child of every fork(), where only the forking thread exists: a lock-free atomic
// operation and nothing else, as in a signal handler.
void MarkForkedChild() {
    int owner = kThisProcess;
    g_owner.compare_exchange_strong(owner, kAnotherProcess);
}

// Registered when the library is loaded, with the library's handle: unloading it removes the
// handler. A station nobody has claimed yet stays unclaimed in the child.
[[maybe_unused]] const bool g_forkHandled = pthread_atfork(nullptr, nullptr, MarkForkedChild) == 0;

bool InAnotherProcess() {
    if (g_owner.load() == kAnotherProcess) return true;
    const pid_t owner = g_stationPid.load();
    return owner != 0 && owner != getpid();
}

// Makes this process the station's, unless another is.
void Claim() {
    int none = kUnclaimed;
    if (g_owner.compare_exchange_strong(none, kThisProcess)) g_stationPid = getpid();
}

void CloseAll() {
    wcam_Close();
    qvcam_Close();
    g_running = false;
}

// A host that exits, or unloads the library, without Tarn_ReleaseDevice: the station's threads
// must not go on reading into the frames, mutexes and cameras that the process destroys next,
// and the sole camera must not stay open with its light on (a process that loads the library
// again could not open it). The SDK and OpenCV are still there: the handler is registered after
// they made their process-wide objects, and exit handlers run in the reverse order. A child that
// fork() made of the host does nothing here: the threads and cameras are its parent's.
void ReleaseAtExit() {
    if (InAnotherProcess()) return;
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    if (!g_running) return;
    CloseAll();
}

// Its destructor is the handler. A static object's destructor is registered for this library
// (with its DSO handle), so it runs at dlclose as well as at exit, also where a sanitizer's
// runtime takes over the plain atexit of shared libraries.
struct ReleaseAtExitOrUnload {
    ~ReleaseAtExitOrUnload() { ReleaseAtExit(); }
};

void ReleaseAtExitFromNowOn() {
    static const ReleaseAtExitOrUnload handler;
    (void)handler;
}

}  // namespace

extern "C" {

TARN_API int Tarn_InitDevice(void) {
    Claim();
    if (InAnotherProcess()) {
        TARN_LOG_INFO("初始化足迹采集设备");
        return -1;
    }
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
    ReleaseAtExitFromNowOn();
    return 1;
}

TARN_API int Tarn_ReleaseDevice(void) {
    if (InAnotherProcess()) {
        TARN_LOG_INFO("释放足迹采集设备");
        return 1;
    }
    std::lock_guard<std::mutex> lock(g_lifecycleMutex);
    TARN_LOG_INFO("释放足迹采集设备");
    CloseAll();
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
    if (InAnotherProcess()) return -8;
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
    if (InAnotherProcess()) return -1;
    return qvcam_GetPreviewImage(pRawData, pRawShot);
}

TARN_API int Tarn_IsSupportCap(void) {
    return 1;
}

}  // extern "C"
