#include "MT9J003.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},
    {108, GpioReset(29)},
    {110, GpioReset(29)},
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {7, GpioReset(23)},
    {9, GpioReset(23)},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {0, TwoLineReset(66, 65, 0, 20)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kFpgaGroup[] = {1, 2, 3, 7, 9, 100, 108, 200, 201, 203, 205, 300, 301, 302, 305};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x20, kReg16Data16, 0}, kFpgaGroup, 0x0202};

constexpr uint16_t kRegIdentity0 = 0x0000;
constexpr uint16_t kRegGain = 0x305E;
constexpr uint16_t kRegRowSpeed = 0x3016;
constexpr int kTwoChipBoard = 7;
constexpr uint16_t kChannelReg = 40;

// clang-format off
constexpr uint16_t kStart[] = {
    0x0103, 0x0001,  kPauseReg, 20,  0x301A, 0x0001,  kPauseReg, 20,  0x301A, 0x0010,
    0x3064, 0x0805,  0x301E, 0x0000,  0x301A, 0x90D8,
};
constexpr uint16_t kAnalog[] = {
    0x3ECC, 0x0FE4,  0x316C, 0x0429,  0x3174, 0x8000,  0x3E40, 0xDC05,  0x3E42, 0x6E22,
    0x3E44, 0xDC22,  0x3E46, 0xFF00,  0x3ED4, 0xF998,  0x3ED6, 0x9789,  0x3EDE, 0xE41A,
    0x3EE0, 0xA43F,  0x3EE2, 0xA4BF,  0x3EEC, 0x1C21,  0x31AE, 0x0301,  0x3040, 0x0041,
    0x0400, 0x0000,  0x0404, 0x0010,
};
// clang-format on
static_assert(std::size(kStart) == 2 * 8 && std::size(kAnalog) == 2 * 17);

// The clock tree (0x0300, 0x0302, 0x0304, 0x0306, 0x0308, 0x030A) of a board and its clock.
struct ClockTree {
    uint16_t values[6];
    uint32_t hz;
};
ClockTree ClockFor(int hw) {
    if (IsOneOf(hw, {100, 110, 200, 201, 203, 205})) return {{2, 2, 1, 64, 8, 1}, 80000000};
    if (hw == 108) return {{2, 2, 1, 49, 8, 1}, 79625000};
    if (IsOneOf(hw, {1, 2, 3, 7, 9, 300, 301, 302, 305})) return {{4, 2, 2, 72, 8, 2}, 48000000};
    return {{4, 2, 3, 72, 8, 2}, 36000000};
}

}  // namespace

CMT9J003::CMT9J003(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 12;
    m_inputClock = 36000000;
    m_imgPadH = 500;
    m_imgPadV = 50;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 8000,
               .expLinesMax = 10992,
               .maxWidth = 3664,
               .maxHeight = 2748,
               .reductionModeMask = 7});
    SetPixelFormat(type == SENSOR_TYPE_MT9J003M ? kMono8 : kBayerGR8);
}

int CMT9J003::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CMT9J003", type, info);
}

int CMT9J003::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CMT9J003>(type, inf, {kRegIdentity0, 0x2C01});
}

bool CMT9J003::Triggers() {
    return InFpgaGroup() || GetHardwareType() == 110;
}

// The sensor window starts 112 columns and 8 rows in; skipping reads every 2nd (increment 3) or
// 4th (7) pair of columns and rows.
void CMT9J003::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetY = m_roiY + 8;
    m_fpgaOffsetX = m_roiX + 112;
    m_increment = m_roiMode == 1 ? 3 : m_roiMode == 3 ? 7 : 1;
    m_endColumn = static_cast<uint16_t>(m_fpgaOffsetX + m_fovWidth - m_increment);
    m_endRow = static_cast<uint16_t>(m_fpgaOffsetY + m_fovHeight - m_increment);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + 100);
}

