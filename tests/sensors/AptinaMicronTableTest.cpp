// The Aptina and Micron chip drivers (AR0130, AR0134, AR0135, AR0144, AR0234, AR052x, MT9J003,
// MT9M001, MT9P031), row by row over their boards and bit depths: Init's reset pulses, bus,
// clock, interface word and image window; failures; exposures and gains read back as what the
// registers hold; frame speeds; trigger modes; the chip identity; boards they do not serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "DriverFixture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010;
constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

enum class Family { Ar0130, Ar0134, Ar0135, Ar0144, Ar0234, Ar052x, Mt9j003, Mt9m001, Mt9p031 };

// ---- Reset pulses as the programming descriptions give them ----
std::vector<TraceStep> Steps(std::initializer_list<std::vector<TraceStep>> parts) {
    std::vector<TraceStep> all;
    for (const auto& part : parts) Append(all, part);
    return all;
}
std::vector<TraceStep> Gpio65(int level) {
    return {Call("SetGpioMode", {65, 0}), Call("WriteGpio", {65, level})};
}
std::vector<TraceStep> PairPulse() {  // GPIO 23 and 71: mode and low for 23, then for 71
    return {Call("SetGpioMode", {23, 0}),
            Call("WriteGpio", {23, 0}),
            Call("SetGpioMode", {71, 0}),
            Call("WriteGpio", {71, 0}),
            Sleep(10),
            Call("WriteGpio", {23, 1}),
            Call("WriteGpio", {71, 1}),
            Sleep(10)};
}
std::vector<TraceStep> TwoLine(int level65, unsigned afterMs) {
    std::vector<TraceStep> s = {Call("SetGpioMode", {66, 0}),
                                Call("SetGpioMode", {65, 0}),
                                Call("WriteGpio", {66, 0}),
                                Call("WriteGpio", {65, level65}),
                                Sleep(100),
                                Call("WriteGpio", {66, 1})};
    if (afterMs != 0) s.push_back(Sleep(afterMs));
    return s;
}

struct Row {
    SensorTypeE code;
    int hw;
    uint32_t format;
    Family family;
    std::vector<TraceStep> reset;
    std::vector<int64_t> pll;  // empty: none
    int64_t setupWord;         // -1: no FPGA interface on this board
    int channelMask = 1;
    unsigned chips = 1;  // windows side by side
};

struct Bus {
    int address, widths;
    unsigned settleMs;
};
Bus BusOf(Family f) {
    switch (f) {
        case Family::Ar0134:
        case Family::Ar0135:
        case Family::Ar0234:
            return {0x20, 0x22, 10};
        case Family::Ar052x:
            return {0x6C, 0x22, 20};
        case Family::Mt9j003:
            return {0x20, 0x22, 0};
        case Family::Mt9m001:
            return {0xBA, 0x21, 20};
        case Family::Mt9p031:
            return {0x90, 0x21, 20};
        default:
            return {0x20, 0x22, 20};
    }
}

