#include "SensorBase.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "SensorClock.h"
#include "common/TextCopy.h"

using namespace sensor;

namespace {
constexpr uint16_t kResetFpgaReg = 15;
constexpr uint32_t kResetFpgaBit = 0x10000;
constexpr unsigned kResetStepMs = 10;
constexpr unsigned kTwoLineLowMs = 100;
}  // namespace

CSensorBase::CSensorBase(SensorTypeE type, imginf* inf) : SensorInf(type, inf) {}

// ---- Read-back operations ------------------------------------------------------------------

int CSensorBase::Uninit() {
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::SetAuxValue(int value) {
    m_auxValue = value;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetLineTime(int* ns) {
    if (ns != nullptr) *ns = static_cast<int>(m_lineTimeNs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetExposure(double* us) {
    if (us != nullptr) *us = m_expTimeUs;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetExposureLineTime(double* us) {
    if (us != nullptr) *us = m_lineTimeUs;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetFrameTime(double* us) {
    if (us != nullptr) *us = m_frameTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetFrameSpeed(int* speed) {
    if (speed != nullptr) *speed = static_cast<int>(m_frameSpeed);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetAnalogGainRange(int* min, int* max) {
    if (min != nullptr) *min = static_cast<int>(m_param.analogGainMin);
    if (max != nullptr) *max = static_cast<int>(m_param.analogGainMax);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetAnalogGain(int* gain) {
    if (gain != nullptr) *gain = static_cast<int>(m_gain);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetBlackLevel(int* level) {
    if (level != nullptr) *level = static_cast<int>(m_blackLevel);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetInfo(SensorInfo* info) {
    if (info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *info = m_info;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetSensorParam(SensorParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *param = m_param;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetImageInfo(stImageInfo* info) {
    if (info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    info->iWidth = m_width;
    info->iHeight = m_height;
    info->uiMediaType = m_pixelFormat;
    const bool oneByte = CAMERA_MEDIA_TYPE_BITS(m_pixelFormat) == 8;
    info->TotalBytes = m_width * m_height * (oneByte ? 1 : 2);
    info->ExpTime = m_expTimeUs;
    info->ExpLineTime = m_lineTimeUs;
    info->Gain = m_gain;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::SetResolution(tSdkResolution* res) {
    if (res != nullptr) m_resolution = *res;
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::GetResolution(tSdkResolution* res) {
    if (res == nullptr) return CAMERA_STATUS_SUCCESS;
    res->iOffsetX = m_roiX;
    res->iOffsetY = m_roiY;
    res->uModeC = m_roiMode;
    res->iSensorWidth = static_cast<INT>(m_fovWidth);
    res->iSensorHeight = static_cast<INT>(m_fovHeight);
    res->uWidth = m_width;
    res->uHeight = m_height;
    return CAMERA_STATUS_SUCCESS;
}

void CSensorBase::ApplyResolution() {
    m_width = m_resolution.uWidth;
    m_height = m_resolution.uHeight;
    m_fovWidth = static_cast<uint32_t>(m_resolution.iSensorWidth);
    m_fovHeight = static_cast<uint32_t>(m_resolution.iSensorHeight);
    m_roiX = static_cast<uint16_t>(m_resolution.iOffsetX) & ~1u;
    m_roiY = static_cast<uint16_t>(m_resolution.iOffsetY) & ~1u;
    m_roiMode = static_cast<uint16_t>(m_resolution.uModeC);
}

// ---- Time, reset, clock ----------------------------------------------------------------------

void CSensorBase::Pause(unsigned ms) {
    if (ms != 0) SensorClock::Get().Sleep(ms);
}

int CSensorBase::PulseGpio(uint8_t pin) {
    int r = SetGpioMode(pin, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    if ((r = WriteGpio(pin, 1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::PulseGpioPair(uint8_t pin, uint8_t pin2) {
    int r = SetGpioMode(pin, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = SetGpioMode(pin2, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin2, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    r = WriteGpio(pin, 1);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin2, 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::PulseGpioPairTogether(uint8_t pin, uint8_t pin2) {
    int r = SetGpioMode(pin, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = SetGpioMode(pin2, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin2, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    r = WriteGpio(pin, 1);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(pin2, 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::PulseFpgaResetBit() {
    uint32_t word = 0;
    int r = ReadFpgaReg(kResetFpgaReg, &word);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteFpgaReg(kResetFpgaReg, word & ~kResetFpgaBit);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    if ((r = WriteFpgaReg(kResetFpgaReg, word | kResetFpgaBit)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(kResetStepMs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::PulseReset(const ResetLine& line) {
    switch (line.kind) {
        case ResetKind::Gpio:
            return PulseGpio(line.pin);
        case ResetKind::GpioPair:
            return PulseGpioPair(line.pin, line.pin2);
        case ResetKind::GpioPairTogether:
            return PulseGpioPairTogether(line.pin, line.pin2);
        case ResetKind::GpioLevel: {
            const int r = SetGpioMode(line.pin, 0);
            return r == CAMERA_STATUS_SUCCESS ? WriteGpio(line.pin, line.level) : r;
        }
        case ResetKind::TwoLine: {
            int r = SetGpioMode(line.pin, 0);
            if (r == CAMERA_STATUS_SUCCESS) r = SetGpioMode(line.pin2, 0);
            if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(line.pin, 0);
            if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(line.pin2, line.level);
            if (r != CAMERA_STATUS_SUCCESS) return r;
            Pause(kTwoLineLowMs);
            if ((r = WriteGpio(line.pin, 1)) != CAMERA_STATUS_SUCCESS) return r;
            Pause(line.afterMs);
            return CAMERA_STATUS_SUCCESS;
        }
        case ResetKind::FpgaBit:
            return PulseFpgaResetBit();
        case ResetKind::None:
            break;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::PulseReset(const ResetSequence& lines) {
    const int r = PulseReset(lines.first);
    return r == CAMERA_STATUS_SUCCESS ? PulseReset(lines.second) : r;
}

int CSensorBase::ResetAndSelectBus(const ResetSequence& lines, uint8_t busAddress,
                                   uint8_t busWidths, unsigned settleMs) {
    int r = PulseReset(lines);
    if (r == CAMERA_STATUS_SUCCESS) r = SetSensorBus(busAddress, busWidths);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(settleMs);
    return CAMERA_STATUS_SUCCESS;
}

int CSensorBase::ApplyPll(const PllSetting& pll) {
    if (!pll.present) {
        if (pll.inputClock != 0) m_inputClock = pll.inputClock;
        return CAMERA_STATUS_SUCCESS;
    }
    const auto& v = pll.values;
    const int r = SetPll(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
    if (r == CAMERA_STATUS_SUCCESS) m_inputClock = pll.inputClock;
    return r;
}

// ---- Timing ------------------------------------------------------------------------------------

void CSensorBase::RecomputeTiming(uint32_t countingClockHz) {
    // No clock yet (an initialisation that stopped early): no timing rather than a division by 0.
    m_pixelPeriodNs = countingClockHz != 0 ? 1e9 / countingClockHz : 0.0;
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
}

uint32_t CSensorBase::LinesForUs(double us, uint32_t minLines) const {
    if (!(m_lineTimeNs > 0) || !(us > 0)) return minLines;
    const double n = us * 1000.0 / m_lineTimeNs + 0.5;
    // A double beyond the 32-bit range has no defined conversion; no field is that wide.
    const uint32_t lines = n >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
    return lines < minLines ? minLines : lines;
}

void CSensorBase::RecordExposureLines(uint32_t lines) {
    m_expLines = lines;
    m_expTimeUs = lines * m_lineTimeNs / 1000.0;
}

// ---- Shutter engine --------------------------------------------------------------------------

int CSensorBase::WriteShutter(const ShutterLayout& layout, uint32_t n, uint32_t frameLength,
                              bool& longFrame, uint32_t* linesInForce) {
    if (static_cast<uint64_t>(n) + layout.fitMargin > frameLength) {
        uint64_t stretched = static_cast<uint64_t>(n) + layout.stretchExtra;
        if (stretched > layout.maxFrameLength) stretched = layout.maxFrameLength;
        RegList list;
        list.Add(layout.frameLength, static_cast<uint32_t>(stretched));
        list.Add(layout.shutter, layout.stretchShutter);
        const int r = WriteRegs(list);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        longFrame = true;
        if (linesInForce != nullptr)
            *linesInForce = static_cast<uint32_t>(stretched) - layout.stretchExtra;
        return CAMERA_STATUS_SUCCESS;
    }
    const uint32_t shutter = frameLength - n - layout.shutterOffset;
    auto restore = [&]() {
        if (!longFrame) return CAMERA_STATUS_SUCCESS;
        const int r = WriteRegs(RegList().Add(layout.frameLength, frameLength));
        if (r == CAMERA_STATUS_SUCCESS) longFrame = false;
        return r;
    };
    int r = layout.restoreFirst ? restore() : CAMERA_STATUS_SUCCESS;
    if (r == CAMERA_STATUS_SUCCESS) r = WriteRegs(RegList().Add(layout.shutter, shutter));
    if (r == CAMERA_STATUS_SUCCESS && !layout.restoreFirst) r = restore();
    if (r == CAMERA_STATUS_SUCCESS && linesInForce != nullptr) *linesInForce = n;
    return r;
}

uint32_t CSensorBase::FrameCountMaxLines(const FrameCountLayout& layout, uint32_t frameLength) {
    const uint64_t lines = static_cast<uint64_t>(layout.maxCount) * frameLength;
    return lines > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(lines);
}

int CSensorBase::WriteFrameCountShutter(const FrameCountLayout& layout, uint32_t n,
                                        uint32_t frameLength, uint16_t& frameCount) {
    if (frameLength == 0) return CAMERA_STATUS_PARAMETER_INVALID;
    n = std::min(n, FrameCountMaxLines(layout, frameLength));
    auto k = static_cast<uint16_t>(n / frameLength);
    uint64_t shutter = (k + uint64_t{1}) * frameLength - n;
    if (shutter <= layout.minShutter) {
        ++k;
        shutter = (k + uint64_t{1}) * frameLength - n;
    }
    if (!layout.cacheCount || k != frameCount) {
        const int r = WriteRegs(RegList().Add(layout.frameCount, k));
        if (r != CAMERA_STATUS_SUCCESS) return r;
        frameCount = k;
    }
    return WriteRegs(RegList().Add(layout.shutter, static_cast<uint32_t>(shutter)));
}

// ---- FPGA frame timing -------------------------------------------------------------------------

int CSensorBase::WriteFrameTiming(uint32_t frameLength, uint32_t lineLength, uint16_t directReg,
                                  uint32_t* frameInForce, uint8_t c) {
    const uint32_t frame = std::clamp(frameLength, 1u, FrameTimingMaxFrame(directReg));
    int r;
    if (directReg == 0) {
        r = SetImageTiming(static_cast<uint16_t>(frame), static_cast<uint16_t>(lineLength), c);
    } else {
        const uint32_t last = frame - 1;
        const int lo = WriteFpgaReg(directReg, last & 0xFFFF);
        const int line = WriteFpgaReg(directReg + 1, lineLength - c - 1);
        const int hi = WriteFpgaReg(directReg + 2, last >> 16);
        r = lo != CAMERA_STATUS_SUCCESS ? lo : line != CAMERA_STATUS_SUCCESS ? line : hi;
    }
    if (r == CAMERA_STATUS_SUCCESS && frameInForce != nullptr) *frameInForce = frame;
    return r;
}

// ---- Trigger, channels, identity, capability --------------------------------------------------

int CSensorBase::ApplyTriggerControl(int mode, uint16_t triggeredFlag, bool readFailureEnds) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    // What the word holds when it cannot be read: mode field 0 and the external source 1.
    uint16_t modeField = 0, source = 1;
    const int read = GetTriggerControl(&modeField, &source, nullptr, nullptr);
    if (read != CAMERA_STATUS_SUCCESS && readFailureEnds) return read;
    modeField |= 0x108;
    if (mode == 0) return SetTriggerControl(modeField, 0, 1, 0);
    return SetTriggerControl(modeField, mode == 1 ? 6 : source, triggeredFlag, 1);
}

int CSensorBase::ApplyTriggerMode(int mode, uint16_t timingA, uint16_t timingB) {
    int r = ApplyTriggerControl(mode);
    if (r == CAMERA_STATUS_SUCCESS && (mode == 1 || mode == 2))
        r = SetTriggerTiming(timingA, timingB);
    return r;
}

int CSensorBase::SetPulseExposure(double us) {
    constexpr double kChipPastPulseUs = 14;
    if (!(us >= kChipPastPulseUs + 1)) {
        m_expTimeUs = kChipPastPulseUs + 1;
        return SetTriggerTiming(1, 0);
    }
    const double w = us - kChipPastPulseUs;
    const bool fits = w < 4294967296.0;
    const uint32_t pulse = fits ? static_cast<uint32_t>(w) : 0xFFFFFFFFu;
    m_expTimeUs = fits ? us : pulse + kChipPastPulseUs;
    return SetTriggerTiming(pulse & 0xFFFF, pulse >> 16);
}

int CSensorBase::SoftTriggerVia(bool fpga, const ChipTrigger& chip) {
    if (fpga) return SendSoftTrigger();
    if (chip.kind == ChipTrigger::Kind::None) return CAMERA_STATUS_SUCCESS;
    auto set = [&](uint16_t value) {
        return chip.kind == ChipTrigger::Kind::Gpio
                   ? WriteGpio(static_cast<uint8_t>(chip.target), static_cast<uint8_t>(value))
                   : WriteSensorReg(chip.target, value);
    };
    const int r = set(chip.high);
    if (r != CAMERA_STATUS_SUCCESS || !chip.release) return r;
    Pause(chip.pauseMs);
    const int released = set(chip.low);
    return chip.releaseStatus ? released : CAMERA_STATUS_SUCCESS;
}

int CSensorBase::TakeChannelMask(CameraInitParam& param, uint8_t& count, uint16_t fpgaReg) {
    const uint32_t mask = static_cast<uint32_t>(param.channelMask) & 0xF;
    param.channelMask = static_cast<int>(mask);
    if (mask == 0) return CAMERA_STATUS_PARAMETER_INVALID;
    count = static_cast<uint8_t>(std::popcount(mask));
    return fpgaReg != 0 ? WriteFpgaReg(fpgaReg, mask) : CAMERA_STATUS_SUCCESS;
}

int CSensorBase::CheckChipIdentity(CSensorBase& probe, std::initializer_list<ChipId> ids) {
    int r = probe.Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    for (const ChipId& id : ids) {
        uint16_t value = 0;
        if ((r = probe.ReadSensorReg(id.reg, &value)) != CAMERA_STATUS_SUCCESS) return r;
        if ((value & id.mask) != (id.value & id.mask)) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    }
    return CAMERA_STATUS_SUCCESS;
}

void CSensorBase::SetInstanceInfo(const char* name, const char* kind) {
    m_info = SensorInfo{};
    m_info.type = m_sensorType;
    qv::CopyText(m_info.name, name);
    qv::CopyText(m_info.kind, kind);
}

void CSensorBase::SetLimits(const SensorLimits& limits) {
    m_param.aeTargetMin = limits.aeTargetMin;
    m_param.aeTargetMax = limits.aeTargetMax;
    m_param.analogGainMin = limits.gainMin;
    m_param.analogGainMax = limits.gainMax;
    m_param.expLinesMin = limits.expLinesMin;
    m_param.expLinesMax = limits.expLinesMax;
    m_param.maxHeight = limits.maxHeight;
    m_param.minHeight = limits.minHeight;
    m_param.maxWidth = limits.maxWidth;
    m_param.minWidth = limits.minWidth;
    m_param.reductionModeMask = limits.reductionModeMask;
}

void CSensorBase::SetFormats(SensorCapability& cap, std::span<const uint32_t> formats) {
    QV_ASSERT(!formats.empty());
    cap.supportMediaType.assign(formats.begin(), formats.end());
}

void CSensorBase::SetFormats8Or12(SensorCapability& cap, bool mono, bool with12) {
    if (mono)
        SetFormats(cap, with12 ? std::span<const uint32_t>(kMono8And12) : kMono8Only);
    else
        SetFormats(cap, with12 ? std::span<const uint32_t>(kColour8And12) : kColour8);
}
