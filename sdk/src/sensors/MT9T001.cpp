#include "MT9T001.h"

#include <algorithm>
#include <cmath>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {0, TwoLineReset(66, 65, 0, 0)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
};
// The boards whose FPGA takes the trigger: group A (1 to 3, 200, 201, 203, 300, 305) and B.
constexpr int kTriggerBoards[] = {1, 2, 3, 200, 201, 203, 300, 305, 301, 302};
constexpr CMicronSensor::Chip kChip{
    kBoards, {0xBA, kReg8Data16, 20}, kTriggerBoards, MicronHighGain::FineSteps, true, 0, false};

constexpr uint16_t kRegDivider = 0x0A;
constexpr uint16_t kRegRowMode = 0x22, kRegColumnMode = 0x23;
constexpr uint16_t kRegMicronBlack = 0x49;
constexpr uint16_t kReadContinuous = 0xC640, kReadTriggered = 0xC740;
constexpr uint32_t kLineOverhead = 369;  // clocks of every line besides the window and the blank
constexpr uint32_t kClockHz = 48000000;
constexpr uint8_t kSpeedDivider[] = {2, 1, 0};
constexpr uint8_t kSlowestDivider = 32;  // the divider doubles while below 64
constexpr int64_t kMinVBlank = 3, kMaxVBlank = 2047;
constexpr int64_t kMinHBlank = 21, kMaxHBlank = 2047;
constexpr double kShortestFrameUs = 83333;
constexpr double kLongestFrameUs = 2e9;

}  // namespace

CMT9T001::CMT9T001(SensorTypeE type, imginf* inf) : CMicronSensor(type, inf, kChip) {
    m_auxValue = 7;
    m_inputClock = kClockHz;
    m_imgPadH = 255;
    m_imgPadV = 100;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 160,
               .gainMax = 32000,
               .expLinesMax = 12288,
               .maxWidth = 2048,
               .maxHeight = 1536,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);
}

int CMT9T001::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CMT9T001", type, info);
}

int CMT9T001::Probe(SensorTypeE type, imginf* inf) {
    CMT9T001 probe(type, inf);
    return CheckChipIdentity(probe, {{kRegIdentity, 0x1621}});
}

