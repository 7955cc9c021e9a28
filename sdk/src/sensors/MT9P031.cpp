#include "MT9P031.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},
    {110, GpioReset(29)},
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {9, GpioReset(23)},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 1))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 1))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 1))},
    {305, Then(GpioReset(23), GpioLevel(65, 1))},
    {0, TwoLineReset(66, 65, 1, 0)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kFpgaGroup[] = {1, 2, 3, 9, 100, 110, 200, 201, 203, 205, 300, 301, 302, 305};
// The shutter delay stays 0, so the exposure overhead is 2 x (0 + 1 + 306 - 94) periods.
constexpr uint32_t kOverheadPeriods = 2 * (1 + 306 - 94);
constexpr CMicronSensor::Chip kChip{
    kBoards, {0x90, kReg8Data16, 20}, kFpgaGroup, MicronHighGain::DigitalSteps,
    true,    kOverheadPeriods,        false};

constexpr uint16_t kRegPllControl = 0x10;
constexpr uint16_t kRegRowMode = 0x22;
constexpr uint16_t kRegColumnMode = 0x23;

// clang-format off
constexpr uint16_t kStart[] = {
    0x0C, 0,  0x0A, 0,  0x20, 0x0040,  0x49, 0,  0x08, 0,  0x09, 100,  0x2B, 8,  0x2C, 8,
    0x2D, 8,  0x2E, 8,  0x35, 8,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Analog settings, 30 rows: the first 8 known, 19 from the maker (0x57 to 0x5F, 0x70 to 0x7F),
// the last 3 known.
constexpr uint16_t kAnalog[] = {
    0x29, 0x0481,  0x3E, 0x0087,  0x3F, 0x0007,  0x41, 0x0003,  0x42, 0x0003,  0x43, 0x0003,
    0x4F, 0x0014,  0x48, 0x0018,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0x07, 0x1F82,  0x1E, 0x4006,  0x0B, 0x0001,
};
// clang-format on
static_assert(std::size(kAnalog) == 2 * 30);

// The chip's clock registers (0x11 and 0x12 by speed) and the counting clock, by board.
struct Clock {
    uint16_t reg11;
    uint16_t reg12[3];
    uint32_t hz[3];
};
Clock ClockFor(int hw) {
    if (IsOneOf(hw, {100, 110, 200, 201, 203, 205}))
        return {0x1801, {11, 5, 2}, {24000000, 48000000, 96000000}};
    if (IsOneOf(hw, {1, 2, 3, 9, 300, 301, 302, 305}))
        return {0x1401, {19, 9, 4}, {12000000, 24000000, 48000000}};
    return {0x1401, {15, 11, 5}, {15000000, 20000000, 40000000}};
}

}  // namespace

CMT9P031::CMT9P031(SensorTypeE type, imginf* inf) : CMicronSensor(type, inf, kChip) {
    m_auxValue = 11;
    m_inputClock = 40000000;
    m_imgPadH = 300;
    m_imgPadV = 10;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 8000,
               .expLinesMax = 972,
               .maxWidth = 2592,
               .maxHeight = 1944,
               .reductionModeMask = 7});
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CMT9P031::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CMT9P031", type, info);
}

// The reset of some boards answers a failure although the chip comes up: only the identity
// counts.
int CMT9P031::Probe(SensorTypeE type, imginf* inf) {
    CMT9P031 probe(type, inf);
    probe.Reset();
    uint16_t id = 0;
    const int r = inf->ReadSensorReg(kRegIdentity, &id);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return id == 0x1801 ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_HARDWARE_NOT_FOUND;
}

