// Automatic and one-shot white balance: the white-dot statistics, the targets with their range
// limits, the three-frame glide, the cadence, the fallback with its log line, 12-bit frames and
// the WB window, including windows that keep no whole block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CameraWhiteBalance.h"
#include "common/Log.h"
#include "control/CameraSettings.h"

namespace {

constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;

std::vector<std::string> g_log;
void CollectLog(const char* message) {
    g_log.emplace_back(message);
}

// A Bayer frame whose every block has the given red, green (both greens) and blue.
struct Scene {
    uint32_t width = 32;
    uint32_t height = 16;
    uint32_t mediaType = kBayer8;
    std::vector<uint8_t> bytes;
    stImageInfo info{};

    Scene(int r, int g, int b, uint32_t type = kBayer8, uint32_t w = 32, uint32_t h = 16)
        : width(w), height(h), mediaType(type) {
        const int sampleBytes = type == kBayer12 ? 2 : 1;
        bytes.assign(static_cast<size_t>(w) * h * sampleBytes, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const int v = y % 2 == 0 ? (x % 2 == 0 ? g : r) : (x % 2 == 0 ? b : g);
                Set(x, y, v);
            }
        info.iWidth = w;
        info.iHeight = h;
        info.TotalBytes = static_cast<UINT>(bytes.size());
        info.uiMediaType = type;
    }
    void Set(uint32_t x, uint32_t y, int v) {
        const size_t i = static_cast<size_t>(y) * width + x;
        if (mediaType == kBayer12) {
            const uint16_t w = static_cast<uint16_t>(v);
            std::memcpy(&bytes[2 * i], &w, 2);
        } else {
            bytes[i] = static_cast<uint8_t>(v);
        }
    }
};

CameraSettings Loaded(int mode, uint32_t r = 100, uint32_t g = 100, uint32_t b = 100) {
    CameraSettings s;
    std::memset(&s, 0, sizeof s);
    s.wbMode = mode;
    s.rgbGain[0] = r;
    s.rgbGain[1] = g;
    s.rgbGain[2] = b;
    return s;
}

class Awb : public ::testing::Test {
  protected:
    void Load(const CameraSettings& s, uint32_t redMax = 300, uint32_t blueMin = 60) {
        ASSERT_EQ(wb.LoadParameter(s, 1, 1, 50, redMax, 100, 100, blueMin, 250), 0);
        wb.SetFrameInterval(3);
    }
    // One frame; the gains the controller keeps, as the object leaves them.
    void Frame(const Scene& scene, int statistics = 1) {
        wb.ProcessFrame(scene.bytes.data(), &scene.info, &gains[0], &gains[1], &gains[2],
                        statistics, 128);
    }
    std::vector<uint32_t> Targets() const {
        uint32_t r, g, b;
        wb.GetTargetGains(&r, &g, &b);
        return {r, g, b};
    }
    std::vector<uint32_t> Gains() const { return {gains[0], gains[1], gains[2]}; }
    void TearDown() override { qv::SetLogSink(nullptr); }