// The chip's window starts 32 columns and 20 rows in; the offsets are taken as they are.
void CMT9T001::ApplyWindow() {
    ApplyResolution();
    m_roiX = static_cast<uint16_t>(m_resolution.iOffsetX);
    m_roiY = static_cast<uint16_t>(m_resolution.iOffsetY);
    m_fpgaOffsetX = static_cast<uint16_t>(m_roiX + 32);
    m_fpgaOffsetY = static_cast<uint16_t>(m_roiY + 20);
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + kLineOverhead);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CMT9T001::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_streaming = false;
    const int hw = GetHardwareType();
    const bool usb = IsOneOf(hw, {1, 2, 3}), gige = IsOneOf(hw, {200, 201, 203});
    const bool fpgaClock = IsOneOf(hw, {300, 301, 302, 305});
    if (usb || gige || fpgaClock) {
        m_imgPadH = 10;
        m_imgPadV = 2;
        if (usb || gige) {
            r = ApplyPll(usb ? Pll({26, 1, 2, 2, 13, 13, 13, 11}, 0)
                             : Pll({12, 1, 1, 1, 9, 9, 36, 36}, 0));
            if (r != CAMERA_STATUS_SUCCESS) return r;
            Pause(10);
        }
        if ((r = SetSensorInterface(m_bitMode | (fpgaClock ? 0x0C : 0x0D))) !=
            CAMERA_STATUS_SUCCESS)
            return r;
        if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    } else {
        m_imgPadH = 255;
        m_imgPadV = 10;
    }
    SetResolution(&param->resolution);
    ApplyWindow();
    m_blackLevel = 0;
    if ((r = WriteSensorRegs({kRegReset, 1, kPauseReg, 10, kRegReset, 0, kPauseReg, 10,
                              kRegMicronBlack, 0})) != CAMERA_STATUS_SUCCESS)
        return r;
    if (SetFrameSpeed(param->frameSpeed) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_NOT_SUPPORTED;
    m_gainReg = 16;
    RegList start;
    start.Add(kRegOutput, 0).Add(kRegShutterHigh, 0).Add(kRegShutter, 0x0177);
    start.Add(kRegOutput, 0).Add(kRegReadMode, kReadTriggered);
    start.Add(kRegOutput, 0).Add(kRegShutterHigh, 0).Add(kRegShutter, 0x0177);
    start.Add(kRegGain, m_gainReg).Pause(10);
    start.Add(kRegRowStart, m_fpgaOffsetY).Add(kRegColumnStart, m_fpgaOffsetX);
    start.Add(kRegRowMode, m_roiMode).Add(kRegColumnMode, m_roiMode);
    start.Add(kRegHeight, m_fovHeight - 1).Add(kRegWidth, m_fovWidth - 1);
    start.Add(kRegOutput, 0);
    if ((r = WriteRegs(start)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    r = WriteSensorRegs(
        {kRegShutterHigh, 0, kRegShutter, 10, kRegOutput, 0, kRegReadMode, kReadContinuous});
    RecordExposure(10);
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    m_gain = DecodeMicronGain(m_gainReg, MicronHighGain::FineSteps);
    return r;
}

int CMT9T001::Uninit() {
    WriteSensorReg(kRegOutput, 0);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Timing ------------------------------------------------------------------------------------

double CMT9T001::PeriodOf(uint8_t divider) {
    const uint32_t clock = divider == 0 ? kClockHz : kClockHz / (2u * divider);
    return 1e9 / clock;
}

int CMT9T001::SetDivider(uint8_t divider) {
    m_divider = divider & 0x7F;
    WriteSensorReg(kRegDivider, m_divider);  // a lost write shows in the frame rate only
    Pause(10);
    m_inputClock = m_divider == 0 ? kClockHz : kClockHz / (2u * m_divider);
    return CAMERA_STATUS_SUCCESS;
}

int CMT9T001::SetFrameSpeed(int speed) {
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    m_frameSpeed = static_cast<uint32_t>(speed);
    const uint8_t divider = kSpeedDivider[speed];
    m_pixelPeriodNs = PeriodOf(divider);
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + kLineOverhead);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    const int r = SetDivider(divider);
    if (r == CAMERA_STATUS_SUCCESS) {
        WriteSensorRegs({kRegHBlank, static_cast<uint16_t>(m_imgPadH), kRegVBlank,
                         static_cast<uint16_t>(m_imgPadV)});
        m_lineTimeUs = m_lineTimeNs / 1000.0;
    }
    return r;
}

// The longest frame of the window: the slowest clock with both blanks at their largest.
double CMT9T001::LongestFrameUs() const {
    const double lines = m_height + static_cast<double>(kMaxVBlank);
    const double clocks = m_width + static_cast<double>(kLineOverhead + kMaxHBlank);
    return std::min(lines * clocks * PeriodOf(kSlowestDivider) / 1000.0, kLongestFrameUs);
}

int CMT9T001::GetFrameTimeRange(int* min, int* max) {
    if (min != nullptr) *min = static_cast<int>(kShortestFrameUs);
    if (max != nullptr) *max = static_cast<int>(LongestFrameUs());
    return CAMERA_STATUS_SUCCESS;
}

void CMT9T001::FitLine(double targetNs, uint32_t frameLines) {
    const double clocks = targetNs / (m_pixelPeriodNs * frameLines);
    const double blank = clocks - m_width - kLineOverhead;
    m_imgPadH = static_cast<int64_t>(
        std::clamp(blank, static_cast<double>(kMinHBlank), static_cast<double>(kMaxHBlank)));
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + kLineOverhead);
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs;
}

// The frame grows by its vertical blank up to 2047 lines, then by halving the clock (the
// divider doubles up to 32) as often as it takes, and at the slowest clock by the horizontal
// blank; it shrinks the same way back, down to a blank of 3 lines at the fastest clock and then a
// shorter line. On the clock in force the frame takes the nearest whole number of lines; on a
// clock it changes to, the whole lines that fit. Every step is reckoned in double precision, so
// no product wraps; the frame time in force is what GetFrameTime reports.
int CMT9T001::SetFrameTime(double us) {
    const double t =
        std::isnan(us) ? kShortestFrameUs : std::clamp(us, kShortestFrameUs, LongestFrameUs());
    const double targetNs = t * 1000.0;
    const int64_t height = m_height;
    auto blankAt = [&](uint8_t divider, double rounding) {
        return static_cast<int64_t>(targetNs / (m_lineLength * PeriodOf(divider)) + rounding) -
               height;
    };
    uint8_t divider = m_divider;
    int64_t vblank = blankAt(divider, 0.5);
    if (vblank > kMaxVBlank) {
        while (vblank > kMaxVBlank && divider < kSlowestDivider) {
            divider = divider == 0 ? 1 : static_cast<uint8_t>(2 * divider);
            vblank = blankAt(divider, 0);
        }
    } else {
        while (vblank < kMinVBlank && divider > 0) {
            divider = divider == 1 ? 0 : static_cast<uint8_t>(divider / 2);
            vblank = blankAt(divider, 0);
        }
    }
    m_pixelPeriodNs = PeriodOf(divider);
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs;
    m_imgPadV = std::clamp(vblank, kMinVBlank, kMaxVBlank);
    // Past the blank's reach at the clock's end, the line length makes up the rest.
    if (m_imgPadV != vblank) FitLine(targetNs, static_cast<uint32_t>(height + m_imgPadV));
    m_frameLength = static_cast<uint32_t>(height + m_imgPadV);
    m_frameTimeNs = m_lineTimeNs * m_frameLength;
    SetDivider(divider);
    const int r = WriteSensorRegs({kRegHBlank, static_cast<uint16_t>(m_imgPadH), kRegVBlank,
                                   static_cast<uint16_t>(m_imgPadV)});
    if (r == CAMERA_STATUS_SUCCESS) m_lineTimeUs = m_lineTimeNs / 1000.0;
    return r;
}

// ---- Gain and black level ----------------------------------------------------------------------

int CMT9T001::SetAnalogGain(uint32_t gain) {
    // Outside the range the code would leave the register's steps (or turn to nothing).
    return CMicronSensor::SetAnalogGain(
        std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax));
}

int CMT9T001::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    WriteSensorReg(kRegMicronBlack, static_cast<uint16_t>(m_blackLevel << 4));
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CMT9T001::StreamOn() {
    WriteSensorReg(kRegOutput, 2);
    if (InFpgaGroup()) SetSensorInterface(m_bitMode | (InFpgaGroupB() ? 0x8C : 0x8D));
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9T001::StreamOff() {
    WriteSensorReg(kRegOutput, 0);
    StopFpgaStream();
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9T001::SetTriggerMode(int mode) {
    return ApplyTriggerModeReg(mode, {1000, kRegReadMode, kReadContinuous, kReadTriggered});
}

int CMT9T001::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup(),
                          {.kind = ChipTrigger::Kind::Register, .target = kRegRestart});
}

void CMT9T001::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 7;  // "2048X1536"
    cap.presetMask = 0x27FF;         // presets 0 to 10 and 13
    cap.defaultRedGain = 126;
    cap.defaultGreenGain = 100;
    cap.defaultBlueGain = 126;
    SetFormats8Or12(cap, false, GetHardwareType() != 0);
}
