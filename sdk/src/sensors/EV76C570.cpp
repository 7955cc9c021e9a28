#include "EV76C570.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {{100, GpioReset(28)},
                                  {201, FpgaBitReset()},
                                  {203, FpgaBitReset()},
                                  {205, FpgaBitReset()},
                                  {305, GpioReset(23)}};

// clang-format off
constexpr uint16_t kSettings3[] = {0xC1, 0x9922,  0xC6, 0x4300,  0xED, 0x516E};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Settings, 39 rows: 3 known, 34 from the maker, 2 known.
constexpr uint16_t kSettings[] = {
    0x87, 0x0A06,  0xBA, 0x80AF,  0xBF, 0x1E1E,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_2,
    0xFA, 0x308A,  0xFB, 0x0101,
};
// clang-format on
static_assert(std::size(kSettings) == 2 * 39);

constexpr CEV76Family::Chip kChip{
    .instanceName = "EV76C570",
    .kind = "CMOS_2M10B",
    .auxValue = 10,
    .monoCode = SENSOR_TYPE_EV76C570M,
    .identity = 0x0900,
    .defaultIndex = 10,  // "1600X1200"
    .fullWidth = 1600,
    .fullHeight = 1200,
    .expLinesMax = 9600,
    .lineRangeFromSpeed = false,
    .boards = kBoards,
    .lineLength = 928,
    .divider = 116,
    .lineLength305 = 1856,
    .divider305 = 232,
    .dividerFlags = 0x8800,
    .frameLength = 1200,
    .rate = {23040000, 48000000, 96000000},
    .rate305 = {9600000, 19200000, 42240000},
    .rate305Wide = 19200000,
    .coarseAtThreshold = true,
    .triggerTimingA = 50,
    .tables = {kSettings, kSettings3},
};

}  // namespace

CEV76C570::CEV76C570(SensorTypeE type, imginf* inf) : CEV76Family(type, inf, kChip) {}

int CEV76C570::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CEV76C570", type, info);
}

int CEV76C570::Probe(SensorTypeE type, imginf* inf) {
    CEV76C570 probe(type, inf);
    return CheckChipIdentity(probe, {{kRegIdentity, kChip.identity}});
}