const Row kRows[] = {
    {SENSOR_TYPE_AR0130,
     100,
     kBayer8,
     Family::Ar0130,
     GpioPulse(28),
     {24, 1, 2, 2, 13, 13, 13, 8},
     0x0C},
    {SENSOR_TYPE_AR0130, 300, kBayer12, Family::Ar0130, Steps({Gpio65(0), PairPulse()}), {}, 0x2C},
    {SENSOR_TYPE_AR0130, 0, kBayer8, Family::Ar0130, TwoLine(0, 10), {}, -1},
    {SENSOR_TYPE_AR0130,
     201,
     kBayer8,
     Family::Ar0130,
     FpgaBitPulse(0x310C1),
     {24, 1, 3, 3, 18, 16, 36, 36},
     0x0C},
    {SENSOR_TYPE_AR0134M,
     100,
     kMono8,
     Family::Ar0134,
     GpioPulse(28),
     {24, 1, 2, 2, 13, 13, 13, 8},
     0x0C},
    {SENSOR_TYPE_AR0134C,
     305,
     kBayer12,
     Family::Ar0134,
     Steps({PairPulse(), Gpio65(0)}),
     {12, 1, 11, 8, 11, 23, 23, 23},
     0x2C},
    {SENSOR_TYPE_AR0134M, 0, kMono8, Family::Ar0134, TwoLine(0, 10), {}, -1},
    {SENSOR_TYPE_AR0135C, 110, kBayer8, Family::Ar0135, GpioPulse(29), {}, 0x0C},
    {SENSOR_TYPE_AR0135M, 205, kMono12, Family::Ar0135, FpgaBitPulse(0x310C1), {}, 0x2C},
    {SENSOR_TYPE_AR0144,
     201,
     kMono8,
     Family::Ar0144,
     FpgaBitPulse(0x310C1),
     {18, 1, 2, 2, 24, 12, 4, 27},
     0x04,
     1,
     4},
    {SENSOR_TYPE_AR0234M,
     100,
     kMono8,
     Family::Ar0234,
     GpioPulse(28),
     {27, 1, 1, 1, 8, 26, 13, 6},
     0x45},
    {SENSOR_TYPE_AR0234C,
     305,
     kBayer12,
     Family::Ar0234,
     Steps({PairPulse(), Gpio65(0)}),
     {12, 1, 11, 7, 23, 23, 23, 23},
     0x2D},
    {SENSOR_TYPE_AR0234M,
     9,
     kMono8,
     Family::Ar0234,
     GpioPulse(23),
     {1, 2, 32, 7, 23, 23, 23, 23},
     0x0D},
    {SENSOR_TYPE_AR0234C, 110, kBayer12, Family::Ar0234, GpioPulse(29), {}, 0x65},
    {SENSOR_TYPE_AR0234C,
     106,
     kBayer8,
     Family::Ar0234,
     GpioPulse(28),
     {27, 1, 1, 1, 8, 26, 13, 6},
     0x45,
     0x3,
     2},
    {SENSOR_TYPE_AR0521C,
     201,
     kBayer8,
     Family::Ar052x,
     FpgaBitPulse(0x310C1),
     {18, 1, 2, 2, 24, 12, 4, 27},
     0x05},
    {SENSOR_TYPE_AR0522M, 9, kMono12, Family::Ar052x, GpioPulse(23), {}, 0x64},
    {SENSOR_TYPE_MT9J003C,
     1,
     kBayer8,
     Family::Mt9j003,
     GpioPulse(23),
     {26, 1, 2, 2, 13, 26, 13, 8},
     0x1C},
    {SENSOR_TYPE_MT9J003M,
     100,
     kMono12,
     Family::Mt9j003,
     GpioPulse(28),
     {25, 1, 2, 2, 13, 65, 14, 8},
     0x3C},
    {SENSOR_TYPE_MT9J003C, 110, kBayer8, Family::Mt9j003, GpioPulse(29), {}, 0x0C},
    {SENSOR_TYPE_MT9J003C, 0, kBayer8, Family::Mt9j003, TwoLine(0, 20), {}, -1},
    {SENSOR_TYPE_MT9J003C,
     7,
     kBayer8,
     Family::Mt9j003,
     GpioPulse(23),
     {26, 1, 2, 2, 13, 26, 13, 8},
     0x1C,
     0x7,
     2},
    {SENSOR_TYPE_MT9M001,
     1,
     kMono8,
     Family::Mt9m001,
     GpioPulse(23),
     {26, 1, 2, 2, 13, 13, 13, 11},
     0x0D},
    {SENSOR_TYPE_MT9M001_B,
     201,
     kBayer12,
     Family::Mt9m001,
     FpgaBitPulse(0x310C1),
     {24, 1, 3, 3, 18, 16, 36, 36},
     0x2D},
    {SENSOR_TYPE_MT9M001, 0, kMono8, Family::Mt9m001, TwoLine(0, 0), {}, -1},
    {SENSOR_TYPE_MT9P031C,
     100,
     kBayer8,
     Family::Mt9p031,
     GpioPulse(28),
     {24, 1, 2, 2, 13, 26, 13, 6},
     0x4C},
    {SENSOR_TYPE_MT9P031M,
     301,
     kMono12,
     Family::Mt9p031,
     Steps({PairPulse(), Gpio65(1)}),
     {12, 1, 11, 8, 23, 23, 23, 23},
     0x6C},
    {SENSOR_TYPE_MT9P031C,
     305,
     kBayer8,
     Family::Mt9p031,
     Steps({GpioPulse(23), Gpio65(1)}),
     {12, 1, 11, 8, 23, 23, 23, 23},
     0x4C},
    {SENSOR_TYPE_MT9P031M, 0, kMono8, Family::Mt9p031, TwoLine(1, 0), {}, -1},
};

