// The drivers of the Sony SWIR chips (IMX990, IMX991, IMX992), the e2v EV76C560 and EV76C570,
// the Micron MT9T001 and MT9V024, the PYTHON1300, the SC130GS and the JX-F28P, row by row over
// their boards and bit depths: what Init does first (reset, bus, clock, interface word, trigger
// reset) and last (the FPGA image window), that it stops at a failure, that exposures and gains
// read back as what the registers hold, frame speeds, trigger modes, boards they do not serve and
// the chip identity checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <string>

#include "DriverFixture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010;
constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

enum class Family { Imx99x, Ev76, Mt9t001, Mt9v024, Python, Sc130gs, Jxf28p };

std::vector<TraceStep> Join(std::initializer_list<std::vector<TraceStep>> parts) {
    std::vector<TraceStep> all;
    for (const auto& part : parts) Append(all, part);
    return all;
}
std::vector<TraceStep> PairThen65() {  // GPIO 23 and 71 pulsed, then GPIO 65 held low
    return {Call("SetGpioMode", {23, 0}),
            Call("WriteGpio", {23, 0}),
            Call("SetGpioMode", {71, 0}),
            Call("WriteGpio", {71, 0}),
            Sleep(10),
            Call("WriteGpio", {23, 1}),
            Call("WriteGpio", {71, 1}),
            Sleep(10),
            Call("SetGpioMode", {65, 0}),
            Call("WriteGpio", {65, 0})};
}
std::vector<TraceStep> TwoLine() {  // GPIO 66 low for 100 ms with 65 low, then 66 high
    return {Call("SetGpioMode", {66, 0}),
            Call("SetGpioMode", {65, 0}),
            Call("WriteGpio", {66, 0}),
            Call("WriteGpio", {65, 0}),
            Sleep(100),
            Call("WriteGpio", {66, 1})};
}
std::vector<TraceStep> Bus(int address, int widths, bool pause = true) {
    std::vector<TraceStep> s{Call("SetSensorBus", {address, widths})};
    if (pause) s.push_back(Sleep(20));
    return s;
}

struct Row {
    SensorTypeE code;
    int hw;
    uint32_t format;
    Family family;
    std::vector<TraceStep> opening;  // from the reset to the bus selection and its pause
    std::vector<int64_t> pll;        // SetPll values; empty: none
    int64_t setupWord;               // -1: none
    bool triggerReset;               // SetTriggerControl (0, 0, 1, 0) after the set-up word
    std::vector<int64_t> window;     // SetImageWindow x, y; empty: no FPGA window
    int channelMask = 1;
};

const std::vector<int64_t> kPllGigE{18, 1, 1, 1, 12, 12, 6, 27};

