// Exported entries of reboot and connection supervision.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" int CameraReboot(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraReboot();
}

extern "C" int CameraSetConnectionStatusCallback(HANDLE hCamera,
                                                 CameraConnectionStatusCallback pCallback,
                                                 void* pContext) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetConnectionStatusCallback(pCallback, pContext);
}

extern "C" int CameraGetDeviceLostCount(HANDLE hCamera, int* pCount) {
    if (hCamera == nullptr || pCount == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *pCount = Control(hCamera)->GetLostCount();
    return CAMERA_STATUS_SUCCESS;
}

extern "C" int CameraCheckConnection(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // 1 answering, 0 silent, 255 without a device (the -1 of a detached holder as a byte).
    return static_cast<uint8_t>(Control(hCamera)->CheckAlive());
}
