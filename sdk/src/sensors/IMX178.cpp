#include "IMX178.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;

constexpr BoardReset kBoards[] = {
    {104, GpioReset(28)},  {110, GpioReset(29)},  {201, FpgaBitReset()},
    {203, FpgaBitReset()}, {205, FpgaBitReset()},
};

constexpr uint16_t kRegStandby = 0x3000;  // 7: standby
constexpr uint16_t kRegMaster = 0x3008;   // 1: master mode stopped
constexpr uint16_t kRegBlackLevel = 0x300A;
constexpr RegField kVmax[] = {{0x302C, 0, 0xFF}, {0x302D, 8, 0xFF}, {0x302E, 16, 0x01}};
constexpr RegField kHmax[] = {{0x302F, 0, 0xFF}, {0x3030, 8, 0xFF}};
constexpr RegField kShs1[] = {{0x3034, 0, 0xFF}, {0x3035, 8, 0xFF}, {0x3036, 16, 0x01}};
constexpr RegField kGain[] = {{0x301F, 0, 0xFF}, {0x3020, 8, 0x01}};
constexpr RegField kWindowX[] = {{0x319C, 0, 0xFF}, {0x319D, 8, 0x0F}};
constexpr RegField kWindowWidth[] = {{0x319E, 0, 0xFF}, {0x319F, 8, 0x0F}};
constexpr RegField kWindowY[] = {{0x31A0, 0, 0xFF}, {0x31A1, 8, 0x0F}};
constexpr RegField kWindowHeight[] = {{0x31A2, 0, 0xFF}, {0x31A3, 8, 0x0F}};

// SHS1 = frame length - lines; exposures past frame length - 8 stretch the frame to lines + 8
// with SHS1 8, up to the longest frame 0x1FFFF (131063 lines).
constexpr ShutterLayout kShutter{
    .frameLength = kVmax,
    .shutter = kShs1,
    .fitMargin = 8,
    .stretchExtra = 8,
    .stretchShutter = 8,
    .shutterOffset = 0,
    .restoreFirst = false,
    .maxFrameLength = 0x1FFFF,
};
constexpr uint32_t kMinLines = 2;
constexpr uint32_t kMaxLines = 131064;

constexpr LogGainStep kGainStep{.stepTenthsDb = 1, .hcgThresholdDb = 1e9, .hcgDb = 0};

// clang-format off
constexpr uint16_t kHoldOff[] = {0x3015, 0,  0x3016, 0};
// Readout size: the 1920 x 1080 mode, every other size.
constexpr uint16_t kSize1080p[] = {
    0x305B, 0,  0x305C, 0,  0x300E, 1,  0x300F, 0,  0x3010, 0,  0x3066, 3,
};
constexpr uint16_t kSizeOther[] = {
    0x305B, 0,  0x305C, 0,  0x300E, 0,  0x300F, 0,  0x3010, 0,  0x3066, 6,
};
// Output modes: bit depth, then the lane layout.
constexpr uint16_t kOutput8[]  = {0x300D, 0,  0x3003, 0,  0x3101, 0x30};
constexpr uint16_t kOutput12[] = {0x300D, 5,  0x3003, 0,  0x3101, 0x30};
constexpr uint16_t kLanes8Wide[]    = {0x3059, 0x30,  0x3004, 3};
constexpr uint16_t kLanes8[]        = {0x3059, 0x10,  0x3004, 1};
constexpr uint16_t kLanes12Wide[]   = {0x3059, 0x31,  0x3004, 3};
constexpr uint16_t kLanes12[]       = {0x3059, 0x11,  0x3004, 1};
constexpr uint16_t kClosing[] = {
    0x301F, 0,  0x3020, 0,  0x3041, 0,  0x3042, 0,  0x3043, 0,  0x3044, 0,
    0x3034, 0xF6,  0x3035, 0x0D,  0x3036, 0,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Main settings, 93 rows: 5 known (the start and a 50 ms pause), 88 from the maker.
constexpr uint16_t kMain[] = {
    0x3000, 7,  0x3003, 0x40,  0x3004, 1,  0x3008, 1,  kPauseReg, 50,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_8,
};
// clang-format on
static_assert(std::size(kMain) == 2 * 93);
static_assert(std::size(kClosing) == 2 * 9);

// Frame speed: line length by board and bit depth, frame length by speed.
struct SpeedRow {
    int hwType;
    uint32_t line, line12;
    uint32_t frame[3];
};
constexpr SpeedRow kSpeeds[] = {
    {104, 604, 604, {11920, 5960, 2980}},  {110, 604, 1208, {11920, 5960, 2980}},
    {201, 1224, 1224, {9619, 4809, 2405}}, {203, 1224, 1224, {9619, 4809, 2405}},
    {205, 1224, 2448, {9619, 4809, 2405}},
};

}  // namespace

CIMX178::CIMX178(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 20;
    m_pixelClock = 54000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("IMX178", "CMOS_6M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 16384,
               .maxWidth = 3072,
               .maxHeight = 2048,
               .reductionModeMask = 3});
    // The mono variant has no Bayer format and takes its own first one.
    SetPixelFormat(kBayerGR8);
}

int CIMX178::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX178", type, info);
}

int CIMX178::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