// Expected values from the chips' programming descriptions.
const Row kRows[] = {
    {SENSOR_TYPE_IMX990I,
     201,
     kMono8,
     Family::Imx99x,
     Join({FpgaBitPulse(0x310C1), Bus(0x34, 0x12)}),
     kPllGigE,
     0x46,
     true,
     {0, 21}},
    {SENSOR_TYPE_IMX990I,
     111,
     kMono12,
     Family::Imx99x,
     Join({GpioPulse(29), Bus(0x34, 0x12)}),
     {},
     0x64,
     true,
     {0, 21}},
    {SENSOR_TYPE_IMX990I,
     9,
     kMono8,
     Family::Imx99x,
     Join({GpioPulse(23), Bus(0x34, 0x12)}),
     {1, 8, 128, 0, 0, 0, 0, 0},
     0x46,
     true,
     {0, 21}},
    {SENSOR_TYPE_IMX991I,
     100,
     kMono8,
     Family::Imx99x,
     Join({GpioPulse(28), Bus(0x34, 0x12)}),
     {27, 1, 1, 1, 10, 13, 13, 6},
     0x45,
     true,
     {0, 21}},
    {SENSOR_TYPE_IMX991I,
     205,
     kMono12,
     Family::Imx99x,
     Join({FpgaBitPulse(0x310C1), Bus(0x34, 0x12)}),
     {},
     0x64,
     true,
     {0, 21}},
    {SENSOR_TYPE_IMX992I,
     111,
     kMono8,
     Family::Imx99x,
     Join({GpioPulse(29), Bus(0x34, 0x12)}),
     {},
     0x42,
     true,
     {112, 29}},
    {SENSOR_TYPE_IMX992I,
     205,
     kMono12,
     Family::Imx99x,
     Join({FpgaBitPulse(0x310C1), Bus(0x34, 0x12)}),
     {},
     0x64,
     true,
     {112, 29}},
    {SENSOR_TYPE_EV76C560C,
     100,
     kBayer8,
     Family::Ev76,
     Join({GpioPulse(28), Bus(0x86, 0x21)}),
     {24, 1, 2, 2, 10, 26, 13, 6},
     0x1D,
     true,
     {0, 0}},
    {SENSOR_TYPE_EV76C560M,
     305,
     kMono12,
     Family::Ev76,
     Join({GpioPulse(23), Bus(0x86, 0x21)}),
     {12, 1, 11, 8, 23, 23, 23, 23},
     0x3D,
     true,
     {0, 0}},
    {SENSOR_TYPE_EV76C570C,
     205,
     kBayer8,
     Family::Ev76,
     Join({FpgaBitPulse(0x310C1), Bus(0x86, 0x21)}),
     {},
     0x1D,
     true,
     {0, 0}},
    {SENSOR_TYPE_EV76C570M,
     201,
     kMono12,
     Family::Ev76,
     Join({FpgaBitPulse(0x310C1), Bus(0x86, 0x21)}),
     {18, 1, 2, 2, 27, 16, 27, 27},
     0x3D,
     true,
     {0, 0}},
    {SENSOR_TYPE_MT9T001,
     2,
     kBayer8,
     Family::Mt9t001,
     Join({GpioPulse(23), Bus(0xBA, 0x21)}),
     {26, 1, 2, 2, 13, 13, 13, 11},
     0x0D,
     true,
     {0, 0}},
    {SENSOR_TYPE_MT9T001,
     201,
     kBayer12,
     Family::Mt9t001,
     Join({FpgaBitPulse(0x310C1), Bus(0xBA, 0x21)}),
     {12, 1, 1, 1, 9, 9, 36, 36},
     0x2D,
     true,
     {0, 0}},
    {SENSOR_TYPE_MT9T001,
     0,
     kBayer8,
     Family::Mt9t001,
     Join({TwoLine(), Bus(0xBA, 0x21)}),
     {},
     -1,
     false,
     {}},
    {SENSOR_TYPE_MT9V024C,
     301,
     kBayer8,
     Family::Mt9v024,
     Join({PairThen65(), Bus(0xB8, 0x21)}),
     {},
     0x0C,
     true,
     {0, 0}},
    {SENSOR_TYPE_MT9V024M,
     201,
     kMono12,
     Family::Mt9v024,
     Join({FpgaBitPulse(0x310C1), Bus(0xB8, 0x21)}),
     {24, 1, 3, 3, 18, 16, 36, 36},
     0x2D,
     true,
     {0, 0}},
    {SENSOR_TYPE_MT9V024M,
     0,
     kMono8,
     Family::Mt9v024,
     Join({TwoLine(), Bus(0xB8, 0x21)}),
     {},
     -1,
     false,
     {}},
    {SENSOR_TYPE_PYTHON1300C,
     100,
     kBayer8,
     Family::Python,
     Join({GpioPulse(28), Bus(0x00, 0x22)}),
     {36, 1, 2, 2, 12, 13, 13, 4},
     0x11,
     true,
     {0, 0}},
    {SENSOR_TYPE_PYTHON1300M,
     201,
     kMono12,
     Family::Python,
     Join({FpgaBitPulse(0x310C1), Bus(0x00, 0x22)}),
     {18, 1, 1, 1, 18, 12, 4, 27},
     0x31,
     true,
     {0, 0}},
    {SENSOR_TYPE_SC130GSC,
     110,
     kBayer8,
     Family::Sc130gs,
     Join({GpioPulse(29), Bus(0x60, 0x12, false)}),
     {},
     0x0D,
     true,
     {0, 0}},
    {SENSOR_TYPE_SC130GSM,
     106,
     kMono12,
     Family::Sc130gs,
     Join({GpioPulse(28), Bus(0x60, 0x12, false)}),
     {27, 1, 1, 1, 8, 26, 13, 12},
     0x2D,
     true,
     {0, 0},
     0b0101},
    {SENSOR_TYPE_SC130GSC,
     201,
     kBayer8,
     Family::Sc130gs,
     Join({FpgaBitPulse(0x310C1), Bus(0x60, 0x12, false)}),
     {24, 1, 3, 3, 18, 16, 36, 36},
     0x0D,
     true,
     {0, 0}},
    {SENSOR_TYPE_SC130GSM,
     9,
     kMono12,
     Family::Sc130gs,
     Join({GpioPulse(23), Bus(0x60, 0x12, false)}),
     {9, 16, 32, 0, 0, 0, 0, 0},
     0x2D,
     true,
     {0, 0}},
    {SENSOR_TYPE_JXF28PC,
     110,
     kMono8,
     Family::Jxf28p,
     Join({GpioPulse(29),
           {Call("SetSensorBus", {0x80, 0x11}), Call("SetSensorInterface", {0x40}), Sleep(20)}}),
     {},
     0x49,
     true,
     {16, 8}},
};

