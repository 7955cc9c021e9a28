#include "IMX990.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr CIMX990Family::Board kBoards[] = {
    {100, GpioReset(28), imx990::kPll100, true, true, 4, false, 516, 972, true},
    {110, GpioReset(29), NoPll(74250000), true, true, 4, false, 516, 972, true},
    {111, GpioReset(29), NoPll(54000000), true, false, 4, false, 376, 752, true},
    {201, FpgaBitReset(), imx990::kPll201, true, true, 4, true, 772, 1544, true},
    {205, FpgaBitReset(), NoPll(74250000), true, true, 4, true, 772, 1544, true},
    {9, GpioReset(23), imx990::kPll9, false, true, 4, false, 516, 972, true},
};

// clang-format off
// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 271 rows: 5 known, 263 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x3006, 0x80,  0x3007, 0x01,  0x3040, 0x02,  0x3054, 0x11,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
    QV_MAKER_ROW,
    0x4798, 0x0A,  0x47B8, 0x45,  0x47C2, 0x46,
};
// Output modes, 8 rows: the converter (0x3200, 0x3430) known, then 0x406A to 0x406D, 0x35C0 and
// 0x35C1 from the maker. Width code 0 for 10/12-bit output, 2 for 8-bit.
constexpr uint16_t kOutput12[] = {0x3200, 0x25,  0x3430, 0x01,  QV_MAKER_ROWS_4, QV_MAKER_ROWS_2};
constexpr uint16_t kOutput8[] = {0x3200, 0x45,  0x3430, 0x02,  QV_MAKER_ROWS_4, QV_MAKER_ROWS_2};
// clang-format on
static_assert(std::size(kInit) == 2 * 271);
static_assert(std::size(kOutput12) == 2 * 8 && std::size(kOutput8) == 2 * 8);

constexpr CIMX990Family::Chip kChip{
    .instanceName = "IMX990",
    .kind = "CMOS_1.3I",
    .auxValue = 9,
    .mediaAtConstruction = kBayerGR8,  // not listed: the chip's first format, Mono8
    .defaultIndex = 9,                 // "1280X1024"
    .fullWidth = 1280,
    .fullHeight = 1024,
    .expLinesMax = 8192,
    .margin = 15,
    .boards = kBoards,
    .widthCode8 = 2,
    .fpgaTimedEverywhere = false,
    .triggerOff = 17,
    .triggerOn = 19,
    .fullOffsetX = 8,
    .fullOffsetY = 25,
    .offsetX = 0,
    .offsetY = 21,
    .init = kInit,
    .settings8 = imx990::kSettings8,
    .outputMode = {kOutput12, {}, kOutput8},
    .speedA = imx990::kSpeedA,
    .speedB = imx990::kSpeedB,
    .masterStart = true,
};

}  // namespace

CIMX990::CIMX990(SensorTypeE type, imginf* inf) : CIMX990Family(type, inf, kChip) {}

int CIMX990::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX990", type, info);
}

int CIMX990::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}
