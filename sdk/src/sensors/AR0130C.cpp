#include "AR0130C.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr int kNoFpgaBoard = 303;  // no FPGA window or trigger; frames twice as wide

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {9, GpioReset(23)},
    {300, Then(GpioLevel(65, 0), GpioPairReset(23, 71))},
    {301, Then(GpioLevel(65, 0), GpioPairReset(23, 71))},
    {302, Then(GpioLevel(65, 0), GpioPairReset(23, 71))},
    {305, Then(GpioLevel(65, 0), GpioPairReset(23, 71))},
    {303, Then(GpioLevel(65, 0), GpioPairReset(23, 71))},
    {0, TwoLineReset(66, 65, 0, 10)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kFpgaGroup[] = {1, 2, 3, 9, 200, 201, 203, 205, 300, 301, 302, 305};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x20, kReg16Data16, 20}, kFpgaGroup, 0x3012};

// Gain steps: column gain in bits 4-5 of 0x30B0 and the 0x3EE4 setting.
constexpr GainStep kGains[] = {
    {10000, 0x30, 0xD308}, {8000, 0x30, 0xD208}, {5000, 0x20, 0xD308}, {4000, 0x20, 0xD208},
    {2500, 0x10, 0xD308},  {2000, 0x10, 0xD208}, {1250, 0x00, 0xD308}, {1000, 0x00, 0xD208},
};

// clang-format off
constexpr uint16_t kPostTable[] = {0x3032, 0,  0x3064, 0x1802,  0x3028, 0};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 102 rows: the sequencer start, 80 sequencer words into 0x3086 and 5 analog
// settings (0x309E, 0x30E0 to 0x30E8) from the maker, a pause, two known rows, the block 0x3ED6
// to 0x3EE6 (of which 0x3EE4 is known) and four known rows.
constexpr uint16_t kInit[] = {
    0x3088, 0x8000,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_16,
    QV_MAKER_ROWS_4, QV_MAKER_ROW,
    kPauseReg, 10,  0x3082, 0x0029,  0x301E, 0x00C8,
    QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,  0x3EE4, 0xD208,  QV_MAKER_ROW,
    0x3044, 0x0404,  0x30B0, 0x1300,  0x30D4, 0xE007,  0x301A, 0x10D8,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 102);

// Clock multiplier and pre-divider by board; the counting clock is 48 MHz / P1 on every board.
struct Clock {
    uint16_t m, n;
};
Clock ClockFor(int hw) {
    if (IsOneOf(hw, {100, 200, 201, 203})) return {99, 8};
    if (IsOneOf(hw, {1, 2, 3, 9, 300, 301, 302, 305})) return {36, 4};
    return {32, 4};  // 205 and any other
}

}  // namespace

CAR0130C::CAR0130C(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 5;
    m_inputClock = 48000000;
    m_imgPadH = 500;
    m_imgPadV = 50;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 10000,
               .expLinesMax = 30,
               .maxWidth = 1280,
               .maxHeight = 960,
               .reductionModeMask = 1});
    SetPixelFormat(kBayerGR8);
}

int CAR0130C::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR0130C", type, info);
}

int CAR0130C::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CAR0130C>(type, inf, {kRegIdentity, 0x2402});
}

// The sensor cuts the window two rows down; the FPGA takes it from 0, 0.
void CAR0130C::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX;
    m_fpgaOffsetY = m_roiY + 2;
    m_lineLength = static_cast<uint32_t>(std::max<int64_t>(1430, m_width + m_imgPadH));
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV + 12);
}

