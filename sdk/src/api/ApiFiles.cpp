// Exported entries of image files and AVI recording. Each checks the handle and calls one
// controller method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" int CameraSaveImage(HANDLE hCamera, const char* path, BYTE* pImage, stImageInfo* pInfo,
                               int type, int quality) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSaveImage(path, pImage, pInfo, type, quality);
}

extern "C" int CameraStartRecord(HANDLE hCamera, const char* path, int format, int quality,
                                 int frameRate) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraStartRecord(path, format, quality, frameRate);
}

extern "C" int CameraPushOneFrame(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraPushOneFrame(pImage, pInfo);
}

extern "C" int CameraStopRecord(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraStopRecord();
}
