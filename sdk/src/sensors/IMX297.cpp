#include "IMX297.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kResets[] = {{100, GpioReset(28)}, {9, GpioReset(23)}, {201, FpgaBitReset()}};
constexpr int kServed[] = {100, 201};

// clang-format off
constexpr uint16_t kReadout[] = {
    0x0289, 0xB0,  0x028A, 0x0F,  0x028B, 0xB0,  0x028C, 0x0C,  0x138C, 0xA8,  0x1314, 0xC5,
    0x0412, 0x09,  0x020E, 0x00,  0x0454, 0x3C,  0x0455, 0x00,
};
constexpr uint16_t kFullWindow[] = {0x0500, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 49 rows: 4 known, 42 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x0200, 0x01,  0x0C00, 0x80,  0x0205, 0xF0,  0x070B, 0x7F,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROWS_2,
    0x03C8, 0xF3,  0x03D0, 0xF4,  0x02DF, 0x00,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 49);
static_assert(std::size(kReadout) == 2 * 10);

constexpr uint32_t kLineLength = 1070;

constexpr CIMX264Family::Chip kChip{
    .instanceName = "IMX297",
    .kind = "CMOS_0.4M",
    .auxValue = 29,
    .monoCode = SENSOR_TYPE_IMX297M,
    .monoAsksMono8 = false,
    .bank = 0,
    .busAddress = 0x00,
    .resets = kResets,
    .served = kServed,
    .formatBoards = kServed,
    .widthCode8 = 1,
    .widthCode12 = 1,
    .defaultIndex = 29,  // "720X540"
    .redGain = 144,
    .greenGain = 100,
    .blueGain = 205,
    .defaultBlackLevel = 0,
    .fullWidth = 720,
    .fullHeight = 540,
    .expLinesMax = 4320,
    .maxExposureUs = 1000000,
    .margin = 8,
    .maxLines = 0xFFFF7,
    .reportedExtraUs = 0,
    .minLines = 2,
    // In the trigger modes the exposure reported is the one the pulse makes: the pulse plus the
    // 14 us the chip adds.
    .pulse = CIMX264Family::Pulse::Offset,
    .pulseReportUs = 14,
    .triggerTimingOffset = -1,
    .reapplyOnSoftware = false,
    .startGainExposure = false,
    .logs = true,
    .noTriggerResetBoard = 0,
    .fpgaFirst = false,
    .masterWaitMs = 100,
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
    .fullFrameLength = 574,
    .fullOffsetX = 0,
    .fullOffsetY = 0,
    .extraLines = 30,
    .offsetX = 0,
    .offsetY = 0,
    .initLineLength = kLineLength,
};

}  // namespace

CIMX297::CIMX297(SensorTypeE type, imginf* inf) : CIMX264Family(type, inf, kChip) {}

int CIMX297::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX297", type, info);
}

int CIMX297::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX297::ApplyClock(CameraInitParam& param) {
    (void)param;
    const int hw = GetHardwareType();
    const PllSetting pll = hw == 100 ? Pll({27, 1, 1, 1, 10, 13, 13, 6}, 74250000)
                                     : Pll({18, 1, 2, 2, 24, 12, 6, 27}, 37125000);
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    return CAMERA_STATUS_SUCCESS;
}

// Twelve bits on board 100 take twice the line.
uint32_t CIMX297::SpeedLineLength(int hw) const {
    return hw == 100 && m_bitMode == 32 ? 2 * m_baseLineLength : m_baseLineLength;
}
