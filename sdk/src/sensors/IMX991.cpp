#include "IMX991.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr CIMX990Family::Board kBoards[] = {
    {100, GpioReset(28), imx990::kPll100, true, true, 4, false, 555, 972, true},
    {110, GpioReset(29), NoPll(74250000), true, true, 4, false, 555, 972, true},
    {111, GpioReset(29), NoPll(54000000), true, false, 4, false, 404, 706, true},
    {201, FpgaBitReset(), imx990::kPll201, true, true, 4, true, 555, 972, true},
    {205, FpgaBitReset(), NoPll(74250000), true, true, 4, true, 555, 972, true},
    {9, GpioReset(23), imx990::kPll9, false, true, 4, false, 555, 972, true},
};

// clang-format off
// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 278 rows: 5 known, 270 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x3006, 0x80,  0x3007, 0x01,  0x3040, 0x02,  0x3054, 0x11,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4,
    QV_MAKER_ROWS_2,
    0x4798, 0x0A,  0x47B8, 0x45,  0x47C2, 0x46,
};
// Output modes, 9 rows: the converter (0x3200, 0x3430) known, then 0x406A to 0x406D, 0x35C0,
// 0x35C1 and 0x4778 from the maker. Width code 0 for 10/12-bit output, 1 for 8-bit.
constexpr uint16_t kOutput12[] = {
    0x3200, 0x25,  0x3430, 0x01,  QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
};
constexpr uint16_t kOutput8[] = {
    0x3200, 0x05,  0x3430, 0x00,  QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 278);
static_assert(std::size(kOutput12) == 2 * 9 && std::size(kOutput8) == 2 * 9);

constexpr CIMX990Family::Chip kChip{
    .instanceName = "IMX991",
    .kind = "CMOS_0.33I",
    .auxValue = 36,
    .mediaAtConstruction = kBayerGR8,  // not listed: the chip's first format, Mono8
    .defaultIndex = 36,                // "640X512"
    .fullWidth = 640,
    .fullHeight = 512,
    .expLinesMax = 4096,
    .margin = 15,
    .boards = kBoards,
    .widthCode8 = 1,
    .fpgaTimedEverywhere = false,
    .triggerOff = 17,
    .triggerOn = 19,
    .fullOffsetX = 8,
    .fullOffsetY = 25,
    .offsetX = 0,
    .offsetY = 21,
    .init = kInit,
    .settings8 = imx990::kSettings8,
    .outputMode = {kOutput12, kOutput8, {}},
    .speedA = imx990::kSpeedA,
    .speedB = imx990::kSpeedB,
    .masterStart = true,
};

}  // namespace

CIMX991::CIMX991(SensorTypeE type, imginf* inf) : CIMX990Family(type, inf, kChip) {}

int CIMX991::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX991", type, info);
}

int CIMX991::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}
