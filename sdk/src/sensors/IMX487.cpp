#include "IMX487.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)}, {110, GpioReset(29)}, {201, FpgaBitReset()}, {205, FpgaBitReset()}};

constexpr uint32_t kFull = 2848;  // the full window, square
constexpr uint32_t kMargin = 40;
constexpr uint16_t kRegMaster = 0x3010;   // 0: master start
constexpr uint16_t kRegReadout = 0x303C;  // readout mode
constexpr uint16_t kTriggerWidthOn = 0x0A;
constexpr uint32_t kSpeedFactor[] = {3, 2, 1};
constexpr double kMaxExposureUs = 3000000;

// clang-format off
constexpr uint16_t kTable16[] = {
    0x3014, 0xF0,  0x3015, 0xD2,  0x3016, 0x80,  0x3018, 0x18,  0x3019, 0x03,  0x301B, 0x2A,
    0x321C, 0x80,  0x321D, 0x05,  0x321E, 0x34,  0x321F, 0x01,  0x3220, 0x80,  0x3221, 0x05,
    0x3222, 0x34,  0x3223, 0x01,  0x3224, 0x80,  0x3225, 0x14,
};
constexpr uint16_t kTable4[] = {0x3521, 0x41,  0x3546, 0x10,  0x322B, 0x06,  0x3502, 0x08};
constexpr uint16_t kLanes4[] = {0x343C, 0xF0,  0x3444, 0x02,  0x3904, 0x02};
constexpr uint16_t kLanes0[] = {0x343C, 0xF0,  0x3444, 0x01,  0x3904, 0x00};
constexpr uint16_t kWidth8[] = {
    0x3200, 0x24,  0x3430, 0x02,  0x36E8, 0x1B,  0x4460, 0x6C,  0x4900, 0x44,  0x4908, 0x6E,
    0x35B4, 0x0F,  0x35B5, 0x00,
};
constexpr uint16_t kWidth12[] = {
    0x3200, 0x14,  0x3430, 0x01,  0x36E8, 0x13,  0x4900, 0x6C,  0x4908, 0x68,  0x35B4, 0xF0,
    0x35B5, 0x00,
};
constexpr uint16_t kFullWindow[] = {
    0x30D0, 0x28,  0x30D1, 0x0B,  0x30D2, 0x28,  0x30D3, 0x0B,  0x3104, 0x00,
};
// clang-format on
static_assert(std::size(kTable16) == 2 * 16 && std::size(kTable4) == 2 * 4);
static_assert(std::size(kWidth8) == 2 * 8 && std::size(kWidth12) == 2 * 7);

// Readout speed mode D: 0x30DC = D, then 0x3226/0x3227.
constexpr uint16_t kSpeedRows[4][2] = {{0xB0, 0x90}, {0xB0, 0xA0}, {0x08, 0xD1}, {0x08, 0xE1}};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// clang-format off
// Initialisation, 127 rows: 3 known, 121 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x303C, 0x02,  0x30D0, 0x28,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_8,
    QV_MAKER_ROW,
    0x4928, 0x00,  0x4929, 0x00,  0x4A34, 0x0A,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 127);

// The timing grid: 0x30E2, 0x30E3, 0x30E5 and 0x30E6 for 16 x (no mode flag) + 8 x (8-bit
// output) + 4 x (four lanes) + (3 - D). Entries 0 and 31 are known; 1 to 30 are the maker's.
constexpr uint16_t kGridRegs[4] = {0x30E2, 0x30E3, 0x30E5, 0x30E6};
struct GridEntry {
    bool known;
    uint8_t values[4];
};
constexpr GridEntry kGrid[32] = {
    {true, {0x08, 0x20, 0x08, 0x10}},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {true, {0x04, 0x14, 0x04, 0x08}},
};

constexpr uint32_t kFormats[] = {kMono8, kMono12};

uint32_t Down16(int v) {
    return static_cast<uint32_t>(v) & ~15u;
}

}  // namespace

CIMX487::CIMX487(SensorTypeE type, imginf* inf) : CImxHoldMap(type, inf, kMargin) {
    m_auxValue = 34;
    m_inputClock = 74250000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("IMX487", "CMOS_8M");
    // The AE target runs from 60 to 160 as in the rest of the Sony family.
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 22784,
               .maxWidth = kFull,
               .maxHeight = kFull,
               .reductionModeMask = 1});
    m_param.reductionModeMaskA = 1;
    SetPixelFormat(kBayerGR8);  // not listed: the chip's first format, Mono8
}

int CIMX487::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX487", type, info);
}

int CIMX487::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

bool CIMX487::Serves(int hw) const {
    return FindBoard(kBoards, hw) != nullptr;
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX487::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, 20);
}

