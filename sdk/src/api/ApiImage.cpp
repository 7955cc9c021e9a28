// Exported entries of the image settings: lookup tables, sharpness, saturation and contrast, the
// output format, the Bayer algorithm, mirror, monochrome, black level and dead pixels. Each checks
// the handle, passes flags on as 0 or 1 and calls one controller method; flag getters widen the
// controller's one-byte answer.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "QVCameraApi.h"

// ---- Lookup tables, gamma, contrast, sharpness and saturation ----

extern "C" int CameraSetLutMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetLutMode(mode);
}

extern "C" int CameraGetLutMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetLutMode(pMode);
}

extern "C" int CameraSetGamma(HANDLE hCamera, int gamma) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetGamma(gamma);
}

extern "C" int CameraGetGamma(HANDLE hCamera, int* pGamma) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetGamma(pGamma);
}

extern "C" int CameraSetContrastLut(HANDLE hCamera, int contrast) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetContrastLut(contrast);
}

extern "C" int CameraGetContrastLut(HANDLE hCamera, int* pContrast) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetContrastLut(pContrast);
}

extern "C" int CameraSelectLutPreset(HANDLE hCamera, int preset) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSelectLutPreset(preset);
}

extern "C" int CameraGetLutPresetSel(HANDLE hCamera, int* pPreset) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetLutPresetSel(pPreset);
}

extern "C" int CameraSetCustomLut(HANDLE hCamera, int channel, USHORT* pLut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetCustomLut(channel, pLut);
}

extern "C" int CameraGetCustomLut(HANDLE hCamera, int channel, USHORT* pLut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCustomLut(channel, pLut);
}

extern "C" int CameraGetCurrentLut(HANDLE hCamera, int channel, USHORT* pLut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetCurrentLut(channel, pLut);
}

extern "C" int CameraSetSharpness(HANDLE hCamera, int sharpness) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetSharpness(sharpness);
}

extern "C" int CameraGetSharpness(HANDLE hCamera, int* pSharpness) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetSharpness(pSharpness);
}

extern "C" int CameraSetSaturation(HANDLE hCamera, int saturation) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetSaturation(saturation);
}

extern "C" int CameraGetSaturation(HANDLE hCamera, int* pSaturation) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetSaturation(pSaturation);
}

extern "C" int CameraSetContrast(HANDLE hCamera, int contrast) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetContrast(contrast);
}

extern "C" int CameraGetContrast(HANDLE hCamera, int* pContrast) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetContrast(pContrast);
}

// ---- ISP output format, Bayer algorithm, mirror, monochrome, black level, dead pixels ----

extern "C" int CameraSetIspOutFormat(HANDLE hCamera, unsigned mediaType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetIspOutFormat(mediaType);
}

extern "C" int CameraGetIspOutFormat(HANDLE hCamera, unsigned* pMediaType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetIspOutFormat(pMediaType);
}

extern "C" int CameraSetSensorOutPixelFormat(HANDLE hCamera, unsigned mediaType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetSensorOutPixelFormat(mediaType);
}

extern "C" int CameraGetSensorOutPixelFormat(HANDLE hCamera, unsigned* pMediaType) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetSensorOutPixelFormat(pMediaType);
}

extern "C" int CameraSetBayerAlgMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetBayerAlgMode(mode);
}

extern "C" int CameraSetBayerAlgThreshold(HANDLE hCamera, int threshold) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetBayerAlgThreshold(threshold);
}

extern "C" int CameraGetBayerAlgMode(HANDLE hCamera, int* pMode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetBayerAlgMode(pMode);
}

extern "C" int CameraSetMirror(HANDLE hCamera, int direction, int on) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetMirror(direction, on != 0 ? 1 : 0);
}

extern "C" int CameraGetMirror(HANDLE hCamera, int direction, int* pOn) {
    if (hCamera == nullptr || pOn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetMirror(direction, &flag);
    *pOn = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetMonochrome(HANDLE hCamera, int on) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetMonochrome(on != 0 ? 1 : 0);
}

extern "C" int CameraGetMonochrome(HANDLE hCamera, int* pOn) {
    if (hCamera == nullptr || pOn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetMonochrome(&flag);
    *pOn = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraSetBlackLevel(HANDLE hCamera, int level) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetBlackLevel(level);
}

extern "C" int CameraGetBlackLevel(HANDLE hCamera, int* pLevel) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraGetBlackLevel(pLevel);
}

extern "C" int CameraSetCorrectDeadPixel(HANDLE hCamera, int on) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetCorrectDeadPixel(on != 0 ? 1 : 0);
}

extern "C" int CameraGetCorrectDeadPixel(HANDLE hCamera, int* pOn) {
    if (hCamera == nullptr || pOn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t flag = 0;
    const int r = Control(hCamera)->CameraGetCorrectDeadPixel(&flag);
    *pOn = flag != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraLscCalib(HANDLE hCamera, tSdkLscCalibParam* pParam) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraLscCalib(pParam);
}

extern "C" int CameraLscCorrect(HANDLE hCamera, tSdkLscCorrectParam* pParam) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraLscCorrect(pParam);
}

extern "C" int CameraFindDeadPixels(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo, int reference,
                                    int threshold, tSdkDeadPixelList* pOut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraFindDeadPixels(pImage, pInfo, reference, threshold, pOut);
}

extern "C" int CameraLoadDeadPixels(HANDLE hCamera, tSdkDeadPixelList* pOut) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraLoadDeadPixels(pOut);
}

extern "C" int CameraSaveDeadPixels(HANDLE hCamera, tSdkDeadPixelList* pList) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSaveDeadPixels(pList);
}
