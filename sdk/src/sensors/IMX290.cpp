#include "IMX290.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

// ---- Register map ------------------------------------------------------------------------------
// 16-bit register addresses, 8-bit data: bus 0x34, one data byte and two address bytes.
constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;

constexpr uint16_t kRegStandby = 0x3000;     // 1: standby
constexpr uint16_t kRegMaster = 0x3002;      // 1: master mode stopped
constexpr uint16_t kRegAdcBits = 0x3005;     // 1: 12-bit converter, 0: 10-bit
constexpr uint16_t kRegWindowMode = 0x3007;  // 0 full frame, 0x10 720p, 0x40 cropped window
constexpr uint16_t kRegReadout = 0x3009;     // readout rate in bits 0-1, high conversion gain bit 4
constexpr uint16_t kRegBlackLevel = 0x300A;
constexpr uint16_t kRegGain = 0x3014;  // 0.3 dB steps
constexpr uint8_t kReadoutHcg = 0x10;

constexpr RegField kVmax[] = {{0x3018, 0, 0xFF}, {0x3019, 8, 0xFF}, {0x301A, 16, 0x0F}};
constexpr RegField kHmax[] = {{0x301C, 0, 0xFF}, {0x301D, 8, 0xFF}};
constexpr RegField kShs1[] = {{0x3020, 0, 0xFF}, {0x3021, 8, 0xFF}, {0x3022, 16, 0x01}};
constexpr RegField kWindowX[] = {{0x3040, 0, 0xFF}, {0x3041, 8, 0x07}};
constexpr RegField kWindowWidth[] = {{0x3042, 0, 0xFF}, {0x3043, 8, 0x07}};
constexpr RegField kWindowY[] = {{0x303C, 0, 0xFF}, {0x303D, 8, 0x07}};
constexpr RegField kWindowHeight[] = {{0x303E, 0, 0xFF}, {0x303F, 8, 0x07}};
constexpr RegField kSerialHeight[] = {{0x3418, 0, 0xFF}, {0x3419, 8, 0xFF}};
constexpr RegField kSerialWidth[] = {{0x3472, 0, 0xFF}, {0x3473, 8, 0xFF}};

// The shutter counts back from the frame end (SHS1 = VMAX - lines); an exposure of a whole frame
// or more becomes the frame length itself with SHS1 0.
constexpr ShutterLayout kShutter{
    .frameLength = kVmax,
    .shutter = kShs1,
    .fitMargin = 1,
    .stretchExtra = 0,
    .stretchShutter = 0,
    .shutterOffset = 0,
    .restoreFirst = true,
    .maxFrameLength = 0xFFFFF,
};
constexpr uint32_t kMinLines = 2;
constexpr uint32_t kMaxLines = 0x3FFFF;  // 262143, the 18-bit exposure counter
constexpr uint32_t kMaxLineLength = 0xFFFF;

// The AST variants switch to the slow clock above 100 s and promise up to 1800 s.
constexpr double kSlowClockAboveUs = 100000000.0;
constexpr double kAstPromisedUs = 1800000000.0;

constexpr LogGainStep kGainStep{.stepTenthsDb = 3, .hcgThresholdDb = 30.0, .hcgDb = 6.0};

// ---- Register tables ---------------------------------------------------------------------------
// clang-format off
constexpr uint16_t kStart[] = {
    kRegStandby, 1,  kRegMaster, 1,  kPauseReg, 50,  0x3055, 0,
    kRegAdcBits, 1,  kRegWindowMode, 0,  kRegReadout, 0,
};
constexpr uint16_t kBlackLevelPair[] = {0x300A, 0,  0x300B, 0};

// Serial boards.
constexpr uint16_t kSerialFullFrame[] = {
    0x3007, 0,  0x3418, 0x49,  0x3419, 0x04,  0x3472, 0x9C,  0x3473, 0x07,
};
constexpr uint16_t kConverter12[] = {
    0x3005, 1,  0x3046, 1,  0x3129, 0,  0x317C, 0,  0x31EC, 0x0E,  0x3441, 0x0C,  0x3442, 0x0C,
};
constexpr uint16_t kConverter10[] = {
    0x3005, 0,  0x3046, 0,  0x3129, 0x1D,  0x317C, 0x12,  0x31EC, 0x37,  0x3441, 0x0A,
    0x3442, 0x0A,
};