// Pads, clock generator and FPGA interface of the board.
int CAR0130C::BoardStep() {
    const int hw = GetHardwareType();
    struct Row {
        int64_t padH;
        PllSetting pll;
        unsigned pauseMs;
    };
    Row row{400, NoPll(), 0};
    if (hw == 100) {
        row = {10, Pll({24, 1, 2, 2, 13, 13, 13, 8}, 0), 20};
    } else if (IsOneOf(hw, {1, 2, 3})) {
        row = {20, Pll({26, 1, 2, 2, 13, 13, 13, 11}, 0), 20};
    } else if (IsOneOf(hw, {9, 300, 301, 302, 305})) {
        row = {20, NoPll(), 0};
    } else if (hw == kNoFpgaBoard) {
        row = {200, NoPll(), 0};
    } else if (IsOneOf(hw, {200, 201, 203})) {
        row = {10, Pll({24, 1, 3, 3, 18, 16, 36, 36}, 0), 20};
    } else if (hw == 205) {
        row = {10, NoPll(), 0};
    }
    m_imgPadH = row.padH;
    m_imgPadV = 10;
    int r = ApplyPll(row.pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(row.pauseMs);
    if (hw == kNoFpgaBoard) return SetSensorInterface(0);
    if (!InFpgaGroup() && hw != 100) {
        // An unknown board: the soft-trigger line low, no FPGA interface.
        r = SetGpioMode(67, 0);
        return r == CAMERA_STATUS_SUCCESS ? WriteGpio(67, 0) : r;
    }
    r = SetSensorInterface(m_bitMode | 0x0C);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CAR0130C::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    if ((r = BoardStep()) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();

    if ((r = WriteSensorReg(kRegControl, 0x0001)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(50);
    if ((r = WriteSensorReg(kRegControl, 0x10D8)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorRegs(kInit)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorReg(kRegControl, 0x10D8)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    RegList setup{0x3058, 0x0020, 0x305A, 0x0020, 0x30BA, 0x0000, 0x3012, 0x02A0, 0x3032, 0x0000};
    setup.Add(0x300C, m_lineLength).Add(0x300A, m_frameLength);
    if ((r = WriteRegs(AddWindow(setup, m_width, m_height))) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x3032, 0)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kPostTable)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;

    // Unity gain and 100 lines.
    m_gainReg = 32;
    r = WriteRegs({0x3012, 100, 0x305E, 0x0020, 0x30B0, 0x0000, 0x3EE4, 0xD208});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    m_gain = 1000;
    RecordExposureLines(100);
    return CAMERA_STATUS_SUCCESS;
}

int CAR0130C::Uninit() {
    WriteSensorReg(kRegControl, 0x0058);
    return CAMERA_STATUS_SUCCESS;
}

// The speed divides the clock: P1 = 4, 2, 1 for 12, 24 and 48 MHz.
int CAR0130C::SetFrameSpeed(int speed) {
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    static constexpr uint16_t kDividers[] = {4, 2, 1};
    const Clock clock = ClockFor(GetHardwareType());
    const uint16_t p1 = kDividers[speed];
    const int r =
        WriteRegs({kRegControl, 0x10D8, 0x31D0, 0x0001, 0x302C, p1, 0x302A, 0x0008, 0x302E, clock.n,
                   0x3030, clock.m, 0x30B0, 0x1300, kRegControl, 0x10D8});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(48000000 / p1);
    return CAMERA_STATUS_SUCCESS;
}

int CAR0130C::SetAnalogGain(uint32_t gain) {
    const GainStep& step = PickGainStep(kGains, gain);
    const int r = WriteRegs({0x30B0, step.column, 0x3EE4, step.code});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = step.code;
    m_gain = step.gain;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0130C::StreamOn() {
    if (InFpgaGroup()) {
        SetSensorInterface(m_bitMode | 0x8C);
    } else if (GetHardwareType() == kNoFpgaBoard) {
        SetSensorInterface(0x84);
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0130C::StreamOff() {
    WriteSensorReg(kRegControl, 0x0058);
    if (InFpgaGroup()) {
        SetSensorInterface(m_bitMode | 0x10C);
        SetFpgaImageEnable(0);
    } else if (GetHardwareType() == kNoFpgaBoard) {
        SetSensorInterface(0);
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0130C::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        const int r = ApplyFpgaTrigger(mode, {1, 50000}, {2000, 50000});
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    static constexpr uint16_t kControl[] = {0x1D94, 0x0D90, 0x1D90};
    return WriteSensorReg(kRegControl, kControl[mode]);
}

// Without the FPGA's trigger the chip takes its trigger on GPIO 67.
int CAR0130C::SoftTrigger() {
    return SoftTriggerVia(
        InFpgaGroup(),
        {.kind = ChipTrigger::Kind::Gpio, .target = 67, .release = true, .releaseStatus = false});
}

int CAR0130C::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x300C, static_cast<uint16_t>(m_lineLength));
    WriteSensorReg(0x300A, static_cast<uint16_t>(m_frameLength));
    WriteWindowSingly(m_width, m_height);
    return CAMERA_STATUS_SUCCESS;
}

// Board 303 delivers two bytes per pixel whatever the format.
int CAR0130C::GetImageInfo(stImageInfo* info) {
    const int r = CAptinaSensor::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS || GetHardwareType() != kNoFpgaBoard) return r;
    info->iWidth = 2 * m_width;
    info->TotalBytes = 2 * m_width * m_height;
    return CAMERA_STATUS_SUCCESS;
}

void CAR0130C::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 5;  // "1280X960"
    cap.presetMask = 0x213F;         // presets 0 to 5, 8 and 13
    cap.defaultRedGain = 139;
    cap.defaultGreenGain = 100;
    cap.defaultBlueGain = 139;
    SetFormats8Or12(cap, false, GetHardwareType() != 0);
}
