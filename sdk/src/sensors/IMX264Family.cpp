#include "IMX264Family.h"

#include <algorithm>

#include "common/Log.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

// Registers of the 0x02xx bank; the 0x30xx chips add 0x2E00.
constexpr uint16_t kRegStandby = 0x0200;  // 1: standby
constexpr uint16_t kRegMaster = 0x020A;   // 0: master start
constexpr uint16_t kRegVmax = 0x0210;     // 0x0210 to 0x0212, bits 16-19 in the last
constexpr uint16_t kRegHmax = 0x0214;     // 0x0214, 0x0215
constexpr uint16_t kRegShs = 0x028D;      // 0x028D to 0x028F
constexpr uint16_t kRegGain = 0x0404;     // bits 0-7; bit 8 in 0x0405
constexpr uint16_t kRegTriggerExposure = 0x02AE;
constexpr uint16_t kRegTriggerExposure2 = 0x020B;
constexpr uint16_t kRegWindowMode = 0x0500;  // 3: cropped
constexpr uint16_t kRegWindowColumn = 0x0510;
constexpr uint16_t kRegWindowRow = 0x0512;
constexpr uint16_t kRegWindowWidth = 0x0514;
constexpr uint16_t kRegWindowHeight = 0x0516;
constexpr uint16_t kRegBlackLevel = 0x0454;  // value; 0x0455 = 0

constexpr uint32_t kMaxFrameLength = 0xFFFFF;  // VMAX holds 20 bits
constexpr double kChipPulseOffsetUs = 14;      // the chip exposes 14 us past the pulse
constexpr uint32_t kSpeedFactor[] = {3, 2, 1};

constexpr LogGainStep kGainStep{.stepTenthsDb = 1, .hcgThresholdDb = 1e9, .hcgDb = 0};

// A pulse width in whole microseconds as the 32 bits the trigger timing holds.
uint32_t PulseUs(double us) {
    if (!(us > 0)) return 0;
    return us >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
}

}  // namespace

CIMX264Family::CIMX264Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf),
      m_chip(chip),
      m_vmax{{{Reg(kRegVmax), 0, 0xFF},
              {static_cast<uint16_t>(Reg(kRegVmax) + 1), 8, 0xFF},
              {static_cast<uint16_t>(Reg(kRegVmax) + 2), 16, 0x0F}}},
      m_shs{{{Reg(kRegShs), 0, 0xFF},
             {static_cast<uint16_t>(Reg(kRegShs) + 1), 8, 0xFF},
             {static_cast<uint16_t>(Reg(kRegShs) + 2), 16, 0x0F}}},
      m_shutter{.frameLength = m_vmax,
                .shutter = m_shs,
                .fitMargin = chip.margin,
                .stretchExtra = chip.margin,
                .stretchShutter = chip.margin,
                .shutterOffset = 0,
                .restoreFirst = false,
                .maxFrameLength = kMaxFrameLength} {
    m_auxValue = chip.auxValue;
    m_inputClock = 74250000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo(chip.instanceName, chip.kind);
    // The AE target runs from 60 to 160 as in the rest of the Sony family.
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = chip.expLinesMax,
               .maxWidth = chip.fullWidth,
               .maxHeight = chip.fullHeight,
               .reductionModeMask = 3});
    const bool mono = type == chip.monoCode;
    SetPixelFormat(mono && chip.monoAsksMono8 ? kMono8 : kBayerGR8);
}

bool CIMX264Family::Serves(int hw) const {
    return std::find(m_chip.served.begin(), m_chip.served.end(), hw) != m_chip.served.end();
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX264Family::Reset() {
    const int hw = GetHardwareType();
    const BoardReset* board = nullptr;
    for (const BoardReset& row : m_chip.resets)
        if (row.hwType == hw) board = &row;
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, m_chip.busAddress, 0x12, 20);
}

int CIMX264Family::WriteTables() {
    const std::span<const uint16_t> output = m_chip.outputMode[m_widthCode];
    int r = WriteSensorRegs(m_chip.init);
    if (r == CAMERA_STATUS_SUCCESS && m_chip.outputModeFirst && !output.empty())
        r = WriteSensorRegs(output);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(m_chip.readout);
    if (r == CAMERA_STATUS_SUCCESS && !m_chip.outputModeFirst && !output.empty())
        r = WriteSensorRegs(output);
    return r;
}

