#include "IMX183.h"

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

constexpr RegField kFrameCount[] = {{0x0D, 0, 0xFF}, {0x0E, 8, 0xFF}};
constexpr RegField kShutter[] = {{0x0C, 8, 0xFF}, {0x0B, 0, 0xFF}};  // high byte first
constexpr FrameCountLayout kExposure{kFrameCount, kShutter, 7, true};
constexpr uint32_t kMinLines = 4;

// Preset 22 is the full 5472 x 3648 frame, 27 the 2736 x 1824 binned one.
constexpr int32_t kPresetFull = 22;
constexpr int32_t kPresetBinned = 27;

// clang-format off
constexpr uint16_t kClear[] = {0x0D, 0,  0x0E, 0,  0x0F, 0,  0x10, 0,  0x08, 0};
constexpr uint16_t kClamp[] = {0x0B, 0x11,  0x0C, 0x0D};
constexpr uint16_t kGainClear[] = {0x11, 0,  0x09, 0,  0x0A, 0};
constexpr uint16_t kBlack[] = {0x45, 0};
constexpr uint16_t kNoWindow[] = {0x6F, 0,  0x70, 0,  0x71, 0,  0x72, 0};
// Mode lists: the full frame, the binned frame, other windows.
constexpr uint16_t kModeFull[]   = {0x04, 0,     0x05, 3,     0x06, 0x10,  0x07, 0,  0x08, 0,  0x1A, 0};
constexpr uint16_t kModeBinned[] = {0x04, 0x19,  0x05, 0x11,  0x06, 0x50,  0x07, 0,  0x08, 0,  0x1A, 0};
constexpr uint16_t kModeOther[]  = {0x04, 0x54,  0x05, 0x41,  0x06, 0,     0x07, 0,  0x08, 0,  0x1A, 0};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Main settings, 27 rows: 3 known, 19 from the maker, 5 known.
constexpr uint16_t kMain[] = {
    0x058, 0x37,  0x05A, 0x2B,  0x312, 0x11,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0x5D1, 0x16,  0x5D2, 0x15,  0x5D3, 0x14,  0x65C, 1,  0x65E, 1,
};
// clang-format on
static_assert(std::size(kMain) == 2 * 27);

struct ClockRow {
    PllSetting pll;
    bool pause;  // 10 ms after the clock (or in its place)
};

// Clock of a board: on 100 by window (full frame or not) and bit depth.
ClockRow ClockFor(int hw, bool fullFrame, bool twelveBit) {
    if (hw == 100) {
        const uint8_t m = fullFrame ? (twelveBit ? 36 : 18) : (twelveBit ? 44 : 22);
        const uint32_t hz =
            fullFrame ? (twelveBit ? 36111111 : 72222222) : (twelveBit ? 29545454 : 59090909);
        return {Pll({50, 1, 2, 2, 13, m, 13, 10}, hz), true};
    }
    if (hw == 110) return {NoPll(72000000), false};
    if (hw == 205) return {NoPll(48000000), true};
    return {Pll({18, 1, 1, 1, 30, 12, 4, 27}, 21600000), true};  // 201, 203
}

constexpr CIMX183Family::Chip kChip{kBoards, 3648, 5472, 29184};

}  // namespace

CIMX183::CIMX183(SensorTypeE type, imginf* inf) : CIMX183Family(type, inf, kChip) {
    m_auxValue = 22;
    SetInstanceInfo("IMX183", "CMOS_20M");
    // The mono variant has no Bayer format and takes its own first one.
    SetPixelFormat(kBayerGR8);
}

int CIMX183::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX183", type, info);
}

int CIMX183::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183::ApplyClock() {
    const int hw = GetHardwareType();
    const ClockRow clock = ClockFor(hw, m_resolution.iIndex == kPresetFull, m_bitMode == 32);
    const int r = ApplyPll(clock.pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (clock.pause) Pause(10);
    m_pixelClock = clock.pll.inputClock;
    m_laneBits = hw == 205 ? 4 : 12;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    SetResolution(&param->resolution);
    ApplyWindow();
    const int32_t index = m_resolution.iIndex;
    m_lowBit = index == kPresetFull || index == kPresetBinned ? 0 : 1;
    if ((r = ApplyClock()) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSetupWord()) != CAMERA_STATUS_SUCCESS) return r;

    using List = std::span<const uint16_t>;
    for (List list : {List(kClear), List(kClamp), List(kGainClear), List(kMain)}) {
        if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    const bool lanes12 = m_laneBits == 12;
    if (index == kPresetFull) {
        r = WriteModeList(kModeFull, lanes12 ? 900 : 2200, 4000);
    } else if (index == kPresetBinned) {
        r = WriteModeList(kModeBinned, lanes12 ? 362 : 808, 3713);
    } else {
        r = WriteModeList(kModeOther, lanes12 ? 580 : 1608, 2200);
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kBlack)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kNoWindow)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteLaneMode()) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = StartChip(1)) != CAMERA_STATUS_SUCCESS) return r;

    m_frameCount = 0;
    SetFrameSpeed(param->frameSpeed);
    if ((r = WriteFrameTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    m_fpgaOffsetY = index == kPresetBinned ? 10 : 18;
    m_fpgaOffsetX = index == kPresetBinned ? 49 : 97;
    return FinishInit(*param);
}

void CIMX183::ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) {
    (void)lineLength;
    if (speed == 0) frameLength *= 3;
    if (speed == 1) frameLength = frameLength * 3 / 2;
    if (m_bitMode == 32 && IsOneOf(GetHardwareType(), {201, 203, 205})) frameLength *= 2;
}

uint32_t CIMX183::MaxExposureLines() const {
    return m_frameLength * 8 - 10;
}

int CIMX183::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::max(lines, kMinLines);
    if (m_frameLength != 0) lines = std::min(lines, FrameCountMaxLines(kExposure, m_frameLength));
    RecordExposureLines(lines);
    return WriteFrameCountShutter(kExposure, lines, m_frameLength, m_frameCount);
}

void CIMX183::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_IMX183M;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = kPresetFull;  // "5472X3648"
    cap.presetMask = (uint64_t{1} << 22) | (uint64_t{1} << 26) | (uint64_t{1} << 27);
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 214;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 174;
    }
    const bool served = OnItsBoard();
    SetFormats8Or12(cap, mono, served);
}
