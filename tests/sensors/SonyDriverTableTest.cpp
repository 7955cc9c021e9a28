// The Sony chip drivers of the rolling-shutter and frame-count families, row by row over their
// boards and bit depths: what Init does first (reset, bus, clock, interface word, trigger reset)
// and last (the FPGA image window), that it stops at a failure, that exposures and gains read
// back as what the registers hold, frame speeds, trigger modes, and boards they do not serve.
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

enum class Family { Wdr, Imx225, Imx183, Imx226, Imx178, Imx377, Imx577, Imx335, Imx335Fpga };

struct Row {
    SensorTypeE code;
    int hw;
    uint32_t format;
    Family family;
    std::vector<TraceStep> reset;  // the pulse, before the bus is selected
    std::vector<int64_t> pll;      // SetPll values; empty: none
    int64_t setupWord;             // the sensor-interface word of the set-up
    bool triggerReset;             // SetTriggerControl (0, 0, 1, 0) after it
    std::vector<int64_t> window;   // SetImageWindow x, y (the rest from the 640 x 480 window)
    int channelMask = 1;
};

// The bus of each family, and the trigger timing its trigger modes set (none: nullopt).
std::pair<int, int> Bus(Family f) {
    if (f == Family::Wdr) return {0x00, 0x12};
    if (f == Family::Imx183 || f == Family::Imx226) return {0x81, 0x12};
    return {0x34, 0x12};
}
std::optional<std::pair<int, int>> TriggerTiming(Family f) {
    if (f == Family::Wdr) return std::make_pair(10, 0xFFFF);
    if (f == Family::Imx225 || f == Family::Imx183 || f == Family::Imx226 || f == Family::Imx178)
        return std::make_pair(10, 50000);
    return std::nullopt;
}

