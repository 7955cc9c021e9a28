// Exported entries of image acquisition: play and pause, the frame callback, raw frames and the
// transfer mode. Each checks the handle and calls one controller method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" int CameraPlay(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraPlay();
}

extern "C" int CameraPause(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraPause();
}

extern "C" int CameraSetCallbackFunction(HANDLE hCamera, CameraFrameCallback pCallback,
                                         void* pContext, CameraFrameCallback* pPrevious) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetCallbackFunction(pCallback, pContext, pPrevious);
}

extern "C" int CameraGetRawImageBuffer(HANDLE hCamera, CameraFrameHandle* pFrame, int timeoutMs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetRawImageBuffer(pFrame, timeoutMs);
}

extern "C" int CameraReleaseFrameHandle(HANDLE hCamera, CameraFrameHandle frame) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraReleaseFrameHandle(frame);
}

extern "C" int CameraSetImageTransferMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetImageTransferMode(mode);
}

extern "C" int CameraGetImageTransferMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetImageTransferMode(pMode);
}

extern "C" int CameraRequestTransferImage(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraRequestTransferImage();
}

extern "C" int CameraRequestTransferImageEx(HANDLE hCamera, int value) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraRequestTransferImageEx(value);
}