std::string Name(const Row& row) {
    return "code " + std::to_string(row.code) + " on " + std::to_string(row.hw) + " format " +
           std::to_string(row.format);
}

class MixedFamiliesTable : public DriverFixture {
  protected:
    void StartRow(const Row& row) {
        Start(row.hw, row.code, Window(640, 480, 16, 8), 2, row.format, row.channelMask);
    }

    double FpgaFrame111() const { return (dev->FpgaReg(35) | dev->FpgaReg(37) << 16) + 1.0; }

    // The exposure in microseconds the registers (and the FPGA's frame) hold.
    double ExposureInForceUs(const Row& row) {
        switch (row.family) {
            case Family::Imx99x: {
                const double shr = SensorValue({{0x3240, 0xFF}, {0x3241, 0xFF}, {0x3242, 0xFF}});
                double frame;
                if (row.hw == 111)
                    frame = FpgaFrame111();
                else if (row.code == SENSOR_TYPE_IMX992I)
                    frame = dev->FpgaReg(40);
                else
                    frame = SensorValue({{0x30D4, 0xFF}, {0x30D5, 0xFF}, {0x30D6, 0xFF}});
                return (frame - shr) * LineUs();
            }
            case Family::Ev76: {
                const bool c570 =
                    row.code == SENSOR_TYPE_EV76C570C || row.code == SENSOR_TYPE_EV76C570M;
                const double divider = Sensor(0x84) & (c570 ? 0x7FF : 0x7FFF);
                const double periodNs =
                    1e9 /
                    (row.format == kMono12 || row.format == kBayer12 ? 28500000.0 : 57000000.0);
                return Sensor(0x8E) * divider * 8 * periodNs / 1000;
            }
            case Family::Mt9t001:
                return (Sensor(0x08) << 16 | Sensor(0x09)) * LineUs();
            case Family::Mt9v024:
                return Sensor(0x0B) * LineUs();
            case Family::Python: {
                const double clockMhz = row.hw == 100 ? 72 : 36;
                return Sensor(0x0C9) * static_cast<double>(Sensor(0x0C7)) / clockMhz;
            }
            case Family::Sc130gs:
                return SensorValue({{0x3E02, 0xFF}, {0x3E01, 0xFF}}) / 8.0 * LineUs();
            case Family::Jxf28p:
                return SensorValue({{0x01, 0xFF}, {0x02, 0xFF}}) * LineUs();
        }
        return -1;
    }