// Expected values from the chips' programming descriptions. Interface words: bit 0 for 8-bit
// output (IMX225: the 10-bit converter), the bit mode (32 for 12 bits), 0x40, and the lane bits.
const Row kRows[] = {
    {SENSOR_TYPE_IMX290C_WDR,
     201,
     kBayer8,
     Family::Wdr,
     FpgaBitPulse(0x310C1),
     {18, 1, 2, 2, 12, 12, 5, 27},
     0x40,
     true,
     {0, 0}},
    {SENSOR_TYPE_IMX225C,
     100,
     kBayer8,
     Family::Imx225,
     GpioPulse(28),
     {27, 1, 1, 1, 10, 13, 13, 6},
     0x41,
     true,
     {5, 17}},
    {SENSOR_TYPE_IMX225C,
     201,
     kBayer12,
     Family::Imx225,
     FpgaBitPulse(0x310C1),
     {18, 1, 1, 1, 48, 12, 5, 27},
     0x64,
     true,
     {5, 17}},
    {SENSOR_TYPE_IMX225C, 8, kBayer8, Family::Imx225, GpioPulse(23), {}, 0x44, true, {5, 17}},
    {SENSOR_TYPE_IMX183C,
     100,
     kBayer8,
     Family::Imx183,
     GpioPulse(28),
     {50, 1, 2, 2, 13, 22, 13, 10},
     0x4D,
     true,
     {97, 18}},
    {SENSOR_TYPE_IMX183M,
     205,
     kMono12,
     Family::Imx183,
     FpgaBitPulse(0x310C1),
     {},
     0x65,
     true,
     {97, 18}},
    {SENSOR_TYPE_IMX183C,
     201,
     kBayer12,
     Family::Imx183,
     FpgaBitPulse(0x310C1),
     {18, 1, 1, 1, 30, 12, 4, 27},
     0x6D,
     true,
     {97, 18}},
    {SENSOR_TYPE_IMX206,
     103,
     kBayer8,
     Family::Imx183,
     GpioPulse(28),
     {36, 1, 2, 2, 12, 13, 13, 4},
     0x45,
     true,
     {97, 16}},
    {SENSOR_TYPE_IMX206,
     6,
     kBayer12,
     Family::Imx183,
     GpioPulse(23),
     {26, 1, 2, 2, 13, 34, 13, 10},
     0x65,
     true,
     {97, 16}},
    {SENSOR_TYPE_IMX226C, 110, kBayer8, Family::Imx226, GpioPulse(29), {}, 0x4D, true, {149, 66}},
    {SENSOR_TYPE_IMX226M,
     201,
     kMono12,
     Family::Imx226,
     FpgaBitPulse(0x310C1),
     {18, 1, 2, 2, 54, 12, 5, 27},
     0x6C,
     true,
     {149, 66}},
    {SENSOR_TYPE_IMX226C,
     100,
     kBayer8,
     Family::Imx226,
     GpioPulse(28),
     {24, 1, 1, 1, 8, 9, 13, 6},
     0x4D,
     true,
     {149, 66}},
    {SENSOR_TYPE_IMX178C,
     104,
     kBayer8,
     Family::Imx178,
     GpioPulse(28),
     {27, 1, 1, 1, 10, 13, 13, 6},
     0x41,
     true,
     {1, 17}},
    {SENSOR_TYPE_IMX178M,
     205,
     kMono12,
     Family::Imx178,
     FpgaBitPulse(0x310C1),
     {},
     0x64,
     true,
     {1, 17}},
    {SENSOR_TYPE_IMX178C,
     203,
     kBayer12,
     Family::Imx178,
     FpgaBitPulse(0x310C1),
     {18, 1, 1, 1, 12, 12, 4, 27},
     0x60,
     true,
     {1, 17}},
    {SENSOR_TYPE_IMX377C, 110, kBayer8, Family::Imx377, GpioPulse(29), {}, 0x45, true, {75, 24}},
    {SENSOR_TYPE_IMX377C,
     205,
     kBayer12,
     Family::Imx377,
     FpgaBitPulse(0x310C1),
     {},
     0x64,
     false,
     {75, 24}},
    {SENSOR_TYPE_IMX577C, 110, kBayer12, Family::Imx577, GpioPulse(29), {}, 0x64, true, {1, 0}},
    {SENSOR_TYPE_IMX577C,
     205,
     kBayer8,
     Family::Imx577,
     FpgaBitPulse(0x310C1),
     {},
     0x45,
     false,
     {1, 0}},
    {SENSOR_TYPE_IMX335C, 110, kBayer8, Family::Imx335, GpioPulse(29), {}, 0x45, true, {13, 8}},
    {SENSOR_TYPE_IMX335M,
     306,
     kMono8,
     Family::Imx335,
     GpioPairTogetherPulse(23, 71),
     {1, 8, 128, 0, 0, 0, 0, 0},
     0x44,
     true,
     {12, 8}},
    {SENSOR_TYPE_IMX335C_B,
     9,
     kBayer8,
     Family::Imx335Fpga,
     GpioPulse(23),
     {1, 8, 128, 0, 0, 0, 0, 0},
     0x44,
     true,
     {12, 8}},
    {SENSOR_TYPE_IMX335M_B,
     201,
     kMono12,
     Family::Imx335Fpga,
     FpgaBitPulse(0x310C1),
     {18, 1, 1, 1, 48, 12, 5, 27},
     0x64,
     true,
     {12, 8}},
    {SENSOR_TYPE_IMX335C_B,
     205,
     kBayer8,
     Family::Imx335Fpga,
     FpgaBitPulse(0x310C1),
     {},
     0x45,
     true,
     {13, 8}},
    {SENSOR_TYPE_IMX335C,
     106,
     kBayer8,
     Family::Imx335,
     GpioPulse(28),
     {27, 1, 2, 2, 9, 52, 13, 8},
     0x45,
     true,
     {13, 8},
     1},
};

std::string Name(const Row& row) {
    return "code " + std::to_string(row.code) + " on " + std::to_string(row.hw) + " format " +
           std::to_string(row.format);
}

class SonyDriverTable : public DriverFixture {
  protected:
    void StartRow(const Row& row) {
        Start(row.hw, row.code, Window(640, 480, 16, 8), 2, row.format, row.channelMask);
    }

