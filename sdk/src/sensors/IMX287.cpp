#include "IMX287.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kResets[] = {
    {100, GpioReset(28)}, {110, GpioReset(29)}, {201, FpgaBitReset()}, {205, FpgaBitReset()}};
constexpr int kServed[] = {100, 110, 201, 205};

// clang-format off
constexpr uint16_t kReadout[] = {
    0x0289, 0xB0,  0x028A, 0x0F,  0x028B, 0xB0,  0x028C, 0x0C,  0x0412, 0x08,  0x0205, 0x21,
    0x021C, 0x30,
};
// Output modes by width code: 0 for 10/12-bit, 2 for 8-bit output.
constexpr uint16_t kOutput12[] = {0x020C, 0x01,  0x0216, 0x01,  0x0454, 0xF0,  0x0455, 0x00};
constexpr uint16_t kOutput8[] = {
    0x020C, 0x02,  0x120E, 0x58,  0x1241, 0x2A,  0x0216, 0x02,  0x0365, 0x00,  0x0369, 0x10,
    0x036A, 0x02,  0x0382, 0x01,  0x12A2, 0x06,  0x0454, 0x0F,  0x0455, 0x00,
};
constexpr uint16_t kFullWindow[] = {0x0500, 0x00};
constexpr uint16_t kSpeedPrefix[] = {0x021B, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 25 rows: 4 known, 19 from the maker, 2 known.
constexpr uint16_t kInit[] = {
    0x0200, 0x01,  0x0C00, 0x80,  0x020D, 0x28,  0x1214, 0x1C,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0x03C8, 0xF3,  0x03D0, 0xF4,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 25);
static_assert(std::size(kReadout) == 2 * 7);
static_assert(std::size(kOutput12) == 2 * 4 && std::size(kOutput8) == 2 * 11);

constexpr CIMX264Family::Chip kChip{
    .instanceName = "IMX287",
    .kind = "CMOS_0.4M",
    .auxValue = 29,
    .monoCode = SENSOR_TYPE_IMX287M,
    .monoAsksMono8 = false,
    .bank = 0,
    .busAddress = 0x00,
    .resets = kResets,
    .served = kServed,
    .formatBoards = kServed,
    .widthCode8 = 2,
    .widthCode12 = 0,
    .defaultIndex = 29,  // "720X540"
    .redGain = 218,
    .greenGain = 100,
    .blueGain = 204,
    .defaultBlackLevel = 0,
    .fullWidth = 720,
    .fullHeight = 540,
    .expLinesMax = 4320,
    .maxExposureUs = 1000000,
    .margin = 14,
    .maxLines = 0xFFFF0,
    .reportedExtraUs = 0,
    .minLines = 2,
    .pulse = CIMX264Family::Pulse::Min100,
    .pulseReportUs = 0,
    .triggerTimingOffset = -1,
    .reapplyOnSoftware = false,
    .startGainExposure = false,
    .logs = false,
    .noTriggerResetBoard = 0,
    .fpgaFirst = false,
    .masterWaitMs = 10,
    .roiHold = 0x0280,
    .roiXHighMask = 0x1F,
    .roiYHighMask = 0x0F,
    .roiStatusIgnored = true,
    .minWindowWidth = 0,
    .maxColumnForMin = 0,
    .windowPad = 0,
    .init = kInit,
    .readout = kReadout,
    .fullWindow = kFullWindow,
    .speedPrefix = kSpeedPrefix,
    .outputMode = {kOutput12, {}, kOutput8},
    .outputModeFirst = true,
    .lengthsFromClock = false,
    .fullFrameLength = 586,
    .fullOffsetX = 5,
    .fullOffsetY = 13,
    .extraLines = 42,
    .offsetX = 1,
    .offsetY = 11,
    .initLineLength = 0,
};

}  // namespace

CIMX287::CIMX287(SensorTypeE type, imginf* inf) : CIMX264Family(type, inf, kChip) {}

int CIMX287::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX287", type, info);
}

int CIMX287::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX287::ApplyClock(CameraInitParam& param) {
    (void)param;
    const int hw = GetHardwareType();
    PllSetting pll = NoPll(74250000);
    if (hw == 100)
        pll = Pll({27, 1, 1, 1, 10, 13, 13, 6}, 74250000);
    else if (hw == 201)
        pll = Pll({18, 1, 1, 1, 12, 12, 6, 27}, 74250000);
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (hw != 110) Pause(20);  // board 110's clock runs before the chip does
    return CAMERA_STATUS_SUCCESS;
}

uint32_t CIMX287::SpeedLineLength(int hw) const {
    const bool usb = hw == 100 || hw == 110;
    const bool wide = m_bitMode == 32;
    if (usb) return wide ? 396 : 242;
    return wide ? 816 : 408;
}
