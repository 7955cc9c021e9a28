// The brightness measurements of auto exposure: the worked cases as one table over the three
// methods, the peak analysis on histograms built by hand, Bayer channels and white-balance
// gains, 12-bit samples, windows (inside, beyond and too small for the frame), and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "CameraExposure.h"
#include "control/CameraSettings.h"
#include "sensors/SensorInf.h"

namespace {

constexpr uint32_t kMono8 = 0x01080000;
constexpr uint32_t kMono12 = 0x01100005;
constexpr uint32_t kBayer8 = 0x01080008;
constexpr uint32_t kBayer12 = 0x01100010;

struct Frame {
    std::vector<uint8_t> data;
    stImageInfo info{};
};

// A frame whose sample at (x, y) is value(x, y); 16-bit words for the 12-bit types.
Frame MakeFrame(uint32_t w, uint32_t h, uint32_t type,
                const std::function<uint16_t(uint32_t, uint32_t)>& value) {
    Frame f;
    const bool wide = type == kMono12 || type == kBayer12;
    f.data.resize(size_t{w} * h * (wide ? 2 : 1));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint16_t v = value(x, y);
            if (wide)
                std::memcpy(&f.data[2 * (size_t{y} * w + x)], &v, 2);
            else
                f.data[size_t{y} * w + x] = static_cast<uint8_t>(v);
        }
    f.info.iWidth = w;
    f.info.iHeight = h;
    f.info.TotalBytes = static_cast<UINT>(f.data.size());
    f.info.uiMediaType = type;
    return f;
}

Frame Uniform(uint32_t w, uint32_t h, uint32_t type, uint16_t v) {
    return MakeFrame(w, h, type, [v](uint32_t, uint32_t) { return v; });
}

// GRBG: green on even rows' even columns and odd rows' odd columns, red on even rows' odd
// columns, blue on odd rows' even columns.
Frame Bayer(uint32_t w, uint32_t h, uint32_t type, uint16_t r, uint16_t g, uint16_t b) {
    return MakeFrame(w, h, type, [=](uint32_t x, uint32_t y) {
        if (y % 2 == 0) return x % 2 == 0 ? g : r;
        return x % 2 == 0 ? b : g;
    });
}

class Statistics : public ::testing::Test {
  protected:
    void SetUp() override { Load(); }
    void Load(const int window[4] = nullptr) {
        SensorParam p;
        std::memset(&p, 0, sizeof p);
        p.aeTargetMax = 255;
        p.analogGainMin = 1000;
        p.analogGainMax = 16000;
        p.expLinesMax = 10000;
        CameraSettings s;
        std::memset(&s, 0, sizeof s);
        s.lightFrequency = 1;
        if (window != nullptr) std::memcpy(s.aeWindow, window, sizeof s.aeWindow);
        ASSERT_EQ(ae.LoadParameter(p, s, 0), 0);
    }
    int Measure(const Frame& f, int method, uint8_t* out) {
        switch (method) {
            case 0:
                return ae.StatisticsMean(f.data.data(), &f.info, out);
            case 1:
                return ae.StatisticsHist(f.data.data(), &f.info, out);
            case 2:
                return ae.StatisticsZone(f.data.data(), &f.info, 0, out);
            default:
                return ae.StatisticsHistWindow(f.data.data(), &f.info, out);
        }
    }
    CameraExposure ae;
};

// ---- The worked cases, every method
// --------------------------------------------------------------

