#include "IMX226.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},  {110, GpioReset(29)},  {201, FpgaBitReset()},
    {203, FpgaBitReset()}, {205, FpgaBitReset()},
};

constexpr uint32_t kMinLines = 4;
constexpr uint32_t kShutterMargin = 8;  // a long exposure is a frame of n + 8 lines
// The FPGA's frame count holds 14 bits; longer frames count every 2nd (divider code 2) or 4th
// (code 3) line, which makes 0x3FFF x 4 - 8 = 65524 lines the longest exposure.
constexpr uint32_t kFrameCountMax = 0x3FFF;
constexpr uint32_t kLongestExposure = kFrameCountMax * 4 - kShutterMargin;

constexpr int32_t kPresetFull = 24;  // "4000X3000"

// clang-format off
constexpr uint16_t kClear[] = {0x0D, 0,  0x0E, 0,  0x0F, 0,  0x10, 0};
constexpr uint16_t kClamp[] = {0x0B, 0x11,  0x0C, 0x0D};
constexpr uint16_t kGainClear[] = {0x11, 0,  0x09, 0,  0x0A, 0};
constexpr uint16_t kBlack[] = {0x45, 0};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Main settings, 32 rows: 3 known, 26 from the maker, 3 known.
constexpr uint16_t kMain[] = {
    0x04D, 0x10,  0x054, 4,  0x057, 0x24,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROWS_2,
    0x65C, 7,  0x700, 0x19,  0x701, 0x19,
};
// Mode lists of 12-bit (0x05 = 7) and 8-bit (0x05 = 1) output, 50 rows each (0x04 to 0xCE):
// row 2 known, the others from the maker.
constexpr uint16_t kMode12[] = {
    QV_MAKER_ROW,  0x05, 7,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_16,
};
constexpr uint16_t kMode8[] = {
    QV_MAKER_ROW,  0x05, 1,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_16,
};
// clang-format on
static_assert(std::size(kMain) == 2 * 32);
static_assert(std::size(kMode12) == 2 * 50 && std::size(kMode8) == 2 * 50);

struct ClockRow {
    PllSetting pll;
    bool pause;
};

ClockRow ClockFor(int hw, bool twelveBit) {
    switch (hw) {
        case 100:
            return {twelveBit ? Pll({24, 1, 1, 1, 10, 18, 13, 6}, 34666666)
                              : Pll({24, 1, 1, 1, 8, 9, 13, 6}, 69333333),
                    true};
        case 110:
            return {NoPll(72000000), false};
        case 205:
            return {NoPll(48000000), false};
        default:  // 201, 203
            return {twelveBit ? Pll({18, 1, 2, 2, 54, 12, 5, 27}, 12000000)
                              : Pll({18, 1, 2, 2, 27, 12, 5, 27}, 24000000),
                    true};
    }
}

constexpr CIMX183Family::Chip kChip{kBoards, 3000, 4000, 96000};

}  // namespace

CIMX226::CIMX226(SensorTypeE type, imginf* inf) : CIMX183Family(type, inf, kChip) {
    m_auxValue = 24;
    SetInstanceInfo("IMX226", "CMOS_12M");
    // The mono variant has no Bayer format and takes its own first one.
    SetPixelFormat(kBayerGR8);
}

int CIMX226::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX226", type, info);
}

int CIMX226::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

// The FPGA cuts the window: it skips the chip's margins and the window start.
void CIMX226::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetY = m_roiY + 58;
    m_fpgaOffsetX = m_roiX + 133;
}

int CIMX226::ApplyClock() {
    const int hw = GetHardwareType();
    const ClockRow clock = ClockFor(hw, m_bitMode == 32);
    const int r = ApplyPll(clock.pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (clock.pause) Pause(10);
    m_pixelClock = clock.pll.inputClock;
    m_laneBits = hw == 205 ? 4 : 12;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX226::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_lowBit = m_bitMode != 32 ? 1 : 0;
    m_longExposure = false;
    if ((r = ApplyClock()) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSetupWord()) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();

    using List = std::span<const uint16_t>;
    for (List list : {List(kClear), List(kClamp), List(kGainClear), List(kMain)}) {
        if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    r = m_lowBit == 0 ? WriteModeList(kMode12, 780, 3080) : WriteModeList(kMode8, 1560, 3080);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kBlack)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteLaneMode()) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = StartChip(0x11)) != CAMERA_STATUS_SUCCESS) return r;

    SetFrameSpeed(param->frameSpeed);
    if ((r = WriteFrameTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    return FinishInit(*param);
}

void CIMX226::ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) {
    if (speed == 0) frameLength *= 3;
    if (speed == 1) frameLength = frameLength * 3 / 2;
    if (m_bitMode == 32 && IsOneOf(GetHardwareType(), {110, 205})) lineLength *= 2;
}

// What the long-exposure path can program, not more.
uint32_t CIMX226::MaxExposureLines() const {
    return std::min(m_frameLength * 32 - 10, kLongestExposure);
}

int CIMX226::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::max(lines, kMinLines);
    RecordExposureLines(lines);
    if (lines + uint64_t{kShutterMargin} > m_frameLength) {
        // The FPGA frame of n + 8 lines, counted in lines, every 2nd or every 4th line.
        const uint64_t frame = lines + uint64_t{kShutterMargin};
        uint32_t t = 0, shift = 0;
        uint16_t divider = 0;
        if (frame <= kFrameCountMax) {
            t = static_cast<uint32_t>(frame);
        } else if ((frame >> 1) <= kFrameCountMax) {
            t = static_cast<uint32_t>(frame >> 1), shift = 1, divider = 2;
        } else {
            t = static_cast<uint32_t>(std::min<uint64_t>(frame >> 2, kFrameCountMax));
            shift = 2, divider = 3;
        }
        int r = WriteFrameTiming(t, m_lineLength);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteRegs({0x0B, 8, 0x0C, 0, 0x0D, divider, 0x0E, 0});
        if (r != CAMERA_STATUS_SUCCESS) return r;
        m_longExposure = true;
        // The frame the FPGA counts, less the shutter margin, is what the chip exposes.
        RecordExposureLines((t << shift) - kShutterMargin);
        return CAMERA_STATUS_SUCCESS;
    }
    const uint32_t s = m_frameLength - lines;
    RegList shutter{0x0B, static_cast<uint16_t>(s & 0xFF), 0x0C,
                    static_cast<uint16_t>((s >> 8) & 0xFF)};
    // Back in one frame, the divider of the long exposure goes too.
    if (m_longExposure) shutter.Add(0x0D, 0);
    int r = WriteRegs(shutter);
    if (r == CAMERA_STATUS_SUCCESS && m_longExposure) {
        r = WriteFrameTiming(m_frameLength, m_lineLength);
        if (r == CAMERA_STATUS_SUCCESS) m_longExposure = false;
    }
    return r;
}

int CIMX226::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    return WriteSensorReg(0x45, level & 0xFF);
}

void CIMX226::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_IMX226M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = kPresetFull;
    cap.presetMask = uint64_t{1} << kPresetFull;
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 204;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 176;
    }
    const bool served = OnItsBoard();
    SetFormats8Or12(cap, mono, served);
}
