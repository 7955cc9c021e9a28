#include "AR0134.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint16_t kRegGainCtrl = 0x30B0;
constexpr uint16_t kTriggerBit = 1u << 10;  // of 0x30B0
constexpr uint16_t kColumnGainBits = 0x30;  // of 0x30B0

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {0, TwoLineReset(66, 65, 0, 10)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kFpgaGroup[] = {1, 2, 3, 100, 200, 201, 203, 205, 300, 301, 302, 305};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x20, kReg16Data16, 10}, kFpgaGroup, 0x3012};

// Gain steps: column gain in bits 4-5 of 0x30B0 and the 0x305E setting.
constexpr GainStep kGains[] = {
    {10000, 0x30, 40}, {8000, 0x30, 32}, {5000, 0x20, 40}, {4000, 0x20, 32},
    {2500, 0x10, 40},  {2000, 0x10, 32}, {1250, 0x00, 40}, {1000, 0x00, 32},
};

// clang-format off
constexpr uint16_t kReset[] = {0x301A, 0x0001,  kPauseReg, 10,  0x301A, 0x00D8};
constexpr uint16_t kPostTable[] = {0x3032, 0x0020,  0x3064, 0x1802,  0x3028, 0,  0x3046, 0x0100};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 134 rows: the sequencer start, then 133 sequencer words into 0x3086 from the
// maker.
constexpr uint16_t kInit[] = {
    0x3088, 0x8000,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_4,
    QV_MAKER_ROW,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 134);

// Clock multiplier and pre-divider, and the clock P1 divides, by board.
struct Clock {
    uint16_t m, n;
    uint32_t hz;
};
Clock ClockFor(int hw) {
    if (IsOneOf(hw, {100, 200, 201, 203, 205})) return {99, 8, 74250000};
    if (IsOneOf(hw, {1, 2, 3, 300, 301, 302, 305})) return {36, 4, 54000000};
    return {32, 4, 48000000};  // 9 and any other
}

}  // namespace

CAR0134::CAR0134(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 5;
    m_inputClock = 48000000;
    m_imgPadH = 400;
    m_imgPadV = 10;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 10000,
               .expLinesMax = 30,
               .maxWidth = 1280,
               .maxHeight = 960,
               .reductionModeMask = 1});
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CAR0134::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR0134", type, info);
}

int CAR0134::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CAR0134>(type, inf, {kRegIdentity, 0x2406});
}

void CAR0134::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX;
    m_fpgaOffsetY = m_roiY + 2;
    m_lineLength = static_cast<uint32_t>(std::max<int64_t>(1430, m_width + m_imgPadH));
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV + 12);
}

