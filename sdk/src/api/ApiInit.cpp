// Exported entries of initialisation and release: they check the handle pointer and the key
// texts and hand over to the camera manager.
#include "api/ApiInternal.h"
#include "manager/JNCameraMgr.h"
#include "QVCameraApi.h"

extern "C" int CameraInit(HANDLE* pHandle, int index) {
    if (pHandle == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraInit(pHandle, index);
}

extern "C" int CameraInitEx(HANDLE* pHandle, int index, int paramMode, int paramGroup) {
    if (pHandle == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraInitEx(pHandle, index, paramMode, paramGroup);
}

extern "C" int CameraInitEx2(HANDLE* pHandle, const char* name) {
    if (pHandle == nullptr || name == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraInitEx2(pHandle, name);
}

extern "C" int CameraInitEx3(HANDLE* pHandle, const char* sn) {
    if (pHandle == nullptr || sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraInitEx3(pHandle, sn);
}

extern "C" int CameraInitEx3WithParam(HANDLE* pHandle, const char* sn, CameraInitOption* pOptions) {
    if (pHandle == nullptr || sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraInitEx3WithParam(pHandle, sn, pOptions);
}

extern "C" int CameraUnInit(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraDevUnInit(hCamera);
}
