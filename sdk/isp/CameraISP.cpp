#include "CameraISP.h"

#include "ColourKernels.h"
#include "IspVectorOps.h"
#include "control/CameraSettings.h"
#include "LensShading.h"
#include "MonoKernels.h"
#include "RawYuvKernels.h"
#include "OutFormat.h"

using namespace qv::isp;

CameraISP::CameraISP() = default;

CameraISP::~CameraISP() = default;

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
    // Flags of the record are on when non-zero, whatever their upper bits.
    s.mirrorH = settings.mirrorH != 0 ? 1 : 0;
    s.mirrorV = settings.mirrorV != 0 ? 1 : 0;
    s.monochrome = settings.monochrome != 0 ? 1 : 0;
    s.deadPixel = settings.correctDeadPixel;
    s.blackOffset = 0;
    s.bayerAlgMode = bayerAlgMode;
    s.bayerAlgThreshold = 300;
    s.demosaicKind = 4;
    for (int i = 0; i < 9; ++i) m_colorMatrix[i] = settings.colorMatrix[i];
    m_monoCamera = monoCamera;
    LoadSettings(s);
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

CameraISP::Kernel CameraISP::SelectKernel(int processLevel, uint32_t inputMediaType,
                                          uint32_t ispOutFormat) {
    const bool vector = processLevel >= kVectorLevel;
    switch (inputMediaType) {
        case kInputMono8:
            return vector ? Kernel::kMono8 : Kernel::kMono8Scalar;
        case kInputMono12:
            // 16-bit grey has only the scalar kernel, which keeps the 12 bits.
            return vector && ispOutFormat != kOutMono16 ? Kernel::kMono12 : Kernel::kMono12Scalar;
        case kInputBayerGrbg8:
            if (ispOutFormat == kOutRaw8) return Kernel::kRaw8ToRaw8;
            if (ispOutFormat == kOutRaw16) return Kernel::kRaw8ToRaw16;
            return vector ? Kernel::kBayer8 : Kernel::kBayer8Scalar;
        case kInputBayerGrbg12:
            if (ispOutFormat == kOutRaw16) return Kernel::kRaw16ToRaw16;
            if (ispOutFormat == kOutRaw8) return Kernel::kRaw16ToRaw8;
            return vector ? Kernel::kBayer16 : Kernel::kBayer16Scalar;
        case kInputYuv422:
            return vector ? Kernel::kYuv422 : Kernel::kNone;
        default:
            return Kernel::kNone;
    }
}

bool CameraISP::HasKernel(Kernel kernel) {
    switch (kernel) {
        case Kernel::kMono8:
        case Kernel::kMono8Scalar:
        case Kernel::kMono12:
        case Kernel::kMono12Scalar:
        case Kernel::kBayer8:
        case Kernel::kBayer8Scalar:
        case Kernel::kBayer16:
        case Kernel::kBayer16Scalar:
        case Kernel::kRaw8ToRaw8:
        case Kernel::kRaw8ToRaw16:
        case Kernel::kRaw16ToRaw16:
        case Kernel::kRaw16ToRaw8:
        case Kernel::kYuv422:
            return true;
        default:
            return false;
    }
}

