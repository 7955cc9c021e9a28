#include "IMX225.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

// 16-bit register addresses, 8-bit data.
constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;

constexpr uint16_t kRegStandby = 0x3000;  // 1: standby
constexpr uint16_t kRegMaster = 0x3002;   // 1: master mode stopped
constexpr uint16_t kRegReadout = 0x3009;  // readout rate bits 0-1, high conversion gain bit 4
constexpr uint8_t kReadoutHcg = 0x10;

constexpr RegField kVmax[] = {{0x3018, 0, 0xFF}, {0x3019, 8, 0xFF}, {0x301A, 16, 0x01}};
constexpr RegField kHmax[] = {{0x301B, 0, 0xFF}, {0x301C, 8, 0x3F}};
constexpr RegField kShs1[] = {{0x3020, 0, 0xFF}, {0x3021, 8, 0xFF}, {0x3022, 16, 0x01}};
constexpr RegField kGain[] = {{0x3014, 0, 0xFF}, {0x3015, 8, 0x03}};
constexpr RegField kWindowRow[] = {{0x3038, 0, 0xFF}, {0x3039, 8, 0x03}};
constexpr RegField kWindowHeight[] = {{0x303A, 0, 0xFF}, {0x303B, 8, 0x03}};
constexpr RegField kWindowColumn[] = {{0x303C, 0, 0xFF}, {0x303D, 8, 0x07}};
constexpr RegField kWindowWidth[] = {{0x303E, 0, 0xFF}, {0x303F, 8, 0x07}};

// SHS1 = frame length - lines - 1; from frame length - 2 lines on the frame becomes lines + 3
// with SHS1 2, up to the longest frame 0x1FFFC.
constexpr uint32_t kMaxFrameLength = 0x1FFFC;
constexpr ShutterLayout kShutter{
    .frameLength = kVmax,
    .shutter = kShs1,
    .fitMargin = 3,
    .stretchExtra = 3,
    .stretchShutter = 2,
    .shutterOffset = 1,
    .restoreFirst = false,
    .maxFrameLength = kMaxFrameLength,
};
constexpr uint32_t kMinLines = 2;

constexpr LogGainStep kGainStep{.stepTenthsDb = 1, .hcgThresholdDb = 30.0, .hcgDb = 6.0};

// Board 8's long exposures.
constexpr double kSlowClockAboveUs = 20000000.0;
constexpr uint32_t kSlowClock = 1000000;
constexpr uint32_t kBoard8Clock = 96000000;
constexpr uint16_t kSlowClockBit = 0x1000;
constexpr double kStretchLines = 131068.0;        // exposures from here stretch the line ...
constexpr double kStretchDivisorLong = 131056.0;  // ... by these many lines
constexpr uint32_t kMaxLineLength = 0x3FFF;
constexpr double kLongestExposureUs = 2e9;  // the exposure maximum on board 8

// clang-format off
// Clock sets (0x305C to 0x305F): the normal input clock, the normal clock with 12 bits, and the
// 1 MHz clock of board 8.
constexpr uint16_t kClockNormal[] = {0x305C, 0x20,  0x305D, 0x10,  0x305E, 0x20,  0x305F, 0x10};
constexpr uint16_t kClock12[]     = {0x305C, 0x10,  0x305D, 0x10,  0x305E, 0x10,  0x305F, 0x10};
constexpr uint16_t kClockSlow[]   = {0x305C, 0x08,  0x305D, 0x10,  0x305E, 0x08,  0x305F, 0x10};
constexpr uint16_t kConverter12[] = {0x3044, 0xE1,  0x3005, 1};
constexpr uint16_t kConverter10[] = {0x3044, 0xE0,  0x3005, 0};
// Window modes: 640 x 480 binned (preset 1), 1280 x 720 (preset 4), a cropped window.
constexpr uint16_t kModeBinned[]  = {0x3005, 0,  0x3006, 0x22,  0x3007, 0};
constexpr uint16_t kMode720p[]    = {0x3006, 0,  0x3007, 0x10};
constexpr uint16_t kModeCropped[] = {0x3006, 0,  0x3007, 0x40};
constexpr uint16_t kBlackLevelPair[] = {0x300A, 0,  0x300B, 0};
constexpr uint16_t kClosing[] = {
    0x30E8, 0,  0x30E9, 0,  0x3058, 0xF6,  0x3059, 0x0D,  0x305A, 0,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Chip settings, 40 rows: 7 known, 30 from the maker, 3 known.
constexpr uint16_t kChipSettings[] = {
    0x3000, 1,  0x3001, 0,  kPauseReg, 10,  0x300F, 0,  0x3012, 0x2C,  0x3013, 0x01,
    0x3016, 0x09,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
    0x329A, 0x12,  0x329B, 0xF1,  0x329C, 0x0C,
};
// clang-format on
static_assert(std::size(kChipSettings) == 2 * 40);

}  // namespace

