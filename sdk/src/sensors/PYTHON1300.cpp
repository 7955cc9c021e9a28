#include "PYTHON1300.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x00;
constexpr uint8_t kBusWidths = 0x22;
constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)}, {201, FpgaBitReset()}, {203, FpgaBitReset()}};

constexpr uint16_t kRegSequencer = 0x0C0;
constexpr uint16_t kSequencerStopped = 0x080C, kSequencerRun = 0x080D, kSequencerTriggered = 0x081D;
constexpr uint16_t kRegMultiplier = 0x0C7;
constexpr uint16_t kRegFrameLength = 0x0C8;
constexpr uint16_t kRegExposure = 0x0C9;
constexpr uint16_t kRegAnalogGain = 0x0CC;
constexpr uint16_t kRegDigitalGain = 0x0CD;
constexpr uint16_t kRegUpdate = 0x0CE;  // 0x0377 holds the exposure registers, 0x037F takes them
constexpr uint32_t kMaxUnits = 0xFFFF;
constexpr uint32_t kLongUnits = 60000;       // the count once the unit stretches
constexpr uint64_t kFullArea = 1280 * 1024;  // the frame-speed table's window

// Frame period of the full window, in units, by board and speed: 8-bit and 10/12-bit output.
struct SpeedRow {
    uint32_t narrow, wide;
};
constexpr SpeedRow kSpeed100[] = {{20000, 20000}, {10000, 20000}, {4762, 9524}};
constexpr SpeedRow kSpeedGigE[] = {{40000, 40000}, {20000, 33333}, {11111, 22222}};

// clang-format off
constexpr uint16_t kP1[] = {
    0x002, 0x0000,  0x008, 0x0000,  0x010, 0x0003,  0x011, 0x2113,  0x014, 0x0000,
    0x01A, 0x2280,  0x01B, 0x3D2D,  0x020, 0x7004,
};
constexpr uint16_t kP2[] = {0x009, 0x0000,  0x020, 0x7006,  0x022, 0x0001,  0x080, 0x0000};
constexpr uint16_t kP4[] = {
    0x00A, 0x0000,  0x020, 0x7007,  0x028, 0x0003,  0x02A, 0x4113,  0x030, 0x0001,
    0x040, 0x0001,  0x048, 0x0017,  0x070, 0x0007,
};
constexpr uint16_t kS1[] = {
    0x0C0, 0x080C,  0x00A, 0x0999,  0x020, 0x7006,  0x028, 0x0000,  0x02A, 0x4110,
    0x030, 0x0000,  0x040, 0x0000,  0x048, 0x0010,  0x070, 0x0000,
};
constexpr uint16_t kS2[] = {0x009, 0x0000,  0x020, 0x7004,  0x022, 0x0000};
constexpr uint16_t kS3[] = {0x008, 0x0099,  0x010, 0x0000};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// The third start-up list, 124 rows: 4 known, 118 from the maker, 2 known.
constexpr uint16_t kP3[] = {
    0x029, 0x085F,  0x02A, 0x4110,  0x02B, 0x0008,  0x041, 0x382B,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_4,
    QV_MAKER_ROWS_2,
    0x1DD, 0x00B1,  0x1DE, 0x0030,
};
// clang-format on
static_assert(std::size(kP1) == 2 * 8 && std::size(kP4) == 2 * 8 && std::size(kS1) == 2 * 9);
static_assert(std::size(kP3) == 2 * 124);

}  // namespace

CPYTHON1300::CPYTHON1300(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 9;
    m_inputClock = 36000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("PYTHON1300", "CMOS_1.3M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 8000,
               .expLinesMax = 1000000,
               .maxWidth = 1280,
               .maxHeight = 1024,
               .minWidth = 4,
               .minHeight = 4,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);  // the mono code's first format is Mono8
}

int CPYTHON1300::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CPYTHON1300", type, info);
}

int CPYTHON1300::Probe(SensorTypeE type, imginf* inf) {
    CPYTHON1300 probe(type, inf);
    return CheckChipIdentity(probe, {{0x000, 0x50D0}, {0x001, 0x0001}});
}

int CPYTHON1300::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, 20);
}