std::string Name(const Row& row) {
    return "code " + std::to_string(row.code) + " on " + std::to_string(row.hw) + " format " +
           std::to_string(row.format);
}

bool HasImageWindow(int hw) {
    return hw != 0;  // every board of these rows but the unknown one
}

// Whether the board runs the chip's stream and trigger through the FPGA (the AR0130 has an FPGA
// interface on board 100 but triggers itself there).
bool FpgaTrigger(const Row& row) {
    return row.setupWord >= 0 && !(row.family == Family::Ar0130 && row.hw == 100);
}

size_t CountOf(const std::vector<TraceStep>& steps, const std::string& op) {
    return static_cast<size_t>(
        std::count_if(steps.begin(), steps.end(), [&](const TraceStep& s) { return s.op == op; }));
}

class AptinaMicronTable : public DriverFixture {
  protected:
    void StartRow(const Row& row) {
        Start(row.hw, row.code, Window(640, 480, 16, 8), 2, row.format, row.channelMask);
    }

    // The lines in the exposure register, and the overhead the chip takes off them (us).
    uint32_t LinesInForce(Family f) {
        switch (f) {
            case Family::Mt9j003:
                return Sensor(0x0202);
            case Family::Mt9m001:
                return Sensor(0x09);
            case Family::Mt9p031:
                return Sensor(0x08) << 16 | Sensor(0x09);
            default:
                return Sensor(0x3012);
        }
    }

    // The gain (thousandths) the gain registers give.
    double GainInForce(Family f) {
        auto column = [&](uint16_t reg) { return 1 << ((Sensor(reg) >> 4) & 3); };
        switch (f) {
            case Family::Ar0130:
                return column(0x30B0) * (Sensor(0x3EE4) == 0xD308 ? 1250.0 : 1000.0);
            case Family::Ar0134:
                return column(0x30B0) * (Sensor(0x305E) == 40 ? 1250.0 : 1000.0);
            case Family::Ar0135:
                return column(0x30B0) * 1000.0;
            case Family::Ar0144: {
                const uint32_t v = Sensor(0x3060);
                return std::floor(((v & 15) + 16.0) * (1 << (v >> 4)) * 1000 / 16);
            }
            case Family::Ar0234:
                return std::floor(Sensor(0x305E) * 1000.0 / 128);
            case Family::Ar052x:
                return 1000;  // the gain is not driven
            case Family::Mt9j003: {
                const uint32_t r = Sensor(0x305E), e = r & 0x7F;
                if ((r & 0xC00) == 0) return std::floor((e * 1000.0 - 32000) / 64);
                if ((r & 0xD00) == 0xD00) return e * 250.0;
                if ((r & 0xC80) == 0xC80) return e * 125.0;
                if ((r & 0xC00) == 0xC00) return std::floor(e * 4000.0 / 64);
                return std::floor(e * 2000.0 / 64);
            }
            case Family::Mt9m001:
            case Family::Mt9p031: {
                const uint32_t r = Sensor(0x35);
                if (r >= 256) return (r >> 8) * 1000.0 + 8000;
                if (r > 80) return std::floor((r * 1000.0 - 64000) / 4);
                return std::floor(r * 1000.0 / 8);
            }
        }
        return -1;
    }
};

