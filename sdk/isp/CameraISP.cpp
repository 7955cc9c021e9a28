#include "CameraISP.h"

#include "CameraSettings.h"
#include "OutFormat.h"

using namespace qv::isp;

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}  // namespace

CameraISP::CameraISP() = default;

CameraISP::~CameraISP() {
    Lock lock(m_mutex);
}

int CameraISP::LoadParameter(const CameraSettings& settings, int monoCamera, int bayerAlgMode,
                             uint32_t inputMediaType, int processLevel) {
    Lock lock(m_mutex);
    m_lut.Initialise(settings.lutMode, settings.gamma, settings.contrastLut, settings.lutPreset,
                     inputMediaType);
    Settings s;
    s.sharpness = settings.sharpness;
    s.saturation = settings.saturation;
    s.contrast = settings.contrast;
    s.ispOutFormat = settings.ispOutFormat;
    s.mirrorH = static_cast<uint8_t>(settings.mirrorH);
    s.mirrorV = static_cast<uint8_t>(settings.mirrorV);
    s.monochrome = static_cast<uint8_t>(settings.monochrome);
    s.deadPixel = settings.correctDeadPixel;
    s.blackOffset = 0;
    s.bayerAlgMode = bayerAlgMode;
    s.bayerAlgThreshold = 300;
    s.demosaicKind = 4;
    for (int i = 0; i < 9; ++i) m_colorMatrix[i] = settings.colorMatrix[i];
    m_monoCamera = monoCamera;
    m_active = s;
    m_pending = s;
    m_dirty = kDirtyNone;
    m_processLevel = processLevel;
    m_loaded = true;
    return 0;
}

int CameraISP::SetFrameStatistics(uint8_t red, uint8_t green1, uint8_t green2, uint8_t blue) {
    Lock lock(m_mutex);
    m_stats.redMean = red;
    m_stats.green1Mean = green1;
    m_stats.green2Mean = green2;
    m_stats.blueMean = blue;
    return 0;
}

void CameraISP::ApplyPendingParams() {
    if (m_dirty == kDirtyNone) return;
    m_lut.ApplyPending();
    const int demosaicKind = m_active.demosaicKind;  // the kernels' own, never a pending value
    m_active = m_pending;
    m_active.demosaicKind = demosaicKind;
    m_dirty = kDirtyNone;
}

