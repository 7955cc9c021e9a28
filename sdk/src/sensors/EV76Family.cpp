#include "EV76Family.h"

#include <algorithm>
#include <cmath>

#include "common/Log.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x86;
constexpr uint8_t kBusWidths = 0x21;
constexpr uint16_t kRegDivider = 0x84;
constexpr uint16_t kRegColour = 0x87;
constexpr uint16_t kRegDepth = 0x88;
constexpr uint16_t kRegMode = 0x8B;  // operating mode
constexpr uint16_t kModeStandby = 5, kModeContinuous = 0x4E, kModeTriggered = 0x144;
constexpr uint16_t kRegFrameLength = 0x8C;
constexpr uint16_t kRegExposure = 0x8E;
constexpr uint16_t kRegGain = 0x91;
constexpr uint32_t kWindowStart = 6;     // the chip's first active row and column
constexpr uint32_t kLongUnits = 60000;   // exposure units written once the divider grows
constexpr uint32_t kMaxUnits = 0xFFFF;   // the exposure count holds 16 bits
constexpr uint32_t kMaxDivider = 0x7FF;  // the divider's field below the flag bits

}  // namespace

CEV76Family::CEV76Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip) {
    m_auxValue = chip.auxValue;
    m_inputClock = 114000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo(chip.instanceName, chip.kind);
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = chip.expLinesMax,
               .maxWidth = chip.fullWidth,
               .maxHeight = chip.fullHeight,
               .reductionModeMask = 7});
    SetPixelFormat(type == chip.monoCode ? kMono8 : kBayerGR8);
}