    // The lines the chip exposes, from what its registers and the FPGA timing hold.
    double LinesInForce(const Row& row) {
        const int64_t fl = std::llround(FrameUs() / LineUs());
        switch (row.family) {
            case Family::Imx225:
                return SensorValue({{0x3018, 0xFF}, {0x3019, 0xFF}, {0x301A, 1}}) -
                       SensorValue({{0x3020, 0xFF}, {0x3021, 0xFF}, {0x3022, 1}}) - 1.0;
            case Family::Imx178:
                return SensorValue({{0x302C, 0xFF}, {0x302D, 0xFF}, {0x302E, 1}}) -
                       static_cast<double>(
                           SensorValue({{0x3034, 0xFF}, {0x3035, 0xFF}, {0x3036, 1}}));
            case Family::Imx335:
                return SensorValue({{0x3030, 0xFF}, {0x3031, 0xFF}, {0x3032, 1}}) -
                       static_cast<double>(
                           SensorValue({{0x3058, 0xFF}, {0x3059, 0xFF}, {0x305A, 0xF}}));
            case Family::Imx335Fpga: {
                const double frame = row.hw == 9 ? (dev->FpgaReg(18) | dev->FpgaReg(20) << 16) + 1.0
                                                 : ImageTimingFrame();
                return frame - SensorValue({{0x3058, 0xFF}, {0x3059, 0xFF}, {0x305A, 0xF}});
            }
            case Family::Imx183: {
                const uint32_t k = SensorValue({{0x0D, 0xFF}, {0x0E, 0xFF}});
                const uint32_t s = SensorValue({{0x0B, 0xFF}, {0x0C, 0xFF}});
                return (k + 1.0) * static_cast<double>(fl) - s;
            }
            case Family::Imx226: {
                const uint32_t d = Sensor(0x0D);
                const uint32_t frames = d == 2 ? 2 : d == 3 ? 4 : 1;
                return static_cast<double>(ImageTimingFrame()) * frames -
                       SensorValue({{0x0B, 0xFF}, {0x0C, 0xFF}});
            }
            case Family::Imx377: {
                const uint32_t frame = SensorValue({{0x30F7, 0xFF}, {0x30F8, 0xFF}, {0x30F9, 0xF}});
                const uint32_t k = SensorValue({{0x300D, 0xFF}, {0x300E, 0xFF}});
                const uint32_t s = SensorValue({{0x300B, 0xFF}, {0x300C, 0xFF}});
                return (k + 1.0) * frame - s;
            }
            case Family::Imx577:
                return Sensor(0x0202) << 8 | Sensor(0x0203);
            case Family::Wdr:
                break;
        }
        return -1;
    }

    double FrameUs() const {
        double us = 0;
        sensor->GetFrameTime(&us);
        return us;
    }

    // The gain in thousandths the gain registers give, and how far below the gain reported it
    // may lie (the log-coded chips keep the request, rounded down to a whole code step).
    std::pair<double, double> GainInForce(const Row& row) {
        auto db = [](double tenths) { return 1000.0 * std::pow(10.0, tenths / 200.0); };
        switch (row.family) {
            case Family::Imx225: {
                const uint32_t code = SensorValue({{0x3014, 0xFF}, {0x3015, 3}});
                const double hcg = (Sensor(0x3009) & 0x10) != 0 ? 60 : 0;
                return {db(code + hcg), db(code + hcg + 1) - db(code + hcg)};
            }
            case Family::Imx178: {
                const uint32_t code = SensorValue({{0x301F, 0xFF}, {0x3020, 1}});
                return {db(code), db(code + 1) - db(code)};
            }
            case Family::Imx335:
            case Family::Imx335Fpga: {
                const uint32_t code = SensorValue({{0x30E8, 0xFF}, {0x30E9, 1}});
                return {db(3.0 * code), db(3.0 * code + 3) - db(3.0 * code)};
            }
            case Family::Imx183:
            case Family::Imx226: {
                const uint32_t q = SensorValue({{0x09, 0xFF}, {0x0A, 0xFF}});
                return {std::floor(2048000.0 / (2048 - q)), 0};
            }
            case Family::Imx377: {
                const uint32_t q = SensorValue({{0x3009, 0xFF}, {0x300A, 7}});
                const double f = Sensor(0x3011) != 0 ? 2 : 1;
                return {std::floor(f * 2048000.0 / (2048 - q)), 0};
            }
            case Family::Imx577: {
                const uint32_t a = Sensor(0x0204) << 8 | Sensor(0x0205);
                const uint32_t d = Sensor(0x020E) << 8 | Sensor(0x020F);
                return {std::floor(d / 256.0 * 1024.0 / (1024 - a) * 1000), 0};
            }
            case Family::Wdr:
                break;
        }
        return {-1, 0};
    }
};

