#include "SettingsCamera.h"

#include <algorithm>
#include <cstring>

namespace ctltest {

namespace {

constexpr size_t kTableArea = 0x40000;

void SetWord(tSdkCapability& cap, size_t offset, int32_t value) {
    std::memcpy(cap.abPropertyFlags + (offset - 64), &value, sizeof value);
}

}  // namespace

tSdkCapability SettingsCapability(const CSettingsCamera::Options& options) {
    tSdkCapability c = TestCapability();
    c.aiGammaRange[0] = 1;
    c.aiGammaRange[1] = 300;
    c.aiContrastLutRange[0] = 0;
    c.aiContrastLutRange[1] = 200;
    c.aiContrastRange[0] = 0;
    c.aiContrastRange[1] = 100;
    c.aiSharpnessRange[0] = 0;
    c.aiSharpnessRange[1] = 100;
    c.aiSaturationRange[0] = 0;
    c.aiSaturationRange[1] = 200;
    c.auSensorParam[5] = kLinesMax;
    c.auSensorParam[10] = 1;  // skipping by 2
    SetWord(c, 68, options.onceWb ? 1 : 0);
    SetWord(c, 76, options.softwareAe ? 1 : 0);
    SetWord(c, 96, options.aeOnSensor ? 1 : 0);
    return c;
}

CSettingsCamera::CSettingsCamera(const Options& options) {
    CameraProperty prop = TestProperty();
    prop.frameSpeedMask = 0x7;
    const tSdkCapability cap = SettingsCapability(options);
    const DeviceMiscInfo misc = TestMisc();
    ScriptDevParam(options.devParamResult, &cap, &prop, &misc);
}

std::vector<uint8_t> CSettingsCamera::Table() {
    std::lock_guard lock(m_lock);
    return m_table;
}

void CSettingsCamera::SetTable(std::vector<uint8_t> bytes) {
    std::lock_guard lock(m_lock);
    m_table = std::move(bytes);
}

int CSettingsCamera::GetExposureLineTime(double* us) {
    const int r = Rec("GetExposureLineTime");
    if (r == CAMERA_STATUS_SUCCESS && us != nullptr) *us = kLineTimeUs;
    return r;
}

int CSettingsCamera::SetBlackLevel(uint32_t level) {
    const int r = Rec("SetBlackLevel", {level});
    if (r == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_lock);
        m_blackLevel = level & 0xFF;  // an 8-bit register
    }
    return r;
}

int CSettingsCamera::GetBlackLevel(int* level) {
    const int r = Rec("GetBlackLevel");
    if (r == CAMERA_STATUS_SUCCESS && level != nullptr) {
        std::lock_guard lock(m_lock);
        *level = static_cast<int>(m_blackLevel);
    }
    return r;
}

int CSettingsCamera::SetRoiOffset(int x, int y) {
    return Rec("SetRoiOffset", {x, y});
}

int CSettingsCamera::GetImageInfo(stImageInfo* info) {
    const int r = Rec("GetImageInfo");
    if (r != CAMERA_STATUS_SUCCESS || info == nullptr) return r;
    const tSdkResolution res = LastInitParam().resolution;
    *info = stImageInfo{};
    info->iWidth = res.uWidth;
    info->iHeight = res.uHeight;
    info->TotalBytes = res.uWidth * res.uHeight;
    info->uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    double exposure = 0;
    int gain = 0;
    CFakeDevice::GetExposure(&exposure);
    CFakeDevice::GetAnalogGain(&gain);
    info->ExpTime = exposure;
    info->ExpLineTime = kLineTimeUs;
    info->Gain = static_cast<UINT>(gain);
    return r;
}

int CSettingsCamera::DevSaveBadPixelTable(uint8_t* data, int len) {
    const int r = Rec("DevSaveBadPixelTable", {len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (data == nullptr || len <= 0 || static_cast<size_t>(len) > kTableArea)
        return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_lock);
    m_table.assign(data, data + len);
    return r;
}

int CSettingsCamera::DevLoadBadPixelTable(uint8_t* data, int len) {
    const int r = Rec("DevLoadBadPixelTable", {len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (data == nullptr || len <= 0 || static_cast<size_t>(len) > kTableArea)
        return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_lock);
    // An erased area reads 0xFF beyond what was written.
    std::fill(data, data + len, 0xFF);
    std::copy_n(m_table.begin(), std::min(m_table.size(), static_cast<size_t>(len)), data);
    return r;
}

}  // namespace ctltest
