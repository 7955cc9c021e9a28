#include "AR0234.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},  {106, GpioReset(28)},
    {110, GpioReset(29)},  {201, FpgaBitReset()},
    {205, FpgaBitReset()}, {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {9, GpioReset(23)},
};
constexpr int kFpgaGroup[] = {100, 106, 110, 201, 205, 305, 9};
constexpr CAptinaSensor::Chip kChip{kBoards, true, {0x20, kReg16Data16, 10}, kFpgaGroup, 0x3012};

constexpr int kMultiChipBoard = 106;
constexpr uint16_t kChannelReg = 40;
constexpr uint32_t kMinLineLength = 2448;
constexpr uint32_t kMaxGain = 16000;

// ---- Clock tables -------------------------------------------------------------------------------
// The 15-entry tables: 0x31AE, M, N, P, 0x302A = 5, P again, 0x3036 = 10, seven interface
// timing registers and 0x31D0 = 0.
struct ClockCase {
    uint16_t m, n, p;
    const uint16_t* timing;  // 7 values for 0x31B0 to 0x31BC
    uint32_t hz;
};
constexpr uint16_t kTiming1[] = {0x0069, 0x004E, 0x4207, 0x21D2, 0x704A, 0x0289, 0x8B87};
constexpr uint16_t kTiming2[] = {0x002F, 0x002C, 0x1144, 0x00C7, 0x3047, 0x0103, 0x8583};
constexpr uint16_t kTiming3[] = {0x0082, 0x005C, 0x5248, 0x3257, 0x904B, 0x030B, 0x8E09};

ClockCase ClockFor(int hw, uint8_t chips, uint16_t bitMode) {
    if (hw == 201 || hw == 205) return {138, 9, 2, kTiming1, 38400000};
    if (hw == 110) {
        return bitMode != 0 ? ClockCase{232, 9, 2, kTiming1, 69600000}
                            : ClockCase{100, 6, 1, kTiming3, 90000000};
    }
    // 100 and 106, by the chips in use.
    if (chips <= 1) return {232, 9, 2, kTiming1, 69600000};
    if (chips == 2) return {198, 6, 4, kTiming2, 44550000};
    if (chips == 3) return {132, 6, 4, kTiming2, 29700000};
    return {100, 6, 4, kTiming2, 22500000};
}

// clang-format off
constexpr uint16_t kStart[] = {
    0x301A, 0x00D9,  kPauseReg, 100,  0x3F4C, 0x121F,  0x3F4E, 0x121F,  0x3F50, 0x0B81,
    0x31E0, 0x0003,  0x31E0, 0x0003,  0x31AC, 0x0A0A,
};
constexpr uint16_t kSequencerStart[] = {0x3088, 0x81C6,  0x3086, 0x3D02,  0x3028, 0};
// Readout modes: 2x (3) and 4x (7) increments for skipping, binning and the third mode.
constexpr uint16_t kSkip2[]  = {0x3040, 0x0000,  0x30A2, 3,  0x30A6, 3};
constexpr uint16_t kSkip4[]  = {0x3040, 0x0000,  0x30A2, 7,  0x30A6, 7};
constexpr uint16_t kBin2[]   = {0x3040, 0x3000,  0x30A2, 3,  0x30A6, 3};
constexpr uint16_t kBin4[]   = {0x3040, 0x3000,  0x30A2, 7,  0x30A6, 7};
constexpr uint16_t kThird2[] = {0x3040, 0x3020,  0x30A2, 3,  0x30A6, 3};
constexpr uint16_t kThird4[] = {0x3040, 0x3020,  0x30A2, 7,  0x30A6, 7};
constexpr uint16_t kSettings[] = {
    0x3044, 0x0410,  0x3094, 0x03D4,  0x3096, 0x0480,  0x30BA, 0x7602,  0x30FE, 0x002A,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Analog settings, 32 rows: the first 3 known, 25 from the maker, the last 4 known.
constexpr uint16_t kAnalog[] = {
    0x31DE, 0x0410,  0x3ED6, 0x1435,  0x3ED8, 0x9865,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROW,
    0x3276, 0x05DC,  0x30BA, 0x7602,  0x3102, 0x5000,  0x3060, 0x000D,
};
// clang-format on
static_assert(std::size(kAnalog) == 2 * 32);

}  // namespace

CAR0234::CAR0234(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 21;
    m_imgPadH = 528;
    m_imgPadV = 22;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 10000,
               .expLinesMax = 225,
               .maxWidth = 1920,
               .maxHeight = 1200,
               .reductionModeMask = 1});
    m_param.reductionModeMaskA = Mono() ? 5 : 0;
    m_param.reductionModeMaskB = 5;
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CAR0234::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR0234", type, info);
}