int CAR0134::BoardStep() {
    const int hw = GetHardwareType();
    PllSetting pll = NoPll();
    unsigned pauseMs = 0;
    if (hw == 100) {
        pll = Pll({24, 1, 2, 2, 13, 13, 13, 8}, 0), pauseMs = 20;
    } else if (IsOneOf(hw, {1, 2, 3})) {
        pll = Pll({26, 1, 2, 2, 13, 13, 13, 11}, 0), pauseMs = 20;
    } else if (IsOneOf(hw, {300, 301, 302, 305})) {
        pll = Pll({12, 1, 11, 8, 11, 23, 23, 23}, 0), pauseMs = 20;
    } else if (IsOneOf(hw, {200, 201, 203})) {
        pll = Pll({24, 1, 3, 3, 18, 16, 36, 36}, 0), pauseMs = 10;
    } else if (hw != 205) {
        // An unknown board: its pads stay, the soft-trigger line goes low, no FPGA interface.
        const int r = SetGpioMode(67, 0);
        return r == CAMERA_STATUS_SUCCESS ? WriteGpio(67, 0) : r;
    }
    m_imgPadH = 10;
    m_imgPadV = 10;
    int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(pauseMs);
    r = SetSensorInterface(m_bitMode | 0x0C);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CAR0134::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    if ((r = BoardStep()) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();

    if ((r = WriteSensorRegs(kReset)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorRegs(kInit)) != CAMERA_STATUS_SUCCESS) return r;
    RegList setup{0x3058, 0x0020, 0x305A, 0x0020};
    setup.Add(0x300C, m_lineLength).Add(0x300A, m_frameLength);
    AddWindow(setup, m_width, m_height);
    setup.Add(0x30A2, 0x0001).Add(0x30A6, 0x0001).Add(0x3040, 0x0000);
    if ((r = WriteRegs(setup)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kPostTable)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);

    // Unity gain and 100 lines.
    m_gainReg = 32;
    if ((r = WriteRegs({0x3012, 100, 0x305E, 0x0020})) != CAMERA_STATUS_SUCCESS) return r;
    m_gain = 1000;
    RecordExposureLines(100);
    return CAMERA_STATUS_SUCCESS;
}

int CAR0134::Uninit() {
    WriteSensorReg(kRegControl, 0x0058);
    return CAMERA_STATUS_SUCCESS;
}

// The speed divides the board's clock: P1 = 4, 2, 1.
int CAR0134::SetFrameSpeed(int speed) {
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    static constexpr uint16_t kDividers[] = {4, 2, 1};
    const Clock clock = ClockFor(GetHardwareType());
    const uint16_t p1 = kDividers[speed];
    const int r =
        WriteRegs({kRegControl, 0x00D8, 0x31D0, 0x0001, 0x302C, p1, 0x302A, 0x0008, 0x302E, clock.n,
                   0x3030, clock.m, kRegGainCtrl, m_gainCtrl, kRegControl, 0x00D8});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(clock.hz / p1);
    return CAMERA_STATUS_SUCCESS;
}

// Only the column-gain bits of the copy change; the trigger bit stays as it is.
int CAR0134::SetAnalogGain(uint32_t gain) {
    const GainStep& step = PickGainStep(kGains, gain);
    const uint16_t ctrl = static_cast<uint16_t>((m_gainCtrl & ~kColumnGainBits) | step.column);
    const int r = WriteRegs({kRegGainCtrl, ctrl, 0x305E, step.code});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainCtrl = ctrl;
    m_gainReg = step.code;
    m_gain = step.gain;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0134::StreamOn() {
    if (InFpgaGroup()) SetSensorInterface(m_bitMode | 0x8C);
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0134::StreamOff() {
    const int r = WriteSensorReg(kRegControl, 0x0058);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (InFpgaGroup()) {
        SetSensorInterface(m_bitMode | 0x10C);
        SetFpgaImageEnable(0);
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// The triggered modes set bit 10 of 0x30B0 (through the driver's copy) and the control word.
int CAR0134::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        const int r = ApplyFpgaTrigger(mode, {2000, 50000}, {2000, 50000});
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const uint16_t ctrl =
        static_cast<uint16_t>(mode == 0 ? m_gainCtrl & ~kTriggerBit : m_gainCtrl | kTriggerBit);
    const uint16_t control = mode == 0 ? 0x1D94 : 0x1D90;
    int r;
    if (mode == 2) {
        r = WriteSensorReg(kRegGainCtrl, ctrl);
        if (r == CAMERA_STATUS_SUCCESS) m_gainCtrl = ctrl;
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegControl, control);
    } else {
        r = WriteRegs({kRegGainCtrl, ctrl, kRegControl, control});
        if (r == CAMERA_STATUS_SUCCESS) m_gainCtrl = ctrl;
    }
    return r;
}

int CAR0134::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup(), {.kind = ChipTrigger::Kind::Gpio,
                                          .target = 67,
                                          .release = true,
                                          .pauseMs = 1,
                                          .releaseStatus = false});
}

int CAR0134::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x300C, static_cast<uint16_t>(m_lineLength));
    WriteSensorReg(0x300A, static_cast<uint16_t>(m_frameLength));
    WriteWindowSingly(m_width, m_height);
    return CAMERA_STATUS_SUCCESS;
}

void CAR0134::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 5;  // "1280X960"
    cap.presetMask = 0x213F;         // presets 0 to 5, 8 and 13
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 139;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 139;
    }
    SetFormats8Or12(cap, mono, GetHardwareType() != 0);
}
