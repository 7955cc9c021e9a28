// Auto exposure's step: the hold band, brightening and darkening with their worked numbers, the
// trade of gain for exposure, anti-flicker, the limits, the cadence of evaluated frames, the
// moving average, frames without a line time or gain; and a closed loop on a sensor model that
// renders what it is programmed with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "CameraExposure.h"
#include "control/CameraSettings.h"
#include "sensors/SensorInf.h"

namespace {

constexpr uint32_t kMono8 = 0x01080000;
constexpr uint32_t kW = 64, kH = 48;

struct Output {
    uint32_t lines, gain;
    bool operator==(const Output&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Output& o) {
    return os << o.lines << " lines, gain " << o.gain;
}

class AutoExposure : public ::testing::Test {
  protected:
    void SetUp() override { Load(); }

    struct Options {
        int aeState = 1;
        int target = 128;
        int antiFlick = 0;
        int lightFrequency = 1;
    };
    void Load(const Options& o) {
        SensorParam p;
        std::memset(&p, 0, sizeof p);
        p.aeTargetMax = 255;
        p.analogGainMin = 1000;
        p.analogGainMax = 16000;
        p.expLinesMin = 1;
        p.expLinesMax = 100000;
        CameraSettings s;
        std::memset(&s, 0, sizeof s);
        s.aeState = o.aeState;
        s.aeTarget = o.target;
        s.aeExposureMin = -1;
        s.aeExposureMax = -1;
        s.antiFlick = o.antiFlick;
        s.lightFrequency = o.lightFrequency;
        ASSERT_EQ(ae.LoadParameter(p, s, 0), 0);
    }
    void Load() { Load(Options{}); }

