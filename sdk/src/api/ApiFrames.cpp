// Exported entries of frames for the host: frame descriptors, timestamps and frame numbers,
// processed frames and snapshots. Each checks the handle and calls one controller method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" BYTE* CameraGetImageInfo(HANDLE hCamera, CameraFrameHandle frame, stImageInfo* pInfo) {
    if (hCamera == nullptr) return nullptr;
    return Control(hCamera)->CameraGetImageInfo(frame, pInfo);
}

extern "C" int CameraGetImageTimestamp(HANDLE hCamera, CameraFrameHandle frame,
                                       uint64_t* pTimestamp) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetImageTimestamp(frame, pTimestamp);
}

extern "C" int CameraGetImageFrameNo(HANDLE hCamera, CameraFrameHandle frame, uint64_t* pFrameNo) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetImageFrameNo(frame, pFrameNo);
}

extern "C" int CameraResetTimestamp(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraResetTimestamp();
}

extern "C" int CameraGetOutImageBuffer(HANDLE hCamera, stImageInfo* pInfo, BYTE* pRaw, BYTE* pOut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetOutImageBuffer(pInfo, pRaw, pOut);
}

extern "C" BYTE* CameraGetImageBufferEx(HANDLE hCamera, stImageInfo* pInfo, int timeoutMs) {
    if (hCamera == nullptr) return nullptr;
    return Control(hCamera)->CameraGetImageBufferEx(pInfo, timeoutMs);
}

extern "C" int CameraGetImageBufferEx1(HANDLE hCamera, BYTE* pOut, stImageInfo* pInfo,
                                       int timeoutMs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetImageBufferEx1(pOut, pInfo, timeoutMs);
}

extern "C" int CameraGetImageBufferEx2(HANDLE hCamera, BYTE* pOut, stImageInfo* pInfo,
                                       uint64_t* pTimestamp, int timeoutMs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetImageBufferEx2(pOut, pInfo, pTimestamp, timeoutMs);
}

extern "C" BYTE* CameraGetImageBufferEx3(HANDLE hCamera, stImageInfo* pInfo, uint64_t* pTimestamp,
                                         int timeoutMs) {
    if (hCamera == nullptr) return nullptr;
    return Control(hCamera)->CameraGetImageBufferEx3(pInfo, pTimestamp, timeoutMs);
}

extern "C" int CameraSnapToBuffer(HANDLE hCamera, CameraFrameHandle* pFrame, stImageInfo* pInfo,
                                  BYTE** ppData, UINT timeoutMs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSnapToBuffer(pFrame, pInfo, ppData, timeoutMs);
}

extern "C" int CameraSetResolutionForSnap(HANDLE hCamera, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetResolutionForSnap(pRes);
}

extern "C" int CameraGetResolutionForSnap(HANDLE hCamera, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetResolutionForSnap(pRes);
}