bool CEV76Family::Serves(int hw) const {
    for (const BoardReset& row : m_chip.boards)
        if (row.hwType == hw) return true;
    return false;
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CEV76Family::Reset() {
    const int hw = GetHardwareType();
    for (const BoardReset& row : m_chip.boards)
        if (row.hwType == hw) return ResetAndSelectBus(row.reset, kBusAddress, kBusWidths, 20);
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CEV76Family::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_laneBits = 1;
    m_streaming = false;
    const int hw = GetHardwareType();
    PllSetting pll = NoPll();
    if (hw == 100)
        pll = Pll({24, 1, 2, 2, 10, 26, 13, 6}, 0);
    else if (hw == 201 || hw == 203)
        pll = Pll({18, 1, 2, 2, 27, 16, 27, 27}, 0);
    else if (hw == 305)
        pll = Pll({12, 1, 11, 8, 23, 23, 23, 23}, 0);
    if (pll.present) {
        if ((r = ApplyPll(pll)) != CAMERA_STATUS_SUCCESS) return r;
        Pause(10);
    }
    if ((r = SetSensorInterface(m_bitMode | 0x1D)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_rowStart = static_cast<uint16_t>(m_roiY + kWindowStart);
    m_columnStart = static_cast<uint16_t>(m_roiX + kWindowStart);
    if ((r = WriteSensorReg(kRegMode, kModeStandby)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    for (std::span<const uint16_t> table : m_chip.tables)
        if (!table.empty()) WriteSensorRegs(table);  // not checked: the chip keeps its own

    const bool board305 = hw == 305;
    m_lineLength = board305 ? m_chip.lineLength305 : m_chip.lineLength;
    m_divider = board305 ? m_chip.divider305 : m_chip.divider;
    m_frameLength = m_chip.frameLength;
    const bool wide = m_bitMode == 32;
    m_inputClock = wide ? 28500000 : 57000000;
    const uint16_t colour = m_sensorType == m_chip.monoCode ? 0x3A01 : 0x3E01;
    const uint16_t singles[] = {
        kRegDivider, static_cast<uint16_t>(m_divider | m_chip.dividerFlags),
        kRegColour,  colour,
        0x89,        0x634B,
        kRegDepth,   static_cast<uint16_t>(wide ? 0xCF42 : 0xCF21),
        0xC4,        0x5C00,
    };
    for (size_t i = 0; i < std::size(singles); i += 2)
        if ((r = WriteSensorReg(singles[i], singles[i + 1])) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    // Not checked: Init goes on with the chip's own window.
    WriteSensorReg(0x92, m_rowStart);
    WriteSensorReg(0x93, static_cast<uint16_t>(m_height));
    WriteSensorReg(0x94, m_columnStart);
    WriteSensorReg(0x95, static_cast<uint16_t>(m_width));
    r = SetupImageWindow(0, 0, m_width, m_height, m_fovWidth, m_fovHeight, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r == CAMERA_STATUS_SUCCESS) {
        SetAnalogGain(1000);
        SetExposure(1000.0);
    }
    return r;
}

// ---- Timing and exposure -----------------------------------------------------------------------

// The frame of the window at pixel rate R: the lines a second gives, over the frames a second R
// allows for the window.
int CEV76Family::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t rate = m_chip.rate[speed];
    if (hw == 305)
        rate = speed == 2 && m_bitMode == 32 ? m_chip.rate305Wide : m_chip.rate305[speed];
    const uint32_t linesPerSecond = m_lineLength != 0 ? m_inputClock / m_lineLength : 0;
    const uint32_t framesPerSecond = m_width != 0 && m_height != 0 ? rate / m_width / m_height : 0;
    // A window too large for the rate runs at the rate's floor of one frame a second.
    const uint32_t frame = std::min(linesPerSecond / std::max(framesPerSecond, 1u), 0xFFFFu);
    const int r = WriteSensorReg(kRegFrameLength, static_cast<uint16_t>(frame));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_frameLength = frame;
    RecomputeTiming(m_inputClock);
    if (m_chip.lineRangeFromSpeed && m_lineTimeNs > 0)
        m_param.expLinesMax = static_cast<uint32_t>(2000000000.0 / m_lineTimeNs);
    return CAMERA_STATUS_SUCCESS;
}

// Up to 65535 lines the exposure counts lines (8 x divider clocks make a line). Longer ones
// count 60000 units of a divider grown in proportion; the time is reckoned in 64 bits (a 32-bit
// count of nanoseconds ends at 4.29 s), and the count and divider stop at what their registers
// hold.
int CEV76Family::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    uint32_t divider = m_divider;
    uint32_t units = lines;
    double unitNs = m_lineTimeNs;
    if (lines > kMaxUnits) {
        const double grown = m_divider * (lines / static_cast<double>(kLongUnits));
        divider = static_cast<uint32_t>(std::min(grown, static_cast<double>(kMaxDivider)));
        unitNs = divider * 8 * m_pixelPeriodNs;
        const double count = unitNs > 0 ? lines * m_lineTimeNs / unitNs + 0.5 : 0;
        units = static_cast<uint32_t>(std::min(count, static_cast<double>(kMaxUnits)));
    }
    int r = WriteSensorReg(kRegDivider, static_cast<uint16_t>(divider | m_chip.dividerFlags));
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegExposure, static_cast<uint16_t>(units));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_expLines = units;
    m_expTimeUs = units * unitNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CEV76Family::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// A coarse analog factor, then a fine stage of 2^e x (1 + m / 64) for what is left.
int CEV76Family::SetAnalogGain(uint32_t gain) {
    // Below unity the mantissa would turn negative: unity holds.
    gain = std::clamp(gain, 1000u, m_param.analogGainMax);
    double x = gain / 1000.0;
    struct Coarse {
        double threshold;
        uint16_t code;
    };
    constexpr Coarse kCoarse[] = {{8, 0x600}, {6, 0x500}, {4, 0x400},
                                  {3, 0x300}, {2, 0x200}, {1.5, 0x100}};
    double factor = 1;
    uint16_t coarse = 0;
    for (const Coarse& c : kCoarse) {
        if (m_chip.coarseAtThreshold ? x >= c.threshold : x > c.threshold) {
            factor = c.threshold;
            coarse = c.code;
            break;
        }
    }
    x /= factor;
    uint16_t fine;
    int exponent;
    double mantissa;
    if (x >= 8) {
        fine = 0xC0, exponent = 3, mantissa = (x - 8) * 8;
    } else if (x >= 4) {
        fine = 0x80, exponent = 2, mantissa = (x - 4) * 16;
    } else if (x >= 2) {
        fine = 0x40, exponent = 1, mantissa = (x - 2) * 32;
    } else {
        fine = 0, exponent = 0, mantissa = (x - 1) * 64;
    }
    const auto m = static_cast<uint32_t>(mantissa);
    m_gainReg = (m & 0x3F) | fine | coarse;
    WriteSensorReg(kRegGain, static_cast<uint16_t>(m_gainReg));  // the request is reported
    m_gain = static_cast<uint32_t>((1 << exponent) * (1 + (m & 0xFF) / 64.0) * factor * 1000);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CEV76Family::StreamOn() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(WordBits() | 0xDC);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CEV76Family::StreamOff() {
    int r = WriteSensorReg(kRegMode, kModeStandby);
    if (r != CAMERA_STATUS_SUCCESS || !Serves(GetHardwareType())) return r;
    if ((r = SetSensorInterface(WordBits() | 0x14C)) != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CEV76Family::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (Serves(GetHardwareType())) {
        const int r = ApplyTriggerMode(mode, m_chip.triggerTimingA, 50000);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return WriteSensorReg(kRegMode, mode == 0 ? kModeContinuous : kModeTriggered);
}

int CEV76Family::SoftTrigger() {
    if (Serves(GetHardwareType())) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

void CEV76Family::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == m_chip.monoCode;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = m_chip.defaultIndex;
    cap.presetMask = uint64_t{1} << m_chip.defaultIndex;
    const bool both = Serves(GetHardwareType());
    SetFormats8Or12(cap, mono, both);
}
