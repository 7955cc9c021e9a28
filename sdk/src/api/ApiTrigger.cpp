// Exported entries of triggering, strobes, the I/O lines and the GigE stream settings. Each checks
// the handle (and the few pointers the entries check themselves) and calls one controller
// method.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

extern "C" int CameraSetTriggerMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetTriggerMode(mode);
}

extern "C" int CameraGetTriggerMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetTriggerMode(pMode);
}

extern "C" int CameraSoftTrigger(HANDLE hCamera) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSoftTrigger();
}

extern "C" int CameraSetTriggerFrameCount(HANDLE hCamera, int count) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetTriggerFrameCount(count);
}

extern "C" int CameraGetTriggerFrameCount(HANDLE hCamera, int* pCount) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetTriggerFrameCount(pCount);
}

extern "C" int CameraSetTriggerDelayTime(HANDLE hCamera, UINT delay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetTriggerDelayTime(delay);
}

extern "C" int CameraGetTriggerDelayTime(HANDLE hCamera, UINT* pDelay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetTriggerDelayTime(pDelay);
}

extern "C" int CameraSetTriggerJitterTime(HANDLE hCamera, int input, UINT time) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetTriggerJitterTime(input, time);
}

extern "C" int CameraGetTriggerJitterTime(HANDLE hCamera, int input, UINT* pTime) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetTriggerJitterTime(input, pTime);
}

extern "C" int CameraSetTriggerSignalType(HANDLE hCamera, int input, int type) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetTriggerSignalType(input, type);
}

extern "C" int CameraGetTriggerSignalType(HANDLE hCamera, int input, int* pType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The caller's int changes only when the controller answers 0.
    int value = 0;
    const int r =
        Control(hCamera)->CameraGetTriggerSignalType(input, pType != nullptr ? &value : nullptr);
    if (r == CAMERA_STATUS_SUCCESS) *pType = value;
    return r;
}

extern "C" int CameraSetStrobeMode(HANDLE hCamera, int output, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetStrobeMode(output, mode);
}

extern "C" int CameraGetStrobeMode(HANDLE hCamera, int output, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The caller's int changes only when the controller answers 0.
    int value = 0;
    const int r =
        Control(hCamera)->CameraGetStrobeMode(output, pMode != nullptr ? &value : nullptr);
    if (r == CAMERA_STATUS_SUCCESS) *pMode = value;
    return r;
}

extern "C" int CameraSetStrobeDelayTime(HANDLE hCamera, int output, UINT delay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetStrobeDelayTime(output, delay);
}

extern "C" int CameraGetStrobeDelayTime(HANDLE hCamera, int output, UINT* pDelay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetStrobeDelayTime(output, pDelay);
}

extern "C" int CameraSetStrobePulseWidth(HANDLE hCamera, int output, UINT width) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetStrobePulseWidth(output, width);
}

extern "C" int CameraGetStrobePulseWidth(HANDLE hCamera, int output, UINT* pWidth) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetStrobePulseWidth(output, pWidth);
}

extern "C" int CameraSetStrobePolarity(HANDLE hCamera, int output, int polarity) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetStrobePolarity(output, polarity);
}

extern "C" int CameraGetStrobePolarity(HANDLE hCamera, int output, int* pPolarity) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetStrobePolarity(output, pPolarity);
}

extern "C" int CameraSetOutputIOMode(HANDLE hCamera, int output, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetOutputIOMode(output, mode);
}

extern "C" int CameraGetOutputIOMode(HANDLE hCamera, int output, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetOutputIOMode(output, pMode);
}

extern "C" int CameraSetInputIOMode(HANDLE hCamera, int input, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetInputIOMode(input, mode);
}

extern "C" int CameraGetInputIOMode(HANDLE hCamera, int input, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetInputIOMode(input, pMode);
}

extern "C" int CameraSetOutputIOState(HANDLE hCamera, int output, int state) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetOutputIOState(output, state);
}

extern "C" int CameraGetOutputIOState(HANDLE hCamera, int output, int* pState) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetOutputIOState(output, pState);
}

extern "C" int CameraSetOutputIOPWM(HANDLE hCamera, int output, UINT period, UINT duty) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetOutputIOPWM(output, period, duty);
}

extern "C" int CameraGetOutputIOPWM(HANDLE hCamera, int output, UINT* pPeriod, UINT* pDuty) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetOutputIOPWM(output, pPeriod, pDuty);
}

extern "C" int CameraGetInputIOState(HANDLE hCamera, int input, UINT* pState) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (pState == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetInputIOState(input, pState);
}

extern "C" int CameraGigeSetTransPacketSize(HANDLE hCamera, int size) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGigeSetTransPacketSize(size);
}

extern "C" int CameraGigeGetTransPacketSize(HANDLE hCamera, int* pSize) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (pSize == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGigeGetTransPacketSize(pSize);
}

extern "C" int CameraGigeSetPacketDelayTime(HANDLE hCamera, int delay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The delay is unsigned to the camera: a negative one counts as above the limit.
    return Control(hCamera)->CameraGigeSetPacketDelayTime(static_cast<uint32_t>(delay));
}

extern "C" int CameraGigeGetPacketDelayTime(HANDLE hCamera, int* pDelay) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (pDelay == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGigeGetPacketDelayTime(pDelay);
}

extern "C" int CameraGigeSetResend(HANDLE hCamera, int enable, int a, int b, int c) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGigeSetResend(enable, a, b, c);
}

extern "C" int CameraGigeGetOptimalPacketSize(HANDLE hCamera, int* pSize) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGigeGetOptimalPacketSize(pSize);
}
