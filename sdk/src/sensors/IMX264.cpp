#include "IMX264.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kResets[] = {
    {100, GpioReset(28)},  {110, GpioReset(29)},  {201, FpgaBitReset()},
    {203, FpgaBitReset()}, {205, FpgaBitReset()},
};
constexpr int kServed[] = {100, 110, 201, 203, 205};

// clang-format off
constexpr uint16_t kReadout[] = {
    0x020D, 0x00,  0x0219, 0x00,  0x0289, 0x16,  0x028A, 0x00,  0x028B, 0x16,  0x028C, 0x00,
    0x029E, 0x08,  0x02A0, 0x04,  0x02AF, 0x0E,  0x0454, 0xF0,  0x0455, 0x00,
};
constexpr uint16_t kFullWindow[] = {0x0500, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 194 rows: 4 known, 187 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x0200, 0x01,  0x0201, 0xD0,  0x0202, 0xAA,  0x0F02, 0x6E,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0x0FE6, 0xAE,  0x0FE7, 0x01,  0x03EA, 0x00,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 194);
static_assert(std::size(kReadout) == 2 * 11);

constexpr CIMX264Family::Chip kChip{
    .instanceName = "IMX264",
    .kind = "CMOS_5M",
    .auxValue = 23,
    .monoCode = SENSOR_TYPE_IMX264M,
    .monoAsksMono8 = true,
    .bank = 0,
    .busAddress = 0x00,
    .resets = kResets,
    .served = kServed,
    .formatBoards = kServed,
    .widthCode8 = 0,
    .widthCode12 = 0,
    .defaultIndex = 23,  // "2448X2048"
    .redGain = 100,
    .greenGain = 100,
    .blueGain = 100,
    .defaultBlackLevel = 0,
    .fullWidth = 2448,
    .fullHeight = 2048,
    .expLinesMax = 16384,
    .maxExposureUs = 0,
    .margin = 8,
    .maxLines = 0xFFFF7,
    .reportedExtraUs = 0,
    .minLines = 2,
    .pulse = CIMX264Family::Pulse::Offset,
    .pulseReportUs = 0,
    .triggerTimingOffset = 0,
    .reapplyOnSoftware = false,
    .startGainExposure = true,
    .logs = true,
    .noTriggerResetBoard = 0,
    .fpgaFirst = true,
    .masterWaitMs = 0,
    .roiHold = 0,
    .roiXHighMask = 0,
    .roiYHighMask = 0,
    .roiStatusIgnored = false,
    .minWindowWidth = 0,
    .maxColumnForMin = 0,
    .windowPad = 0,
    .init = kInit,
    .readout = kReadout,
    .fullWindow = kFullWindow,
    .speedPrefix = {},
    .outputMode = {},
    .outputModeFirst = false,
    .lengthsFromClock = false,
    .fullFrameLength = 2088,
    .fullOffsetX = 9,
    .fullOffsetY = 15,
    .extraLines = 40,
    .offsetX = 0,
    .offsetY = 11,
    .initLineLength = 0,
};

}  // namespace

CIMX264::CIMX264(SensorTypeE type, imginf* inf) : CIMX264Family(type, inf, kChip) {}

int CIMX264::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX264", type, info);
}

int CIMX264::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX264::ApplyClock(CameraInitParam& param) {
    (void)param;
    const int hw = GetHardwareType();
    PllSetting pll = NoPll(74250000);
    if (hw == 100)
        pll = Pll({27, 1, 1, 1, 10, 13, 13, 6}, 74250000);
    else if (hw == 201 || hw == 203)
        pll = Pll({18, 1, 1, 1, 12, 12, 4, 27}, 74250000);
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    return CAMERA_STATUS_SUCCESS;
}

uint32_t CIMX264::SpeedLineLength(int hw) const {
    const bool usb = hw == 100 || hw == 110;
    const uint32_t line = usb ? 996 : 1482;
    return m_bitMode == 32 ? 2 * line : line;
}
