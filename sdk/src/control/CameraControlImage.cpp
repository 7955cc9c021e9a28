// CameraControl: the image settings of the pipeline (lookup tables, sharpness, saturation,
// contrast, mirror, monochrome and output format, the Bayer algorithm and dead-pixel
// correction), the black level of the device, and the frame statistics of the pool. The
// pipeline takes its settings as pending values at the next processed frame.
#include <cstring>

#include "control/CameraControl.h"
#include "control/SettingRules.h"
#include "common/Log.h"

using namespace qv::control;

// ---- Lookup tables ------------------------------------------------------------------------------

int CameraControl::CameraSetLutMode(int mode) {
    ApiLock lock(m_apiMutex);
    const int r = mIsp.SetLutMode(mode);
    if (r == CAMERA_STATUS_SUCCESS) m_param.settings.lutMode = mode;
    return r;
}

int CameraControl::CameraGetLutMode(int* mode) {
    ApiLock lock(m_apiMutex);
    if (mode != nullptr) *mode = m_param.settings.lutMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetGamma(int gamma) {
    ApiLock lock(m_apiMutex);
    gamma = ClampSigned(gamma, m_capability.aiGammaRange);
    const int r = mIsp.SetGamma(gamma);
    if (r == CAMERA_STATUS_SUCCESS) m_param.settings.gamma = gamma;
    return r;
}

int CameraControl::CameraGetGamma(int* gamma) {
    ApiLock lock(m_apiMutex);
    if (gamma != nullptr) *gamma = m_param.settings.gamma;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetContrastLut(int contrast) {
    ApiLock lock(m_apiMutex);
    contrast = ClampSigned(contrast, m_capability.aiContrastLutRange);
    const int r = mIsp.SetContrastLut(contrast);
    if (r == CAMERA_STATUS_SUCCESS) m_param.settings.contrastLut = contrast;
    return r;
}

int CameraControl::CameraGetContrastLut(int* contrast) {
    ApiLock lock(m_apiMutex);
    if (contrast != nullptr) *contrast = m_param.settings.contrastLut;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSelectLutPreset(int preset) {
    ApiLock lock(m_apiMutex);
    const int r = mIsp.SelectLutPreset(preset);
    if (r == CAMERA_STATUS_SUCCESS) m_param.settings.lutPreset = preset;
    return r;
}

int CameraControl::CameraGetLutPresetSel(int* preset) {
    ApiLock lock(m_apiMutex);
    if (preset != nullptr) *preset = m_param.settings.lutPreset;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetCustomLut(int channel, const uint16_t* lut) {
    if (lut == nullptr) return CAMERA_STATUS_FAILED;
    return mIsp.SetCustomLut(channel, lut);
}

int CameraControl::CameraGetCustomLut(int channel, uint16_t* lut) {
    if (lut == nullptr) return CAMERA_STATUS_FAILED;
    return mIsp.GetCustomLut(channel, lut);
}

int CameraControl::CameraGetCurrentLut(int channel, uint16_t* lut) {
    if (lut == nullptr) return CAMERA_STATUS_FAILED;
    return mIsp.GetCurrentLut(channel, lut);
}

// ---- Sharpness, saturation, contrast ------------------------------------------------------------

int CameraControl::CameraSetSharpness(int sharpness) {
    ApiLock lock(m_apiMutex);
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    sharpness = ClampUnsigned(sharpness, m_capability.aiSharpnessRange);
    mIsp.SetSharpness(sharpness);
    m_param.settings.sharpness = sharpness;
    qv::Log("CameraSetSharpness  %d\n", sharpness);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetSharpness(int* sharpness) {
    ApiLock lock(m_apiMutex);
    if (sharpness != nullptr) *sharpness = m_param.settings.sharpness;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetSaturation(int saturation) {
    ApiLock lock(m_apiMutex);
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    saturation = ClampUnsigned(saturation, m_capability.aiSaturationRange);
    mIsp.SetSaturation(saturation);
    m_param.settings.saturation = saturation;
    qv::Log("CameraSetSaturation  %d\n", saturation);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetSaturation(int* saturation) {
    ApiLock lock(m_apiMutex);
    if (saturation != nullptr) *saturation = m_param.settings.saturation;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetContrast(int contrast) {
    ApiLock lock(m_apiMutex);
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    contrast = ClampUnsigned(contrast, m_capability.aiContrastRange);
    mIsp.SetContrast(contrast);
    m_param.settings.contrast = contrast;
    qv::Log("CameraSetContrast  %d\n", contrast);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetContrast(int* contrast) {
    ApiLock lock(m_apiMutex);
    if (contrast != nullptr) *contrast = m_param.settings.contrast;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Mirror, monochrome, output format ----------------------------------------------------------

int CameraControl::CameraSetMirror(int direction, int on) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    mIsp.SetMirror(direction, on);
    const DeviceHold hold = HoldDevice();  // the overlay reads the flags without the API mutex
    (direction == 0 ? m_param.settings.mirrorH : m_param.settings.mirrorV) = on;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetMirror(int direction, uint8_t* on) {
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    const int32_t flag = direction == 0 ? m_param.settings.mirrorH : m_param.settings.mirrorV;
    if (on != nullptr) *on = flag != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetMonochrome(int on) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    m_param.settings.monochrome = on;
    mIsp.SetMonochrome(on);
    qv::Log("CameraSetMonochrome  %d\n", on);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetMonochrome(uint8_t* on) {
    ApiLock lock(m_apiMutex);
    if (on != nullptr) *on = m_param.settings.monochrome != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetIspOutFormat(uint32_t mediaType) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    // "Mono" names no depth: it is the 8-bit grey output.
    if (mediaType == CAMERA_MEDIA_TYPE_MONO) mediaType = CAMERA_MEDIA_TYPE_MONO8;
    mIsp.SetIspOutFormat(mediaType);
    m_param.settings.ispOutFormat = mediaType;
    qv::Log("CameraSetIspOutFormat  MediaTypeMode:0X%x\n", mediaType);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetIspOutFormat(uint32_t* mediaType) {
    ApiLock lock(m_apiMutex);
    if (mediaType != nullptr) *mediaType = m_param.settings.ispOutFormat;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Black level ----------------------------------------------------------------------------

int CameraControl::CameraSetBlackLevel(int level) {
    ApiLock lock(m_apiMutex);
    SetBlackLevel(static_cast<uint32_t>(level));
    int readBack = 0;
    m_param.settings.blackLevel =
        GetBlackLevel(&readBack) == CAMERA_STATUS_SUCCESS ? readBack : level;
    qv::Log("CameraSetBlackLevel  %d\n", m_param.settings.blackLevel);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetBlackLevel(int* level) {
    ApiLock lock(m_apiMutex);
    if (level != nullptr) *level = m_param.settings.blackLevel;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Bayer algorithm and dead pixels --------------------------------------------------------

int CameraControl::CameraSetBayerAlgMode(int mode) {
    ApiLock lock(m_apiMutex);
    if (mIsp.SetBayerAlgMode(mode) == CAMERA_STATUS_SUCCESS) m_param.bayerAlgMode = mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetBayerAlgThreshold(int threshold) {
    ApiLock lock(m_apiMutex);
    if (mIsp.SetBayerAlgThreshold(threshold) == CAMERA_STATUS_SUCCESS)
        m_param.bayerAlgThreshold = threshold;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetBayerAlgMode(int* mode) {
    ApiLock lock(m_apiMutex);
    if (mode != nullptr) *mode = m_param.bayerAlgMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetCorrectDeadPixel(int on) {
    ApiLock lock(m_apiMutex);
    m_param.settings.correctDeadPixel = static_cast<uint8_t>(on);
    mIsp.SetCorrectDeadPixel(on);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetCorrectDeadPixel(uint8_t* on) {
    if (on == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    *on = m_param.settings.correctDeadPixel != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Lens shading ---------------------------------------------------------------------------

// The record goes to the pipeline as the host gave it. Only the pipeline's own mutex is taken:
// the buffers are the host's and no controller setting is read or changed.
int CameraControl::CameraLscCalib(tSdkLscCalibParam* param) {
    return mIsp.LscCalibrate(param);
}

int CameraControl::CameraLscCorrect(tSdkLscCorrectParam* param) {
    return mIsp.LscCorrect(param);
}

// ---- Frames ---------------------------------------------------------------------------------

int CameraControl::CameraGetFrameStatistic(tSdkFrameStatistic* statistic) {
    if (statistic == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    // Before the first initialisation there is no pool and nothing was counted.
    if (!m_frameBucket) {
        std::memset(statistic, 0, sizeof *statistic);
        return CAMERA_STATUS_SUCCESS;
    }
    return m_frameBucket->GetStatistic(statistic);
}

int CameraControl::CameraGetOutImageSize(int* width, int* height) {
    if (width == nullptr && height == nullptr) return CAMERA_STATUS_SUCCESS;
    ApiLock lock(m_apiMutex);
    stImageInfo info{};
    const int r = GetImageInfo(&info);
    if (r != CAMERA_STATUS_SUCCESS) return r;  // no size to tell without a sensor
    if (width != nullptr) *width = static_cast<int>(info.iWidth);
    if (height != nullptr) *height = static_cast<int>(info.iHeight);
    return CAMERA_STATUS_SUCCESS;
}
