// Exported entries of device information and integer values, parameter groups, serial numbers,
// user data, names, firmware upgrade and the settings pages. Each checks the handle (and the
// serial-number levels) and calls one controller method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

// ---- Capability and device information ----

extern "C" int CameraGetCapability(HANDLE hCamera, tSdkCapability* pCapability) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCapability(pCapability);
}

extern "C" int CameraGetCurDevInfo(HANDLE hCamera, CameraCurDevInfo* pInfo) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCurDevInfo(pInfo);
}

extern "C" int CameraGetDeviceType(HANDLE hCamera, int* pType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetDeviceType(pType);
}

extern "C" int CameraGetFirmwareVision(HANDLE hCamera, char* pVersion) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetFirmwareVision(pVersion);
}

extern "C" int CameraGetInerfaceVersion(HANDLE hCamera, char* pVersion) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetInerfaceVersion(pVersion);
}

extern "C" int CameraGetIntValue(HANDLE hCamera, int id, int* pValue) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetIntValue(id, pValue);
}

extern "C" int CameraSetIntValue(HANDLE hCamera, int id, int value) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetIntValue(id, value);
}

// ---- Parameter groups and files ----

extern "C" int CameraSetParameterMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetParameterMode(mode);
}

extern "C" int CameraGetParameterMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetParameterMode(pMode);
}

extern "C" int CameraSaveParameter(HANDLE hCamera, int group) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSaveParameter(group);
}

extern "C" int CameraLoadParameter(HANDLE hCamera, int group) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraLoadParameter(group);
}

extern "C" int CameraSaveParameterToFile(HANDLE hCamera, const char* path) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSaveParameterToFile(path);
}

extern "C" int CameraReadParameterFromFile(HANDLE hCamera, const char* path) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraReadParameterFromFile(path);
}

extern "C" int CameraGetCurrentParameterGroup(HANDLE hCamera, int* pGroup) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCurrentParameterGroup(pGroup);
}

// ---- Serial number, user data and names ----

extern "C" int CameraWriteSN(HANDLE hCamera, BYTE* pSn, int level) {
    if (hCamera == nullptr || (level != 1 && level != 2)) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraWriteSN(pSn, level);
}

extern "C" int CameraReadSN(HANDLE hCamera, BYTE* pSn, int level) {
    if (hCamera == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraReadSN(pSn, level);
}

extern "C" int CameraSaveUserData(HANDLE hCamera, UINT offset, BYTE* pData, UINT length) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSaveUserData(offset, pData, length);
}

extern "C" int CameraLoadUserData(HANDLE hCamera, UINT offset, BYTE* pData, UINT length) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraLoadUserData(offset, pData, length);
}

extern "C" int CameraGetFriendlyName(HANDLE hCamera, char* pName) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetFriendlyName(pName);
}

extern "C" int CameraSetFriendlyName(HANDLE hCamera, const char* pName) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetFriendlyName(pName);
}

// ---- Firmware upgrade ----

extern "C" int CameraUpgrade(HANDLE hCamera, const char* path,
                             CameraUpgradeProgressCallback pProgress, void* pContext) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraUpgrade(path, pProgress, pContext);
}

extern "C" int CameraCheckFwUpdate(HANDLE hCamera, int* pNeedUpdate) {
    if (hCamera == nullptr || pNeedUpdate == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraCheckFwUpdate(&flag);
    *pNeedUpdate = flag != 0 ? 1 : 0;
    return r;
}

// ---- Settings pages ----

extern "C" int CameraShowSettingPage(HANDLE hCamera, int show) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraShowSettingPage(show != 0 ? 1 : 0);
}

extern "C" int CameraSetActivePage(HANDLE hCamera, uintptr_t pages, int index) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetActivePage(pages, index);
}

extern "C" int CameraCreateSettingPageEx(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraCreateSettingPageEx();
}

extern "C" int CameraCustomizeReferWin(HANDLE hCamera, int type, uintptr_t parent, int* pLeft,
                                       int* pTop, int* pWidth, int* pHeight) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    (void)type;
    (void)parent;
    (void)pLeft;
    (void)pTop;
    (void)pWidth;
    (void)pHeight;
    return Control(hCamera)->CameraCustomizeReferWin();
}