    // The gain in thousandths the gain registers give, and how far above it the gain reported
    // may lie (the log code of the Sony chips keeps the request, rounded down to a step).
    std::pair<double, double> GainInForce(const Row& row) {
        auto db = [](double tenths) { return 1000.0 * std::pow(10.0, tenths / 200.0); };
        switch (row.family) {
            case Family::Imx99x: {
                const uint32_t code = SensorValue({{0x3514, 0xFF}, {0x3515, 1}});
                return {db(code), db(code + 1) - db(code)};
            }
            case Family::Ev76: {
                const uint32_t code = Sensor(0x91);
                constexpr double kCoarse[] = {1, 1.5, 2, 3, 4, 6, 8};
                const double factor = kCoarse[std::min<uint32_t>(code >> 8, 6)];
                const int exponent = (code >> 6) & 3;
                return {std::floor((1 << exponent) * (1 + (code & 0x3F) / 64.0) * factor * 1000),
                        0};
            }
            case Family::Mt9t001: {
                const double code = Sensor(0x35);
                const double gain = code >= 96  ? code * 1000 - 88000
                                    : code > 80 ? std::floor((code * 1000 - 64000) / 4)
                                                : code * 125;
                return {gain, 0};
            }
            case Family::Mt9v024:
                return {Sensor(0x35) * 1000.0 / 16, 0};
            case Family::Python: {
                const uint32_t code = Sensor(0x0CC);
                const double factor = code == 0x1E8 ? 8 : code == 0x1E4 ? 1.8 : 1;
                return {std::floor(Sensor(0x0CD) / 128.0 * factor * 1000), 0};
            }
            case Family::Sc130gs: {
                const uint32_t coarse = Sensor(0x3E08);
                constexpr std::pair<uint32_t, double> kFactor[] = {
                    {0x03, 1},     {0x07, 1.95},  {0x0F, 3.84}, {0x1F, 7.04},
                    {0x3F, 14.08}, {0x7F, 28.16}, {0xFF, 56.32}};
                double factor = 0;
                for (auto [c, f] : kFactor)
                    if (c == coarse) factor = f;
                return {std::floor(Sensor(0x3E09) * factor / 32 * 1000), 0};
            }
            case Family::Jxf28p: {
                const uint32_t code = Sensor(0x00);
                const double factor = 1 << (code >> 4);
                return {std::floor(factor * (1 + (code & 15) / 16.0) * 1000), 0};
            }
        }
        return {-1, 0};
    }

    // The trigger timing of the trigger modes, or nullopt for none.
    std::optional<std::pair<int64_t, int64_t>> TriggerTiming(const Row& row) {
        switch (row.family) {
            case Family::Ev76:
                return std::make_pair(
                    row.code == SENSOR_TYPE_EV76C570C || row.code == SENSOR_TYPE_EV76C570M ? 50
                                                                                           : 10,
                    50000);
            case Family::Mt9t001:
                return std::make_pair(1000, 50000);
            case Family::Mt9v024:
            case Family::Python:
            case Family::Jxf28p:
                return std::make_pair(10, 50000);
            default:
                return std::nullopt;
        }
    }

    // The chip's own register of the trigger modes and its value in continuous and trigger
    // modes; nullopt where the chip has none.
    std::optional<std::tuple<uint16_t, uint16_t, uint16_t>> ModeRegister(const Row& row) {
        switch (row.family) {
            case Family::Imx99x:
                return std::make_tuple(uint16_t{0x3400}, uint16_t{0}, uint16_t{1});
            case Family::Ev76:
                return std::make_tuple(uint16_t{0x8B}, uint16_t{0x4E}, uint16_t{0x144});
            case Family::Mt9t001:
                return std::make_tuple(uint16_t{0x1E}, uint16_t{0xC640}, uint16_t{0xC740});
            case Family::Mt9v024:
                return std::make_tuple(uint16_t{0x07}, uint16_t{0x188}, uint16_t{0x198});
            case Family::Python:
                return std::make_tuple(uint16_t{0x0C0}, uint16_t{0x080D}, uint16_t{0x081D});
            case Family::Sc130gs:
                return std::make_tuple(uint16_t{0x3234}, uint16_t{0x30}, uint16_t{0xA3});
            case Family::Jxf28p:
                break;
        }
        return std::nullopt;
    }
};

