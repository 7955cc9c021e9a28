// The drivers of the Sony global-shutter chips (IMX264, IMX265, IMX287, IMX297, IMX392, IMX296),
// the hold-bracket chip IMX487, the FPGA-timed IMX294 and IMX533, and the OmniVision OV5640 and
// OV7725, row by row over their boards and bit depths: what Init does first (reset, bus, clock,
// interface word, trigger reset) and last (the FPGA image window), that exposures and gains read
// back as what the registers hold, frame speeds, trigger modes with their pulse-width switch, and
// boards they do not serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <string>

#include "DriverFixture.h"
#include "ManualSensorTimers.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010;
constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

enum class Family { Gs02, Gs30, Imx487, Imx294, Imx533, Ov7725, Ov5640 };

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

std::vector<TraceStep> Opening(std::vector<TraceStep> reset, int address, int widths,
                               bool pause = true) {
    reset.push_back(Call("SetSensorBus", {address, widths}));
    if (pause) reset.push_back(Sleep(20));
    return reset;
}

std::vector<TraceStep> Ov7725Reset303() {
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

const std::vector<int64_t> kPll100{27, 1, 1, 1, 10, 13, 13, 6};

// Expected values from the chips' programming descriptions. Interface words: the width code, the
// bit mode (32 for 12 bits), 0x40 and the lane bits.
const Row kRows[] = {
    {SENSOR_TYPE_IMX264C,
     100,
     kBayer8,
     Family::Gs02,
     Opening(GpioPulse(28), 0x00, 0x12),
     kPll100,
     0x44,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX264M,
     205,
     kMono12,
     Family::Gs02,
     Opening(FpgaBitPulse(0x310C1), 0x00, 0x12),
     {},
     0x64,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX265C,
     201,
     kBayer8,
     Family::Gs02,
     Opening(FpgaBitPulse(0x310C1), 0x00, 0x12),
     {18, 1, 1, 1, 12, 12, 4, 27},
     0x44,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX265M,
     110,
     kMono12,
     Family::Gs02,
     Opening(GpioPulse(29), 0x00, 0x12),
     {},
     0x64,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX287C,
     100,
     kBayer8,
     Family::Gs02,
     Opening(GpioPulse(28), 0x00, 0x12),
     kPll100,
     0x46,
     true,
     {1, 11}},
    {SENSOR_TYPE_IMX287M,
     201,
     kMono12,
     Family::Gs02,
     Opening(FpgaBitPulse(0x310C1), 0x00, 0x12),
     {18, 1, 1, 1, 12, 12, 6, 27},
     0x64,
     true,
     {1, 11}},
    {SENSOR_TYPE_IMX287C,
     110,
     kBayer8,
     Family::Gs02,
     Opening(GpioPulse(29), 0x00, 0x12),
     {},
     0x46,
     true,
     {1, 11}},
    {SENSOR_TYPE_IMX297C,
     100,
     kBayer12,
     Family::Gs02,
     Opening(GpioPulse(28), 0x00, 0x12),
     kPll100,
     0x65,
     true,
     {0, 0}},
    {SENSOR_TYPE_IMX297M,
     201,
     kMono8,
     Family::Gs02,
     Opening(FpgaBitPulse(0x310C1), 0x00, 0x12),
     {18, 1, 2, 2, 24, 12, 6, 27},
     0x45,
     true,
     {0, 0}},
    {SENSOR_TYPE_IMX392C,
     100,
     kBayer8,
     Family::Gs30,
     Opening(GpioPulse(28), 0x34, 0x12),
     {27, 1, 2, 2, 10, 13, 13, 6},
     0x46,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX392M,
     9,
     kMono12,
     Family::Gs30,
     Opening(GpioPulse(23), 0x34, 0x12),
     {1, 8, 128, 0, 0, 0, 0, 0},
     0x64,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX392C,
     106,
     kBayer8,
     Family::Gs30,
     Opening(GpioPulse(28), 0x34, 0x12),
     {27, 1, 1, 1, 10, 13, 13, 8},
     0x46,
     true,
     {0, 11},
     0b0101},
    {SENSOR_TYPE_IMX392M,
     201,
     kMono12,
     Family::Gs30,
     Opening(FpgaBitPulse(0x310C1), 0x34, 0x12),
     {18, 1, 2, 2, 24, 12, 6, 27},
     0x64,
     true,
     {0, 11}},
    {SENSOR_TYPE_IMX296C,
     100,
     kBayer8,
     Family::Gs30,
     Opening(GpioPulse(28), 0x34, 0x12),
     kPll100,
     0x45,
     true,
     {1, 0}},
    // Board 204 takes 8 bits only.
    {SENSOR_TYPE_IMX296M,
     204,
     kMono8,
     Family::Gs30,
     Opening(FpgaBitPulse(0x310C1), 0x34, 0x12),
     {18, 1, 1, 1, 48, 12, 8, 27},
     0x45,
     false,
     {1, 0},
     0b0101},
    {SENSOR_TYPE_IMX296C,
     205,
     kBayer8,
     Family::Gs30,
     Opening(FpgaBitPulse(0x310C1), 0x34, 0x12),
     {},
     0x45,
     true,
     {1, 0}},
    {SENSOR_TYPE_IMX296M,
     9,
     kMono12,
     Family::Gs30,
     Opening(GpioPulse(23), 0x34, 0x12),
     {1, 8, 128, 0, 0, 0, 0, 0},
     0x65,
     true,
     {1, 0}},
    {SENSOR_TYPE_IMX487U,
     100,
     kMono8,
     Family::Imx487,
     Opening(GpioPulse(28), 0x34, 0x12),
     {27, 1, 1, 1, 9, 13, 13, 6},
     0x42,
     true,
     {0, 68}},
    {SENSOR_TYPE_IMX487U,
     201,
     kMono12,
     Family::Imx487,
     Opening(FpgaBitPulse(0x310C1), 0x34, 0x12),
     {18, 1, 1, 1, 12, 12, 6, 27},
     0x64,
     true,
     {0, 68}},
    {SENSOR_TYPE_IMX487U,
     110,
     kMono8,
     Family::Imx487,
     Opening(GpioPulse(29), 0x34, 0x12),
     {},
     0x42,
     true,
     {0, 68}},
    {SENSOR_TYPE_IMX294C,
     107,
     kBayer8,
     Family::Imx294,
     Opening(GpioPulse(45), 0x34, 0x12),
     {},
     0x40,
     true,
     {48, 0}},
    {SENSOR_TYPE_IMX294C,
     201,
     kBayer12,
     Family::Imx294,
     Opening(FpgaBitPulse(0x310C1), 0x34, 0x12),
     {},
     0x63,
     true,
     {48, 0}},
    {SENSOR_TYPE_IMX533C,
     107,
     kBayer8,
     Family::Imx533,
     Opening(GpioPulse(45), 0x81, 0x12),
     {},
     0x43,
     true,
     {1, 18}},
    {SENSOR_TYPE_IMX533C,
     201,
     kBayer12,
     Family::Imx533,
     Opening(FpgaBitPulse(0x310C1), 0x81, 0x12),
     {},
     0x63,
     true,
     {1, 18}},
    {SENSOR_TYPE_OV7725,
     303,
     kBayer8,
     Family::Ov7725,
     Opening(Ov7725Reset303(), 0x42, 0x11, false),
     {},
     0,
     false,
     {}},
    {SENSOR_TYPE_OV7725,
     100,
     kBayer8,
     Family::Ov7725,
     Opening({}, 0x42, 0x11, false),
     {},
     0,
     false,
     {}},
    {SENSOR_TYPE_OV5640, 100, kBayer8, Family::Ov5640, {}, {}, -1, false, {}},
};

std::string Name(const Row& row) {
    return "code " + std::to_string(row.code) + " on " + std::to_string(row.hw) + " format " +
           std::to_string(row.format);
}

bool IsGs(Family f) {
    return f == Family::Gs02 || f == Family::Gs30;
}

class ShutterDriverTable : public DriverFixture {
  protected:
    // The long-exposure cycles of the IMX294 and IMX533 run on timers nobody fires here.
    ~ShutterDriverTable() override { sensor.reset(); }
    CManualSensorTimers timers;

    void StartRow(const Row& row) {
        Start(row.hw, row.code, Window(640, 480, 16, 8), 2, row.format, row.channelMask);
    }
    void MakeRow(const Row& row) { Make(row.hw, row.code); }

    uint16_t Bank(const Row& row) const { return row.family == Family::Gs30 ? 0x2E00 : 0; }

    // The lines the chip exposes, from what its registers and the FPGA timing hold; nullopt where
    // the registers do not tell (the OV5640 has none).
    std::optional<double> LinesInForce(const Row& row) {
        const uint16_t b = Bank(row);
        switch (row.family) {
            case Family::Gs02:
            case Family::Gs30: {
                const uint16_t v = 0x0210 + b, s = 0x028D + b;
                return static_cast<double>(SensorValue({{v, 0xFF}, {v + 1, 0xFF}, {v + 2, 0xF}})) -
                       SensorValue({{s, 0xFF}, {s + 1, 0xFF}, {s + 2, 0xF}});
            }
            case Family::Imx487:
                return static_cast<double>(
                           SensorValue({{0x30D4, 0xFF}, {0x30D5, 0xFF}, {0x30D6, 0xFF}})) -
                       SensorValue({{0x3240, 0xFF}, {0x3241, 0xFF}, {0x3242, 0xFF}});
            case Family::Imx294:
                return FpgaFrame(row) -
                       static_cast<double>(SensorValue({{0x302C, 0xFF}, {0x302D, 0xFF}}));
            case Family::Imx533: {
                if (timers.Count() != 0) return std::nullopt;  // the host times the exposure
                const int64_t frameLength = std::llround(FrameUs() / LineUs());
                if (FpgaFrame(row) == frameLength) {
                    const uint32_t s = Sensor(0x0016) << 1 | Sensor(0x0017) << 9;
                    return static_cast<double>(frameLength - s);
                }
                const uint32_t code = Sensor(0x0012);
                const double units = code == 2 ? 2 : code == 3 ? 4 : 1;
                return FpgaFrame(row) * units - 4;
            }
            case Family::Ov7725:
                return static_cast<double>(Sensor(0x08) << 8 | Sensor(0x10));
            case Family::Ov5640:
                break;
        }
        return std::nullopt;
    }

    double FrameUs() const {
        double us = 0;
        sensor->GetFrameTime(&us);
        return us;
    }

    double FpgaFrame(const Row& row) const {
        if (row.hw == 107) return (dev->FpgaReg(35) | dev->FpgaReg(37) << 16) + 1.0;
        return ImageTimingFrame();
    }

    // The gain in thousandths the gain registers give, and how far above it the gain reported
    // may lie (log codes and the OV7725's sixteenths keep the request, rounded down to a step).
    std::optional<std::pair<double, double>> GainInForce(const Row& row) {
        auto db = [](double tenths) { return 1000.0 * std::pow(10.0, tenths / 200.0); };
        switch (row.family) {
            case Family::Gs02:
            case Family::Gs30: {
                const uint16_t g = 0x0404 + Bank(row);
                const uint32_t code = SensorValue({{g, 0xFF}, {g + 1, 1}});
                return std::make_pair(db(code), db(code + 1) - db(code));
            }
            case Family::Imx487: {
                const uint32_t code = SensorValue({{0x3514, 0xFF}, {0x3515, 1}});
                return std::make_pair(db(code), db(code + 1) - db(code));
            }
            case Family::Imx294: {
                const uint32_t a = SensorValue({{0x300A, 0xFF}, {0x300B, 7}});
                return std::make_pair(std::floor((1 << Sensor(0x3012)) * 2048000.0 / (2048 - a)),
                                      0.0);
            }
            case Family::Imx533: {
                const uint32_t a = SensorValue({{0x0030, 0xFF}, {0x0031, 0x0F}});
                const double f = 1 << (Sensor(0x003E) / 16);
                return std::make_pair(std::floor(f * 4095000.0 / (4095 - a)), 0.0);
            }
            case Family::Ov7725: {
                const uint32_t b = Sensor(0x00), c = Sensor(0x01);
                if (b == 0) return std::make_pair(c * 1000.0 / 128, 1000.0 / 128);
                const double doublings = std::popcount(b >> 4);
                const double unit = std::pow(2.0, doublings) * 1000.0;
                return std::make_pair(unit * (16 + (b & 15)) / 16, unit / 16);
            }
            case Family::Ov5640:
                break;
        }
        return std::nullopt;
    }

    // The trigger timing a trigger mode sets, or nullopt for none; -1 stands for the exposure.
    std::optional<std::pair<int64_t, int64_t>> TriggerTiming(const Row& row) {
        if (row.family == Family::Imx294 || row.family == Family::Imx533)
            return std::make_pair(10, 50000);
        if (row.code == SENSOR_TYPE_IMX264C || row.code == SENSOR_TYPE_IMX264M ||
            row.code == SENSOR_TYPE_IMX265C || row.code == SENSOR_TYPE_IMX265M)
            return std::make_pair(-1, -1);
        return std::nullopt;
    }
};

// Init opens with the reset pulse, the bus and its 20 ms, and programs the clock, the set-up
// interface word and the trigger reset in that order; it ends with the image window in the FPGA,
// as wide as the chips read side by side.
TEST_F(ShutterDriverTable, InitResetBusClockInterfaceAndWindow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        MakeRow(row);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        ASSERT_EQ(sensor->Init(&param), 0);
        const auto steps = Steps();
        ASSERT_GE(steps.size(), row.opening.size());
        EXPECT_TRUE(TraceMatches(
            {steps.begin(), steps.begin() + static_cast<long>(row.opening.size())}, row.opening));
        if (row.family == Family::Ov5640) {
            EXPECT_TRUE(steps.empty());  // the camera runs the chip; the driver keeps the values
            EXPECT_EQ(ImageInfo().iWidth, 1280u);
            EXPECT_EQ(ImageInfo().iHeight, 720u);
            continue;
        }

        std::vector<TraceStep> middle;
        if (!row.pll.empty()) {
            TraceStep pll = Call("SetPll");
            pll.args = row.pll;
            middle.push_back(pll);
        }
        middle.push_back(Call("SetSensorInterface", {row.setupWord}));
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
        EXPECT_EQ(dev->ContractViolations(), 0);

        const stImageInfo info = ImageInfo();
        EXPECT_EQ(info.uiMediaType, row.format);
        EXPECT_EQ(info.iHeight, 480u);
        if (row.family == Family::Ov7725) {
            // Two bytes a pixel, counted as an image twice as wide.
            EXPECT_EQ(dev->CallCount("SetImageWindow"), 0u);
            EXPECT_EQ(info.iWidth, 1280u);
            EXPECT_EQ(info.TotalBytes, 640u * 480u * 2);
        } else {
            EXPECT_EQ(info.iWidth, 640u * channels);
            EXPECT_EQ(info.TotalBytes, 640u * channels * 480u * (twoBytes ? 2 : 1));
        }
        if (channels > 1) {
            EXPECT_EQ(dev->FpgaReg(row.hw == 204 ? 37 : 40),
                      static_cast<uint32_t>(row.channelMask));
        }
    }
}