// Parallel boards.
constexpr uint16_t kParallel[] = {
    0x300F, 0,     0x3010, 0x21,  0x3012, 0x64,  0x3016, 0x09,  0x3046, 0xE1,
    0x304B, 0x0A,  0x315E, 0x1A,  0x3164, 0x1A,  0x305C, 0x18,  0x305D, 0,
};
constexpr uint16_t kParallelPair[] = {0x305E, 0x20,  0x305F, 0x10};
// 720p mode: VMAX 750 (0x2EE), HMAX 0x672.
constexpr uint16_t k720pMode[] = {
    0x3007, 0x10,  0x3009, 0,  0x3018, 0xEE,  0x3019, 0x02,  0x301C, 0x72,  0x301D, 0x06,
};
// 360p skipping mode: VMAX 1125 (0x465), HMAX 0x898.
constexpr uint16_t k360pMode[] = {
    0x3009, 0,  0x3018, 0x65,  0x3019, 0x04,  0x301C, 0x98,  0x301D, 0x08,
};
constexpr uint16_t kClosing720p[] = {0x305C, 0x20,  0x3129, 0x1D,  0x317C, 0x12,  0x31EC, 0x37};
constexpr uint16_t kClosing[] = {0x305C, 0x18,  0x3129, 0,  0x317C, 0,  0x31EC, 0x0E};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Chip settings, 43 rows: 4 known, 37 from the maker, 2 known.
constexpr uint16_t kChipSettings[] = {
    0x3070, 0x02,  0x3071, 0x11,  0x309B, 0x10,  0x309C, 0x22,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_4, QV_MAKER_ROW,
    0x33B3, 0x04,  0x3480, 0x49,
};
// Serial-receiver settings of boards 106 and 204, 18 rows: 5 known, 9 from the maker, 4 known.
constexpr uint16_t kSerialTable[] = {
    0x300F, 0,  0x3010, 0x21,  0x3012, 0x64,  0x3013, 0,  0x3016, 0x09,
    QV_MAKER_ROWS_8, QV_MAKER_ROW,
    0x3443, 0x03,  0x3444, 0x20,  0x3445, 0x25,  0x3480, 0x49,
};
// Lane timing of the serial link (registers 0x3405 and 0x3446 to 0x3455) for the slow, middle
// and fast readout, 17 rows each: 3 known, 14 from the maker.
constexpr uint16_t kLaneT0[] = {
    0x3405, 0x20,  0x3446, 0x47,  0x3448, 0x1F,
    QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
constexpr uint16_t kLaneT1[] = {
    0x3405, 0x10,  0x3446, 0x57,  0x3448, 0x37,
    QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
constexpr uint16_t kLaneT2[] = {
    0x3405, 0x00,  0x3446, 0x77,  0x3448, 0x67,
    QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
// clang-format on
static_assert(std::size(kChipSettings) == 2 * 43 && std::size(kSerialTable) == 2 * 18);
static_assert(std::size(kLaneT0) == 2 * 17 && std::size(kLaneT1) == 2 * 17 &&
              std::size(kLaneT2) == 2 * 17);
constexpr const uint16_t* kLaneSets[] = {kLaneT0, kLaneT1, kLaneT2};

// ---- Frame speed -------------------------------------------------------------------------------
// One speed of a board group: the readout value (register 0x3009 bits 0-1), HMAX divided by
// hmaxDiv (floor), VMAX times vmaxNum / vmaxDen (floor), lowered to even when vmaxEven, HMAX
// raised to 1000 when hmaxMin1000, and the serial lane set (-1 none).
struct SpeedStep {
    uint8_t readout;
    uint8_t hmaxDiv;
    uint8_t vmaxNum;
    uint8_t vmaxDen;
    bool vmaxEven;
    bool hmaxMin1000;
    int8_t laneSet;
};
using SpeedRow = SpeedStep[3];  // speeds 0 (slowest), 1, 2 (fastest)

// clang-format off
//                                readout  /HMAX  xVMAX  even   HMAX>=1000  lanes
constexpr SpeedRow kSpeed10xA = {{2,      1,     1, 1,  false, false,      -1},
                                 {1,      2,     1, 1,  false, true,       -1},
                                 {0,      4,     1, 1,  false, true,       -1}};
constexpr SpeedRow kSpeed12xA = {{2,      1,     3, 1,  true,  false,      -1},
                                 {2,      1,     1, 1,  false, false,      -1},
                                 {1,      2,     1, 1,  false, false,      -1}};
constexpr SpeedRow kSpeed10xB = {{2,      1,     2, 1,  true,  false,      -1},
                                 {2,      1,     1, 1,  false, false,      -1},
                                 {1,      2,    60, 57, true,  true,       -1}};
constexpr SpeedRow kSpeed12xB = {{2,      1,     2, 1,  true,  false,      -1},
                                 {2,      1,     1, 1,  false, false,      -1},
                                 {2,      1,     1, 1,  false, false,      -1}};
constexpr SpeedRow kSpeedC    = {{2,      1,     3, 1,  true,  false,      -1},
                                 {2,      1,    30, 20, true,  false,      -1},
                                 {2,      1,     1, 1,  true,  true,       -1}};
constexpr SpeedRow kSpeedD    = {{2,      1,    30, 5,  true,  false,      -1},
                                 {2,      1,    30, 10, true,  false,      -1},
                                 {2,      1,    30, 23, true,  false,      -1}};
// The serial boards write the lane set first and always raise HMAX to 1000 after it.
constexpr SpeedRow kSpeedSerial1  = {{2,  1,     1, 1,  false, true,        0},
                                     {1,  2,     1, 1,  false, true,        1},
                                     {0,  4,     1, 1,  false, true,        2}};
constexpr SpeedRow kSpeedSerial2  = {{2,  1,     2, 1,  true,  true,        0},
                                     {2,  1,     1, 1,  false, true,        0},
                                     {1,  2,     1, 1,  false, true,        1}};
constexpr SpeedRow kSpeedSerial34 = {{2,  1,     3, 1,  true,  true,        0},
                                     {2,  1,    30, 20, true,  true,        0},
                                     {2,  1,     1, 1,  true,  true,        0}};
// clang-format on

// Frame-speed groups: A 102, 105, 108; B 201, 205; C 200, 202; D 4, 5, 9, 304; serial 106, 204.
enum class SpeedGroup : uint8_t { A, B, C, D, Serial };
enum class PllRule : uint8_t {
    Single,         // pll[0]
    BySpeed,        // pll[0] at speeds 0 and 1, else pll[1]
    ByTwelveBit,    // pll[0] with a 12-bit format, else pll[1]
    SerialBySpeed,  // pll[0] at speed 2 with one chip, pll[1] at 0, 1 or 2 with more, else none
};

}  // namespace

// ---- Boards ------------------------------------------------------------------------------------

struct CIMX290::Board {
    int hwType;
    ResetLine reset;
    PllRule pllRule;
    PllSetting pll[2];
    uint8_t waitMs[2];  // after the clock, in order
    uint16_t ifModeBits;
    bool triggerReset;    // SetTriggerControl (0, 0, 1, 0) after the interface word
    bool groupP;          // parallel boards with the 0xE0/0xF0 output formats
    uint16_t channelReg;  // serial boards: FPGA register of the channel mask
    SpeedGroup speed;
    PllSetting slow;  // AST slow clock; not present: the board keeps its clock
};

namespace {

using Board = CIMX290::Board;

// clang-format off
constexpr PllSetting kPll102Slow01 = Pll({24, 1, 2, 2, 13, 17, 13, 8}, 36705882);
constexpr PllSetting kPll102Fast   = Pll({24, 1, 1, 1, 10, 17, 13, 6}, 36705882);
constexpr PllSetting kPll106One    = Pll({24, 1, 1, 1, 10, 22, 13, 6}, 28363636);
constexpr PllSetting kPll108       = Pll({7, 5, 32, 0, 0, 0, 0, 0}, 36400000);
constexpr PllSetting kPll4         = Pll({26, 1, 2, 2, 13, 17, 13, 8}, 36705882);
constexpr PllSetting kPll304x12    = Pll({13, 1, 12, 7, 33, 13, 13, 13}, 18352941);
constexpr PllSetting kPll304       = Pll({13, 1, 12, 7, 16, 13, 13, 13}, 36705882);
constexpr PllSetting kPll9x12      = Pll({3, 8, 48, 0, 0, 0, 0, 0}, 18000000);
constexpr PllSetting kPll9         = Pll({3, 4, 16, 0, 0, 0, 0, 0}, 36000000);
constexpr PllSetting kPll201       = Pll({18, 1, 2, 2, 18, 16, 4, 27}, 36000000);
constexpr PllSetting kPll200       = Pll({18, 1, 2, 2, 18, 16, 36, 36}, 36000000);
constexpr PllSetting kPll204       = Pll({18, 1, 2, 2, 40, 16, 20, 27}, 16200000);
// The AST slow clocks: 4 MHz in (a 16 MHz counting clock), 4.33 MHz on board 108.
constexpr PllSetting kSlow102      = Pll({12, 1, 1, 1, 5, 78, 6, 3}, 4000000);
constexpr PllSetting kSlow108      = Pll({1, 6, 128, 0, 0, 0, 0, 0}, 4333333);
constexpr PllSetting kSlow4        = Pll({12, 1, 1, 1, 6, 72, 6, 12}, 4000000);
constexpr PllSetting kSlow304      = Pll({5, 1, 5, 3, 71, 12, 12, 12}, 4000000);
constexpr PllSetting kSlow9        = Pll({1, 12, 128, 0, 0, 0, 0, 0}, 4000000);
// clang-format on

}  // namespace

// clang-format off
static constexpr Board kBoards[] = {
//   hw   reset              clock rule              clocks                         waits ms  ifMode trigger P      channel speed               AST slow clock
    {102, GpioReset(28),     PllRule::BySpeed,       {kPll102Slow01, kPll102Fast},  {20, 0},  0,     true,   true,  0,  SpeedGroup::A,      kSlow102},
    {105, GpioReset(28),     PllRule::BySpeed,       {kPll102Slow01, kPll102Fast},  {20, 0},  0,     true,   true,  0,  SpeedGroup::A,      kSlow102},
    {108, GpioReset(29),     PllRule::Single,        {kPll108},                     {20, 0},  0,     true,   true,  0,  SpeedGroup::A,      kSlow108},
    {106, GpioReset(28),     PllRule::SerialBySpeed, {kPll106One, kPll102Fast},     {20, 0},  4,     true,   false, 40, SpeedGroup::Serial, NoPll()},
    {4,   GpioReset(23),     PllRule::Single,        {kPll4},                       {20, 0},  12,    true,   false, 0,  SpeedGroup::D,      kSlow4},
    {5,   GpioReset(23),     PllRule::Single,        {kPll4},                       {20, 0},  0,     true,   true,  0,  SpeedGroup::D,      NoPll()},
    {304, GpioReset(23),     PllRule::ByTwelveBit,   {kPll304x12, kPll304},         {0, 0},   12,    false,  false, 0,  SpeedGroup::D,      kSlow304},
    {9,   GpioReset(23),     PllRule::ByTwelveBit,   {kPll9x12, kPll9},             {0, 0},   12,    false,  false, 0,  SpeedGroup::D,      kSlow9},
    {201, FpgaBitReset(),    PllRule::Single,        {kPll201},                     {10, 20}, 4,     true,   true,  0,  SpeedGroup::B,      NoPll()},
    {205, FpgaBitReset(),    PllRule::Single,        {NoPll(36000000)},             {20, 0},  4,     true,   true,  0,  SpeedGroup::B,      NoPll()},
    {200, FpgaBitReset(),    PllRule::Single,        {kPll200},                     {10, 20}, 12,    true,   false, 0,  SpeedGroup::C,      NoPll()},
    {202, FpgaBitReset(),    PllRule::Single,        {kPll200},                     {10, 20}, 12,    true,   false, 0,  SpeedGroup::C,      NoPll()},
    {204, FpgaBitReset(),    PllRule::Single,        {kPll204},                     {10, 20}, 4,     true,   false, 37, SpeedGroup::Serial, NoPll()},
};
// clang-format on

namespace {

bool IsSerial(const Board& board) {
    return board.speed == SpeedGroup::Serial;
}

const PllSetting* ClockFor(const Board& board, int speed, bool twelveBit, uint8_t channels) {
    switch (board.pllRule) {
        case PllRule::Single:
            return &board.pll[0];
        case PllRule::BySpeed:
            return speed == 0 || speed == 1 ? &board.pll[0] : &board.pll[1];
        case PllRule::ByTwelveBit:
            return twelveBit ? &board.pll[0] : &board.pll[1];
        case PllRule::SerialBySpeed:
            if (speed == 2 && channels == 1) return &board.pll[0];
            return speed >= 0 && speed <= 2 ? &board.pll[1] : nullptr;
    }
    return nullptr;
}

const SpeedRow& SpeedRowFor(const Board& board, bool twelveBit, uint8_t channels) {
    switch (board.speed) {
        case SpeedGroup::A:
            return twelveBit ? kSpeed12xA : kSpeed10xA;
        case SpeedGroup::B:
            return twelveBit ? kSpeed12xB : kSpeed10xB;
        case SpeedGroup::C:
            return kSpeedC;
        case SpeedGroup::D:
            return kSpeedD;
        case SpeedGroup::Serial:
            break;
    }
    return channels <= 1 ? kSpeedSerial1 : channels == 2 ? kSpeedSerial2 : kSpeedSerial34;
}

// Counting clock of the line time: four times the input clock.
uint32_t CountingClock(uint32_t inputClock) {
    return 4 * (inputClock & 0x7FFFFFF);
}

}  // namespace

// ---- Construction and identity -------------------------------------------------------------

CIMX290::CIMX290(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 15;
    m_pixelClock = 146824000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 3000000,
               .expLinesMax = 8640,
               .maxWidth = 1920,
               .maxHeight = 1080,
               .reductionModeMask = 7});
    // The mono variants have no 8-bit Bayer format and take their own first format.
    SetPixelFormat(kBayerGR8);
}