    CameraWhiteBalance wb;
    uint32_t gains[3] = {100, 100, 100};
};

using Trio = std::vector<uint32_t>;

TEST_F(Awb, TargetsFromTheWhiteDots) {
    struct Row {
        const char* what;
        int r, g, b;
        uint32_t type;
        uint32_t redMax, blueMin;
        Trio targets;
    };
    const Row rows[] = {
        {"grey card", 128, 128, 128, kBayer8, 300, 60, {100, 100, 100}},
        {"means 100/128/160", 100, 128, 160, kBayer8, 300, 60, {128, 100, 80}},
        {"red limited to its maximum", 100, 128, 160, kBayer8, 120, 60, {120, 100, 80}},
        {"blue limited to its minimum", 100, 128, 160, kBayer8, 300, 90, {128, 100, 90}},
        // 12-bit samples on the 8-bit scale: red and blue >> 4, greens (g1 + g2) >> 5.
        {"12-bit means 100/128/160",
         100 * 16 + 9,
         128 * 16 + 3,
         160 * 16 + 15,
         kBayer12,
         300,
         60,
         {128, 100, 80}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Load(Loaded(0), row.redMax, row.blueMin);
        const Scene scene(row.r, row.g, row.b, row.type);
        EXPECT_EQ(wb.FindWhiteDots(scene.bytes.data(), &scene.info), 0);
        EXPECT_EQ(Targets(), row.targets);
    }
}

// 12-bit samples carry 12 bits: a word above 4095 (a damaged or foreign frame) counts as full
// scale, so the frame gives the targets of the same frame with 4095 in its place, on the 8-bit
// scale the statistics work in.
TEST_F(Awb, TwelveBitWordsAboveTheirRangeCountAsFullScale) {
    Scene held(100 * 16, 128 * 16, 160 * 16, kBayer12);
    Scene wide = held;
    for (uint32_t x : {1u, 5u, 9u}) {  // red samples of three blocks
        held.Set(x, 0, 4095);
        wide.Set(x, 0, 0xFFFF);
    }
    wide.Set(0, 1, 0x8000);  // and a blue one
    held.Set(0, 1, 4095);
    Load(Loaded(0));
    ASSERT_EQ(wb.FindWhiteDots(held.bytes.data(), &held.info), 0);
    const Trio want = Targets();
    Load(Loaded(0));
    ASSERT_EQ(wb.FindWhiteDots(wide.bytes.data(), &wide.info), 0);
    EXPECT_EQ(Targets(), want);
    EXPECT_EQ(want, (Trio{128, 100, 80}));
}

TEST_F(Awb, GainsGlideToTheTargetsOverThreeFramesOnTheFourthFrameCadence) {
    Load(Loaded(1));
    const Scene cast(100, 128, 160);
    // Frames 1 to 3 only smooth towards the loaded gains.
    for (int i = 0; i < 3; ++i) {
        Frame(cast);
        EXPECT_EQ(Gains(), (Trio{100, 100, 100})) << "frame " << i + 1;
    }
    Frame(cast);  // 4th: measures, one third of the way
    EXPECT_EQ(Gains(), (Trio{109, 100, 93}));
    Frame(cast);
    EXPECT_EQ(Gains(), (Trio{121, 100, 84}));
    Frame(cast);
    EXPECT_EQ(Gains(), (Trio{128, 100, 80}));
    Frame(cast);
    EXPECT_EQ(Gains(), (Trio{128, 100, 80}));

    // The 8th and 12th frames measure again: a new scene changes the targets only there.
    const Scene grey(128, 128, 128);
    Frame(grey);  // 8th
    EXPECT_EQ(Targets(), (Trio{100, 100, 100}));
    Load(Loaded(1));  // loading leaves the frame counter: next measurement on the 12th
    const Scene other(64, 128, 128);
    for (int frame = 9; frame <= 12; ++frame) {
        Frame(other);
        EXPECT_EQ(Targets()[0], frame == 12 ? 200u : 100u) << "frame " << frame;
    }
}

TEST_F(Awb, AStepTooSmallToMoveTakesTheTarget) {
    // Block means 100/101/101: red target 101, one third of 1 truncates to no move.
    Load(Loaded(1));
    wb.SetFrameInterval(0);
    Frame(Scene(100, 101, 101));
    EXPECT_EQ(Targets(), (Trio{101, 100, 100}));
    EXPECT_EQ(Gains(), (Trio{101, 100, 100}));
}

TEST_F(Awb, NoWhiteDotFallsBackToTheStartGainsWithALogLine) {
    Load(Loaded(1, 150, 100, 70));
    wb.SetFrameInterval(0);
    qv::SetLogSink(&CollectLog);
    g_log.clear();
    Frame(Scene(250, 250, 250));  // every block's luma is above 199
    EXPECT_EQ(Targets(), (Trio{150, 100, 70}));
    EXPECT_EQ(Gains(), (Trio{150, 100, 70}));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "===NONE WhiteDot====   Dr:0,Db:0,rate:0\n");
}

TEST_F(Awb, OneShotInManualModeTakesTheResultAtOnce) {
    Load(Loaded(0, 130, 100, 90));
    EXPECT_EQ(wb.CWB_CameraSetOnceWB(), 0);
    Frame(Scene(100, 128, 160));
    EXPECT_EQ(Gains(), (Trio{128, 100, 80}));
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());
    // Without a request manual mode leaves the host's gains alone.
    gains[0] = 111;
    Frame(Scene(128, 128, 128));
    EXPECT_EQ(Gains(), (Trio{111, 100, 80}));