// Init opens with the reset pulse, the bus and its 20 ms, and programs the clock, the set-up
// interface word and the trigger reset in that order; it ends with the image window in the FPGA.
TEST_F(SonyDriverTable, InitResetBusClockInterfaceAndWindow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        ASSERT_EQ(sensor->Init(&param), 0);
        const auto steps = Steps();
        std::vector<TraceStep> opening = row.reset;
        const auto [address, widths] = Bus(row.family);
        opening.push_back(Call("SetSensorBus", {address, widths}));
        opening.push_back(Sleep(20));
        ASSERT_GE(steps.size(), opening.size());
        EXPECT_TRUE(TraceMatches({steps.begin(), steps.begin() + static_cast<long>(opening.size())},
                                 opening));

        std::vector<TraceStep> middle;
        if (!row.pll.empty()) {
            TraceStep pll = Call("SetPll");
            pll.args = row.pll;
            middle.push_back(pll);
        }
        middle.push_back(Call("SetSensorInterface", {row.setupWord}));
        if (row.triggerReset) middle.push_back(Call("SetTriggerControl", {0, 0, 1, 0}));
        const int64_t twoBytes = row.format == kBayer12 || row.format == kMono12;
        const int64_t width = row.hw == 106 ? 640 * row.channelMask : 640;
        middle.push_back(Call("SetImageWindow", {row.window[0], row.window[1], width, 480, 640, 480,
                                                 twoBytes ? 16 : 8}));
        middle.push_back(Call("SetFpgaPixelFormat", {row.format}));
        EXPECT_TRUE(ContainsInOrder(steps, middle));
        EXPECT_EQ(dev->CallCount("SetPll"), row.pll.empty() ? 0u : 1u);
        EXPECT_EQ(dev->ContractViolations(), 0);

        stImageInfo info = ImageInfo();
        EXPECT_EQ(info.iWidth, 640u);
        EXPECT_EQ(info.iHeight, 480u);
        EXPECT_EQ(info.uiMediaType, row.format);
        EXPECT_EQ(info.TotalBytes, 640u * 480u * (twoBytes ? 2 : 1));
    }
}

// A device failure ends Init where it happens, with its status.
TEST_F(SonyDriverTable, InitStopsAtAFailure) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        dev->SetResult("SetSensorInterface", CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(Steps().back().ToString(),
                  Call("SetSensorInterface", {row.setupWord}).ToString());

        Make(row.hw, row.code);
        dev->SetResult("SetFrameBuffer", CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(Steps().back().op, "SetFrameBuffer");
    }
}

// Every exposure, from none to far beyond what the chip holds, reads back as the lines its
// registers hold; every gain as the gain its registers give.
TEST_F(SonyDriverTable, ExposureAndGainReadBackWhatTheRegistersHold) {
    const double kExposuresUs[] = {0, 1, 30, 1000, 33000, 250000, 3e6, 6e7, 1e12};
    const uint32_t kGains[] = {0, 500, 1000, 1500, 2000, 15999, 16000, 20000, 30000, 100000};
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        for (double us : kExposuresUs) {
            SCOPED_TRACE("exposure " + std::to_string(us));
            ASSERT_EQ(sensor->SetExposure(us), 0);
            const double reported = ExposureUs();
            if (row.family == Family::Wdr) {
                // The module takes a step code: the one of the time reported.
                const double ns = reported * 1000;
                const uint32_t want = ns < 20000      ? 74
                                      : ns < 100000   ? 73
                                      : ns < 200000   ? 72
                                      : ns < 500000   ? 71
                                      : ns < 1000000  ? 70
                                      : ns < 3000000  ? 69
                                      : ns < 5000000  ? 68
                                      : ns < 10000000 ? 67
                                      : ns < 20000000 ? 66
                                      : ns < 40000000 ? 65
                                      : ns < 80000000 ? 75
                                                      : 76;
                EXPECT_EQ(Sensor(0x803C), want);
                continue;
            }
            const double lines = LinesInForce(row);
            EXPECT_GE(lines, 1);
            EXPECT_NEAR(reported, lines * LineUs(), 1e-6 * std::max(1.0, reported));
            if (us >= 1000 && us <= 250000) {
                // Within reach: what was asked, to the line (IMX577 counts from 0.43 lines in).
                EXPECT_NEAR(reported, us, 1.5 * LineUs());
            }
        }
        SensorParam p = Param();
        for (uint32_t g : kGains) {
            SCOPED_TRACE("gain " + std::to_string(g));
            ASSERT_EQ(sensor->SetAnalogGain(g), 0);
            const int reported = Gain();
            EXPECT_GE(reported, static_cast<int>(p.analogGainMin));
            EXPECT_LE(reported, static_cast<int>(p.analogGainMax));
            if (row.family == Family::Wdr) {
                EXPECT_EQ(reported,
                          static_cast<int>(std::clamp(g, p.analogGainMin, p.analogGainMax)));
                continue;
            }
            const auto [inForce, step] = GainInForce(row);
            EXPECT_GE(reported, inForce - 1);
            EXPECT_LE(reported, inForce + step + 1);
        }
    }
}