int CIMX290::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX290", type, info);
}

int CIMX290::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

const CIMX290::Board* CIMX290::CurrentBoard() {
    return FindBoard(kBoards, GetHardwareType());
}

bool CIMX290::IsAst() const {
    return m_sensorType == SENSOR_TYPE_IMX290C_AST || m_sensorType == SENSOR_TYPE_IMX290M_AST;
}

// ---- Reset and initialisation ----------------------------------------------------------------

int CIMX290::Reset() {
    const Board* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX290::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const Board& board = *CurrentBoard();
    SetPixelFormat(param->mediaType);
    m_streaming = false;
    m_savedLineLength = 0;
    m_adc10Bit = TwelveBit() || board.hwType == 304 || board.hwType == 9 ? 0 : 1;

    // Clock and FPGA interface.
    m_slowClock = false;
    m_channelCount = 1;
    if (IsSerial(board)) {
        r = TakeChannelMask(*param, m_channelCount, board.channelReg);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    if (const PllSetting* pll = ClockFor(board, param->frameSpeed, TwelveBit(), m_channelCount)) {
        if ((r = ApplyPll(*pll)) != CAMERA_STATUS_SUCCESS) return r;
    }
    for (uint8_t ms : board.waitMs)
        if (ms != 0) Pause(ms);
    m_ifModeBits = board.ifModeBits;
    r = SetSensorInterface(m_adc10Bit | m_bitMode | kIfSetup | m_ifModeBits);
    if (r == CAMERA_STATUS_SUCCESS && board.triggerReset) r = SetTriggerControl(0, 0, 1, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    SetResolution(&param->resolution);
    ApplyResolution();

    if ((r = WriteSensorRegs(kStart)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kBlackLevelPair)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kChipSettings)) != CAMERA_STATUS_SUCCESS) return r;

    r = IsSerial(board) ? InitSerial(*param) : InitParallel(board, *param);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    // Starting values; a failure here shows at the first setter call again.
    SetAnalogGain(1000);
    SetExposureLines(2000);
    return CAMERA_STATUS_SUCCESS;
}