    // One uniform mono frame of value, taken with `lines` of lineTime and gain.
    Output Frame(uint8_t value, uint32_t lines, double lineTime, uint32_t gain, int method = 0) {
        std::vector<uint8_t> data(kW * kH, value);
        stImageInfo info{};
        info.iWidth = kW;
        info.iHeight = kH;
        info.TotalBytes = kW * kH;
        info.uiMediaType = kMono8;
        info.ExpTime = lines * lineTime;
        info.ExpLineTime = lineTime;
        info.Gain = gain;
        Output out{12345, 54321};
        EXPECT_EQ(ae.ProcessFrame(&info, data.data(), method, &out.lines, &out.gain), 0);
        return out;
    }
    uint8_t Brightness() {
        uint8_t b = 0;
        ae.GetBrightness(&b);
        return b;
    }
    CameraExposure ae;
};

// ---- One step ------------------------------------------------------------------------------

// Line time 100 us: the 200 ms frame-time limit is 2000 lines.
TEST_F(AutoExposure, WorkedSteps) {
    struct Row {
        const char* name;
        uint8_t brightness;
        uint32_t lines;
        double lineTime;
        uint32_t gain;
        Output want;
    };
    const Row rows[] = {
        {"118 holds", 118, 400, 100, 1000, {400, 1000}},
        {"138 holds", 138, 400, 100, 1000, {400, 1000}},
        // 11 below: 11 / 117 of 400 lines more, half of it now.
        {"117 brightens", 117, 400, 100, 1000, {418, 1000}},
        // 11 above: the gain is at its minimum already, so the exposure goes down by 11 / 139.
        {"139 darkens", 139, 400, 100, 1000, {384, 1000}},
        // s = 1: 800 lines wanted, 400 + (800 - 400) / 2 output.
        {"64 to 128", 64, 400, 100, 1000, {600, 1000}},
        // At the longest exposure the gain takes the whole step, half of it now.
        {"too dark at the limit", 64, 2000, 100, 1000, {2000, 1500}},
        // Gain 2500 with room: 100 x 2 + 100 lines, at unity, without halving.
        {"gain traded for exposure", 128, 100, 200, 2500, {300, 1000}},
        // Gain 3000 with less room (1000 lines): the rest stays gain, (3 - 600 / 400) x 1000.
        {"gain partly traded", 128, 400, 200, 3000, {1000, 1500}},
        // Too bright at high gain: the gain comes down first, half of the way.
        {"darkening lowers the gain", 255, 2000, 100, 4000, {2000, 3003}},
        // Nothing measured yet: at most twice the exposure, half of it now.
        {"black frame", 0, 100, 100, 1000, {200, 1000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Load();
        EXPECT_EQ(Frame(row.brightness, row.lines, row.lineTime, row.gain), row.want);
    }
    EXPECT_EQ(Brightness(), 1);  // a black frame counts as brightness 1
}

TEST_F(AutoExposure, GainStepIsCappedAtTheGainMaximum) {
    ae.CE_CameraSetAeAnalogGainRange(1000, 1200);
    EXPECT_EQ(Frame(64, 2000, 100, 1000), (Output{2000, 1200}));
}

// 50 Hz at 10 us per line: one quantum (10 ms) is 1000 lines.
TEST_F(AutoExposure, AntiFlickerKeepsLongExposuresToWholeQuanta) {
    struct Row {
        const char* name;
        uint8_t brightness;
        uint32_t lines;
        uint32_t wantLines;
    };
    const Row rows[] = {
        {"2300 snaps down to 2000", 128, 2300, 2000},
        {"2600 (nearest is 3000) stays", 128, 2600, 2600},
        {"below one quantum stays", 128, 700, 700},
        // Brightening from 1500 wants 3000 lines (s = 1): 1500 + 750 output, snapped to 2000.
        {"brightening lands on a quantum", 64, 1500, 2000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Load({.antiFlick = 1, .lightFrequency = 1});
        EXPECT_EQ(Frame(row.brightness, row.lines, 10, 1000).lines, row.wantLines);
    }
}

// 10 us per line: one quantum is 1000 lines at 50 Hz (10 ms) and 833.3 lines at 60 Hz
// (8333 us). The frame-time limit is 200 ms (20000 lines) unless the row lowers it.
TEST_F(AutoExposure, AntiFlickerLimitsDarkeningAnd60Hz) {
    struct Row {
        const char* name;
        int antiFlick, frequency;
        double exposureMaxUs;  // 0: not set
        double frameTimeUs;    // 0: the default limit
        uint8_t brightness;
        uint32_t lines, gain;
        Output want;
    };
    const Row rows[] = {
        // An exposure above a lowered maximum of 2500 lines is brought to it in whole quanta:
        // trunc(2500 x 10 / 10000) = 2 quanta, 2000 lines, whatever the brightness.
        {"above the maximum, whole quanta", 1, 1, 25000, 0, 20, 4000, 1000, {2000, 1000}},
        {"above the maximum, no anti-flicker", 0, 1, 25000, 0, 20, 4000, 1000, {2500, 1000}},
        // A maximum shorter than one quantum (50 lines) is output as it is.
        {"maximum below one quantum", 1, 1, 500, 0, 128, 400, 1000, {50, 1000}},
        // A frame-time limit of 8 ms is shorter than a quantum: its 800 lines as they are.
        {"frame time below one quantum", 1, 1, 0, 8000, 128, 1000, 1000, {800, 1000}},
        // 60 Hz: a maximum of 3000 lines holds trunc(30000 / 8333) = 3 quanta, 2500 lines.
        {"above the maximum at 60 Hz", 1, 2, 30000, 0, 128, 4000, 1000, {2500, 1000}},
        // Holding at 2600 lines: the nearest whole number of 60 Hz quanta, 3, is 2500 lines,
        // below the exposure, so the exposure snaps down to it (at 50 Hz it would stay).
        {"holding snaps at 60 Hz", 1, 2, 0, 0, 128, 2600, 1000, {2500, 1000}},
        // Too bright at the minimum gain: s = 127 / 255, the exposure wanted is 1505 lines,
        // half of the way gives 2253.
        {"darkening", 0, 1, 0, 0, 255, 3000, 1000, {2253, 1000}},
        // With anti-flicker the wanted 1505 lines are one quantum, 1000: half of the way is
        // 2000, two whole quanta.
        {"darkening in whole quanta", 1, 1, 0, 0, 255, 3000, 1000, {2000, 1000}},
        // At 60 Hz one quantum is 833 lines: 3000 - 1083 = 1917, snapped to the nearest two
        // quanta, 1667 lines.
        {"darkening at 60 Hz", 1, 2, 0, 0, 255, 3000, 1000, {1667, 1000}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Load({.antiFlick = row.antiFlick, .lightFrequency = row.frequency});
        if (row.exposureMaxUs > 0) ae.CE_CameraSetAeExposureRange(10, row.exposureMaxUs);
        if (row.frameTimeUs > 0) ae.SetFrameTime(row.frameTimeUs);
        EXPECT_EQ(Frame(row.brightness, row.lines, 10, row.gain), row.want);
    }
}

TEST_F(AutoExposure, LoweredMaximumIsOutputWhateverTheBrightness) {
    for (uint8_t brightness : {128, 20, 250}) {
        SCOPED_TRACE(static_cast<int>(brightness));
        Load();
        // 10 to 1000 us at 10 us per line: at most 100 lines.
        ae.CE_CameraSetAeExposureRange(10, 1000);
        EXPECT_EQ(Frame(brightness, 400, 10, 1000), (Output{100, 1000}));
    }
}

// Without a line time there is no exposure in lines, without a gain no gain step: such a frame
// asks for nothing new.
TEST_F(AutoExposure, FramesWithoutLineTimeOrGainAskForNothing) {
    EXPECT_EQ(Frame(20, 400, 0, 1000), (Output{0, 1000}));
    Load();
    EXPECT_EQ(Frame(250, 400, 100, 0), (Output{400, 0}));
    Load();
    EXPECT_EQ(Frame(20, 400, -5, 1000), (Output{0, 1000}));
}

// ---- Cadence ---------------------------------------------------------------------------------

TEST_F(AutoExposure, AutoExposureOffMeasuresEveryThirdFrameInContinuousMode) {
    for (int interval : {2, 0}) {
        SCOPED_TRACE(interval);
        ae.SetFrameInterval(interval);
        Load({.aeState = 0});
        std::vector<int> seen;
        for (int i = 1; i <= 7; ++i) {
            const Output o = Frame(static_cast<uint8_t>(10 * i), 400, 100, 1000);
            EXPECT_EQ(o, (Output{400, 1000}));  // nothing is programmed with it off
            seen.push_back(Brightness());
        }
        const std::vector<int> want = interval == 2 ? std::vector<int>{10, 10, 10, 40, 40, 40, 70}
                                                    : std::vector<int>{10, 20, 30, 40, 50, 60, 70};
        EXPECT_EQ(seen, want);
    }
    // After a manual change the next frame is measured.
    ae.SetFrameInterval(2);
    Load({.aeState = 0});
    Frame(10, 400, 100, 1000);
    Frame(50, 400, 100, 1000);
    EXPECT_EQ(Brightness(), 10);
    ae.RestartCount();
    Frame(70, 400, 100, 1000);
    EXPECT_EQ(Brightness(), 70);
}

// Holding, every third frame is evaluated (dark frames between them go unseen); adjusting, every
// second, so the frame still taken with the old exposure is passed over.
TEST_F(AutoExposure, CadenceOfEvaluatedFrames) {
    ae.SetFrameInterval(2);
    Load();
    const uint8_t seq[] = {128, 20, 20, 128, 20, 20, 20};
    std::vector<bool> stepped;
    for (uint8_t v : seq) stepped.push_back(Frame(v, 400, 100, 1000).lines != 400);
    EXPECT_EQ(stepped, (std::vector<bool>{false, false, false, false, false, false, true}));

    for (int interval : {2, 0}) {
        SCOPED_TRACE(interval);
        ae.SetFrameInterval(interval);
        Load();
        stepped.clear();
        for (int i = 0; i < 6; ++i) stepped.push_back(Frame(20, 400, 100, 1000).lines != 400);
        EXPECT_EQ(stepped, (std::vector<bool>{true, false, true, false, true, false}));
    }
    // In the trigger modes a holding exposure is evaluated on every frame.
    ae.SetFrameInterval(0);
    Load();
    stepped.clear();
    for (uint8_t v : {128, 128, 20}) stepped.push_back(Frame(v, 400, 100, 1000).lines != 400);
    EXPECT_EQ(stepped, (std::vector<bool>{false, false, true}));
}

TEST_F(AutoExposure, BrightnessIsTheMeanOfTheLastFourMeasurements) {
    ae.SetFrameInterval(0);
    Load();
    const uint8_t seq[] = {120, 130, 136, 126, 138};
    const int want[] = {120, 125, 128, 128, 132};  // the fifth drops the first
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Frame(seq[i], 400, 100, 1000), (Output{400, 1000})) << i;
        EXPECT_EQ(Brightness(), want[i]) << i;
    }
}

TEST_F(AutoExposure, UnknownStatisticsMethodMeasuresZero) {
    Load({.aeState = 0});
    Frame(100, 400, 100, 1000, 7);
    EXPECT_EQ(Brightness(), 0);
    Load({.aeState = 0});
    Frame(100, 400, 100, 1000, 1);  // the histogram
    EXPECT_EQ(Brightness(), 100);
}

// ---- Closed loop -------------------------------------------------------------------------------

// A sensor that renders its scene with the exposure and gain it was last programmed with,
// saturating at 255; the scene varies by +-25 % across the frame.
class SensorModel {
  public:
    SensorModel(double level, double lineTime) : m_level(level), m_lineTime(lineTime) {}
    void Program(uint32_t lines, uint32_t gain) {
        m_lines = std::max<uint32_t>(lines, 1);
        m_gain = std::clamp<uint32_t>(gain, 1000, 16000);
    }
    // The frame, its descriptor, and its mean brightness.
    double Render(std::vector<uint8_t>& data, stImageInfo& info) const {
        data.resize(kW * kH);
        double sum = 0;
        for (uint32_t y = 0; y < kH; ++y)
            for (uint32_t x = 0; x < kW; ++x) {
                const double scene = m_level * (0.75 + 0.5 * ((x + 3 * y) % 32) / 31.0);
                const double v = std::min(255.0, scene * m_lines * m_gain / 1000.0);
                data[y * kW + x] = static_cast<uint8_t>(v);
                sum += data[y * kW + x];
            }
        info = stImageInfo{};
        info.iWidth = kW;
        info.iHeight = kH;
        info.TotalBytes = kW * kH;
        info.uiMediaType = kMono8;
        info.ExpTime = m_lines * m_lineTime;
        info.ExpLineTime = m_lineTime;
        info.Gain = m_gain;
        return sum / (kW * kH);
    }
    uint32_t m_lines = 1, m_gain = 1000;

  private:
    double m_level, m_lineTime;
};

// From 5 times too dark and from saturation, with and without anti-flicker: within 12 of the
// target after at most 60 frames, and staying there.
TEST_F(AutoExposure, ConvergesAndStays) {
    struct Row {
        const char* name;
        uint32_t startLines;
        bool antiFlicker;
    };
    // Line time 10 us, one anti-flicker quantum 1000 lines; the target 120 is reached at 2000
    // lines (two quanta) with gain 1: 120 / 2000 per line on average.
    constexpr double kLevel = 120.0 / 2000;
    const Row rows[] = {
        {"dark", 400, false},
        {"saturated", 15000, false},
        {"dark, anti-flicker", 400, true},
        {"saturated, anti-flicker", 15000, true},
    };
    for (const Row& row : rows) {
        for (int method : {1, 0, 2}) {
            SCOPED_TRACE(::testing::Message() << row.name << ", method " << method);
            ae.SetFrameInterval(2);
            Load({.target = 120, .antiFlick = row.antiFlicker ? 1 : 0});
            SensorModel sensor(kLevel, 10.0);
            sensor.Program(row.startLines, 1000);
            std::vector<uint8_t> data;
            stImageInfo info;
            int settledAt = -1;
            for (int frame = 0; frame < 120; ++frame) {
                const double mean = sensor.Render(data, info);
                const bool inside = std::abs(mean - 120) <= 12;
                if (inside && settledAt < 0) settledAt = frame;
                if (settledAt >= 0) {
                    ASSERT_TRUE(inside) << "left at frame " << frame << ": " << mean;
                }
                uint32_t lines = 0, gain = 0;
                ae.ProcessFrame(&info, data.data(), method, &lines, &gain);
                sensor.Program(lines, gain);
            }
            ASSERT_GE(settledAt, 0);
            EXPECT_LE(settledAt, 60);
        }
    }
}

}  // namespace