// A device failure ends Init where it happens, with its status.
TEST_F(ShutterDriverTable, InitStopsAtAFailure) {
    for (const Row& row : kRows) {
        if (row.family == Family::Ov5640) continue;
        SCOPED_TRACE(Name(row));
        MakeRow(row);
        param = Stream(Window(640, 480, 16, 8), 2, row.format, row.channelMask);
        dev->SetResult("SetSensorInterface", CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_COMM_ERROR);
        EXPECT_EQ(Steps().back().ToString(),
                  Call("SetSensorInterface", {row.setupWord}).ToString());
    }
}

// Every exposure, from none to far beyond what the chip holds, reads back as the lines its
// registers hold; every gain, in range or not, as the gain its registers give.
TEST_F(ShutterDriverTable, ExposureAndGainReadBackWhatTheRegistersHold) {
    const double kExposuresUs[] = {0, 1, 30, 1000, 33000, 250000, 3e6, 6e7, 1e12};
    const uint32_t kGains[] = {0,     500,   1000,  1500,   2000,   15999,     16000,
                               20000, 30000, 31500, 100000, 200000, 0xFFFFFFFF};
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        for (double us : kExposuresUs) {
            SCOPED_TRACE("exposure " + std::to_string(us));
            ASSERT_EQ(sensor->SetExposure(us), 0);
            const double reported = ExposureUs();
            const bool imx265 = row.code == SENSOR_TYPE_IMX265C || row.code == SENSOR_TYPE_IMX265M;
            const double extra = imx265 ? 14 : 0;
            // The IMX533 reports the lines asked: its shutter counts pairs of lines and its
            // stretched frame whole units of 1, 2 or 4 frames, so the chip exposes up to one
            // line more or three fewer.
            const double unitLines = row.family == Family::Imx533 ? 3 : 0;
            if (const auto lines = LinesInForce(row)) {
                EXPECT_GE(*lines, 1);
                EXPECT_NEAR(reported, *lines * LineUs() + extra,
                            1e-6 * std::max(1.0, reported) + unitLines * LineUs());
            } else {
                EXPECT_GT(reported, 0);
            }
            if (us >= 1000 && us <= 250000) {
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
            if (row.family == Family::Ov5640) {
                // No registers: the code's own gain.
                continue;
            }
            EXPECT_GE(reported, static_cast<int>(p.analogGainMin));
            EXPECT_LE(reported, static_cast<int>(p.analogGainMax));
            const auto inForce = GainInForce(row);
            ASSERT_TRUE(inForce);
            EXPECT_GE(reported, inForce->first - 1);
            EXPECT_LE(reported, inForce->first + inForce->second + 1);
        }
    }
}