    // A request while automatic white balance is on is dropped: the gains glide as usual.
    Load(Loaded(1));
    wb.SetFrameInterval(0);
    wb.CWB_CameraSetOnceWB();
    Frame(Scene(100, 128, 160));
    EXPECT_EQ(Gains(), (Trio{109, 100, 93}));
}

TEST_F(Awb, FramesTheStatisticsCannotUseKeepTheTargets) {
    Load(Loaded(1, 120, 100, 110));
    wb.SetFrameInterval(0);
    Scene mono(128, 128, 128);
    mono.info.uiMediaType = 0x01080000u;
    EXPECT_EQ(wb.FindWhiteDots(mono.bytes.data(), &mono.info), CAMERA_STATUS_NOT_SUPPORTED);
    Scene shortFrame(100, 128, 160);
    shortFrame.info.TotalBytes -= 1;
    EXPECT_EQ(wb.FindWhiteDots(shortFrame.bytes.data(), &shortFrame.info),
              CAMERA_STATUS_DATA_INVALID);
    EXPECT_EQ(wb.FindWhiteDots(nullptr, &shortFrame.info), CAMERA_STATUS_PARAMETER_INVALID);
    Frame(mono);
    EXPECT_EQ(Targets(), (Trio{120, 100, 110}));
    EXPECT_EQ(Gains(), (Trio{120, 100, 110}));
}

TEST_F(Awb, WindowWithoutAWholeBlockKeepsTheTargets) {
    struct Row {
        const char* what;
        int left, top, width, height;
    };
    const Row rows[] = {
        {"height 1 (rounded down to 0)", 0, 0, 8, 1},
        {"left edge on the right edge", 32, 0, 8, 8},
        {"left edge past the right edge", 40, 0, 8, 8},
        {"top edge past the bottom", 0, 18, 8, 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Load(Loaded(1, 120, 100, 110));
        wb.SetFrameInterval(0);
        wb.CWB_CameraSetWbWindow(row.left, row.top, row.width, row.height);
        Frame(Scene(100, 128, 160));
        EXPECT_EQ(Targets(), (Trio{120, 100, 110}));
    }
}

TEST_F(Awb, WindowMeasuresOnlyItsBlocks) {
    Load(Loaded(1));
    wb.SetFrameInterval(0);
    // The right half of the frame carries the cast; a window there sees only the cast.
    Scene scene(128, 128, 128);
    for (uint32_t y = 0; y < scene.height; y += 2)
        for (uint32_t x = 16; x < scene.width; x += 2) {
            scene.Set(x + 1, y, 100);
            scene.Set(x, y + 1, 160);
        }
    // Left 15 rounds up to 16; the right edge 16 + 20 = 36 is clipped to 32.
    wb.CWB_CameraSetWbWindow(15, 0, 20, 16);
    Frame(scene);
    EXPECT_EQ(Targets(), (Trio{128, 100, 80}));
}

TEST_F(Awb, WhiteDotBufferGrowsAndNeverShrinks) {
    Load(Loaded(0));
    const Scene large(128, 128, 128, kBayer8, 64, 32);
    const Scene small(128, 128, 128, kBayer8, 16, 8);
    ASSERT_EQ(wb.FindWhiteDots(large.bytes.data(), &large.info), 0);
    const size_t capacity = wb.WhiteDotCapacity();
    EXPECT_GE(capacity, 32u * 16u * 3u);
    ASSERT_EQ(wb.FindWhiteDots(small.bytes.data(), &small.info), 0);
    EXPECT_EQ(wb.WhiteDotCapacity(), capacity);
}

}  // namespace
