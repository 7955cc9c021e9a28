// CameraControl: the image settings of the pipeline (lookup tables, sharpness, saturation,
// contrast, mirror, monochrome and output format, the Bayer algorithm and dead-pixel
// correction), the black level of the device, and the frame statistics of the pool. The
// pipeline takes its settings as pending values at the next processed frame.
//
// None of these takes the API mutex, so that a host can change the image while another of its
// threads waits for a frame or a snapshot. The pipeline objects guard their pending values
// themselves; the record fields and the capability ranges are read and written under the device
// mutex, under which a stream open, a parameter load and a save read or replace them.
#include <cstring>

#include "control/CameraControl.h"
#include "control/SettingRules.h"
#include "common/Log.h"

using namespace qv::control;

// ---- Lookup tables ------------------------------------------------------------------------------

int CameraControl::CameraSetLutMode(int mode) {
    const int r = mIsp.SetLutMode(mode);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const DeviceHold hold = HoldDevice();
    m_param.settings.lutMode = mode;
    return r;
}

int CameraControl::CameraGetLutMode(int* mode) {
    const DeviceHold hold = HoldDevice();
    if (mode != nullptr) *mode = m_param.settings.lutMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetGamma(int gamma) {
    {
        const DeviceHold hold = HoldDevice();
        gamma = ClampSigned(gamma, m_capability.aiGammaRange);
    }
    const int r = mIsp.SetGamma(gamma);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const DeviceHold hold = HoldDevice();
    m_param.settings.gamma = gamma;
    return r;
}

int CameraControl::CameraGetGamma(int* gamma) {
    const DeviceHold hold = HoldDevice();
    if (gamma != nullptr) *gamma = m_param.settings.gamma;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetContrastLut(int contrast) {
    {
        const DeviceHold hold = HoldDevice();
        contrast = ClampSigned(contrast, m_capability.aiContrastLutRange);
    }
    const int r = mIsp.SetContrastLut(contrast);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const DeviceHold hold = HoldDevice();
    m_param.settings.contrastLut = contrast;
    return r;
}

int CameraControl::CameraGetContrastLut(int* contrast) {
    const DeviceHold hold = HoldDevice();
    if (contrast != nullptr) *contrast = m_param.settings.contrastLut;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSelectLutPreset(int preset) {
    const int r = mIsp.SelectLutPreset(preset);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const DeviceHold hold = HoldDevice();
    m_param.settings.lutPreset = preset;
    return r;
}

int CameraControl::CameraGetLutPresetSel(int* preset) {
    const DeviceHold hold = HoldDevice();
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
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        sharpness = ClampUnsigned(sharpness, m_capability.aiSharpnessRange);
    }
    mIsp.SetSharpness(sharpness);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.sharpness = sharpness;
    }
    qv::Log("CameraSetSharpness  %d\n", sharpness);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetSharpness(int* sharpness) {
    const DeviceHold hold = HoldDevice();
    if (sharpness != nullptr) *sharpness = m_param.settings.sharpness;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetSaturation(int saturation) {
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        saturation = ClampUnsigned(saturation, m_capability.aiSaturationRange);
    }
    mIsp.SetSaturation(saturation);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.saturation = saturation;
    }
    qv::Log("CameraSetSaturation  %d\n", saturation);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetSaturation(int* saturation) {
    const DeviceHold hold = HoldDevice();
    if (saturation != nullptr) *saturation = m_param.settings.saturation;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetContrast(int contrast) {
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        contrast = ClampUnsigned(contrast, m_capability.aiContrastRange);
    }
    mIsp.SetContrast(contrast);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.contrast = contrast;
    }
    qv::Log("CameraSetContrast  %d\n", contrast);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetContrast(int* contrast) {
    const DeviceHold hold = HoldDevice();
    if (contrast != nullptr) *contrast = m_param.settings.contrast;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Mirror, monochrome, output format ----------------------------------------------------------

int CameraControl::CameraSetMirror(int direction, int on) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    mIsp.SetMirror(direction, on);
    const DeviceHold hold = HoldDevice();
    (direction == 0 ? m_param.settings.mirrorH : m_param.settings.mirrorV) = on;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetMirror(int direction, uint8_t* on) {
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    const int32_t flag = direction == 0 ? m_param.settings.mirrorH : m_param.settings.mirrorV;
    if (on != nullptr) *on = flag != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetMonochrome(int on) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.monochrome = on;
    }
    mIsp.SetMonochrome(on);
    qv::Log("CameraSetMonochrome  %d\n", on);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetMonochrome(uint8_t* on) {
    const DeviceHold hold = HoldDevice();
    if (on != nullptr) *on = m_param.settings.monochrome != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetIspOutFormat(uint32_t mediaType) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    // "Mono" names no depth: it is the 8-bit grey output.
    if (mediaType == CAMERA_MEDIA_TYPE_MONO) mediaType = CAMERA_MEDIA_TYPE_MONO8;
    mIsp.SetIspOutFormat(mediaType);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.ispOutFormat = mediaType;
    }
    qv::Log("CameraSetIspOutFormat  MediaTypeMode:0X%x\n", mediaType);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetIspOutFormat(uint32_t* mediaType) {
    const DeviceHold hold = HoldDevice();
    if (mediaType != nullptr) *mediaType = m_param.settings.ispOutFormat;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Black level ----------------------------------------------------------------------------

int CameraControl::CameraSetBlackLevel(int level) {
    int stored = level;
    {
        // The device and the record change together: a stream open sends the record's level
        // under the same hold.
        const DeviceHold hold = HoldDevice();
        SetBlackLevel(static_cast<uint32_t>(level));
        int readBack = 0;
        if (GetBlackLevel(&readBack) == CAMERA_STATUS_SUCCESS) stored = readBack;
        m_param.settings.blackLevel = stored;
    }
    qv::Log("CameraSetBlackLevel  %d\n", stored);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetBlackLevel(int* level) {
    const DeviceHold hold = HoldDevice();
    if (level != nullptr) *level = m_param.settings.blackLevel;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Bayer algorithm and dead pixels --------------------------------------------------------

int CameraControl::CameraSetBayerAlgMode(int mode) {
    if (mIsp.SetBayerAlgMode(mode) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_SUCCESS;
    const DeviceHold hold = HoldDevice();
    m_param.bayerAlgMode = mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetBayerAlgThreshold(int threshold) {
    if (mIsp.SetBayerAlgThreshold(threshold) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_SUCCESS;
    const DeviceHold hold = HoldDevice();
    m_param.bayerAlgThreshold = threshold;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetBayerAlgMode(int* mode) {
    const DeviceHold hold = HoldDevice();
    if (mode != nullptr) *mode = m_param.bayerAlgMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetCorrectDeadPixel(int on) {
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.correctDeadPixel = static_cast<uint8_t>(on);
    }
    mIsp.SetCorrectDeadPixel(on);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetCorrectDeadPixel(uint8_t* on) {
    if (on == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
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
    const DeviceHold hold = HoldDevice();  // CameraUninit drops the pool under it
    // Before the first initialisation there is no pool and nothing was counted.
    if (!m_frameBucket) {
        std::memset(statistic, 0, sizeof *statistic);
        return CAMERA_STATUS_SUCCESS;
    }
    return m_frameBucket->GetStatistic(statistic);
}

int CameraControl::CameraGetOutImageSize(int* width, int* height) {
    if (width == nullptr && height == nullptr) return CAMERA_STATUS_SUCCESS;
    stImageInfo info{};
    const int r = GetImageInfo(&info);
    if (r != CAMERA_STATUS_SUCCESS) return r;  // no size to tell without a sensor
    if (width != nullptr) *width = static_cast<int>(info.iWidth);
    if (height != nullptr) *height = static_cast<int>(info.iHeight);
    return CAMERA_STATUS_SUCCESS;
}
