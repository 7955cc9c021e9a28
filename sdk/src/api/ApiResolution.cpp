// Exported entries of frame speed and resolution and the frame statistics. Each checks the handle
// and calls one controller method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" int CameraSetFrameSpeed(HANDLE hCamera, int speed) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetFrameSpeed(speed);
}

extern "C" int CameraGetFrameSpeed(HANDLE hCamera, int* pSpeed) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetFrameSpeed(pSpeed);
}

extern "C" int CameraSetResolution(HANDLE hCamera, int index) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetResolution(index);
}

extern "C" int CameraGetResolution(HANDLE hCamera, int* pIndex) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetResolution(pIndex);
}

extern "C" int CameraSetResolutionEx(HANDLE hCamera, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetResolutionEx(pRes);
}

extern "C" int CameraGetResolutionEx(HANDLE hCamera, int index, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetResolutionEx(index, pRes);
}

extern "C" int CameraGetCurResolution(HANDLE hCamera, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCurResolution(pRes);
}

extern "C" int CameraGetOutImageSize(HANDLE hCamera, int* pWidth, int* pHeight) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetOutImageSize(pWidth, pHeight);
}

extern "C" int CameraCustomizeResolution(HANDLE hCamera, tSdkResolution* pRes) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraCustomizeResolution(pRes);
}

extern "C" int CameraGetFrameStatistic(HANDLE hCamera, tSdkFrameStatistic* pStatistic) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetFrameStatistic(pStatistic);
}
