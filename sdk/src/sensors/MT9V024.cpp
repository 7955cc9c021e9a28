#include "MT9V024.h"

#include <algorithm>
#include <iterator>

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
    {205, FpgaBitReset()},
};
// The boards whose FPGA takes the trigger: group A (1 to 3, 200, 201, 203, 205, 300, 305) and B.
constexpr int kTriggerBoards[] = {1, 2, 3, 200, 201, 203, 205, 300, 305, 301, 302};
constexpr CMicronSensor::Chip kChip{
    kBoards, {0xB8, kReg8Data16, 20}, kTriggerBoards, MicronHighGain::DigitalSteps, false, 0,
    false};

// This chip's map differs from the other Micron chips in a few registers.
constexpr uint16_t kRegColumn = 0x01, kRegRow = 0x02;
constexpr uint16_t kRegControl = 0x07;
constexpr uint16_t kControlRun = 0x188, kControlTriggered = 0x198, kControlStopped = 0x190;
constexpr uint16_t kRegShutterWidth = 0x0B;
constexpr uint16_t kRegReadModeV = 0x0D;
constexpr uint16_t kRegDarkColumns = 0x72;
constexpr uint8_t kTriggerPin = 67;

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// clang-format off
// Initialisation, 151 rows: 9 known (the reset, its pause and the window), 141 from the maker
// (registers 0x08 to 0xD9), and the reset's release.
constexpr uint16_t kInit[] = {
    0x0C, 0x0003,  kPauseReg, 10,  0x01, 0x0001,  0x02, 0x0004,  0x03, 0x01E0,  0x04, 0x02F0,
    0x05, 0x005E,  0x06, 0x002D,  0x07, 0x0190,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_8,
    QV_MAKER_ROWS_4, QV_MAKER_ROW,
    0x0C, 0x0000,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 151);

}  // namespace

CMT9V024::CMT9V024(SensorTypeE type, imginf* inf) : CMicronSensor(type, inf, kChip) {
    m_auxValue = 12;
    m_inputClock = 24000000;
    m_imgPadH = 500;
    m_imgPadV = 50;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 160,
               .gainMax = 4000,
               .expLinesMax = 480,
               .maxWidth = 752,
               .maxHeight = 480,
               .reductionModeMask = 1});
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CMT9V024::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CMT9V024", type, info);
}

int CMT9V024::Probe(SensorTypeE type, imginf* inf) {
    CMT9V024 probe(type, inf);
    return CheckChipIdentity(probe, {{kRegIdentity, 0x1324}});
}

// The chip's window starts one column and five rows in.
void CMT9V024::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetX = static_cast<uint16_t>(m_roiX + 1);
    m_fpgaOffsetY = static_cast<uint16_t>(m_roiY + 5);
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CMT9V024::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_streaming = false;
    const int hw = GetHardwareType();
    const bool usb = IsOneOf(hw, {1, 2, 3}), gige = IsOneOf(hw, {200, 201, 203});
    const bool fpgaClock = IsOneOf(hw, {300, 301, 302, 305});
    if (usb || gige || fpgaClock || hw == 205) {
        m_inputClock = 48000000;
        m_imgPadH = 94;
        m_imgPadV = 45;
        if (usb || gige) {
            r = ApplyPll(usb ? Pll({26, 1, 2, 2, 13, 13, 13, 13}, 48000000)
                             : Pll({24, 1, 3, 3, 18, 16, 36, 36}, 48000000));
            if (r != CAMERA_STATUS_SUCCESS) return r;
            Pause(20);
        }
        if ((r = SetSensorInterface(m_bitMode | (fpgaClock ? 0x0C : 0x0D))) !=
            CAMERA_STATUS_SUCCESS)
            return r;
        if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    } else {
        m_imgPadH = 330;
        m_imgPadV = 55;
        m_inputClock = 24000000;
        if ((r = TriggerLineLow()) != CAMERA_STATUS_SUCCESS) return r;
    }
    SetResolution(&param->resolution);
    ApplyWindow();
    m_expLines = 400;
    if ((r = WriteSensorRegs(kInit)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    if ((r = WriteSensorRegs({kRegRow, m_fpgaOffsetY, kRegColumn, m_fpgaOffsetX})) !=
        CAMERA_STATUS_SUCCESS)
        return r;
    // On the board without an FPGA the dark columns are read along unless the columns are
    // skipped.
    const uint16_t dark = hw == 0 && m_roiMode != 1 ? 16 : 0;
    if ((r = WriteSensorReg(kRegDarkColumns, dark)) != CAMERA_STATUS_SUCCESS) return r;
    RegList size;
    size.Add(kRegReadModeV, (m_roiMode | m_roiMode * 4) & 0xFF);
    size.Add(kRegHeight, m_fovHeight).Add(kRegWidth, m_fovWidth);
    size.Add(kRegHBlank, static_cast<uint32_t>(m_imgPadH));
    size.Add(kRegVBlank, static_cast<uint32_t>(m_imgPadV));
    if ((r = WriteRegs(size)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = 16;
    if ((r = WriteSensorRegs({kRegShutterWidth, static_cast<uint16_t>(m_expLines), kRegGain,
                              static_cast<uint16_t>(m_gainReg)})) != CAMERA_STATUS_SUCCESS)
        return r;
    r = WriteSensorReg(kRegControl, kControlRun);
    Pause(10);
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    m_gain = m_gainReg * 1000 / 16;
    RecordExposure(m_expLines);
    return r;
}

int CMT9V024::Uninit() {
    WriteSensorReg(kRegControl, kControlStopped);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Timing, exposure and gain -----------------------------------------------------------------

int CMT9V024::SetFrameSpeed(int speed) {
    (void)speed;
    RecomputeTiming(m_inputClock);
    return CAMERA_STATUS_SUCCESS;
}

// The shutter width holds 16 bits: longer exposures stop there, and report it.
int CMT9V024::SetExposureLines(uint32_t lines) {
    lines = std::min(lines, 0xFFFFu);
    const int r = WriteSensorReg(kRegShutterWidth, static_cast<uint16_t>(lines));
    if (r == CAMERA_STATUS_SUCCESS) RecordExposure(lines);
    return r;
}

int CMT9V024::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// Sixteenths of unity up to x4 (code 64).
int CMT9V024::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    const uint32_t code = gain >= 4000 ? 64 : gain * 16 / 1000;
    const int r = WriteSensorReg(kRegGain, static_cast<uint16_t>(code));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = code * 1000 / 16;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CMT9V024::StreamOn() {
    if (InFpgaGroup()) SetSensorInterface(m_bitMode | (InFpgaGroupB() ? 0x9C : 0x9D));
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9V024::StreamOff() {
    WriteSensorReg(kRegControl, kControlStopped);
    StopFpgaStream();
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9V024::SetTriggerMode(int mode) {
    return ApplyTriggerModeReg(mode, {10, kRegControl, kControlRun, kControlTriggered});
}

int CMT9V024::SoftTrigger() {
    return SoftTriggerVia(
        InFpgaGroup(), {.kind = ChipTrigger::Kind::Gpio, .target = kTriggerPin, .release = true});
}

void CMT9V024::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 12;  // "752X480"
    cap.presetMask = 0x1103;          // presets 0, 1, 8 and 12
    if (!mono) {
        cap.defaultRedGain = 137;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 158;
    }
    SetFormats8Or12(cap, mono, GetHardwareType() != 0);
}