int CameraISP::ProcessFrame(const stImageInfo* inInfo, uint8_t* raw, stImageInfo* outInfo,
                            uint8_t* out, uint32_t redGain, uint32_t greenGain, uint32_t blueGain) {
    Lock lock(m_mutex);
    // The tables rebuilt below and every kernel compute in round-to-nearest, whatever the host.
    const CScopedNearestRounding rounding;
    if (!m_loaded) return CAMERA_STATUS_NOT_INITIALIZED;
    ApplyPendingParams();
    if (inInfo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;

    const Kernel kernel = SelectKernel(m_processLevel, inInfo->uiMediaType, m_active.ispOutFormat);
    if (kernel == Kernel::kNone || !HasKernel(kernel)) return CAMERA_STATUS_NOT_SUPPORTED;

    // The tables follow the samples of this frame: a stream switched from 8 to 12 bits since
    // the last load must not index a 256-entry table with 12-bit samples.
    m_lut.MatchInputMediaType(inInfo->uiMediaType);
    IspFrame frame;
    frame.inInfo = inInfo;
    frame.raw = raw;
    frame.outInfo = outInfo;
    frame.out = out;
    frame.demosaicKind = m_active.demosaicKind;

    int status = CAMERA_STATUS_NOT_SUPPORTED;
    switch (kernel) {
        case Kernel::kBayer8:
        case Kernel::kBayer8Scalar:
        case Kernel::kBayer16:
        case Kernel::kBayer16Scalar:
        case Kernel::kRaw8ToRaw8:
        case Kernel::kRaw8ToRaw16:
        case Kernel::kRaw16ToRaw16:
        case Kernel::kRaw16ToRaw8:
        case Kernel::kYuv422:
            status = ProcessColour(kernel, frame, redGain, greenGain, blueGain);
            break;
        default:
            status = ProcessMono(kernel, frame);
            break;
    }
    if (status == CAMERA_STATUS_SUCCESS) m_active.demosaicKind = frame.demosaicKind;
    // The kernel's own status: a kernel that wrote nothing must not pass for a processed frame.
    return status;
}

int CameraISP::ProcessColour(Kernel kernel, IspFrame& frame, uint32_t redGain, uint32_t greenGain,
                             uint32_t blueGain) {
    ColourSettings colour;
    colour.sharpness = m_active.sharpness;
    colour.saturation = m_active.saturation;
    colour.contrast = m_active.contrast;
    colour.mirrorH = m_active.mirrorH != 0;
    colour.mirrorV = m_active.mirrorV != 0;
    colour.monochrome = m_active.monochrome != 0;
    colour.blackOffset = m_active.blackOffset;
    colour.deadPixel = m_active.deadPixel != 0;
    colour.monoCamera = m_monoCamera == 1;
    colour.ispOutFormat = m_active.ispOutFormat;
    for (int i = 0; i < 9; ++i) colour.colorMatrix[i] = m_colorMatrix[i];
    colour.redGain = redGain;
    colour.greenGain = greenGain;
    colour.blueGain = blueGain;
    const ColourLuts luts{m_lut.ChannelTable(0), m_lut.ChannelTable(1), m_lut.ChannelTable(2)};
    switch (kernel) {
        case Kernel::kBayer8:
            return ProcessBayer8(frame, colour, luts, m_stats, m_work);
        case Kernel::kBayer8Scalar:
            return ProcessBayer8Scalar(frame, colour, luts, m_stats, m_work);
        case Kernel::kBayer16:
            return ProcessBayer16(frame, colour, luts, m_stats, m_work);
        case Kernel::kBayer16Scalar:
            return ProcessBayer16Scalar(frame, colour, luts, m_stats, m_work);
        case Kernel::kRaw8ToRaw8:
            return ProcessRaw8ToRaw8(frame, colour, luts);
        case Kernel::kRaw8ToRaw16:
            return ProcessRaw8ToRaw16(frame, colour, luts);
        case Kernel::kRaw16ToRaw16:
            return ProcessRaw16ToRaw16(frame, colour, luts);
        case Kernel::kRaw16ToRaw8:
            return ProcessRaw16ToRaw8(frame, colour, luts);
        case Kernel::kYuv422:
            return ProcessYuv422(frame, colour);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

int CameraISP::ProcessMono(Kernel kernel, IspFrame& frame) {
    const LutView lut = m_lut.ChannelTable(0);
    MonoSettings mono;
    mono.sharpness = m_active.sharpness;
    mono.contrast = m_active.contrast;
    mono.mirrorH = m_active.mirrorH != 0;
    mono.mirrorV = m_active.mirrorV != 0;
    mono.blackOffset = m_active.blackOffset;
    mono.deadPixel = m_active.deadPixel != 0;
    mono.monoCamera = m_monoCamera == 1;
    mono.ispOutFormat = m_active.ispOutFormat;
    switch (kernel) {
        case Kernel::kMono8:
            return ProcessMono8(frame, mono, lut, m_stats, m_work);
        case Kernel::kMono8Scalar:
            return ProcessMono8Scalar(frame, mono, lut, m_stats, m_work);
        case Kernel::kMono12:
            return ProcessMono12(frame, mono, lut, m_stats, m_work);
        case Kernel::kMono12Scalar:
            return ProcessMono12Scalar(frame, mono, lut, m_stats, m_work);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

int CameraISP::GetOutFormatInfo(int* bytesPerPixel, int* outputId, const stImageInfo* inInfo,
                                stImageInfo* outInfo) const {
    if (inInfo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    return qv::isp::GetOutFormatInfo(m_active.ispOutFormat, *inInfo, outInfo, bytesPerPixel,
                                     outputId);
}

int CameraISP::SetSharpness(int sharpness) {
    return SetPending(&Settings::sharpness, sharpness, kDirtySharpness);
}

int CameraISP::SetContrast(int contrast) {
    return SetPending(&Settings::contrast, contrast, kDirtyContrast);
}

int CameraISP::SetSaturation(int saturation) {
    return SetPending(&Settings::saturation, saturation, kDirtySaturation);
}

int CameraISP::SetIspOutFormat(uint32_t mediaType) {
    return SetPending(&Settings::ispOutFormat, mediaType, kDirtyOutFormat);
}

int CameraISP::SetMirror(int direction, int on) {
    if (direction != 0 && direction != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    return SetPending(direction == 0 ? &Settings::mirrorH : &Settings::mirrorV, on, kDirtyMirror);
}

int CameraISP::SetMonochrome(int on) {
    return SetPending(&Settings::monochrome, on, kDirtyMonochrome);
}

int CameraISP::SetBayerAlgMode(int mode) {
    return SetPending(&Settings::bayerAlgMode, mode, kDirtyBayerAlg);
}

int CameraISP::SetBayerAlgThreshold(int threshold) {
    return SetPending(&Settings::bayerAlgThreshold, threshold, kDirtyBayerAlg);
}

int CameraISP::SetCorrectDeadPixel(int on) {
    return SetPending(&Settings::deadPixel, on, kDirtyDeadPixel);
}

int CameraISP::SetBlackOffset(int offset) {
    return SetPending(&Settings::blackOffset, offset, kDirtyBlackOffset);
}

int CameraISP::SetLutMode(int mode) {
    Lock lock(m_mutex);
    const int status = m_lut.SetLutMode(mode);
    if (status == 0) m_dirty = kDirtyLutMode;
    return status;
}

int CameraISP::SetGamma(int gamma) {
    Lock lock(m_mutex);
    const int status = m_lut.SetGamma(gamma);
    if (status == 0) m_dirty = kDirtyLutCurve;
    return status;
}

int CameraISP::SetContrastLut(int contrastLut) {
    Lock lock(m_mutex);
    const int status = m_lut.SetContrastLut(contrastLut);
    if (status == 0) m_dirty = kDirtyLutCurve;
    return status;
}

int CameraISP::SelectLutPreset(int index) {
    Lock lock(m_mutex);
    const int status = m_lut.SelectLutPreset(index);
    if (status == 0) m_dirty = kDirtyLutCurve;
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
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    switch (LscSampleBytes(param->uMediaType)) {
        case 1:
            return CalibrateLsc8(param);
        case 2:
            return CalibrateLsc16(param);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

int CameraISP::LscCorrect(tSdkLscCorrectParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    switch (LscSampleBytes(param->uMediaType)) {
        case 1:
            return CorrectLsc8(param);
        case 2:
            return CorrectLsc16(param);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
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
    return GetActive(&Settings::sharpness);
}

int CameraISP::GetSaturation() const {
    return GetActive(&Settings::saturation);
}

int CameraISP::GetContrast() const {
    return GetActive(&Settings::contrast);
}

uint32_t CameraISP::GetIspOutFormat() const {
    return GetActive(&Settings::ispOutFormat);
}

int CameraISP::GetProcessLevel() const {
    Lock lock(m_mutex);
    return m_processLevel;
}