// ---- Boards ------------------------------------------------------------------------------------

struct CIMX225::Board {
    int hwType;
    ResetLine reset;
    PllSetting pll;    // 8-bit formats
    PllSetting pll12;  // 12-bit formats
    uint16_t ifModeBits;
};

namespace {

// clang-format off
constexpr CIMX225::Board kBoards[] = {
    {100, GpioReset(28), Pll({27, 1, 1, 1, 10, 13, 13, 6}, 148500000),
                         Pll({27, 1, 1, 1, 10, 13, 13, 6}, 148500000), 0},
    {201, FpgaBitReset(), Pll({18, 1, 2, 2, 48, 12, 5, 27}, 148500000),
                          Pll({18, 1, 1, 1, 48, 12, 5, 27}, 148500000), 4},
    {8,   GpioReset(23), NoPll(kBoard8Clock), NoPll(kBoard8Clock), 4},
};
// clang-format on

}  // namespace

// ---- Construction ------------------------------------------------------------------------------

CIMX225::CIMX225(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 5;
    m_inputClock = 37125000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("IMX225", "CMOS_1.2M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 7680,
               .maxWidth = 1280,
               .maxHeight = 960,
               .reductionModeMask = 3});
    SetPixelFormat(kBayerGR8);
}

int CIMX225::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX225", type, info);
}

int CIMX225::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