// Speeds 0 to 2 are taken; any other is refused with nothing written (the OV5640, whose timing
// is the camera's, keeps any speed and writes nothing either).
TEST_F(ShutterDriverTable, FrameSpeedsAndRefusedSpeeds) {
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
            if (speed > 0) {
                EXPECT_LE(frameUs, previousFrame);  // faster never means longer frames
            }
            previousFrame = frameUs;
        }
        trace->Clear();
        if (row.family == Family::Ov5640) {
            EXPECT_EQ(sensor->SetFrameSpeed(3), 0);
            EXPECT_TRUE(Steps().empty());
            continue;
        }
        if (row.family == Family::Ov7725) {
            EXPECT_EQ(sensor->SetFrameSpeed(3), 0);  // runs as speed 1
            EXPECT_EQ(Speed(), 3);
            continue;
        }
        EXPECT_EQ(sensor->SetFrameSpeed(3), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(sensor->SetFrameSpeed(-6), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(Steps().empty());
        EXPECT_EQ(Speed(), 2);
    }
}

// The trigger modes set the FPGA's trigger word (and the pulse timing where the chip takes one)
// and switch the chip to expose for the trigger pulse: the exposure is then a pulse width in
// microseconds. Continuous mode switches back; other modes change nothing.
TEST_F(ShutterDriverTable, TriggerModesAndThePulseWidthSwitch) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        StartRow(row);
        if (row.family == Family::Ov7725 || row.family == Family::Ov5640) {
            trace->Clear();
            for (int mode : {0, 1, 2, 7}) EXPECT_EQ(sensor->SetTriggerMode(mode), 0);
            EXPECT_TRUE(Steps().empty());  // these chips have no trigger input
            continue;
        }
        ASSERT_EQ(sensor->SetExposure(20000), 0);
        const double exposure = ExposureUs();
        ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);  // external source 3 in the word
        trace->Clear();
        const auto timing = TriggerTiming(row);
        std::vector<TraceStep> want;
        for (int mode : {2, 1, 0}) {  // 2 keeps the source 3 read back
            const int64_t source = mode == 1 ? 6 : mode == 2 ? 3 : 0;
            want.push_back(Call("GetTriggerControl"));
            want.push_back(Call("SetTriggerControl", {0x108, source, 1, mode != 0 ? 1 : 0}));
            if (mode != 0 && timing && timing->first >= 0)
                want.push_back(Call("SetTriggerTiming", {timing->first, timing->second}));
            EXPECT_EQ(sensor->SetTriggerMode(mode), 0);
            if (mode == 0) continue;
            // The pulse-width switch.
            if (IsGs(row.family)) {
                EXPECT_EQ(Sensor(0x02AE + Bank(row)), 1);
                EXPECT_EQ(Sensor(0x020B + Bank(row)), 1);
                EXPECT_EQ(LineUs(), 1.0);
            } else if (row.family == Family::Imx487) {
                EXPECT_EQ(Sensor(0x3400), 0x0A);
                EXPECT_EQ(LineUs(), 1.0);
                EXPECT_EQ(Param().expLinesMin, 15u);
                EXPECT_EQ(Param().expLinesMax, 1000000u);
            }
        }
        EXPECT_TRUE(ContainsInOrder(Steps(), want));
        if (timing && timing->first < 0) {
            // The pulse made from the exposure in force (IMX265: without the chip's 14 us).
            // The IMX265 applies the exposure again in software trigger mode, as a pulse.
            const bool imx265 = row.code == SENSOR_TYPE_IMX265C || row.code == SENSOR_TYPE_IMX265M;
            const auto calls = dev->CallsNamed({"SetTriggerTiming"});
            ASSERT_EQ(calls.size(), imx265 ? 3u : 2u);
            const int64_t offset = imx265 ? 14 : 0;
            EXPECT_EQ(calls[1].args[0], static_cast<int64_t>(exposure) - offset);
        } else if (timing) {
            EXPECT_EQ(dev->CallCount("SetTriggerTiming"), 2u);
        }
        if (IsGs(row.family)) {
            EXPECT_EQ(Sensor(0x02AE + Bank(row)), 0);
            EXPECT_EQ(Sensor(0x020B + Bank(row)), 0);
        } else if (row.family == Family::Imx487) {
            EXPECT_EQ(Sensor(0x3400), 0);
            EXPECT_EQ(Param().expLinesMin, 1u);  // lines again
        }
        EXPECT_NE(LineUs(), 1.0);
        trace->Clear();
        EXPECT_EQ(sensor->SetTriggerMode(7), 0);
        EXPECT_EQ(sensor->SetTriggerMode(-1), 0);
        EXPECT_TRUE(Steps().empty());
    }
}