void CIMX290::WindowLengths(uint32_t& widthPadded, uint32_t& heightPadded) {
    widthPadded = (m_width + 8) & ~3u;
    heightPadded = (m_height + 8) & ~3u;
    m_baseLineLength = std::max(2000u, 2 * widthPadded + 560);
    m_baseFrameLength = std::max(563u, heightPadded + 55);
}

int CIMX290::WriteWindow(uint32_t widthPadded, uint32_t heightPadded) {
    RegList list;
    list.Add(kWindowX, m_roiX).Add(kWindowWidth, std::max(widthPadded, 368u));
    list.Add(kWindowY, m_roiY).Add(kWindowHeight, std::max(heightPadded, 304u));
    return WriteRegs(list);
}

int CIMX290::InitSerial(const CameraInitParam& param) {
    int r = WriteSensorRegs(kSerialTable);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_pixelClock = CountingClock(m_inputClock);
    m_fpgaOffsetX = 1;
    m_fpgaOffsetY = 0;
    if (m_width == 1920 && m_height == 1080) {
        r = WriteSensorRegs(kSerialFullFrame);
        m_baseLineLength = 4400;
        m_baseFrameLength = 1125;
    } else {
        r = WriteSensorReg(kRegWindowMode, 0x40);
        uint32_t w = 0, h = 0;
        WindowLengths(w, h);
        if (r == CAMERA_STATUS_SUCCESS) {
            r = WriteRegs(RegList()
                              .Add(kSerialHeight, std::max(h, 304u))
                              .Add(kSerialWidth, std::max(w, 368u) + 28));
        }
        if (r == CAMERA_STATUS_SUCCESS) r = WriteWindow(w, h);
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = m_baseLineLength;
    m_frameLength = m_baseFrameLength;
    if ((r = WriteSensorRegs(m_adc10Bit ? kConverter10 : kConverter12)) != CAMERA_STATUS_SUCCESS)
        return r;
    m_ifRoiBits = 0;
    if ((r = SetFrameSpeed(param.frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    return SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_channelCount * m_width, m_height,
                            m_fovWidth, m_fovHeight, kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param.transferMode)));
}

int CIMX290::InitParallel(const Board& board, const CameraInitParam& param) {
    int r = WriteSensorRegs(kParallel);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(kParallelPair);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_pixelClock = CountingClock(m_inputClock);
    Pause(50);

    const bool p = board.groupP;
    const uint16_t bits12 = m_adc10Bit ? 0 : 1;
    const bool fixedModes =
        m_sensorType == SENSOR_TYPE_IMX290C || m_sensorType == SENSOR_TYPE_IMX290M;
    if (fixedModes && m_width == 1280 && m_height == 720) {
        r = WriteSensorRegs(k720pMode);
        if (r == CAMERA_STATUS_SUCCESS) {
            r = WriteRegs({kRegAdcBits, bits12, 0x3046,
                           static_cast<uint16_t>(p ? 0xE0 | bits12 : bits12), 0x305D, 0});
        }
        m_ifModeBits = p ? 4 : 12;
        m_fpgaOffsetY = m_roiY + (p ? 13 : 14);
        m_fpgaOffsetX = m_roiX + 13;
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(kClosing720p);
        m_baseLineLength = 6600;
        m_baseFrameLength = 750;
    } else if (fixedModes && m_width == 640 && m_height == 360 && m_roiMode == 2) {
        r = WriteSensorReg(kRegWindowMode, 0);
        m_fpgaOffsetY = p ? 13 : 28;
        m_fpgaOffsetX = 13;
        m_baseLineLength = 4400;
        m_baseFrameLength = 1125;
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(k360pMode);
        if (r == CAMERA_STATUS_SUCCESS) {
            r = WriteRegs({kRegAdcBits, bits12, 0x3046,
                           static_cast<uint16_t>(p ? 0xF0 | bits12 : bits12), 0x305D, 0});
        }
        m_ifModeBits = p ? 0 : 12;
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(kClosing);
    } else if (m_width == 1920 && m_height == 1080) {
        r = WriteSensorReg(kRegWindowMode, 0);
        m_fpgaOffsetY = p ? 13 : 28;
        m_fpgaOffsetX = 13;
        m_baseLineLength = 4400;
        m_baseFrameLength = 1125;
        if (r == CAMERA_STATUS_SUCCESS) r = WriteConverter(board);
    } else {
        r = WriteSensorReg(kRegWindowMode, 0x40);
        m_fpgaOffsetY = p ? 13 : 12;
        m_fpgaOffsetX = p ? 3 : 1;
        uint32_t w = 0, h = 0;
        WindowLengths(w, h);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteWindow(w, h);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteConverter(board);
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = m_baseLineLength;
    m_frameLength = m_baseFrameLength;

    if ((r = SetFrameSpeed(param.frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    r = SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_fovWidth, m_fovHeight,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param.transferMode)));
    m_ifRoiBits = m_roiMode == 2 ? 0x2000 : 0;
    return r;
}

// The converter bits and output format of the full-frame and cropped windows.
int CIMX290::WriteConverter(const Board& board) {
    const uint16_t bits12 = m_adc10Bit ? 0 : 1;
    int r = WriteSensorReg(kRegAdcBits, bits12);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    uint16_t format = bits12;
    if (board.groupP) {
        format |= m_ifModeBits == 0 ? 0xF0 : 0xE0;
    } else {
        m_ifModeBits = 12;
    }
    if ((r = WriteRegs({0x3046, format, 0x305D, 0})) != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorRegs(kClosing);
}

// ---- Timing ------------------------------------------------------------------------------------

int CIMX290::SetFrameSpeed(int speed) {
    const Board* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const SpeedStep& step = SpeedRowFor(*board, TwelveBit(), m_channelCount)[speed];

    // Always from the window's own lengths, so that speeds never compound.
    uint32_t hmax = m_baseLineLength / step.hmaxDiv;
    uint32_t vmax = m_baseFrameLength * step.vmaxNum / step.vmaxDen;
    if (step.vmaxEven) vmax = Even(vmax);
    if (step.laneSet >= 0) {
        const int r = WriteSensorRegs(std::span<const uint16_t>(kLaneSets[step.laneSet], 2 * 17));
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    if (step.hmaxMin1000) hmax = std::max(hmax, 1000u);
    m_lineLength = hmax;
    m_frameLength = vmax;
    m_savedLineLength = 0;  // the fresh HMAX replaces any stretch
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lastFrameSpeed = speed;
    m_readoutReg = static_cast<uint8_t>((m_readoutReg & ~3u) | step.readout);

    int r = WriteSensorReg(kRegReadout, m_readoutReg);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteRegs(RegList().Add(kVmax, vmax).Add(kHmax, hmax));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_longFrame = false;
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

void CIMX290::UpdateTiming() {
    RecomputeTiming(m_pixelClock);
    // The AST exposure limit: what the slow clock can really reach, at most the promised 1800 s.
    if (IsAst() && m_lineTimeUs > 0) {
        const double limitUs = std::min(kAstPromisedUs, LongestExposureUs());
        m_param.expLinesMax = static_cast<uint32_t>(limitUs / m_lineTimeUs);
    }
}

// The longest exposure the AST procedure can program: 262143 lines of the longest line the
// 16-bit HMAX gives at the slow counting clock. At 16 MHz a line is at most 65535 x 62.5 ns =
// 4.096 ms, so 262143 lines make 1073.7 s; boards that keep their clock reach less.
double CIMX290::LongestExposureUs() {
    const Board* board = CurrentBoard();
    const uint32_t clock = board != nullptr && board->slow.present
                               ? CountingClock(board->slow.inputClock)
                               : CountingClock(m_inputClock);
    if (clock == 0) return kAstPromisedUs;
    return static_cast<double>(kMaxLines) * kMaxLineLength * 1e6 / clock;
}

// ---- Exposure ----------------------------------------------------------------------------------

int CIMX290::SetExposureLines(uint32_t lines) {
    lines = std::clamp(lines, kMinLines, kMaxLines);
    RecordExposureLines(lines);
    return WriteShutter(kShutter, lines, m_frameLength, m_longFrame);
}

int CIMX290::SwitchClock(const Board& board, bool slow) {
    if (board.slow.present) {
        const PllSetting* pll =
            slow ? &board.slow : ClockFor(board, m_lastFrameSpeed, TwelveBit(), m_channelCount);
        if (pll != nullptr) {
            const int r = ApplyPll(*pll);
            if (r != CAMERA_STATUS_SUCCESS) return r;
        }
    }
    m_pixelClock = CountingClock(m_inputClock);
    m_slowClock = slow;
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::StretchLineLength(double us, bool atLongest) {
    if (m_savedLineLength == 0) m_savedLineLength = m_lineLength;
    uint32_t hmax = kMaxLineLength;
    if (!atLongest && m_pixelPeriodNs > 0) {
        const double h = us * 1000.0 / kMaxLines / m_pixelPeriodNs;
        if (h < kMaxLineLength) hmax = static_cast<uint32_t>(h);
    }
    const int r = WriteRegs(RegList().Add(kHmax, hmax));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_lineLength = hmax;
    UpdateTiming();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::SetExposure(double us) {
    if (!IsAst()) return SetExposureLines(LinesForUs(us, kMinLines));

    // Beyond the longest programmable exposure, program that one (and report it).
    const double longest = LongestExposureUs();
    const bool atLongest = us >= longest;
    if (atLongest) us = longest;

    const Board* board = CurrentBoard();
    bool switched = false;
    const bool wantSlow = us > kSlowClockAboveUs;
    if (board != nullptr && wantSlow != m_slowClock) {
        const int r = SwitchClock(*board, wantSlow);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        switched = true;
    }
    auto rawLines = [&] { return m_lineTimeNs > 0 ? us * 1000.0 / m_lineTimeNs + 0.5 : 0.0; };
    double n = rawLines();
    if (!switched) {
        const uint32_t lines = std::min(LinesForUs(us, 0), kMaxLines);
        if ((n >= kMinLines && lines == m_expLines) || (n < kMinLines && m_expLines == kMinLines))
            return CAMERA_STATUS_SUCCESS;
    }

    // The line length changes below only with the sensor stopped; a paused stream stays paused.
    auto change = [&] {
        int r = CAMERA_STATUS_SUCCESS;
        bool stretch = n >= kMaxLines;
        if (!stretch && m_savedLineLength != 0) {
            r = WriteRegs(RegList().Add(kHmax, m_savedLineLength));
            if (r == CAMERA_STATUS_SUCCESS) {
                m_lineLength = m_savedLineLength;
                m_savedLineLength = 0;
                UpdateTiming();
                n = rawLines();
                stretch = n > kMaxLines;
            }
        }
        if (r == CAMERA_STATUS_SUCCESS && stretch) r = StretchLineLength(us, atLongest);
        if (r == CAMERA_STATUS_SUCCESS) r = SetExposureLines(LinesForUs(us, kMinLines));
        return r;
    };
    // A failed stop or restart shows at the next stream call; the exposure's status is the
    // result.
    return WhileStopped([&] { return StreamOff(), CAMERA_STATUS_SUCCESS; }, change,
                        [&] { return StreamOn(), CAMERA_STATUS_SUCCESS; });
}

// ---- Gain and black level --------------------------------------------------------------------

int CIMX290::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const LogGainCode code = EncodeLogGain(gain, kGainStep);
    const uint8_t readout = static_cast<uint8_t>(code.highConversion ? m_readoutReg | kReadoutHcg
                                                                     : m_readoutReg & ~kReadoutHcg);
    int r = WriteSensorReg(kRegGain, code.code & 0xFF);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code.code;
    m_readoutReg = readout;
    if ((r = WriteSensorReg(kRegReadout, m_readoutReg)) != CAMERA_STATUS_SUCCESS) return r;
    // Below unity the chip stays at unity (code 0); report what is in force.
    m_gain = std::max(gain, 1000u);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    return IsAst() ? WriteSensorReg(kRegBlackLevel, level & 0xFF) : CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger -------------------------------------------------------------------

int CIMX290::StreamOn() {
    if (CurrentBoard() != nullptr) {
        int r = WriteSensorReg(kRegStandby, 0);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        Pause(50);
        if ((r = WriteSensorReg(kRegMaster, 0)) != CAMERA_STATUS_SUCCESS) return r;
        r = SetSensorInterface(m_ifRoiBits | InterfaceBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::StreamOff() {
    if (CurrentBoard() != nullptr) {
        int r = SetSensorInterface(InterfaceBits() | kIfStop);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        Pause(10);
        if ((r = WriteSensorReg(kRegStandby, 1)) != CAMERA_STATUS_SUCCESS) return r;
        if ((r = WriteSensorReg(kRegMaster, 1)) != CAMERA_STATUS_SUCCESS) return r;
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::SetTriggerMode(int mode) {
    if (CurrentBoard() == nullptr) return CAMERA_STATUS_SUCCESS;
    return ApplyTriggerMode(mode, 10, 0xFFFF);
}

int CIMX290::SoftTrigger() {
    const Board* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (board->hwType != 105 && board->hwType != 108) return SendSoftTrigger();
    // These two boards take a trigger only with the sensor restarted around it.
    StreamOff();
    const int r = SendSoftTrigger();
    StreamOn();
    return r;
}

// ---- Window and image ------------------------------------------------------------------------

int CIMX290::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const Board* board = CurrentBoard();
    if (board != nullptr && IsSerial(*board)) {
        info->iWidth = m_channelCount * m_width;
        info->TotalBytes = info->iWidth * m_height;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyResolution();
    const bool fixedModes =
        m_sensorType == SENSOR_TYPE_IMX290C || m_sensorType == SENSOR_TYPE_IMX290M;
    if (fixedModes && m_width == 1280 && m_height == 720) return CAMERA_STATUS_SUCCESS;
    if (m_width == 1920 && m_height == 1080) return CAMERA_STATUS_SUCCESS;

    // Only the window start moves. The window's base lengths are refreshed for the next speed
    // change, while the lengths in force (and the shutter arithmetic on them) stay what the chip
    // runs with.
    uint32_t w = 0, h = 0;
    WindowLengths(w, h);
    // Stop and run bracket the move while streaming; a paused stream stays paused.
    const bool bracket = CurrentBoard() != nullptr && m_streaming;
    int r = bracket ? SetSensorInterface(InterfaceBits() | kIfStop) : CAMERA_STATUS_SUCCESS;
    if (r == CAMERA_STATUS_SUCCESS) r = WriteWindow(w, h);
    if (r == CAMERA_STATUS_SUCCESS && bracket)
        r = SetSensorInterface(m_ifRoiBits | InterfaceBits() | kIfRun);
    return r;
}

// ---- Capability --------------------------------------------------------------------------------

void CIMX290::GetCapability(SensorCapability& cap) {
    const int hw = GetHardwareType();
    const bool mono =
        m_sensorType == SENSOR_TYPE_IMX290M_AST || m_sensorType == SENSOR_TYPE_IMX290M;
    const bool serial = hw == 106 || hw == 204;
    const bool withCrop =
        m_sensorType == SENSOR_TYPE_IMX290C || m_sensorType == SENSOR_TYPE_IMX290M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 15;  // "1920X1080"
    // Presets 8 ("320X240 crop") and 15, plus 4 ("1280X720") where the 720p mode exists; the mono
    // chips on the serial boards offer the full frame only.
    if (mono && serial) {
        cap.presetMask = 0x8000;
    } else {
        cap.presetMask = withCrop ? 0x8110 : 0x8100;
    }
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 181;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 198;
    }
    if (serial) {
        SetFormats(cap, kColour8);
    } else {
        // A board of unknown model (0): the 8-bit format only, for the AST variants as for the
        // others.
        SetFormats8Or12(cap, mono, hw != 0);
    }
}