int CAR0234::Probe(SensorTypeE type, imginf* inf) {
    if (inf->GetHardwareType() == kMultiChipBoard) return CAMERA_STATUS_SUCCESS;
    CAR0234 probe(type, inf);
    int r = probe.Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    uint16_t id = 0;
    if ((r = inf->ReadSensorReg(kRegIdentity, &id)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    return id == 0x0A56 ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_HARDWARE_NOT_FOUND;
}

bool CAR0234::WideBoard() {
    return OnBoard({100, 106, 110, 201, 205});
}

int CAR0234::SetResolution(tSdkResolution* res) {
    if (res == nullptr) return CAMERA_STATUS_SUCCESS;
    CSensorBase::SetResolution(res);
    m_skipWord = res->uModeC;
    m_binWord = res->uModeB;
    m_thirdWord = res->uModeA;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0234::GetResolution(tSdkResolution* res) {
    const int r = CSensorBase::GetResolution(res);
    if (res != nullptr) res->uModeB = m_binWord;
    return r;
}

void CAR0234::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX + 8;
    m_fpgaOffsetY = m_roiY + 8;
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH);
    m_baseFrameLength = m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CAR0234::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const int hw = GetHardwareType();
    SetPixelFormat(param->mediaType);
    m_ifMode = 1;
    m_imgPadH = 528;
    m_imgPadV = 22;
    m_laneBits = 0;
    PllSetting pll = NoPll();
    unsigned pauseMs = 0;
    if (hw == 100 || hw == 106) {
        pll = Pll({27, 1, 1, 1, 8, 26, 13, 6}, 0), pauseMs = 20;
    } else if (hw == 201) {
        pll = Pll({18, 1, 1, 1, 24, 12, 4, 27}, 0), pauseMs = 10;
    } else if (hw == 305) {
        pll = Pll({12, 1, 11, 7, 23, 23, 23, 23}, 0), pauseMs = 10;
    } else if (hw == 9) {
        pll = Pll({1, 2, 32, 7, 23, 23, 23, 23}, 0), pauseMs = 10;
    }
    if ((r = ApplyPll(pll)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(pauseMs);
    if (WideBoard()) {
        m_laneBits = 4;
        r = SetSensorInterface(m_ifMode | m_bitMode | 0x44);
    } else {
        r = SetSensorInterface(m_ifMode | m_bitMode | 0x0C);
    }
    if (r == CAMERA_STATUS_SUCCESS) r = SetTriggerControl(0, 0, 1, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    m_chipCount = 1;
    if (hw == kMultiChipBoard) {
        if ((r = TakeChannelMask(*param, m_chipCount, 0)) != CAMERA_STATUS_SUCCESS) return r;
        WriteFpgaReg(kChannelReg, static_cast<uint32_t>(param->channelMask));  // not checked
    }
    SetResolution(&param->resolution);
    ApplyWindow();

    if ((r = WriteSensorRegs(kStart)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x30B0, Mono() ? 0x00A8 : 0x0028)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    if (!WideBoard() && (r = WriteSensorRegs(kSequencerStart)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    // The window end spans the field of view, so a binned or skipped mode reads all of it.
    RegList window;
    window.Add(0x3002, m_fpgaOffsetY).Add(0x3004, m_fpgaOffsetX);
    window.Add(0x3006, m_fpgaOffsetY + m_fovHeight - 1).Add(0x3008, m_fpgaOffsetX + m_fovWidth - 1);
    window.Add(0x3064, 0x1802).Add(0x30A2, 1).Add(0x30A6, 1).Add(0x300A, m_frameLength);
    window.Add(0x300C, 0x0264).Add(0x3012, 0x02DC);
    if ((r = WriteRegs(window)) != CAMERA_STATUS_SUCCESS) return r;
    // Readout modes, not checked: a mode the chip misses leaves the full readout.
    auto mode = [&](uint32_t word, std::span<const uint16_t> x2, std::span<const uint16_t> x4) {
        if (word == 1) WriteSensorRegs(x2);
        if (word == 3) WriteSensorRegs(x4);
    };
    mode(m_skipWord, kSkip2, kSkip4);
    mode(m_binWord, kBin2, kBin4);
    mode(m_thirdWord, kThird2, kThird4);
    if (WideBoard() && (r = WriteSensorReg(0x3786, 0x0006)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kSettings)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kAnalog)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x3060, 0x000D)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_chipCount * m_width, m_height, m_width, m_height,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // Starting values: 10 ms at unity gain; a failure shows at the next setter call again.
    SetExposure(10000.0);
    SetAnalogGain(1000);
    return CAMERA_STATUS_SUCCESS;
}

// The clock table of the board (and chips); clock receives the counting clock it gives.
int CAR0234::WriteClockTable(uint32_t& clock) {
    if (WideBoard()) {
        const ClockCase c = ClockFor(GetHardwareType(), m_chipCount, m_bitMode);
        RegList list;
        list.Add(0x31AE, 0x0204).Add(0x3030, c.m).Add(0x302E, c.n).Add(0x302C, c.p);
        list.Add(0x302A, 5).Add(0x3038, c.p).Add(0x3036, 10);
        for (int i = 0; i < 7; ++i) list.Add(static_cast<uint16_t>(0x31B0 + 2 * i), c.timing[i]);
        list.Add(0x31D0, 0);
        clock = c.hz;
        return WriteRegs(list);
    }
    // 305 and 9: a narrower sensor window gets a faster clock (M x 1.2 MHz), except at 12 bits.
    const bool twelveBit = m_bitMode == 32;
    const uint16_t m = twelveBit ? 18 : static_cast<uint16_t>(72960 / std::max(1280u, m_fovWidth));
    const uint16_t n = twelveBit ? 3 : 4;
    clock = twelveBit ? 28800000 : m * 1200000u;
    return WriteRegs({0x3030, m, 0x302E, n, 0x302C, 1, 0x302A, 5, 0x3038, 1, 0x3036, 10, 0x30B0,
                      0x0028, 0x31AE, 0x0200, 0x31D0, 0});
}

int CAR0234::SetFrameSpeed(int speed) {
    if (BoardRow() == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;  // nothing written
    uint32_t clock = 0;
    const int r = WriteClockTable(clock);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // From the window's frame length, so that speeds never compound.
    m_frameLength = m_baseFrameLength * (speed == 0 ? 4 : speed == 1 ? 2 : 1);
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_pixelPeriodNs = 1e9 / clock;
    const double periods = std::max(m_lineLength, kMinLineLength);
    m_lineTimeNs = m_pixelPeriodNs * periods * (WideBoard() ? 0.25 : 1.0);
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

// 128 steps per unit gain in 0x305E, up to x16.
int CAR0234::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, kMaxGain);
    const uint32_t code = gain * 128 / 1000;
    const int r = WriteSensorReg(0x305E, static_cast<uint16_t>(code));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = code * 1000 / 128;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0234::StreamOn() {
    int r = CAMERA_STATUS_SUCCESS;
    if (WideBoard()) {
        r = SetSensorInterface(m_ifMode | m_bitMode | kIfRun | m_laneBits);
    } else if (BoardRow() != nullptr) {
        r = SetSensorInterface(m_ifMode | m_bitMode | 0x8C);
    }
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CAR0234::StreamOff() {
    int r = WriteSensorReg(kRegControl, 0x2058);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (WideBoard()) {
        r = SetSensorInterface(m_ifMode | m_bitMode | kIfStop | m_laneBits);
    } else if (BoardRow() != nullptr) {
        r = SetSensorInterface(m_ifMode | m_bitMode | 0x4C);
    }
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = false;
    return r;
}

int CAR0234::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2 || BoardRow() == nullptr) return CAMERA_STATUS_SUCCESS;
    const int r = ApplyFpgaTrigger(mode, {2000, 50000}, {2000, 50000});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const bool wide = WideBoard();
    const uint16_t control = mode == 0 ? (wide ? 0x205C : 0x30DC) : (wide ? 0x2158 : 0x31D8);
    return WriteSensorReg(kRegControl, control);
}

int CAR0234::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup());
}

int CAR0234::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x3004, m_fpgaOffsetX);
    WriteSensorReg(0x3002, m_fpgaOffsetY);
    WriteSensorReg(0x3008, static_cast<uint16_t>(m_fpgaOffsetX + m_width - 1));
    WriteSensorReg(0x3006, static_cast<uint16_t>(m_fpgaOffsetY + m_height - 1));
    return CAMERA_STATUS_SUCCESS;
}

void CAR0234::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 21;  // "1920X1200"
    cap.presetMask = (uint64_t{1} << 21) | (uint64_t{1} << 33);
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 126;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 151;
    }
    const int hw = GetHardwareType();
    SetFormats8Or12(cap, mono, hw != 0 && hw != kMultiChipBoard);
}
