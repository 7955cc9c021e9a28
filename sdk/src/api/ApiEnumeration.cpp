// Exported entries of enumeration, the index query and the GigE IP settings: they check their
// own few arguments and hand over to the camera manager.
#include "api/ApiInternal.h"
#include "manager/JNCameraMgr.h"
#include "QVCameraApi.h"

extern "C" int CameraEnumerateDevice(int* pCount) {
    if (pCount == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraEnumerateDevice(pCount);
}

extern "C" int CameraEnumerateDeviceEx(int* pCount, int flags) {
    if (pCount == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraEnumerateDeviceEx(pCount, flags);
}

extern "C" int CameraEnumerateDeviceFromOpenedDevList(int* pCount, int n, int* fds,
                                                      unsigned* vidPid, char** paths) {
    if (pCount == nullptr || n < 0) return CAMERA_STATUS_PARAMETER_INVALID;
    if (n > 0 && (fds == nullptr || vidPid == nullptr || paths == nullptr))
        return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraEnumerateDeviceFromOpenedDevList(pCount, n, fds,
                                                                              vidPid, paths);
}

extern "C" int CameraGetEnumIndexInfo(int index, tDevInfo* pInfo) {
    return JNCameraMgr::GetInstance()->CameraGetEnumIndexInfo(index, pInfo);
}

extern "C" int CameraGigeGetIp(const char* sn, tGigeIpConfig* pConfig) {
    if (sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraGigeGetIp(sn, pConfig);
}

extern "C" int CameraGigeSetIp(const char* sn, tGigeIpConfig* pConfig) {
    if (sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraGigeSetIp(sn, pConfig);
}

extern "C" int CameraGigeBroadcastSoftTrigger(const char* localIp, int value) {
    if (localIp == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return JNCameraMgr::GetInstance()->CameraGigeBroadcastSoftTrigger(localIp, value);
}
