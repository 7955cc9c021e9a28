#include "IMX992.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr CIMX990Family::Board kBoards[] = {
    {110, GpioReset(29), NoPll(54000000), true, false, 4, true, 0, 0, false},  // reset only
    {111, GpioReset(29), NoPll(54000000), true, false, 0, true, 360, 720, true},
    {205, FpgaBitReset(), NoPll(54000000), true, true, 4, true, 772, 1544, true},
};

// clang-format off
constexpr uint16_t kSettings8[] = {
    0x3220, 0x50,  0x3221, 0x16,  0x3224, 0x56,  0x3225, 0x58,  0x343C, 0xF0,  0x3444, 0x01,
    0x3445, 0x02,  0x3502, 0x00,
};
constexpr uint16_t kSpeed[] = {0x3226, 0x92,  0x30DC, 0x01};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 71 rows: 3 known, 65 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x470B, 0x1F,  0x4018, 0x83,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROW,
    0x3EF0, 0x18,  0x3EF2, 0xD6,  0x30F7, 0x80,
};
// Output modes, 5 rows: the converter (0x3200, 0x3430) known, then 0x35C8, 0x35C0 and 0x35C1
// from the maker. Width code 0 for 10/12-bit output, 2 for 8-bit.
constexpr uint16_t kOutput12[] = {0x3200, 0x24,  0x3430, 0x01,  QV_MAKER_ROWS_2, QV_MAKER_ROW};
constexpr uint16_t kOutput8[] = {0x3200, 0x44,  0x3430, 0x02,  QV_MAKER_ROWS_2, QV_MAKER_ROW};
// clang-format on
static_assert(std::size(kInit) == 2 * 71);
static_assert(std::size(kOutput12) == 2 * 5 && std::size(kOutput8) == 2 * 5);

constexpr CIMX990Family::Chip kChip{
    .instanceName = "IMX992",
    .kind = "CMOS_5I",
    .auxValue = 37,
    .mediaAtConstruction = kMono8,
    .defaultIndex = 37,  // "2560x2048"
    .fullWidth = 2560,
    .fullHeight = 2048,
    .expLinesMax = 16384,
    .margin = 52,
    .boards = kBoards,
    .widthCode8 = 2,
    .fpgaTimedEverywhere = true,
    .triggerOff = 41,
    .triggerOn = 43,
    .fullOffsetX = 112,
    .fullOffsetY = 29,
    .offsetX = 112,
    .offsetY = 29,
    .init = kInit,
    .settings8 = kSettings8,
    .outputMode = {kOutput12, {}, kOutput8},
    .speedA = kSpeed,
    .speedB = kSpeed,
    .masterStart = false,
};

}  // namespace

CIMX992::CIMX992(SensorTypeE type, imginf* inf) : CIMX990Family(type, inf, kChip) {}

int CIMX992::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX992", type, info);
}

int CIMX992::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}