// In the trigger modes the exposure is the trigger pulse: what is asked, no shorter than the
// chip's shortest pulse, in the FPGA's pulse timing (the chip adds 14 us to the pulse).
TEST_F(ShutterDriverTable, TriggerPulseExposure) {
    for (const Row& row : kRows) {
        if (!IsGs(row.family) && row.family != Family::Imx487) continue;
        SCOPED_TRACE(Name(row));
        StartRow(row);
        ASSERT_EQ(sensor->SetTriggerMode(1), 0);
        for (double us : {0.0, 5.0, 50.0, 5000.0, 5000.5, 3e6, 1e12}) {
            SCOPED_TRACE(us);
            dev->ClearCalls();
            ASSERT_EQ(sensor->SetExposure(us), 0);
            const auto calls = dev->CallsNamed({"SetTriggerTiming"});
            ASSERT_EQ(calls.size(), 1u);
            const double pulse = static_cast<double>(calls[0].args[0] | calls[0].args[1] << 16);
            const double reported = ExposureUs();
            if (row.code == SENSOR_TYPE_IMX264C || row.code == SENSOR_TYPE_IMX264M) {
                EXPECT_EQ(reported, pulse);  // reported as the pulse itself
            } else if (row.code == SENSOR_TYPE_IMX287C || row.code == SENSOR_TYPE_IMX287M) {
                EXPECT_EQ(reported, pulse);
                EXPECT_GE(pulse, 100);
            } else if (us < 15 && (row.family == Family::Gs30 || row.family == Family::Imx487)) {
                EXPECT_EQ(pulse, 1);
                EXPECT_EQ(reported, 15);
            } else if (row.code == SENSOR_TYPE_IMX265C || row.code == SENSOR_TYPE_IMX265M ||
                       row.code == SENSOR_TYPE_IMX297C || row.code == SENSOR_TYPE_IMX297M) {
                EXPECT_EQ(reported, pulse + 14);
            } else {
                // The time asked, while the pulse holds it.
                EXPECT_EQ(reported, us > 1e10 ? pulse + 14 : us);
            }
            if (us >= 200 && us <= 3e6) {
                EXPECT_NEAR(reported, us, 15);
            }
            if (us > 1e10) {
                EXPECT_EQ(pulse, 4294967295.0);
            }
        }
    }
}