int CMT9J003::BoardStep(uint32_t width) {
    const int hw = GetHardwareType();
    const bool fast = IsOneOf(hw, {100, 110, 108, 200, 201, 203, 205});
    m_imgPadV = fast ? 180 : 250;
    m_imgPadH = width + (fast ? 20 : 300);
    PllSetting pll = NoPll();
    unsigned pauseMs = 0;
    uint16_t word = m_bitMode | 0x1C;
    if (hw == 100) {
        pll = Pll({25, 1, 2, 2, 13, 65, 14, 8}, 0), pauseMs = 10;
    } else if (hw == 110) {
        pauseMs = 10, word = m_bitMode | 0x0C;
    } else if (hw == 108) {
        pauseMs = 10;
    } else if (IsOneOf(hw, {1, 2, 3, 7})) {
        pll = Pll({26, 1, 2, 2, 13, 26, 13, 8}, 0), pauseMs = 20;
    } else if (IsOneOf(hw, {300, 301, 302, 305})) {
        pll = Pll({12, 1, 11, 8, 23, 23, 23, 23}, 0), pauseMs = 20;
    } else if (hw == 9) {
        pauseMs = 20;
    } else if (IsOneOf(hw, {200, 201, 203})) {
        pll = Pll({10, 1, 1, 1, 36, 6, 36, 36}, 0), pauseMs = 10;
    } else if (hw != 205) {
        return CAMERA_STATUS_SUCCESS;  // an unknown board: no clock, interface or trigger
    }
    int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(pauseMs);
    r = SetSensorInterface(word);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CMT9J003::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const int hw = GetHardwareType();
    SetPixelFormat(param->mediaType);
    SetResolution(&param->resolution);
    if ((r = BoardStep(m_resolution.uWidth)) != CAMERA_STATUS_SUCCESS) return r;
    m_chipCount = 1;
    if (hw == kTwoChipBoard) {
        // Two chips at most: bits 0 and 1 of the mask.
        param->channelMask &= 0x3;
        if ((r = TakeChannelMask(*param, m_chipCount, 0)) != CAMERA_STATUS_SUCCESS) return r;
    }
    ApplyWindow();
    WriteSensorRegs(kStart);  // not checked: the chip restarts on the next stream open
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    RegList list;
    list.Append(kAnalog);
    list.Add(0x3002, m_fpgaOffsetY).Add(0x3004, m_fpgaOffsetX);
    list.Add(0x3006, m_endRow).Add(0x3008, m_endColumn);
    list.Add(0x0382, m_increment).Add(0x0386, m_increment);
    list.Add(0x0342, m_lineLength).Add(0x0340, m_frameLength);
    list.Add(0x034C, m_width).Add(0x034E, m_height);
    WriteRegs(list);  // not checked, as the start table
    if (hw == kTwoChipBoard) WriteFpgaReg(kChannelReg, static_cast<uint32_t>(param->channelMask));
    r = SetupImageWindow(0, 0, m_chipCount * m_width, m_height, m_width, m_height,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    // The exposure starts at one line per output column.
    const uint32_t lines = std::min(m_width, kMaxExposureLines);
    r = WriteRegs({0x3170, 0x0071, 0x3010, 0x009C, 0x3014, 0x03F2, 0x3018, 0x0000, 0x0202,
                   static_cast<uint16_t>(lines), 0x30D4, 0xB080});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = 0x1060;
    WriteSensorReg(kRegGain, 0x1060);
    Pause(10);
    RecordExposureLines(lines);
    m_gain = DecodeGain(0x1060, m_gain);
    return CAMERA_STATUS_SUCCESS;
}

// The clock tree of the board, then the row speed: speeds 0 and 1 read every row pair at half
// rate (the same chip state); speed 2 at full rate, except with two chips on board 7.
int CMT9J003::SetFrameSpeed(int speed) {
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;  // nothing written
    const int hw = GetHardwareType();
    const ClockTree tree = ClockFor(hw);
    WriteRegs({0x0300, 4, 0x0302, 2});
    const uint16_t* v = tree.values;
    WriteRegs({0x0300, v[0], 0x0302, v[1], 0x0304, v[2], 0x0306, v[3], 0x0308, v[4], 0x030A, v[5]});
    const bool half = speed < 2 || (hw == kTwoChipBoard && m_chipCount > 1);
    WriteSensorReg(kRegRowSpeed, half ? 0x0222 : 0x0121);
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_pixelPeriodNs = 1e9 / tree.hz;
    m_lineTimeNs = (m_lineLength / 2) * m_pixelPeriodNs * (half ? 2 : 1);
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

uint16_t CMT9J003::EncodeGain(uint32_t g) {
    if (g >= 16000) return static_cast<uint16_t>(0x1D80 + g * 4 / 1000);
    if (g >= 8000) return static_cast<uint16_t>(0x1C80 + g * 8 / 1000);
    if (g >= 4000) return static_cast<uint16_t>(0x1C00 + g * 16 / 1000);
    if (g >= 2000) return static_cast<uint16_t>(0x1800 + g * 32 / 1000);
    return static_cast<uint16_t>(std::clamp(0x1020 + g * 64 / 1000, 0x1060u, 0x107Fu));
}

uint32_t CMT9J003::DecodeGain(uint16_t r, uint32_t previous) {
    const uint32_t e = r & 0x7F;
    if ((r & 0xC00) == 0) return (e * 1000 - 32000) / 64;
    if ((r & 0xD00) == 0xD00) return e * 250;
    if ((r & 0xC80) == 0xC80) return e * 125;
    if ((r & 0xC00) == 0xC00) return e * 4000 / 64;
    if ((r & 0xC00) == 0x800) return e * 2000 / 64;
    return previous;
}

int CMT9J003::SetAnalogGain(uint32_t gain) {
    const uint16_t code = EncodeGain(gain);
    m_gainReg = code;
    const int r = WriteSensorReg(kRegGain, code);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gain = DecodeGain(code, m_gain);
    return CAMERA_STATUS_SUCCESS;
}

int CMT9J003::StreamOn() {
    WriteSensorReg(kRegControl, 0x10DE);
    Pause(100);
    if (InFpgaGroup()) {
        SetSensorInterface(m_bitMode | 0x9C);
    } else if (GetHardwareType() == 110) {
        SetSensorInterface(m_bitMode | 0x8C);
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9J003::StreamOff() {
    if (Triggers()) {
        SetSensorInterface(m_bitMode | 0x10C);
        SetFpgaImageEnable(0);
    }
    WriteSensorReg(kRegControl, 0x90D8);
    Pause(100);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// Without the FPGA's trigger the chip cannot be triggered: modes 1 and 2 are refused there.
int CMT9J003::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    int r = CAMERA_STATUS_SUCCESS;
    if (Triggers()) {
        r = ApplyTriggerMode(mode, 10, 50000);
    } else if (mode != 0) {
        return CAMERA_STATUS_NOT_SUPPORTED;
    }
    WriteSensorReg(0x315E, 0);
    return mode == 0 ? CAMERA_STATUS_SUCCESS : r;
}

int CMT9J003::SoftTrigger() {
    return Triggers() ? SendSoftTrigger() : CAMERA_STATUS_NOT_SUPPORTED;
}

void CMT9J003::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_MT9J003M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 14;  // "3664X2748"
    cap.presetMask = 0x647E;          // presets 1 to 6, 10, 13 and 14
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 175;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 122;
    }
    SetFormats8Or12(cap, mono, !IsOneOf(GetHardwareType(), {0, 9, 300, 301, 302, 305}));
}