bool CIMX178::OnItsBoard() {
    return FindBoard(kBoards, GetHardwareType()) != nullptr;
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX178::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX178::ApplyClock() {
    const int hw = GetHardwareType();
    const bool eightBit = m_lowBit != 0;
    PllSetting pll = NoPll(54000000);
    if (hw == 104) {
        pll = eightBit ? Pll({27, 1, 1, 1, 10, 13, 13, 6}, 54000000)
                       : Pll({27, 1, 1, 1, 10, 26, 13, 6}, 27000000);
    } else if (hw == 201 || hw == 203) {
        pll = eightBit ? Pll({18, 1, 2, 2, 12, 12, 4, 27}, 54000000)
                       : Pll({18, 1, 1, 1, 12, 12, 4, 27}, 54000000);
    }
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_pixelClock = pll.inputClock;
    m_laneBits = hw == 205 ? 4 : 0;
    Pause(20);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX178::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_lowBit = m_bitMode != 32 ? 1 : 0;
    m_streaming = false;
    if ((r = ApplyClock()) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();

    if ((r = WriteSensorRegs(kMain)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kHoldOff)) != CAMERA_STATUS_SUCCESS) return r;
    RegList window;
    window.Add(kWindowX, m_roiX).Add(kWindowWidth, m_fovWidth + 4);
    window.Add(kWindowY, m_roiY).Add(kWindowHeight, m_fovHeight + 4);
    window.Add(0x31A4, 1).Add(0x31A5, 1);
    WriteRegs(window);  // not checked: Init goes on with the window the chip has
    const bool is1080p = m_width == 1920 && m_height == 1080;
    if ((r = WriteSensorRegs(is1080p ? std::span<const uint16_t>(kSize1080p)
                                     : std::span<const uint16_t>(kSizeOther))) !=
        CAMERA_STATUS_SUCCESS)
        return r;
    const bool wide = m_laneBits != 0;
    if (m_lowBit != 0) {
        r = WriteSensorRegs(kOutput8);
        if (r == CAMERA_STATUS_SUCCESS)
            r = WriteSensorRegs(wide ? std::span<const uint16_t>(kLanes8Wide)
                                     : std::span<const uint16_t>(kLanes8));
    } else {
        r = WriteSensorRegs(kOutput12);
        if (r == CAMERA_STATUS_SUCCESS)
            r = WriteSensorRegs(wide ? std::span<const uint16_t>(kLanes12Wide)
                                     : std::span<const uint16_t>(kLanes12));
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    m_fpgaOffsetY = 17;
    m_fpgaOffsetX = 1;
    r = SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_fovWidth, m_fovHeight,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorRegs(kClosing);
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CIMX178::SetFrameSpeed(int speed) {
    const SpeedRow* row = FindBoard(kSpeeds, GetHardwareType());
    if (row == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint32_t line = m_bitMode == 32 ? row->line12 : row->line;
    const uint32_t frame = row->frame[speed];
    const int r = WriteRegs(RegList().Add(kVmax, frame).Add(kHmax, line));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // Stored once the chip has them, so the shutter arithmetic always uses the lengths in force.
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_longExposure = false;
    RecomputeTiming(m_pixelClock);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX178::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::min(lines, kMaxLines);
    RecordExposureLines(lines);
    if (lines + kShutter.fitMargin <= m_frameLength) {
        const uint32_t shs1 = m_frameLength - lines;
        qv::Log("VMax:%d,shs1:%x\n", static_cast<int>(m_frameLength), shs1);
        qv::Log("val:%x,%x,%x\n", (shs1 >> 16) & 1, (shs1 >> 8) & 0xFF, shs1 & 0xFF);
    }
    uint32_t inForce = lines;
    const int r = WriteShutter(kShutter, lines, m_frameLength, m_longExposure, &inForce);
    // The longest frame holds 131063 lines.
    if (r == CAMERA_STATUS_SUCCESS) RecordExposureLines(inForce);
    return r;
}

int CIMX178::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, kMinLines));
}

// ---- Gain and black level ----------------------------------------------------------------------

int CIMX178::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const uint32_t code = EncodeLogGain(gain, kGainStep).code;
    int r = WriteSensorReg(kGain[0].reg, code & 0xFF);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kGain[1].reg, (code >> 8) & 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    // Below unity the chip stays at unity (code 0); report what is in force.
    m_gain = std::max(gain, 1000u);
    return CAMERA_STATUS_SUCCESS;
}

// Only the colour chip has the black-level register in use.
int CIMX178::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    if (m_sensorType != SENSOR_TYPE_IMX178C) return CAMERA_STATUS_SUCCESS;
    return WriteSensorReg(kRegBlackLevel, level & 0xFF);
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX178::StreamOn() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(WordBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    int r = WriteSensorReg(kRegStandby, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegMaster, 0);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CIMX178::StreamOff() {
    if (!OnItsBoard()) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegStandby, 7);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegMaster, 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX178::SetTriggerMode(int mode) {
    return OnItsBoard() ? ApplyTriggerMode(mode, 10, 50000) : CAMERA_STATUS_SUCCESS;
}

int CIMX178::SoftTrigger() {
    if (OnItsBoard()) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

// ---- Capability --------------------------------------------------------------------------------

void CIMX178::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_IMX178M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 20;  // "3072X2048"
    // Presets 4 "1280X720", 6 "1920X1280", 11 "2592X1944" and 20.
    cap.presetMask = (1u << 4) | (1u << 6) | (1u << 11) | (1u << 20);
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 172;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 187;
    }
    const bool served = OnItsBoard();
    SetFormats8Or12(cap, mono, served);
}
