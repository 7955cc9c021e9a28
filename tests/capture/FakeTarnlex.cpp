#include "FakeTarnlex.h"

#include <cstring>

FakeTarnlex& FakeTarnlex::Instance() {
    static FakeTarnlex fake;
    return fake;
}

void FakeTarnlex::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    initResult = 1;
    initHeld = false;
    initCalls = 0;
    releaseCalls = 0;
    previewResults.clear();
    previewCalls.clear();
    saveResult = 1;
    saveInfo = {};
    saveArguments.clear();
    saveInfoNull = false;
}

void FakeTarnlex::HoldInit() {
    std::lock_guard<std::mutex> lock(mutex);
    initHeld = true;
}

void FakeTarnlex::LetInit() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        initHeld = false;
    }
    changed.notify_all();
}

bool FakeTarnlex::WaitInitEntered(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return initCalls > 0; });
}

bool FakeTarnlex::WaitPolls(size_t calls, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return previewCalls.size() >= calls; });
}

extern "C" {

int Tarn_InitDevice(void) {
    FakeTarnlex& f = FakeTarnlex::Instance();
    std::unique_lock<std::mutex> lock(f.mutex);
    ++f.initCalls;
    f.changed.notify_all();
    f.changed.wait(lock, [&] { return !f.initHeld; });
    return f.initResult;
}

int Tarn_ReleaseDevice(void) {
    FakeTarnlex& f = FakeTarnlex::Instance();
    std::lock_guard<std::mutex> lock(f.mutex);
    ++f.releaseCalls;
    return 1;
}

int Tarn_SetFootDirect(int FootDirect) {
    return FootDirect == 0 || FootDirect == 1 ? 1 : -3;
}

int Tarn_SaveXDImageEX(char* ImgOutDir, char* XDImageName, char** XMImageName,
                       char* XMGroupImageName, FOOT_XD_INFO* pInfo) {
    FakeTarnlex& f = FakeTarnlex::Instance();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.saveArguments = {ImgOutDir,      XDImageName,    XMImageName[0],  XMImageName[1],
                       XMImageName[2], XMImageName[3], XMGroupImageName};
    f.saveInfoNull = pInfo == nullptr;
    if (pInfo != nullptr && f.saveResult == 1) *pInfo = f.saveInfo;
    return f.saveResult;
}

int Tarn_GetPreviewImage(unsigned char* pRawData, unsigned char* pRawShot) {
    FakeTarnlex& f = FakeTarnlex::Instance();
    int result = 1;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.previewCalls.push_back(FakeTarnlex::Clock::now());
        if (!f.previewResults.empty()) {
            result = f.previewResults.front();
            f.previewResults.pop_front();
        }
    }
    f.changed.notify_all();
    if (pRawData == nullptr || pRawShot == nullptr || result < 0) return result < 0 ? result : -1;
    for (int y = 0; y < 1200; ++y)
        for (int x = 0; x < 520; ++x) pRawData[y * 520 + x] = static_cast<unsigned char>(x % 256);
    if (result == 2) {
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 320; ++x) {
                unsigned char* p = pRawShot + (y * 320 + x) * 3;
                const bool red = x < FakeTarnlex::kBlock && y < FakeTarnlex::kBlock;
                const bool blue = x >= 320 - FakeTarnlex::kBlock && y >= 180 - FakeTarnlex::kBlock;
                p[0] = red ? 0 : blue ? 255 : 128;  // blue
                p[1] = red || blue ? 0 : 128;       // green
                p[2] = red ? 255 : blue ? 0 : 128;  // red
            }
    }
    return result;
}

int Tarn_IsSupportCap(void) {
    return 1;
}

}  // extern "C"