int CIMX264Family::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const int hw = GetHardwareType();
    // Reset knows a few boards that Init does not serve.
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_widthCode = m_bitMode == 32 ? m_chip.widthCode12 : m_chip.widthCode8;
    // The reset put the chip back to continuous exposure with its own frame.
    m_streaming = false;
    m_triggerWidth = false;
    m_longFrame = false;
    if ((r = ApplyClock(*param)) != CAMERA_STATUS_SUCCESS) return r;
    m_laneBits = 4;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if (hw != m_chip.noTriggerResetBoard &&
        (r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS)
        return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_windowX = m_roiX;
    m_windowY = m_roiY;
    if ((r = WriteTables()) != CAMERA_STATUS_SUCCESS) return r;

    uint16_t offsetX, offsetY;
    uint32_t frameLength;
    if (m_width == m_chip.fullWidth && m_height == m_chip.fullHeight) {
        if ((r = WriteSensorRegs(m_chip.fullWindow)) != CAMERA_STATUS_SUCCESS) return r;
        frameLength = m_chip.fullFrameLength;
        offsetX = m_chip.fullOffsetX;
        offsetY = m_chip.fullOffsetY;
    } else {
        WriteWindow(m_windowX, m_windowY, m_width, m_height);  // Init goes on with the chip's own
        frameLength = m_height + m_chip.extraLines;
        offsetX = m_chip.offsetX;
        offsetY = m_chip.offsetY;
    }
    if (!m_chip.lengthsFromClock) m_baseFrameLength = frameLength;
    if (m_chip.initLineLength != 0) m_baseLineLength = m_chip.initLineLength;
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    r = SetupImageWindow(offsetX, offsetY, m_channelCount * m_width, m_height, m_fovWidth,
                         m_fovHeight, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r == CAMERA_STATUS_SUCCESS && m_chip.startGainExposure) {
        SetAnalogGain(1000);
        SetExposureLines(2);
    }
    return r;
}