// Init opens with the reset pulse and the bus, and programs the clock, the set-up interface word
// and the trigger reset in that order; it ends with the image window in the FPGA, as wide as the
// chips read side by side.
TEST_F(MixedFamiliesTable, InitResetBusClockInterfaceAndWindow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        ASSERT_EQ(sensor->Init(&param), 0);
        const auto steps = Steps();
        ASSERT_GE(steps.size(), row.opening.size());
        EXPECT_TRUE(TraceMatches(
            {steps.begin(), steps.begin() + static_cast<long>(row.opening.size())}, row.opening));

        std::vector<TraceStep> middle;
        if (!row.pll.empty()) {
            TraceStep pll = Call("SetPll");
            pll.args = row.pll;
            middle.push_back(pll);
        }
        if (row.setupWord >= 0) middle.push_back(Call("SetSensorInterface", {row.setupWord}));
        if (row.triggerReset) middle.push_back(Call("SetTriggerControl", {0, 0, 1, 0}));
        const bool twoBytes = row.format == kBayer12 || row.format == kMono12;
        const int channels = std::popcount(static_cast<unsigned>(row.channelMask));
        if (!row.window.empty()) {
            middle.push_back(Call("SetImageWindow", {row.window[0], row.window[1], 640 * channels,
                                                     480, 640, 480, twoBytes ? 16 : 8}));
            middle.push_back(Call("SetFpgaPixelFormat", {row.format}));
        }
        EXPECT_TRUE(ContainsInOrder(steps, middle));
        EXPECT_EQ(dev->CallCount("SetPll"), row.pll.empty() ? 0u : 1u);
        EXPECT_EQ(dev->CallCount("SetTriggerControl"), row.triggerReset ? 1u : 0u);
        if (row.window.empty()) {
            EXPECT_EQ(dev->CallCount("SetImageWindow"), 0u);
        }
        EXPECT_EQ(dev->ContractViolations(), 0);

        const stImageInfo info = ImageInfo();
        EXPECT_EQ(info.uiMediaType, row.format);
        EXPECT_EQ(info.iWidth, 640u * channels);
        EXPECT_EQ(info.iHeight, 480u);
        EXPECT_EQ(info.TotalBytes, 640u * channels * 480u * (twoBytes ? 2 : 1));
        int lineNs = 0;
        sensor->GetLineTime(&lineNs);
        EXPECT_GT(lineNs, 0);  // every board has a line time to count in
        if (channels > 1) {
            EXPECT_EQ(dev->FpgaReg(40), static_cast<uint32_t>(row.channelMask));
        }
    }
}

// A device failure ends Init where it happens, with its status (the JX-F28P's reset writes an
// interface word of its own first).
TEST_F(MixedFamiliesTable, InitStopsAtAFailure) {
    for (const Row& row : kRows) {
        if (row.setupWord < 0) continue;
        SCOPED_TRACE(Name(row));
        Make(row.hw, row.code);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        dev->SetResult("SetSensorInterface", CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_COMM_ERROR);
        const int64_t word = row.family == Family::Jxf28p ? 0x40 : row.setupWord;
        EXPECT_EQ(Steps().back().ToString(), Call("SetSensorInterface", {word}).ToString());

        Make(row.hw, row.code);
        dev->SetResult("SetFrameBuffer", CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(dev->CallCount("SetFpgaPixelFormat"), 0u);
    }
}

// Every exposure, from none to far beyond what the chip holds, reads back as what its registers
// hold; every gain, in range or not, as the gain its registers give.
TEST_F(MixedFamiliesTable, ExposureAndGainReadBackWhatTheRegistersHold) {
    const double kExposuresUs[] = {0, 1, 30, 1000, 33000, 250000, 3e6, 6e7, 1e12};
    const uint32_t kGains[] = {0,    500,   1000,  1500,  1990,   2000,      4250,
                               8000, 15999, 16000, 30000, 100000, 0xFFFFFFFF};
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        for (double us : kExposuresUs) {
            SCOPED_TRACE("exposure " + std::to_string(us));
            ASSERT_EQ(sensor->SetExposure(us), 0);
            const double reported = ExposureUs();
            EXPECT_GT(reported, 0);
            EXPECT_NEAR(reported, ExposureInForceUs(row), 1e-6 * std::max(1.0, reported));
            if (us >= 1000 && us <= 250000 && us <= Param().expLinesMax * LineUs()) {
                // Within reach: what was asked, to the line (the Sony chips add 14 us of their
                // own).
                EXPECT_NEAR(reported, us, 1.5 * LineUs() + 15);
            }
        }
        const SensorParam p = Param();
        for (uint32_t g : kGains) {
            SCOPED_TRACE("gain " + std::to_string(g));
            ASSERT_EQ(sensor->SetAnalogGain(g), 0);
            const int reported = Gain();
            EXPECT_GE(reported, static_cast<int>(p.analogGainMin) - 100);
            EXPECT_LE(reported, static_cast<int>(p.analogGainMax));
            const auto [inForce, step] = GainInForce(row);
            EXPECT_GE(reported, inForce - 1);
            EXPECT_LE(reported, inForce + step + 1);
        }
    }
}