TEST_F(Statistics, WorkedCases) {
    struct Row {
        const char* name;
        Frame frame;
        int want[3];  // mean, histogram, zones
    };
    const Row rows[] = {
        {"uniform 100", Uniform(60, 48, kMono8, 100), {100, 100, 100}},
        // Two peaks of half the pixels each: levels 1 and 199 -> (50 + 9950) / 100. The zones:
        // top row 0, middle row 100 (it straddles the edge), bottom row 200 -> (8 x 100 +
        // 4 x 200) / 16.
        {"half 0, half 200",
         MakeFrame(60, 48, kMono8,
                   [](uint32_t, uint32_t y) { return static_cast<uint16_t>(y < 24 ? 0 : 200); }),
         {100, 100, 100}},
        {"uniform 12-bit 1600", Uniform(60, 48, kMono12, 1600), {100, 100, 100}},
        // (150 x 100 + 76 x 200 + 29 x 40) >> 8; the histogram's red level is 199.
        {"Bayer 8-bit", Bayer(60, 48, kBayer8, 200, 100, 40), {122, 122, 122}},
        {"Bayer 12-bit", Bayer(60, 48, kBayer12, 3200, 1600, 640), {122, 122, 122}},
    };
    for (const Row& row : rows) {
        for (int method = 0; method < 3; ++method) {
            SCOPED_TRACE(::testing::Message() << row.name << ", method " << method);
            uint8_t b = 7;
            EXPECT_EQ(Measure(row.frame, method, &b), 0);
            EXPECT_EQ(b, row.want[method]);
        }
    }
}

TEST_F(Statistics, ChannelStatistics) {
    struct Row {
        const char* name;
        Frame frame;
        int method;
        uint8_t want[4];  // red, first green, second green, blue
    };
    const Row rows[] = {
        {"Bayer mean", Bayer(60, 48, kBayer8, 200, 100, 40), 0, {200, 100, 100, 40}},
        {"Bayer 12-bit mean", Bayer(60, 48, kBayer12, 3200, 1600, 640), 0, {200, 100, 100, 40}},
        // Histogram levels are 3k + 1 of the group a value falls in.
        {"Bayer histogram", Bayer(60, 48, kBayer8, 200, 100, 40), 1, {199, 100, 100, 40}},
        {"mono mean", Uniform(60, 48, kMono8, 90), 0, {0, 0, 0, 0}},
        {"mono histogram", Uniform(60, 48, kMono8, 90), 1, {88, 88, 88, 88}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        uint8_t b = 0;
        ASSERT_EQ(Measure(row.frame, row.method, &b), 0);
        uint8_t got[4];
        ae.GetFrameStatistics(&got[0], &got[1], &got[2], &got[3]);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(row.want, row.want + 4));
    }
}

// With a red gain of 200 % a red value of 200 counts in bin 255 (group 84, level 253).
TEST_F(Statistics, WhiteBalanceGainsWeightTheHistograms) {
    const Frame f = Bayer(60, 48, kBayer8, 200, 100, 100);
    uint8_t b = 0, red = 0;
    ae.SetWbGains(200, 100, 100);
    ASSERT_EQ(ae.StatisticsHist(f.data.data(), &f.info, &b), 0);
    ae.GetFrameStatistics(&red, nullptr, nullptr, nullptr);
    EXPECT_EQ(red, 253);
    ae.SetWbGains(100, 100, 100);
    ASSERT_EQ(ae.StatisticsHist(f.data.data(), &f.info, &b), 0);
    ae.GetFrameStatistics(&red, nullptr, nullptr, nullptr);
    EXPECT_EQ(red, 199);
    // The mean takes no gains.
    ae.SetWbGains(200, 100, 100);
    ASSERT_EQ(ae.StatisticsMean(f.data.data(), &f.info, &b), 0);
    ae.GetFrameStatistics(&red, nullptr, nullptr, nullptr);
    EXPECT_EQ(red, 200);
}

// 12-bit words above 4095 (a damaged frame) count in the top bin.
TEST_F(Statistics, WordsAboveTwelveBitsCountInTheTopBin) {
    const Frame f = Uniform(60, 48, kMono12, 0xFFFF);
    uint8_t b = 0;
    ASSERT_EQ(ae.StatisticsHist(f.data.data(), &f.info, &b), 0);
    EXPECT_EQ(b, 253);
}

// ---- Peak analysis ---------------------------------------------------------------------------

struct PeaksRow {
    const char* name;
    std::vector<std::pair<int, uint32_t>> bins;  // bin, count; 100 x 100 pixels
    int brightness;
    std::vector<CameraExposure::Peak> peaks;
};