const CIMX225::Board* CIMX225::CurrentBoard() {
    return FindBoard(kBoards, GetHardwareType());
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX225::Reset() {
    const Board* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX225::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const Board& board = *CurrentBoard();
    SetPixelFormat(param->mediaType);
    m_adc10Bit = TwelveBit() || board.hwType == 8 ? 0 : 1;
    m_slowClockBits = 0;
    m_savedLineLength = 0;
    m_longFrame = false;
    m_streaming = false;

    if ((r = ApplyPll(TwelveBit() ? board.pll12 : board.pll)) != CAMERA_STATUS_SUCCESS) return r;
    m_ifModeBits = board.ifModeBits;
    Pause(20);
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;

    SetResolution(&param->resolution);
    ApplyResolution();
    m_presetIndex = m_resolution.iIndex;
    m_windowX = m_roiX + 24;
    m_windowY = m_roiY + 8;

    if ((r = WriteSensorRegs(kChipSettings)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteNormalClock()) != CAMERA_STATUS_SUCCESS) return r;
    r = WriteSensorRegs(m_adc10Bit ? std::span<const uint16_t>(kConverter10)
                                   : std::span<const uint16_t>(kConverter12));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    uint16_t x = 0, y = 0;
    if (m_presetIndex == 1) {
        r = WriteSensorRegs(kModeBinned);
        m_baseLineLength = 9000;
        m_baseFrameLength = 550;
        x = 9, y = 13;
    } else if (m_presetIndex == 4) {
        r = WriteSensorRegs(kMode720p);
        m_baseLineLength = 4500;
        m_baseFrameLength = 750;
        x = 17, y = 11;
    } else {
        r = WriteSensorRegs(kModeCropped);
        m_baseFrameLength = std::max(348u, m_height * 1100 / 960);
        m_baseLineLength = std::max(2250u, m_width * 4500 / 1280);
        x = 5, y = 17;
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = m_baseLineLength;
    m_frameLength = m_baseFrameLength;
    if ((r = WriteSensorRegs(kBlackLevelPair)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;

    RegList window;
    window.Add(0x3036, 0x10);
    window.Add(kWindowRow, m_windowY).Add(kWindowHeight, std::max(m_height, 304u));
    window.Add(kWindowColumn, m_windowX).Add(kWindowWidth, std::max(m_width + 4, 372u));
    if ((r = WriteRegs(window)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    r = SetupImageWindow(x, y, m_width, m_height, m_fovWidth, m_fovHeight, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kClosing)) != CAMERA_STATUS_SUCCESS) return r;

    // Starting values; a failure here shows at the first setter call again.
    SetAnalogGain(1000);
    SetExposureLines(2000);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::WriteNormalClock() {
    if (!TwelveBit()) return WriteSensorRegs(kClockNormal);
    const int r = WriteSensorRegs(kClock12);
    if (r == CAMERA_STATUS_SUCCESS) m_inputClock /= 2;
    return r;
}

// ---- Timing ------------------------------------------------------------------------------------

int CIMX225::SetFrameSpeed(int speed) {
    const Board* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t line = 0, frame = 0;
    uint8_t readout = 2;
    if (board->hwType == 8) {
        // From the window's own lengths, so that speeds never compound.
        line = m_baseLineLength;
        frame = m_baseFrameLength;
        if (speed == 0) frame *= 2;
        if (speed == 2) line /= 2, readout = 1;
    } else {
        static constexpr uint32_t kLines[] = {4500, 2250, 1125};
        static constexpr uint8_t kReadouts[] = {2, 1, 0};
        line = kLines[speed];
        readout = kReadouts[speed];
        frame = board->hwType == 201 && speed == 2 ? 1320 : 1100;
        if (board->hwType == 201 && TwelveBit()) frame *= 2;
    }
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_readoutReg = static_cast<uint8_t>((m_readoutReg & ~3u) | readout);
    int r = WriteSensorReg(kRegReadout, m_readoutReg);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteRegs(RegList().Add(kVmax, frame).Add(kHmax, line));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = line;
    m_frameLength = frame;
    m_longFrame = false;
    m_savedLineLength = 0;  // the fresh line length replaces any stretch
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

void CIMX225::UpdateTiming() {
    RecomputeTiming(m_inputClock);
    if (GetHardwareType() == 8 && m_lineTimeUs > 0)
        m_param.expLinesMax = static_cast<uint32_t>(kLongestExposureUs / m_lineTimeUs);
}

// ---- Exposure ----------------------------------------------------------------------------------

int CIMX225::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    if (lines > kMaxFrameLength - 1) lines = kMaxFrameLength;
    RecordExposureLines(lines);
    uint32_t inForce = lines;
    const int r = WriteShutter(kShutter, lines, m_frameLength, m_longFrame, &inForce);
    // At the longest frame the shutter holds three lines less than asked.
    if (r == CAMERA_STATUS_SUCCESS) RecordExposureLines(inForce);
    return r;
}

int CIMX225::SetExposure(double us) {
    const Board* board = CurrentBoard();
    if (board == nullptr || board->hwType != 8) return SetExposureLines(LinesForUs(us, kMinLines));

    bool switched = false;
    const bool slow = us > kSlowClockAboveUs;
    if (slow != (m_slowClockBits != 0)) {
        // The chip waits in standby while its clock changes; only a running stream is started
        // again afterwards.
        const int r =
            WhileStopped([] { return CAMERA_STATUS_SUCCESS; }, [&] { return SwitchClock(slow); },
                         [&] { return RunAfterClockSwitch(); });
        if (r != CAMERA_STATUS_SUCCESS) return r;
        switched = true;
    }
    auto rawLines = [&] { return m_lineTimeNs > 0 ? us * 1000.0 / m_lineTimeNs + 0.5 : 0.0; };
    double n = rawLines();
    if (!switched) {
        if ((n >= kMinLines && static_cast<uint32_t>(std::min(n, 4294967295.0)) == m_expLines) ||
            (n < kMinLines && m_expLines == kMinLines))
            return CAMERA_STATUS_SUCCESS;
    }
    int r = CAMERA_STATUS_SUCCESS;
    if (n < kStretchLines) {
        if (m_savedLineLength != 0) {
            if ((r = SetLineLength(m_savedLineLength)) != CAMERA_STATUS_SUCCESS) return r;
            m_savedLineLength = 0;
            n = rawLines();
            if (n > kStretchLines && (r = StretchLine(us, kStretchLines)) != CAMERA_STATUS_SUCCESS)
                return r;
        }
    } else {
        if (m_savedLineLength == 0) m_savedLineLength = m_lineLength;
        if ((r = StretchLine(us, kStretchDivisorLong)) != CAMERA_STATUS_SUCCESS) return r;
    }
    return SetExposureLines(LinesForUs(us, kMinLines));
}

int CIMX225::SwitchClock(bool slow) {
    const uint16_t word = slow ? m_adc10Bit | m_bitMode | kIfSetup : WordBits() | kIfSetup;
    int r = SetSensorInterface(word);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_inputClock = slow ? kSlowClock : kBoard8Clock;
    m_slowClockBits = slow ? kSlowClockBit : 0;
    if ((r = WriteSensorReg(kRegStandby, 1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorReg(kRegMaster, 1)) != CAMERA_STATUS_SUCCESS) return r;
    r = slow ? WriteSensorRegs(kClockSlow) : WriteNormalClock();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::RunAfterClockSwitch() {
    int r = SetSensorInterface(WordBits() | kIfRun);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorReg(kRegStandby, 0)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    return WriteSensorReg(kRegMaster, 0);
}

int CIMX225::SetLineLength(uint32_t lineLength) {
    const int r = WriteRegs(RegList().Add(kHmax, lineLength));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = lineLength;
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::StretchLine(double us, double divisor) {
    double line = m_pixelPeriodNs > 0 ? us * 1000.0 / divisor / m_pixelPeriodNs : kMaxLineLength;
    line = std::min(line, static_cast<double>(kMaxLineLength));
    return SetLineLength(static_cast<uint32_t>(line));
}

// ---- Gain and black level ----------------------------------------------------------------------

int CIMX225::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const LogGainCode code = EncodeLogGain(gain, kGainStep);
    const uint8_t readout = static_cast<uint8_t>(code.highConversion ? m_readoutReg | kReadoutHcg
                                                                     : m_readoutReg & ~kReadoutHcg);
    int r = WriteRegs(RegList().Add(kGain, code.code));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code.code;
    if ((r = WriteSensorReg(kRegReadout, readout)) != CAMERA_STATUS_SUCCESS) return r;
    m_readoutReg = readout;
    // Below unity the chip stays at unity (code 0); report what is in force.
    m_gain = std::max(gain, 1000u);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    return WriteRegs({0x300A, static_cast<uint16_t>(level & 0xFF), 0x300B, 0});
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX225::StreamOn() {
    if (CurrentBoard() != nullptr) {
        const int r = SetSensorInterface(WordBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    int r = WriteSensorReg(kRegStandby, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    if ((r = WriteSensorReg(kRegMaster, 0)) != CAMERA_STATUS_SUCCESS) return r;
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::StreamOff() {
    if (CurrentBoard() == nullptr) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorReg(kRegStandby, 1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    if ((r = WriteSensorReg(kRegMaster, 1)) != CAMERA_STATUS_SUCCESS) return r;
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX225::SetTriggerMode(int mode) {
    if (CurrentBoard() == nullptr) return CAMERA_STATUS_SUCCESS;
    return ApplyTriggerMode(mode, 10, 50000);
}

int CIMX225::SoftTrigger() {
    if (CurrentBoard() != nullptr) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

// ---- Capability --------------------------------------------------------------------------------

void CIMX225::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 5;  // "1280X960"
    cap.presetMask = 0x32;           // presets 1, 4 and 5
    cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    SetFormats8Or12(cap, false, CurrentBoard() != nullptr);
}