// Speeds 0 to 2 are taken; any other is refused with nothing written (the WDR module, whose
// timing is its own, takes any speed and writes nothing either).
TEST_F(SonyDriverTable, FrameSpeedsAndRefusedSpeeds) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        double previousFrame = 0;
        for (int speed : {0, 1, 2}) {
            EXPECT_EQ(sensor->SetFrameSpeed(speed), 0);
            EXPECT_EQ(Speed(), speed);
            double frameUs = 0;
            sensor->GetFrameTime(&frameUs);
            EXPECT_GT(frameUs, 0);
            if (speed > 0 && row.family != Family::Wdr) {
                EXPECT_LE(frameUs, previousFrame);  // faster never means longer frames
            }
            previousFrame = frameUs;
        }
        trace->Clear();
        const int refused = row.family == Family::Wdr ? 0 : CAMERA_STATUS_PARAMETER_INVALID;
        EXPECT_EQ(sensor->SetFrameSpeed(3), refused);
        EXPECT_EQ(sensor->SetFrameSpeed(-1), refused);
        EXPECT_TRUE(Steps().empty());
        if (row.family != Family::Wdr) {
            EXPECT_EQ(Speed(), 2);
        }
    }
}

TEST_F(SonyDriverTable, TriggerModes) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);  // external source 3 in the word
        trace->Clear();
        const auto timing = TriggerTiming(row.family);
        std::vector<TraceStep> want;
        for (int mode : {2, 1, 0}) {  // 2 keeps the source 3 read back
            const int64_t source = mode == 1 ? 6 : mode == 2 ? 3 : 0;
            want.push_back(Call("GetTriggerControl"));
            want.push_back(Call("SetTriggerControl", {0x108, source, 1, mode != 0 ? 1 : 0}));
            if (mode != 0 && timing) {
                want.push_back(Call("SetTriggerTiming", {timing->first, timing->second}));
            }
            EXPECT_EQ(sensor->SetTriggerMode(mode), 0);
        }
        const auto steps = Steps();
        EXPECT_TRUE(ContainsInOrder(steps, want));
        EXPECT_EQ(dev->CallCount("SetTriggerTiming"), timing ? 2u : 0u);
        trace->Clear();
        EXPECT_EQ(sensor->SetTriggerMode(7), 0);
        EXPECT_TRUE(Steps().empty());
    }
}

// A board the driver does not serve is refused before any traffic.
TEST_F(SonyDriverTable, UnservedBoardsAreRefusedBeforeTraffic) {
    for (const Row& row : kRows) {
        for (int hw : {0, 107, 300}) {
            SCOPED_TRACE(Name(row) + " moved to " + std::to_string(hw));
            Make(hw, row.code);
            param = Stream(Window(640, 480, 16, 8), 2, row.format);
            EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_NOT_SUPPORTED);
            EXPECT_EQ(sensor->Reset(), CAMERA_STATUS_NOT_SUPPORTED);
            if (row.family != Family::Wdr) {
                EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_NOT_SUPPORTED);
            }
            EXPECT_TRUE(Steps().empty());
            // Its capability still offers a format, first the 8-bit one.
            const SensorCapability cap = Capability();
            ASSERT_FALSE(cap.supportMediaType.empty());
            EXPECT_EQ(cap.supportMediaType[0] & 0x00FF0000u, 0x00080000u);
        }
    }
}

}  // namespace