// A board the driver does not serve is refused before any traffic, and its capability still
// offers an 8-bit format first. The OV chips serve every board.
TEST_F(ShutterDriverTable, UnservedBoardsAreRefusedBeforeTraffic) {
    for (const Row& row : kRows) {
        if (row.family == Family::Ov7725 || row.family == Family::Ov5640) continue;
        for (int hw : {0, 108, 300}) {
            SCOPED_TRACE(Name(row) + " moved to " + std::to_string(hw));
            Make(hw, row.code);
            param = Stream(Window(640, 480, 16, 8), 2, row.format);
            EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_NOT_SUPPORTED);
            EXPECT_EQ(sensor->Reset(), CAMERA_STATUS_NOT_SUPPORTED);
            EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_NOT_SUPPORTED);
            EXPECT_TRUE(Steps().empty());
            const SensorCapability cap = Capability();
            ASSERT_FALSE(cap.supportMediaType.empty());
            EXPECT_EQ(cap.supportMediaType[0] & 0x00FF0000u, 0x00080000u);
        }
    }
}

// The AE target range of the Sony chips runs upwards (60 to 160).
TEST_F(ShutterDriverTable, AeTargetRangeRunsUpwards) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Name(row));
        MakeRow(row);
        const SensorParam p = Param();
        EXPECT_LE(p.aeTargetMin, p.aeTargetMax);
        if (IsGs(row.family) || row.family == Family::Imx487) {
            EXPECT_EQ(p.aeTargetMin, 60u);
            EXPECT_EQ(p.aeTargetMax, 160u);
        }
    }
}

}  // namespace