TEST_F(Statistics, PeakAnalysis) {
    // N = 10000: a group is lit above 50 pixels, a run is a peak above 500.
    const PeaksRow rows[] = {
        {"one peak", {{100, 10000}}, 100, {{99, 102, 100, 100}}},
        {"two halves", {{0, 5000}, {200, 5000}}, 100, {{0, 3, 1, 50}, {198, 201, 199, 50}}},
        // 400 pixels in the middle are dropped and count as black.
        {"small run dropped", {{100, 9600}, {160, 400}}, 96, {{99, 102, 100, 96}}},
        // The same run at the top is kept whatever its size.
        {"small run at the top kept",
         {{100, 9600}, {250, 400}},
         106,
         {{99, 102, 100, 96}, {249, 255, 250, 4}}},
        // Three unlit groups do not end a run; the fourth does.
        {"gap of three groups", {{100, 5000}, {112, 5000}}, 106, {{99, 114, 106, 100}}},
        {"gap of four groups",
         {{100, 5000}, {115, 5000}},
         107,
         {{99, 102, 100, 50}, {114, 117, 115, 50}}},
        // A fourth peak replaces the third.
        {"fourth peak",
         {{10, 2500}, {60, 2500}, {110, 2500}, {160, 2500}},
         57,
         {{9, 12, 10, 25}, {57, 60, 58, 25}, {159, 162, 160, 25}}},
        {"nothing lit", {{10, 50}, {100, 50}}, 0, {}},
    };
    for (const PeaksRow& row : rows) {
        SCOPED_TRACE(row.name);
        uint32_t hist[256] = {};
        for (auto [bin, count] : row.bins) hist[bin] += count;
        uint8_t count = 99;
        CameraExposure::Peak peaks[3] = {};
        EXPECT_EQ(CameraExposure::AnalyzePeaks(100, 100, hist, &count, peaks), row.brightness);
        ASSERT_EQ(count, row.peaks.size());
        for (size_t i = 0; i < row.peaks.size(); ++i) {
            EXPECT_EQ(peaks[i].start, row.peaks[i].start) << i;
            EXPECT_EQ(peaks[i].end, row.peaks[i].end) << i;
            EXPECT_EQ(peaks[i].level, row.peaks[i].level) << i;
            EXPECT_EQ(peaks[i].share, row.peaks[i].share) << i;
        }
    }
    uint32_t hist[256] = {};
    EXPECT_EQ(CameraExposure::AnalyzePeaks(0, 100, hist, nullptr, nullptr), 0);
}

// ---- Windows ---------------------------------------------------------------------------------