TEST_F(AptinaMicronTable, InitResetBusClockInterfaceAndWindow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        ASSERT_EQ(sensor->Init(&param), 0);
        const auto steps = Steps();
        std::vector<TraceStep> opening = row.reset;
        const Bus bus = BusOf(row.family);
        opening.push_back(Call("SetSensorBus", {bus.address, bus.widths}));
        if (bus.settleMs != 0) opening.push_back(Sleep(bus.settleMs));
        ASSERT_GE(steps.size(), opening.size());
        EXPECT_TRUE(TraceMatches({steps.begin(), steps.begin() + static_cast<long>(opening.size())},
                                 opening));
        std::vector<TraceStep> middle;
        if (!row.pll.empty()) {
            TraceStep pll = Call("SetPll");
            pll.args = row.pll;
            middle.push_back(pll);
        }
        if (row.setupWord >= 0) {
            middle.push_back(Call("SetSensorInterface", {row.setupWord}));
            middle.push_back(Call("SetTriggerControl", {0, 0, 1, 0}));
        } else if (row.family != Family::Mt9j003) {
            // No FPGA interface: the chip's own trigger line goes low.
            middle.push_back(Call("SetGpioMode", {67, 0}));
            middle.push_back(Call("WriteGpio", {67, 0}));
        }
        const bool twoBytes = row.format == kBayer12 || row.format == kMono12;
        if (HasImageWindow(row.hw)) {
            middle.push_back(
                Call("SetImageWindow", {0, 0, 640 * row.chips, 480, 640, 480, twoBytes ? 16 : 8}));
            middle.push_back(Call("SetFpgaPixelFormat", {row.format}));
        }
        EXPECT_TRUE(ContainsInOrder(steps, middle));
        EXPECT_EQ(dev->CallCount("SetPll"), row.pll.empty() ? 0u : 1u);
        EXPECT_EQ(dev->CallCount("SetSensorInterface"), row.setupWord >= 0 ? 1u : 0u);
        EXPECT_EQ(dev->CallCount("SetImageWindow"), HasImageWindow(row.hw) ? 1u : 0u);
        EXPECT_EQ(dev->ContractViolations(), 0);
        const stImageInfo info = ImageInfo();
        EXPECT_EQ(info.iWidth, 640u * row.chips);
        EXPECT_EQ(info.uiMediaType, row.format);
        EXPECT_EQ(info.TotalBytes, 640u * row.chips * 480 * (twoBytes ? 2 : 1));
    }
}

TEST_F(AptinaMicronTable, InitStopsAtAFailure) {
    for (const Row& row : kRows) {
        if (row.pll.empty()) continue;
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        dev->SetResult("SetPll", CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(Steps().back().op, "SetPll");
    }
}

// Every exposure from none to far beyond what the registers hold reads back as the lines in the
// exposure register (less the chip's overhead); every gain as what the gain registers give.
TEST_F(AptinaMicronTable, ExposureAndGainReadBackWhatTheRegistersHold) {
    const double kExposuresUs[] = {0, 0.1, 30, 1000, 33000, 250000, 3e6, 1e9, 1e12};
    const uint32_t kGains[] = {0,    900,  1000, 1249, 1250, 1700,  2000,  3000,
                               4249, 4250, 7999, 8000, 9000, 10000, 12000, 20000};
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        std::optional<double> overhead;
        for (double us : kExposuresUs) {
            SCOPED_TRACE("exposure " + std::to_string(us));
            ASSERT_EQ(sensor->SetExposure(us), 0);
            const uint32_t lines = LinesInForce(row.family);
            EXPECT_GE(lines, 1u);
            const double reported = ExposureUs();
            const double gap = lines * LineUs() - reported;  // the chip's overhead, if any
            if (!overhead) overhead = gap;
            EXPECT_NEAR(gap, *overhead, 1e-6 * std::max(1.0, reported));
            if (us >= 1000 && us <= 33000) {
                EXPECT_NEAR(reported, us, LineUs());  // within reach: what was asked
            }
        }
        for (uint32_t g : kGains) {
            SCOPED_TRACE("gain " + std::to_string(g));
            ASSERT_EQ(sensor->SetAnalogGain(g), 0);
            EXPECT_EQ(Gain(), GainInForce(row.family));
        }
    }
}

