// Exported entries of exposure and white balance. Each checks the handle, passes flags on as 0 or 1
// and calls one controller method; flag getters widen the controller's one-byte answer.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

// ---- Exposure ----

extern "C" int CameraSetAeState(HANDLE hCamera, int on) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeState(on != 0 ? 1 : 0);
}

extern "C" int CameraGetAeState(HANDLE hCamera, int* pOn) {
    if (hCamera == nullptr || pOn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetAeState(&flag);
    *pOn = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetAeTarget(HANDLE hCamera, USHORT target) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeTarget(target);
}

extern "C" int CameraGetAeTarget(HANDLE hCamera, USHORT* pTarget) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAeTarget(pTarget);
}

extern "C" int CameraSetAnalogGain(HANDLE hCamera, int gain) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAnalogGain(gain);
}

extern "C" int CameraGetAnalogGain(HANDLE hCamera, int* pGain) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAnalogGain(pGain);
}

extern "C" int CameraSetExposureTime(HANDLE hCamera, double us) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetExposureTime(us);
}

extern "C" int CameraGetExposureTime(HANDLE hCamera, double* pUs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetExposureTime(pUs);
}

extern "C" int CameraGetExposureLineTime(HANDLE hCamera, double* pUs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetExposureLineTime(pUs);
}

extern "C" int CameraGetFrameTime(HANDLE hCamera, double* pUs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetFrameTime(pUs);
}

extern "C" int CameraSetAeWindow(HANDLE hCamera, int left, int top, int width, int height) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeWindow(left, top, width, height);
}

extern "C" int CameraGetAeWindow(HANDLE hCamera, int* pLeft, int* pTop, int* pWidth, int* pHeight) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAeWindow(pLeft, pTop, pWidth, pHeight);
}

extern "C" int CameraSetAeWinVisible(HANDLE hCamera, int visible) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeWinVisible(visible != 0 ? 1 : 0);
}

extern "C" int CameraGetAeWinVisible(HANDLE hCamera, int* pVisible) {
    if (hCamera == nullptr || pVisible == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetAeWinVisible(&flag);
    *pVisible = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetAntiFlick(HANDLE hCamera, int on) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAntiFlick(on != 0 ? 1 : 0);
}

extern "C" int CameraGetAntiFlick(HANDLE hCamera, int* pOn) {
    if (hCamera == nullptr || pOn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetAntiFlick(&flag);
    *pOn = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetLightFrequency(HANDLE hCamera, int frequency) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetLightFrequency(frequency);
}

extern "C" int CameraGetLightFrequency(HANDLE hCamera, int* pFrequency) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetLightFrequency(pFrequency);
}

extern "C" int CameraSetAeExposureMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeExposureMode(mode);
}

extern "C" int CameraGetAeExposureMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAeExposureMode(pMode);
}

extern "C" int CameraSetAeExposureRange(HANDLE hCamera, double minUs, double maxUs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeExposureRange(minUs, maxUs);
}

extern "C" int CameraGetAeExposureRange(HANDLE hCamera, double* pMinUs, double* pMaxUs) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAeExposureRange(pMinUs, pMaxUs);
}

extern "C" int CameraSetAeAnalogGainRange(HANDLE hCamera, int minGain, int maxGain) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetAeAnalogGainRange(minGain, maxGain);
}

extern "C" int CameraGetAeAnalogGainRange(HANDLE hCamera, int* pMin, int* pMax) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetAeAnalogGainRange(pMin, pMax);
}

// ---- White balance ----

extern "C" int CameraSetWbMode(HANDLE hCamera, int automatic) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetWbMode(automatic != 0 ? 1 : 0);
}

extern "C" int CameraGetWbMode(HANDLE hCamera, int* pAutomatic) {
    if (hCamera == nullptr || pAutomatic == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetWbMode(&flag);
    *pAutomatic = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetGain(HANDLE hCamera, USHORT red, USHORT green, USHORT blue) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetGain(red, green, blue);
}

extern "C" int CameraGetGain(HANDLE hCamera, USHORT* pRed, USHORT* pGreen, USHORT* pBlue) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetGain(pRed, pGreen, pBlue);
}

extern "C" int CameraSetOnceWB(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetOnceWB();
}

extern "C" int CameraSetWbWindow(HANDLE hCamera, int left, int top, int width, int height) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetWbWindow(left, top, width, height);
}

extern "C" int CameraGetWbWindow(HANDLE hCamera, int* pLeft, int* pTop, int* pWidth, int* pHeight) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetWbWindow(pLeft, pTop, pWidth, pHeight);
}

extern "C" int CameraSetWbWinVisible(HANDLE hCamera, int visible) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetWbWinVisible(visible != 0 ? 1 : 0);
}

extern "C" int CameraGetWbWinVisible(HANDLE hCamera, int* pVisible) {
    if (hCamera == nullptr || pVisible == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetWbWinVisible(&flag);
    *pVisible = flag != 0 ? 1 : 0;
    return r;
}