int CPYTHON1300::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_laneBits = 1;
    m_streaming = false;
    const bool wide = m_bitMode == 32;
    const PllSetting pll = GetHardwareType() == 100
                               ? Pll({36, 1, static_cast<uint8_t>(wide ? 1 : 2),
                                      static_cast<uint8_t>(wide ? 1 : 2), 12, 13, 13, 4},
                                     72000000)
                               : Pll({18, 1, 1, 1, 18, 12, 4, 27}, 36000000);
    if ((r = ApplyPll(pll)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = SetSensorInterface(WordBits() | 0x10)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    // Not checked: the chip starts with what it took.
    WriteSensorRegs(kP1);
    WriteSensorRegs(kP2);
    WriteSensorReg(kRegSequencer, kSequencerStopped);
    WriteSensorRegs(kP3);
    WriteSensorReg(kRegAnalogGain, 0x01E1);
    WriteSensorRegs(kP4);
    // The window: the first and last 8-column groups (the first rounded down to an even group),
    // the first and last rows.
    const uint32_t x = m_roiX, y = m_roiY;
    const uint32_t columns = ((x >> 3) & 0x1FFE) | (((x + m_width - 1) >> 3) << 8);
    WriteSensorReg(0x100, static_cast<uint16_t>(columns));
    WriteSensorReg(0x101, static_cast<uint16_t>(y));
    WriteSensorReg(0x102, static_cast<uint16_t>(y + m_height));
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    // The FPGA cuts the columns the 8-column groups add.
    r = SetupImageWindow(x & 0xF, 0, m_width, m_height, m_fovWidth, m_fovHeight, kFrameBufferLimit,
                         0);
    if (r == CAMERA_STATUS_SUCCESS) {
        SetAnalogGain(1000);
        SetExposure(1000.0);
    }
    return r;
}

// ---- Timing and exposure -----------------------------------------------------------------------

// The frame period of the speed for the full window, scaled by the window's area (reckoned in
// 64 bits: the product reaches 5e10).
int CPYTHON1300::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const SpeedRow& row = hw == 100 ? kSpeed100[speed] : kSpeedGigE[speed];
    const uint64_t full = m_bitMode == 32 ? row.wide : row.narrow;
    const auto frame = static_cast<uint16_t>(uint64_t{m_width} * m_height * full / kFullArea);
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_multiplier = static_cast<uint16_t>(m_inputClock / 1000000);
    WriteSensorReg(kRegMultiplier, m_multiplier);
    WriteSensorReg(kRegFrameLength, frame);
    m_frameLength = frame;
    m_pixelPeriodNs = 1e9 / m_inputClock;
    m_lineTimeNs = m_multiplier * m_pixelPeriodNs;
    m_frameTimeNs = frame * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

// Up to 65535 units the unit is a microsecond; longer exposures write 60000 units of a unit
// stretched in proportion, up to what the multiplier register holds. The time reported is what
// count and unit make.
int CPYTHON1300::SetExposureLines(uint32_t units) {
    qv::Log("explines:%d\n", static_cast<int>(units));
    const uint32_t microsecondClocks = m_inputClock / 1000000;
    uint32_t count = units, multiplier = microsecondClocks;
    if (units > kMaxUnits) {
        count = kLongUnits;
        const double stretched = m_inputClock * (units / static_cast<double>(kLongUnits)) / 1e6;
        multiplier = static_cast<uint32_t>(std::min(stretched, 65535.0));
    }
    qv::Log("mult_timer:%d, m_expLines:%d\n", static_cast<int>(multiplier),
            static_cast<int>(count));
    WriteSensorReg(kRegUpdate, 0x0377);
    const int unit = WriteSensorReg(kRegMultiplier, static_cast<uint16_t>(multiplier));
    const int exposure = WriteSensorReg(kRegExposure, static_cast<uint16_t>(count));
    WriteSensorReg(kRegUpdate, 0x037F);
    const int r = unit != CAMERA_STATUS_SUCCESS ? unit : exposure;
    m_multiplier = static_cast<uint16_t>(multiplier);
    m_expLines = count;
    m_expTimeUs = count * (multiplier * 1e9 / m_inputClock) / 1000.0;
    return r;
}

int CPYTHON1300::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// An analog stage of x1 or x1.8 and a digital one in 128ths for the rest.
int CPYTHON1300::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    double x = gain / 1000.0;
    uint16_t code = 0x1E1;
    double factor = 1;
    if (x > 8) {
        code = 0x1E8, factor = 8;
    } else if (x > 1.8) {
        code = 0x1E4, factor = 1.8;
    }
    x /= factor;
    const auto digital = static_cast<uint16_t>(x * 128);
    const int r = WriteSensorRegs({kRegAnalogGain, code, kRegDigitalGain, digital});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = static_cast<uint32_t>(digital / 128.0 * factor * 1000);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CPYTHON1300::StreamOn() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(WordBits() | 0xD0);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CPYTHON1300::StreamOff() {
    int r = WriteSensorReg(kRegSequencer, kSequencerStopped);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (Serves(GetHardwareType())) {
        if ((r = SetSensorInterface(WordBits() | kIfStop)) != CAMERA_STATUS_SUCCESS) return r;
        SetFpgaImageEnable(0);
    }
    // The chip's power-down lists; not checked, the FPGA already stopped taking its pixels.
    WriteSensorRegs(kS1);
    WriteSensorRegs(kS2);
    WriteSensorRegs(kS3);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CPYTHON1300::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (Serves(GetHardwareType())) {
        const int r = ApplyTriggerMode(mode, 10, 50000);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return WriteSensorReg(kRegSequencer, mode == 0 ? kSequencerRun : kSequencerTriggered);
}

int CPYTHON1300::SoftTrigger() {
    if (Serves(GetHardwareType())) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

void CPYTHON1300::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_PYTHON1300M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 9;  // "1280X1024"
    cap.presetMask = uint64_t{1} << 9;
    const bool both = Serves(GetHardwareType());
    SetFormats8Or12(cap, mono, both);
}
