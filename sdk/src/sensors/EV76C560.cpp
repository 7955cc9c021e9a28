#include "EV76C560.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)}, {201, FpgaBitReset()}, {203, FpgaBitReset()}, {305, GpioReset(23)}};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// clang-format off
// Settings, 22 rows: 5 known, 15 from the maker, 2 known.
constexpr uint16_t kSettings[] = {
    0xB9, 0x0880,  0xC1, 0x9E37,  0xC6, 0x0300,  0xC7, 0x0013,  0xC8, 0x7D55,
    QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0xDE, 0x5A5C,  0xFA, 0x0004,
};
// clang-format on
static_assert(std::size(kSettings) == 2 * 22);

constexpr CEV76Family::Chip kChip{
    .instanceName = "EV76C560",
    .kind = "CMOS_1.3M10B",
    .auxValue = 9,
    .monoCode = SENSOR_TYPE_EV76C560M,
    .identity = 0x0800,
    .defaultIndex = 9,  // "1280X1024"
    .fullWidth = 1280,
    .fullHeight = 1024,
    .expLinesMax = 65535,
    .lineRangeFromSpeed = true,
    .boards = kBoards,
    .lineLength = 896,
    .divider = 112,
    .lineLength305 = 896,
    .divider305 = 112,
    .dividerFlags = 0x8000,
    .frameLength = 1033,
    .rate = {19660800, 39321600, 78643200},
    .rate305 = {10485760, 19660800, 44564480},
    .rate305Wide = 19660800,
    .coarseAtThreshold = false,
    .triggerTimingA = 10,
    .tables = {kSettings, {}},
};

}  // namespace

CEV76C560::CEV76C560(SensorTypeE type, imginf* inf) : CEV76Family(type, inf, kChip) {}

int CEV76C560::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CEV76C560", type, info);
}

int CEV76C560::Probe(SensorTypeE type, imginf* inf) {
    CEV76C560 probe(type, inf);
    return CheckChipIdentity(probe, {{kRegIdentity, kChip.identity}});
}