// Speeds 0 to 2 are taken, faster never meaning longer frames; any other is refused with nothing
// written. The MT9V024 keeps its one timing whatever the speed.
TEST_F(MixedFamiliesTable, FrameSpeedsAndRefusedSpeeds) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        const bool ignored = row.family == Family::Mt9v024;
        double previousFrame = 0;
        for (int speed : {0, 1, 2}) {
            EXPECT_EQ(sensor->SetFrameSpeed(speed), 0);
            EXPECT_EQ(Speed(), ignored ? 2 : speed);
            double frameUs = 0;
            sensor->GetFrameTime(&frameUs);
            EXPECT_GT(frameUs, 0);
            if (speed > 0) {
                EXPECT_LE(frameUs, previousFrame);
            }
            previousFrame = frameUs;
        }
        trace->Clear();
        const int refused = ignored ? 0 : CAMERA_STATUS_PARAMETER_INVALID;
        EXPECT_EQ(sensor->SetFrameSpeed(3), refused);
        EXPECT_EQ(sensor->SetFrameSpeed(-6), refused);
        EXPECT_TRUE(Steps().empty());
        EXPECT_EQ(Speed(), 2);
    }
}

// The trigger modes set the FPGA's trigger word (and the pulse timing where the chip takes one)
// and the chip's own mode; continuous mode sets them back; other modes change nothing.
TEST_F(MixedFamiliesTable, TriggerModes) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);  // external source 3 in the word
        trace->Clear();
        const bool fpga = row.setupWord >= 0;
        const auto timing = TriggerTiming(row);
        const auto mode = ModeRegister(row);
        std::vector<TraceStep> want;
        for (int m : {2, 1, 0}) {
            const int64_t source = m == 1 ? 6 : m == 2 ? 3 : 0;
            if (fpga) {
                want.push_back(Call("GetTriggerControl"));
                want.push_back(Call("SetTriggerControl", {0x108, source, 1, m != 0 ? 1 : 0}));
                if (m != 0 && timing)
                    want.push_back(Call("SetTriggerTiming", {timing->first, timing->second}));
            }
            EXPECT_EQ(sensor->SetTriggerMode(m), 0);
            if (mode) {
                EXPECT_EQ(Sensor(std::get<0>(*mode)),
                          m == 0 ? std::get<1>(*mode) : std::get<2>(*mode));
            }
            if (m != 0 && (row.family == Family::Imx99x || row.family == Family::Sc130gs)) {
                // The exposure is the trigger pulse, counted in microseconds.
                EXPECT_EQ(LineUs(), 1.0);
                EXPECT_EQ(Param().expLinesMin, 15u);
                EXPECT_EQ(Param().expLinesMax, 1000000u);
            }
        }
        EXPECT_TRUE(ContainsInOrder(Steps(), want));
        EXPECT_EQ(dev->CallCount("SetTriggerTiming"), fpga && timing ? 2u : 0u);
        if (row.family == Family::Imx99x || row.family == Family::Sc130gs) {
            // Back in continuous mode the range counts lines again.
            EXPECT_NE(LineUs(), 1.0);
            EXPECT_EQ(Param().expLinesMin, 1u);
            EXPECT_LT(Param().expLinesMax, 1000000u);
        }
        trace->Clear();
        EXPECT_EQ(sensor->SetTriggerMode(7), 0);
        EXPECT_EQ(sensor->SetTriggerMode(-1), 0);
        EXPECT_TRUE(Steps().empty());
    }
}