// The chip's window starts 12 columns and 52 rows in.
void CMT9P031::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetY = m_roiY + 52;
    m_fpgaOffsetX = m_roiX + 12;
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CMT9P031::BoardStep() {
    const int hw = GetHardwareType();
    PllSetting pll = NoPll();
    unsigned pauseMs = 0;
    int64_t padV = 2;
    if (IsOneOf(hw, {1, 2, 3})) {
        pll = Pll({26, 1, 2, 2, 13, 26, 13, 13}, 0), pauseMs = 10;
    } else if (IsOneOf(hw, {300, 301, 302, 305})) {
        pll = Pll({12, 1, 11, 8, 23, 23, 23, 23}, 0), pauseMs = 10;
    } else if (IsOneOf(hw, {200, 201, 203})) {
        pll = Pll({18, 1, 2, 2, 27, 12, 27, 27}, 0), pauseMs = 10;
    } else if (hw == 100) {
        pll = Pll({24, 1, 2, 2, 13, 26, 13, 6}, 0), pauseMs = 10, padV = 10;
    } else if (hw == 110) {
        padV = 10;
    } else if (hw == 9) {
        pauseMs = 10;
    } else if (hw != 205) {
        // No FPGA interface: the chip takes its trigger on GPIO 67.
        m_imgPadH = 300;
        m_imgPadV = 10;
        return TriggerLineLow();
    }
    m_imgPadH = 300;
    m_imgPadV = padV;
    int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(pauseMs);
    r = SetSensorInterface(m_bitMode | 0x4C);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CMT9P031::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    if ((r = BoardStep()) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();
    if ((r = WriteRegs({kRegOutput, 0x1F80, kRegReset, 1})) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    r = WriteRegs({kRegReset, 0, kPauseReg, 100, kRegOutput, 0x1F83});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    RegList window;
    AddWindowStart(window).Add(kRegRowMode, m_roiMode).Add(kRegColumnMode, m_roiMode);
    if ((r = WriteRegs(AddWindowSize(window))) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = 8;
    if ((r = WriteSensorRegs(kStart)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    r = WriteSensorRegs(kAnalog);
    RecordExposure(100);
    m_gain = DecodeMicronGain(8, kChip.highGain);
    return r;
}

// The chip's PLL is bypassed while 0x11 and 0x12 change, then used again.
int CMT9P031::SetFrameSpeed(int speed) {
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const Clock clock = ClockFor(GetHardwareType());
    int r = WriteRegs({kRegPllControl, 0x0051, 0x11, clock.reg11, 0x12, clock.reg12[speed]});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorReg(kRegPllControl, 0x0053)) != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    // The longer of the two readout limits of a line: the fixed row time and the columns read.
    const uint32_t skip = m_roiMode;
    const uint32_t a = 346 * (skip + 1) + 140;
    const auto b = static_cast<uint32_t>(m_imgPadH + 1) + m_fovWidth / (2 * skip + 2);
    m_pixelPeriodNs = 1e9 / clock.hz[speed];
    m_lineTimeNs = 2 * m_pixelPeriodNs * std::max(a, b);
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9P031::StreamOn() {
    if (InFpgaGroup()) {
        const int r = SetSensorInterface(m_bitMode | 0xCC);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const int r = WriteSensorReg(kRegOutput, 0x1F82);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CMT9P031::StreamOff() {
    int r = WriteSensorReg(kRegOutput, 0x1F80);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (InFpgaGroup()) {
        r = SetSensorInterface(m_bitMode | 0x14C);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        SetFpgaImageEnable(0);
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9P031::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        const int r = ApplyTriggerMode(mode, 100, 50000);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    if (mode == 0) return WriteRegs({kRegReadMode, 0x4012, kRegRestart, 0x0001});
    const int r = WriteSensorReg(kRegReadMode, 0x4312);
    Pause(300);  // the chip settles into snapshot mode
    return r;
}

int CMT9P031::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup(), {.kind = ChipTrigger::Kind::Register,
                                          .target = kRegRestart,
                                          .high = 4,
                                          .release = true,
                                          .pauseMs = 1});
}

int CMT9P031::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    RegList start;
    return WriteRegs(AddWindowStart(start));
}

void CMT9P031::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 11;  // "2592X1944"
    cap.presetMask = 0x2FFF;          // presets 0 to 11 and 13
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 146;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 157;
    }
    SetFormats8Or12(cap, mono, GetHardwareType() != 0);
}