TEST_F(AptinaMicronTable, FrameSpeedsAndRefusedSpeeds) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        for (int speed : {0, 1, 2}) {
            EXPECT_EQ(sensor->SetFrameSpeed(speed), 0);
            EXPECT_EQ(Speed(), speed);
            double frameUs = 0;
            sensor->GetFrameTime(&frameUs);
            EXPECT_GT(frameUs, 0);
        }
        trace->Clear();
        if (row.family == Family::Mt9m001) {
            // This chip takes any speed (and writes only on an unknown board).
            EXPECT_EQ(sensor->SetFrameSpeed(5), 0);
            EXPECT_EQ(Speed(), 5);
            continue;
        }
        EXPECT_EQ(sensor->SetFrameSpeed(3), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(sensor->SetFrameSpeed(-1), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(Steps().empty());
        EXPECT_EQ(Speed(), 2);
    }
}

// The FPGA's trigger word and timing on the boards that have them, then the chip's own mode.
TEST_F(AptinaMicronTable, TriggerModes) {
    struct Expect {
        uint16_t timing1a, timing2a, timing1b;
        uint16_t triggeredFlag;
        uint16_t reg;
        uint16_t values[3];  // the chip register after modes 0, 1 and 2
    };
    auto expect = [](const Row& row) -> Expect {
        const bool narrow = row.hw == 305 || row.hw == 9;
        switch (row.family) {
            case Family::Ar0130:
                return {1, 2000, 50000, 1, 0x301A, {0x1D94, 0x0D90, 0x1D90}};
            case Family::Ar0134:
                return {2000, 2000, 50000, 1, 0x301A, {0x1D94, 0x1D90, 0x1D90}};
            case Family::Ar0135:
                return {2000, 2000, 50000, 1, 0x301A, {0x10D4, 0x19D0, 0x19D0}};
            case Family::Ar0144:
                return {1, 2000, 50000, 1, 0x301A, {0x005C, 0x0058, 0x0058}};
            case Family::Ar0234:
                return narrow ? Expect{2000, 2000, 50000, 1, 0x301A, {0x30DC, 0x31D8, 0x31D8}}
                              : Expect{2000, 2000, 50000, 1, 0x301A, {0x205C, 0x2158, 0x2158}};
            case Family::Ar052x:
                return {1, 2000, 50000, 1, 0x301A, {0x021C, 0x0218, 0x0218}};
            case Family::Mt9j003:
                return {10, 10, 50000, 1, 0x315E, {0, 0, 0}};
            case Family::Mt9m001:
                return {10, 10, 50000, 0, 0x1E, {0x8600, 0x8700, 0x8700}};
            case Family::Mt9p031:
                return {100, 100, 50000, 1, 0x1E, {0x4012, 0x4312, 0x4312}};
        }
        return {};
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);  // external source 3 in the word
        trace->Clear();
        const Expect e = expect(row);
        const bool fpga = FpgaTrigger(row);
        if (!fpga && row.family == Family::Mt9j003) {
            // Without the FPGA's trigger this chip cannot be triggered.
            EXPECT_EQ(sensor->SetTriggerMode(1), CAMERA_STATUS_NOT_SUPPORTED);
            EXPECT_EQ(sensor->SoftTrigger(), CAMERA_STATUS_NOT_SUPPORTED);
            continue;
        }
        std::vector<TraceStep> want;
        for (int mode : {2, 1, 0}) {  // 2 keeps the source 3 read back
            ASSERT_EQ(sensor->SetTriggerMode(mode), 0) << mode;
            EXPECT_EQ(Sensor(e.reg), e.values[mode]) << mode;
            if (!fpga) continue;
            const int64_t source = mode == 1 ? 6 : mode == 2 ? 3 : 0;
            want.push_back(Call("SetTriggerControl",
                                {0x108, source, mode != 0 ? e.triggeredFlag : 1, mode != 0}));
            if (mode != 0) {
                want.push_back(
                    Call("SetTriggerTiming", {mode == 1 ? e.timing1a : e.timing2a, e.timing1b}));
            }
        }
        EXPECT_TRUE(ContainsInOrder(Steps(), want));
        EXPECT_EQ(CountOf(Steps(), "SetTriggerControl"), fpga ? 3u : 0u);
        trace->Clear();
        EXPECT_EQ(sensor->SetTriggerMode(7), 0);
        EXPECT_TRUE(Steps().empty());
        ASSERT_EQ(sensor->SoftTrigger(), 0);
        if (fpga) {
            EXPECT_EQ(CountOf(Steps(), "SendSoftTrigger"), 1u);
        } else {
            EXPECT_EQ(CountOf(Steps(), "SendSoftTrigger"), 0u);  // the chip's own trigger
            EXPECT_FALSE(Steps().empty());
        }
    }
}