int CIMX487::ApplyClock(int hw) {
    PllSetting pll = NoPll(74250000);
    if (hw == 100)
        pll = Pll({27, 1, 1, 1, 9, 13, 13, 6}, 74250000);
    else if (hw == 201)
        pll = Pll({18, 1, 1, 1, 12, 12, 6, 27}, 74250000);
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    m_laneBits = hw == 201 || hw == 205 ? 4 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::SetResolution(tSdkResolution* res) {
    if (res == nullptr) return CAMERA_STATUS_SUCCESS;
    m_resolution = *res;
    m_resolution.uWidth &= ~15u;
    m_resolution.uHeight &= ~15u;
    m_resolution.iSensorWidth = static_cast<INT>(Down16(res->iSensorWidth));
    m_resolution.iSensorHeight = static_cast<INT>(Down16(res->iSensorHeight));
    m_resolution.iOffsetX = static_cast<INT>(Down16(res->iOffsetX));
    m_resolution.iOffsetY = static_cast<INT>(Down16(res->iOffsetY));
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::WriteSpeedTables() {
    const uint16_t d = m_speedMode;
    int r = WriteSensorRegs({0x30DC, d, 0x3226, kSpeedRows[d][0], 0x3227, kSpeedRows[d][1]});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const unsigned index =
        (AnyModeFlag() ? 0 : 16) + (m_widthCode == 2 ? 8 : 0) + (m_laneBits == 4 ? 4 : 0) + (3 - d);
    const GridEntry& entry = kGrid[index];
    RegList list;
    for (int i = 0; i < 4; ++i) {
        if (entry.known)
            list.Add(kGridRegs[i], entry.values[i]);
        else
            list.Add(kPauseReg, 0);  // QV_MAKER_ROW
    }
    return WriteRegs(list);
}

int CIMX487::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_widthCode = m_bitMode == 32 ? 0 : 2;
    // The reset put the chip back to continuous exposure with its own frame.
    m_streaming = false;
    m_triggerWidth = false;
    m_longFrame = false;
    const int hw = GetHardwareType();
    if ((r = ApplyClock(hw)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_modeA = m_resolution.uModeA;
    m_modeB = m_resolution.uModeB;

    using List = std::span<const uint16_t>;
    for (List list : {List(kInit), List(kTable16), List(kTable4),
                      m_laneBits == 4 ? List(kLanes4) : List(kLanes0),
                      m_widthCode == 2 ? List(kWidth8) : List(kWidth12)}) {
        if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    const uint16_t readout = m_roiMode == 1 ? 10 : (m_modeA == 1 || m_modeB == 1) ? 18 : 2;
    WriteSensorReg(kRegReadout, readout);

    uint16_t offsetX = 0, offsetY = 68;
    if (m_width == kFull && m_height == kFull) {
        if ((r = WriteSensorRegs(kFullWindow)) != CAMERA_STATUS_SUCCESS) return r;
        m_baseFrameLength = 3012;
        offsetX = 8;
    } else {
        // The binning modes read the array in 5 + 148 steps, the others in 11 + 40.
        const uint16_t a = AnyModeFlag() ? 148 : 40, b = AnyModeFlag() ? 5 : 11;
        RegList window;
        window.Add(0x30D0, a).Add(0x30D1, b).Add(0x30D2, a).Add(0x30D3, b);
        AddWindow(window, m_roiX, m_roiY, m_width, m_height);
        WriteRegs(window);  // Init goes on with the chip's own window
        if (AnyModeFlag()) {
            m_baseFrameLength = 3012;
            offsetY = 36;
        } else {
            m_baseFrameLength = m_height + 204;
        }
    }
    SetFrameSpeed(param->frameSpeed);
    if ((r = WriteSpeedTables()) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    return SetupImageWindow(offsetX, offsetY, m_width, m_height, m_width, m_height,
                            kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CIMX487::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const bool wide = m_bitMode == 32;
    uint8_t mode;
    uint32_t line;
    if (hw == 100 || hw == 110) {
        mode = wide ? 1 : 0;
        line = wide ? 1296 : 648;
    } else {
        mode = 2;
        line = AnyModeFlag() ? (wide ? 1230 : 825) : (wide ? 1024 : 532);
    }
    // From the window's frame length each time, so speeds never multiply up.
    const uint32_t frame = std::min(m_baseFrameLength * kSpeedFactor[speed], kMaxFrameLength);
    RegList list;
    AddFrameLength(list, frame);
    AddLineLength(list, line);
    const int r = WriteRegs(list);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_speedMode = mode;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_longFrame = false;
    RecomputeTiming(m_inputClock);
    if (m_lineTimeUs > 0)
        m_param.expLinesMax = static_cast<uint32_t>(kMaxExposureUs / m_lineTimeUs);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::SetExposure(double us) {
    return ExposeFor(us);
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX487::StreamOn() {
    int r = WriteSensorReg(kRegStandby, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(1);
    if ((r = WriteSensorReg(kRegMaster, 0)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if (Serves(GetHardwareType()) &&
        (r = SetSensorInterface(WordBits() | kIfRun)) != CAMERA_STATUS_SUCCESS)
        return r;
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::StreamOff() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegStandby, 1);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegMaster, 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// The trigger modes count the exposure in microseconds of trigger pulse; continuous mode goes
// back to lines, with the range of the frame speed in force.
int CIMX487::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (Serves(GetHardwareType())) {
        const int r = ApplyTriggerControl(mode);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const int r = WriteSensorReg(kRegTriggerWidth, mode != 0 ? kTriggerWidthOn : 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (mode != 0) {
        m_triggerWidth = true;
        UsePulseRange();
    } else if (m_triggerWidth) {
        m_triggerWidth = false;
        UseLineRange(kMaxExposureUs);
    }
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::SoftTrigger() {
    if (Serves(GetHardwareType())) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX487::SetRoiOffset(int x, int y) {
    return WriteWindowStart(Down16(x), Down16(y));
}

void CIMX487::GetCapability(SensorCapability& cap) {
    cap.isMono = 1;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 34;  // "2848x2848"
    cap.presetMask = (uint64_t{1} << 34) | (uint64_t{1} << 35);
    cap.defaultBlackLevel = 60;
    SetFormats(cap, kFormats);
}