// A board the driver does not serve is refused before any traffic; its capability still offers
// an 8-bit format first. (The Micron chips run on any board, without a reset line where the
// board has none.)
TEST_F(MixedFamiliesTable, UnservedBoardsAreRefusedBeforeTraffic) {
    for (const Row& row : kRows) {
        if (row.family == Family::Mt9t001 || row.family == Family::Mt9v024) continue;
        for (int hw : {0, 108, 300}) {
            SCOPED_TRACE(Name(row) + " moved to " + std::to_string(hw));
            // Without the identity check, which needs the reset this board does not have.
            trace.reset();
            dev = std::make_shared<CFakeDevice>();
            dev->SetHardwareType(hw);
            sensor.reset(SensorInf::NewSensor(row.code, dev.get()));
            ASSERT_NE(sensor, nullptr);
            trace = std::make_unique<CSensorTrace>(*dev);
            param = Stream(Window(640, 480, 16, 8), 2, row.format);
            EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_NOT_SUPPORTED);
            // The SC130GS has no reset line there and answers -6 for a speed it has no timing
            // for.
            if (row.family != Family::Sc130gs) {
                EXPECT_EQ(sensor->Reset(), CAMERA_STATUS_NOT_SUPPORTED);
                EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_NOT_SUPPORTED);
                EXPECT_TRUE(Steps().empty());
            } else {
                EXPECT_TRUE(Steps().empty());
                EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_PARAMETER_INVALID);
            }
            const SensorCapability cap = Capability();
            ASSERT_FALSE(cap.supportMediaType.empty());
            EXPECT_EQ(cap.supportMediaType[0] & 0x00FF0000u, 0x00080000u);
        }
    }
}

// The chips with an identity are made only when it reads right: another value is refused (-56),
// a read that fails gives its status. The SC130GS and the SWIR chips are made without a check.
TEST_F(MixedFamiliesTable, ChipIdentity) {
    struct Case {
        SensorTypeE code;
        int hw;
    };
    for (const Case& c : {Case{SENSOR_TYPE_MT9T001, 201}, Case{SENSOR_TYPE_MT9V024C, 201},
                          Case{SENSOR_TYPE_EV76C560M, 100}, Case{SENSOR_TYPE_EV76C570C, 205},
                          Case{SENSOR_TYPE_PYTHON1300C, 100}, Case{SENSOR_TYPE_JXF28PC, 110}}) {
        SCOPED_TRACE(c.code);
        const auto identity = ChipIdentity(c.code);
        ASSERT_FALSE(identity.empty());
        for (size_t wrong = 0; wrong <= identity.size(); ++wrong) {
            dev = std::make_shared<CFakeDevice>();
            dev->SetHardwareType(c.hw);
            dev->SetFpgaReg(15, kFpga15);
            for (size_t i = 0; i < identity.size(); ++i)
                dev->SetSensorReg(identity[i].first,
                                  static_cast<uint16_t>(identity[i].second ^ (i == wrong ? 1 : 0)));
            std::unique_ptr<SensorInf> made(SensorInf::CreateSensor(c.code, dev.get()));
            EXPECT_EQ(made != nullptr, wrong == identity.size());
        }
        dev->SetResult("ReadSensorReg", CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(SensorInf::CreateSensor(c.code, dev.get()), nullptr);
        EXPECT_FALSE(SensorInf::ProbeSensor(c.code, dev.get()));
    }
    for (SensorTypeE code : {SENSOR_TYPE_SC130GSC, SENSOR_TYPE_SC130GSM, SENSOR_TYPE_IMX990I,
                             SENSOR_TYPE_IMX991I, SENSOR_TYPE_IMX992I}) {
        dev = std::make_shared<CFakeDevice>();
        dev->SetHardwareType(201);
        std::unique_ptr<SensorInf> made(SensorInf::CreateSensor(code, dev.get()));
        EXPECT_NE(made, nullptr) << code;
        for (const FakeCall& call : dev->Calls()) EXPECT_EQ(call.name, "GetHardwareType") << code;
    }
}

}  // namespace