// The factory checks the chip: the right identity gives a driver, another value or a failed
// read none.
TEST_F(AptinaMicronTable, ChipIdentity) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        const auto id = ChipIdentity(row.code);
        ASSERT_EQ(id.size(), 1u);
        CFakeDevice device;
        device.SetHardwareType(row.hw);
        device.SetFpgaReg(15, kFpga15);
        device.SetSensorReg(id[0].first, id[0].second);
        std::unique_ptr<SensorInf> made(SensorInf::CreateSensor(row.code, &device));
        EXPECT_NE(made, nullptr);
        const bool checked = !(row.family == Family::Ar0234 && row.hw == 106);
        EXPECT_EQ(device.CallCount("ReadSensorReg"), checked ? 1u : 0u);

        device.SetSensorReg(id[0].first, id[0].second ^ 0x0100);  // another chip
        std::unique_ptr<SensorInf> other(SensorInf::CreateSensor(row.code, &device));
        EXPECT_EQ(other == nullptr, checked);
        device.SetSensorReg(id[0].first, id[0].second);
        device.SetResult("ReadSensorReg", CAMERA_STATUS_COMM_ERROR);
        std::unique_ptr<SensorInf> unread(SensorInf::CreateSensor(row.code, &device));
        EXPECT_EQ(unread == nullptr, checked);
    }
}

// Boards a chip does not serve are refused before any traffic (the AR0234, which has no reset
// line there, already fails its identity check); the chips that serve any board take their
// defaults there instead.
TEST_F(AptinaMicronTable, UnservedBoards) {
    Make(100, SENSOR_TYPE_AR0130);
    dev->SetHardwareType(0);
    const std::pair<SensorTypeE, int> kRefused[] = {
        {SENSOR_TYPE_AR0135C, 201}, {SENSOR_TYPE_AR0135M, 0}, {SENSOR_TYPE_AR0144, 110},
        {SENSOR_TYPE_AR0144, 0},    {SENSOR_TYPE_AR0234C, 0}, {SENSOR_TYPE_AR0234M, 107},
        {SENSOR_TYPE_AR0521C, 100}, {SENSOR_TYPE_AR0522M, 0},
    };
    for (const auto& [code, hw] : kRefused) {
        SCOPED_TRACE(std::to_string(code) + " on " + std::to_string(hw));
        // Made without the identity check, which the AR0234 cannot run there (no reset line).
        CFakeDevice device;
        device.SetHardwareType(hw);
        std::unique_ptr<SensorInf> driver(SensorInf::NewSensor(code, &device));
        ASSERT_NE(driver, nullptr);
        CSensorTrace unserved(device);
        param = Stream(Window(640, 480, 16, 8), 2, kBayer8);
        EXPECT_EQ(driver->Init(&param), CAMERA_STATUS_NOT_SUPPORTED);
        EXPECT_TRUE(unserved.Steps().empty());
        SensorCapability cap;
        driver->GetCapability(cap);
        EXPECT_FALSE(cap.supportMediaType.empty());
    }
    EXPECT_EQ(SensorInf::CreateSensor(SENSOR_TYPE_AR0234C, dev.get()), nullptr);
    // The AR0130 and the MT9J003 on a board of no row of theirs: the clock they default to.
    Start(107, SENSOR_TYPE_AR0130, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(dev->CallCount("SetPll"), 0u);
    EXPECT_NEAR(LineUs(), 1430 / 48.0, 1e-9);  // max(1430, 640 + 400) periods at 48 MHz
    Start(107, SENSOR_TYPE_MT9J003C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(dev->CallCount("SetSensorInterface"), 0u);
    EXPECT_NEAR(LineUs(), (640 + 940 + 100) / 2 / 36.0, 1e-9);  // 36 MHz, pads w + 300
}

}  // namespace