TEST_F(Statistics, HistogramWindow) {
    // The left half 40, the right half 160.
    const Frame f = MakeFrame(64, 48, kMono8, [](uint32_t x, uint32_t) {
        return static_cast<uint16_t>(x < 32 ? 40 : 160);
    });
    struct Row {
        const char* name;
        int window[4];
        int want;
    };
    const Row rows[] = {
        {"left half", {0, 0, 32, 48}, 40},
        {"right part", {40, 8, 16, 16}, 160},
        // Reaching beyond the frame: what lies inside, counted against itself.
        {"beyond the right edge", {48, 0, 100, 100}, 160},
        // Starting beyond the frame: the whole frame, counted against the frame.
        {"left edge beyond the frame", {100, 0, 10, 10}, 100},
        {"top edge beyond the frame", {0, 60, 10, 10}, 100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Load(row.window);
        uint8_t b = 0;
        ASSERT_EQ(ae.StatisticsHistWindow(f.data.data(), &f.info, &b), 0);
        EXPECT_EQ(b, row.want);
    }
}

// A Bayer window without a whole 2 x 2 block (one row high) measures the whole frame.
TEST_F(Statistics, BayerWindowWithoutABlockMeasuresTheWholeFrame) {
    const Frame f = Bayer(64, 48, kBayer8, 100, 100, 100);
    const int window[4] = {0, 10, 20, 1};
    Load(window);
    uint8_t b = 0;
    ASSERT_EQ(ae.StatisticsHistWindow(f.data.data(), &f.info, &b), 0);
    EXPECT_EQ(b, 99);  // (76 + 150 + 29) x 100 >> 8
}

// ---- Zones -----------------------------------------------------------------------------------

// The 3 x 3 grid is centred, the middle zone counting four sixteenths; cells left over are split
// on both sides of the grid.
TEST_F(Statistics, ZonesAreCentreWeighted) {
    const Frame f = MakeFrame(63, 63, kMono8, [](uint32_t x, uint32_t y) {
        return static_cast<uint16_t>(x >= 21 && x < 42 && y >= 21 && y < 42 ? 160 : 0);
    });
    uint8_t b = 0;
    ASSERT_EQ(ae.StatisticsZone(f.data.data(), &f.info, 0, &b), 0);
    EXPECT_EQ(b, 40);
    ASSERT_EQ(ae.StatisticsZone(f.data.data(), &f.info, 1, &b), 0);
    EXPECT_EQ(b, 255);  // 640 without the division, at most 255

    // 8 columns of Bayer blocks: zones of 2 blocks, from block 1 to block 6.
    const Frame g = MakeFrame(16, 12, kBayer8, [](uint32_t x, uint32_t) {
        return static_cast<uint16_t>(x < 2 || x >= 14 ? 255 : 80);
    });
    ASSERT_EQ(ae.StatisticsZone(g.data.data(), &g.info, 0, &b), 0);
    EXPECT_EQ(b, 79);  // the bright edge blocks lie outside the grid
}

// ---- Refusals --------------------------------------------------------------------------------

TEST_F(Statistics, Refusals) {
    Frame colour = Uniform(60, 48, kMono8, 100);
    colour.info.uiMediaType = 0x02180014;
    Frame shortFrame = Uniform(60, 48, kMono8, 100);
    shortFrame.info.TotalBytes = 100;
    const Frame tiny = Uniform(2, 2, kBayer8, 100);
    uint8_t b = 77;
    // Unhandled media types: the histograms refuse, the mean and the zones measure 0.
    EXPECT_EQ(ae.StatisticsHist(colour.data.data(), &colour.info, &b), -4);
    EXPECT_EQ(ae.StatisticsHistWindow(colour.data.data(), &colour.info, &b), -4);
    EXPECT_EQ(b, 77);
    EXPECT_EQ(ae.StatisticsZone(colour.data.data(), &colour.info, 0, &b), 0);
    EXPECT_EQ(b, 0);
    b = 77;
    EXPECT_EQ(ae.StatisticsMean(colour.data.data(), &colour.info, &b), 0);
    EXPECT_EQ(b, 0);
    // No data.
    EXPECT_EQ(ae.StatisticsHist(nullptr, &colour.info, &b), -6);
    EXPECT_EQ(ae.StatisticsZone(nullptr, &colour.info, 0, &b), -6);
    EXPECT_EQ(ae.StatisticsHist(colour.data.data(), nullptr, &b), -6);
    // Less data than described, or too small for the method.
    for (int method = 0; method < 4; ++method) {
        SCOPED_TRACE(method);
        EXPECT_EQ(Measure(shortFrame, method, &b), -8);
    }
    EXPECT_EQ(ae.StatisticsZone(tiny.data.data(), &tiny.info, 0, &b), -8);
    const Frame flat = Uniform(64, 1, kBayer8, 100);
    EXPECT_EQ(ae.StatisticsHist(flat.data.data(), &flat.info, &b), -8);
    // A frame of no pixels measures 0 with the mean.
    Frame empty = Uniform(0, 0, kMono8, 0);
    b = 5;
    EXPECT_EQ(ae.StatisticsMean(reinterpret_cast<const uint8_t*>(""), &empty.info, &b), 0);
    EXPECT_EQ(b, 0);
}

}  // namespace