int CIMX264Family::WriteWindow(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    w += m_chip.windowPad;
    h += m_chip.windowPad;
    if (w < m_chip.minWindowWidth) {
        // The chip reads no narrower window; the FPGA keeps the part asked for.
        w = m_chip.minWindowWidth;
        x = std::min(x, m_chip.maxColumnForMin);
    }
    RegList list;
    list.Add(Reg(kRegWindowMode), 3);
    list.Add(Reg(kRegWindowColumn), x & 0xFF).Add(Reg(kRegWindowColumn + 1), (x >> 8) & 7);
    list.Add(Reg(kRegWindowWidth), w & 0xFF).Add(Reg(kRegWindowWidth + 1), (w >> 8) & 7);
    list.Add(Reg(kRegWindowRow), y & 0xFF).Add(Reg(kRegWindowRow + 1), (y >> 8) & 7);
    list.Add(Reg(kRegWindowHeight), h & 0xFF).Add(Reg(kRegWindowHeight + 1), (h >> 8) & 7);
    return WriteRegs(list);
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CIMX264Family::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    // From the lengths of the window each time, so speeds never multiply up.
    const uint32_t line = SpeedLineLength(hw);
    const uint32_t frame =
        std::min(SpeedFrameLength(hw, m_baseFrameLength * kSpeedFactor[speed]), kMaxFrameLength);
    int r =
        m_chip.speedPrefix.empty() ? CAMERA_STATUS_SUCCESS : WriteSensorRegs(m_chip.speedPrefix);
    if (r == CAMERA_STATUS_SUCCESS)
        r = WriteRegs(RegList()
                          .Add(m_vmax, frame)
                          .Add(Reg(kRegHmax), line & 0xFF)
                          .Add(Reg(kRegHmax + 1), (line >> 8) & 0xFF));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_longFrame = false;
    RecomputeTiming(m_inputClock);
    if (m_chip.maxExposureUs > 0 && m_lineTimeUs > 0)
        m_param.expLinesMax = static_cast<uint32_t>(m_chip.maxExposureUs / m_lineTimeUs);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::SetExposureLines(uint32_t lines) {
    const bool logs = m_chip.logs;
    if (logs) qv::Log("explines:%d\n", static_cast<int>(lines));
    // At least one line; at most what the stretched 20-bit frame length holds.
    lines = std::clamp(lines, 1u, m_chip.maxLines);
    const bool longFrame = static_cast<uint64_t>(lines) + m_chip.margin > m_frameLength;
    const uint32_t shutter = longFrame ? m_chip.margin : m_frameLength - lines;
    if (logs && !longFrame)
        qv::Log("VMax:%d,shs1:%d\n", static_cast<int>(m_frameLength), static_cast<int>(shutter));
    BeforeShutter(longFrame, shutter);
    uint32_t inForce = lines;
    const int r = WriteShutter(m_shutter, lines, m_frameLength, m_longFrame, &inForce);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    RecordExposureLines(inForce);
    m_expTimeUs += m_chip.reportedExtraUs;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::SetExposure(double us) {
    if (m_triggerWidth) return TriggerExposure(us);
    const double t = us > kChipPulseOffsetUs ? us - kChipPulseOffsetUs : 0;
    return SetExposureLines(LinesForUs(t, m_chip.minLines));
}

int CIMX264Family::TriggerExposure(double us) {
    const uint32_t pulse = PulseUs(us - kChipPulseOffsetUs);
    switch (m_chip.pulse) {
        case Pulse::Offset:
            m_expTimeUs = pulse + m_chip.pulseReportUs;
            return SetTriggerTiming(pulse & 0xFFFF, pulse >> 16);
        case Pulse::Min100: {
            const uint32_t longer = std::max(pulse, 100u);
            m_expTimeUs = longer;
            SetTriggerTiming(longer & 0xFFFF, longer >> 16);
            return CAMERA_STATUS_SUCCESS;
        }
        case Pulse::Min15:
            break;
    }
    return SetPulseExposure(us);
}

int CIMX264Family::GetExposureLineTime(double* us) {
    if (us != nullptr) *us = m_triggerWidth ? 1.0 : m_lineTimeUs;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Gain and black level ----------------------------------------------------------------------

int CIMX264Family::SetAnalogGain(uint32_t gain) {
    // Below unity the code would be negative and wrap into the register's top: unity holds.
    gain = std::clamp(gain, 1000u, m_param.analogGainMax);
    const uint32_t code = EncodeLogGain(gain, kGainStep).code;
    int r = WriteSensorReg(Reg(kRegGain), code & 0xFF);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(Reg(kRegGain + 1), (code >> 8) & 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code & 0xFFFF;
    m_gain = gain;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    const int r = WriteSensorReg(Reg(kRegBlackLevel), level & 0xFF);
    return r != CAMERA_STATUS_SUCCESS ? r : WriteSensorReg(Reg(kRegBlackLevel + 1), 0);
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX264Family::StreamOn() {
    const bool served = Serves(GetHardwareType());
    int r;
    if (m_chip.fpgaFirst) {
        if (served && (r = SetSensorInterface(WordBits() | kIfRun)) != CAMERA_STATUS_SUCCESS)
            return r;
        if ((r = WriteSensorReg(Reg(kRegStandby), 0)) != CAMERA_STATUS_SUCCESS) return r;
        if ((r = WriteSensorReg(Reg(kRegMaster), 0)) != CAMERA_STATUS_SUCCESS) return r;
    } else {
        if ((r = WriteSensorReg(Reg(kRegStandby), 0)) != CAMERA_STATUS_SUCCESS) return r;
        Pause(1);
        if ((r = WriteSensorReg(Reg(kRegMaster), 0)) != CAMERA_STATUS_SUCCESS) return r;
        Pause(m_chip.masterWaitMs);
        if (served && (r = SetSensorInterface(WordBits() | kIfRun)) != CAMERA_STATUS_SUCCESS)
            return r;
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::StreamOff() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(Reg(kRegStandby), 1);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(Reg(kRegMaster), 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (Serves(GetHardwareType())) {
        const int r = ApplyTriggerControl(mode);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (mode != 0 && m_chip.triggerTimingOffset >= 0) {
            const uint32_t pulse = PulseUs(m_expTimeUs - m_chip.triggerTimingOffset);
            SetTriggerTiming(pulse & 0xFFFF, pulse >> 16);
        }
    }
    const uint16_t on = mode != 0 ? 1 : 0;
    int r = WriteSensorReg(Reg(kRegTriggerExposure), on);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(Reg(kRegTriggerExposure2), on);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_triggerWidth = mode != 0;
    if (mode == 1 && m_chip.reapplyOnSoftware) SetExposure(m_expTimeUs);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264Family::SoftTrigger() {
    if (Serves(GetHardwareType())) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

// ---- Window and records ------------------------------------------------------------------------

int CIMX264Family::SetRoiOffset(int x, int y) {
    if (m_chip.roiHold == 0) return CAMERA_STATUS_SUCCESS;
    const auto ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    RegList list;
    list.Add(m_chip.roiHold, 1);
    list.Add(Reg(kRegWindowColumn), ux & 0xFF)
        .Add(Reg(kRegWindowColumn + 1), (ux >> 8) & m_chip.roiXHighMask);
    list.Add(Reg(kRegWindowRow), uy & 0xFF)
        .Add(Reg(kRegWindowRow + 1), (uy >> 8) & m_chip.roiYHighMask);
    list.Add(m_chip.roiHold, 0);
    const int r = WriteRegs(list);
    return m_chip.roiStatusIgnored ? CAMERA_STATUS_SUCCESS : r;
}

int CIMX264Family::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    info->iWidth *= m_channelCount;
    info->TotalBytes *= m_channelCount;
    return CAMERA_STATUS_SUCCESS;
}

void CIMX264Family::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == m_chip.monoCode;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = m_chip.defaultIndex;
    cap.presetMask = uint64_t{1} << m_chip.defaultIndex;
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = m_chip.redGain;
        cap.defaultGreenGain = m_chip.greenGain;
        cap.defaultBlueGain = m_chip.blueGain;
    }
    cap.defaultBlackLevel = m_chip.defaultBlackLevel;
    const int hw = GetHardwareType();
    const bool both = std::find(m_chip.formatBoards.begin(), m_chip.formatBoards.end(), hw) !=
                      m_chip.formatBoards.end();
    SetFormats8Or12(cap, mono, both);
}