int CameraISP::ProcessFrame(const stImageInfo* inInfo, uint8_t* raw, stImageInfo* outInfo,
                            uint8_t* out, uint32_t redGain, uint32_t greenGain, uint32_t blueGain) {
    (void)inInfo;
    (void)raw;
    (void)outInfo;
    (void)out;
    (void)redGain;
    (void)greenGain;
    (void)blueGain;
    Lock lock(m_mutex);
    ApplyPendingParams();
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CameraISP::GetOutFormatInfo(int* bytesPerPixel, int* outputId, const stImageInfo* inInfo,
                                stImageInfo* outInfo) const {
    if (inInfo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    return qv::isp::GetOutFormatInfo(m_active.ispOutFormat, *inInfo, outInfo, bytesPerPixel,
                                     outputId);
}

int CameraISP::SetSharpness(int sharpness) {
    Lock lock(m_mutex);
    m_pending.sharpness = sharpness;
    MarkDirty(kDirtySharpness);
    return 0;
}

int CameraISP::SetContrast(int contrast) {
    Lock lock(m_mutex);
    m_pending.contrast = contrast;
    MarkDirty(kDirtyContrast);
    return 0;
}

int CameraISP::SetSaturation(int saturation) {
    Lock lock(m_mutex);
    m_pending.saturation = saturation;
    MarkDirty(kDirtySaturation);
    return 0;
}

int CameraISP::SetIspOutFormat(uint32_t mediaType) {
    Lock lock(m_mutex);
    m_pending.ispOutFormat = mediaType;
    MarkDirty(kDirtyOutFormat);
    return 0;
}

int CameraISP::SetMirror(int direction, int on) {
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    (direction == 0 ? m_pending.mirrorH : m_pending.mirrorV) = static_cast<uint8_t>(on);
    MarkDirty(kDirtyMirror);
    return 0;
}

int CameraISP::SetMonochrome(int on) {
    Lock lock(m_mutex);
    m_pending.monochrome = static_cast<uint8_t>(on);
    MarkDirty(kDirtyMonochrome);
    return 0;
}

int CameraISP::SetBayerAlgMode(int mode) {
    Lock lock(m_mutex);
    m_pending.bayerAlgMode = mode;
    MarkDirty(kDirtyBayerAlg);
    return 0;
}

int CameraISP::SetBayerAlgThreshold(int threshold) {
    Lock lock(m_mutex);
    m_pending.bayerAlgThreshold = threshold;
    MarkDirty(kDirtyBayerAlg);
    return 0;
}

int CameraISP::SetCorrectDeadPixel(int on) {
    Lock lock(m_mutex);
    m_pending.deadPixel = static_cast<uint8_t>(on);
    MarkDirty(kDirtyDeadPixel);
    return 0;
}

int CameraISP::SetBlackOffset(int offset) {
    Lock lock(m_mutex);
    m_pending.blackOffset = offset;
    MarkDirty(kDirtyBlackOffset);
    return 0;
}

int CameraISP::SetLutMode(int mode) {
    Lock lock(m_mutex);
    const int status = m_lut.SetLutMode(mode);
    if (status == 0) MarkDirty(kDirtyLutMode);
    return status;
}

int CameraISP::SetGamma(int gamma) {
    Lock lock(m_mutex);
    const int status = m_lut.SetGamma(gamma);
    if (status == 0) MarkDirty(kDirtyLutCurve);
    return status;
}

int CameraISP::SetContrastLut(int contrastLut) {
    Lock lock(m_mutex);
    const int status = m_lut.SetContrastLut(contrastLut);
    if (status == 0) MarkDirty(kDirtyLutCurve);
    return status;
}

int CameraISP::SelectLutPreset(int index) {
    Lock lock(m_mutex);
    const int status = m_lut.SelectLutPreset(index);
    if (status == 0) MarkDirty(kDirtyLutCurve);
    return status;
}

int CameraISP::SetCustomLut(int index, const uint16_t* table) {
    Lock lock(m_mutex);
    return m_lut.SetCustomLut(index, table);
}

int CameraISP::GetCustomLut(int index, uint16_t* table) const {
    Lock lock(m_mutex);
    return m_lut.GetCustomLut(index, table);
}

int CameraISP::GetCurrentLut(int index, uint16_t* table) const {
    Lock lock(m_mutex);
    return m_lut.GetCurrentLut(index, table);
}

int CameraISP::StoreCustomCurve(int channel, const uint16_t* curve) {
    if (channel < 0 || channel > 2 || curve == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    m_lut.StoreCustomCurve(channel, curve);
    return 0;
}

int CameraISP::LscCalibrate(tSdkLscCalibParam* param) {
    (void)param;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CameraISP::LscCorrect(tSdkLscCorrectParam* param) {
    (void)param;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CameraISP::GetLutMode() const {
    Lock lock(m_mutex);
    return m_lut.ActiveMode();
}

int CameraISP::GetGamma() const {
    Lock lock(m_mutex);
    return m_lut.ActiveGamma();
}

int CameraISP::GetContrastLut() const {
    Lock lock(m_mutex);
    return m_lut.ActiveContrastLut();
}

int CameraISP::GetLutPreset() const {
    Lock lock(m_mutex);
    return m_lut.ActivePresetIndex();
}

int CameraISP::GetSharpness() const {
    Lock lock(m_mutex);
    return m_active.sharpness;
}

int CameraISP::GetSaturation() const {
    Lock lock(m_mutex);
    return m_active.saturation;
}

int CameraISP::GetContrast() const {
    Lock lock(m_mutex);
    return m_active.contrast;
}

uint32_t CameraISP::GetIspOutFormat() const {
    Lock lock(m_mutex);
    return m_active.ispOutFormat;
}

CameraISP::Settings CameraISP::GetActiveSettings() const {
    Lock lock(m_mutex);
    return m_active;
}

uint16_t CameraISP::GetDirtyCode() const {
    Lock lock(m_mutex);
    return m_dirty;
}

int CameraISP::GetProcessLevel() const {
    Lock lock(m_mutex);
    return m_processLevel;
}
