// Tone curves, per-channel tables and the lookup-table settings' life between frames.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "LutTables.h"

using namespace qv::isp;

namespace {

using Curve = std::vector<uint16_t>;
constexpr uint32_t kMono8 = 0x01080000u;
constexpr uint32_t kMono12 = 0x01100005u;

Curve Identity() {
    Curve c(4096);
    for (int i = 0; i < 4096; ++i) c[i] = static_cast<uint16_t>(i);
    return c;
}

Curve Built(void (*build)(uint16_t*, int, int), int a, int b) {
    Curve c(4096);
    build(c.data(), a, b);
    return c;
}

Curve GammaCurve(int gamma, int contrastLut) {
    return Built(&CLutTables::BuildGammaContrastLut, gamma, contrastLut);
}

Curve Current(const CLutTables& lut, int index = 0) {
    Curve c(4096);
    EXPECT_EQ(lut.GetCurrentLut(index, c.data()), 0);
    return c;
}

Curve Table(const CLutTables& lut, int channel) {
    const LutView v = lut.ChannelTable(channel);
    return Curve(v.table, v.table + v.size);
}

// Per-channel table from a master curve, as written: entry k = M[k x s] / s, s = 4096 / N.
Curve Derive(const Curve& master, int n) {
    const int s = 4096 / n;
    Curve t(n);
    for (int k = 0; k < n; ++k) t[k] = static_cast<uint16_t>(master[k * s] / s);
    return t;
}

// ---- Curve formulas and their worked numbers -----------------------------------------------

TEST(LutCurves, GammaAndLutContrastWorkedNumbers) {
    EXPECT_EQ(GammaCurve(100, 100), Identity());

    const Curve g45 = GammaCurve(45, 100);
    EXPECT_EQ(g45[1], 96);  // 4095 x (1/4095)^0.45, truncated
    EXPECT_EQ(g45[4095], 4095);
    EXPECT_EQ(g45[0], 0);

    const Curve c50 = GammaCurve(100, 50);  // exponent 1.5 around 2047
    EXPECT_EQ(c50[4095], 4095);
    EXPECT_EQ(c50[2047], 2047);
    EXPECT_EQ(c50[1024], 1323);
}

// The curve as the formula states it, for a grid of settings.
Curve GammaReference(int gamma, int contrastLut) {
    const double g = gamma / 100.0, c = contrastLut / 100.0, h = 2047;
    Curve out(4096);
    for (int i = 0; i < 4096; ++i) {
        double y = std::min(4095.0, 4095.0 * std::pow(i / 4095.0, g));
        if (c != 1.0) {
            const double p = c < 1 ? 2 - c : (2 - c) * 0.5 + 0.5;
            y = y > h ? h + h * std::pow((y - h) / h, p) : h - h * std::pow((h - y) / h, p);
        }
        out[i] = y > 4095 ? 4095 : y < 0 ? 0 : static_cast<uint16_t>(y);
    }
    return out;
}

TEST(LutCurves, GammaContrastGridFollowsTheFormula) {
    for (int gamma : {0, 30, 45, 100, 160, 250, 1000})
        for (int contrast : {0, 40, 100, 140, 200})
            EXPECT_EQ(GammaCurve(gamma, contrast), GammaReference(gamma, contrast))
                << gamma << " " << contrast;
}

TEST(LutCurves, PresetWorkedNumbers) {
    CLutTables lut;
    lut.Initialise(1, 100, 100, 0, kMono12);
    EXPECT_EQ(Curve(lut.PresetCurve(0), lut.PresetCurve(0) + 4096), Identity());
    EXPECT_EQ(Curve(lut.PresetCurve(3), lut.PresetCurve(3) + 4096), Identity());

    const uint16_t* p1 = lut.PresetCurve(1);
    for (int i = 0; i <= 576; ++i)
        EXPECT_EQ(p1[i], static_cast<uint16_t>(896 * std::pow(i / 576.0, 0.8))) << i;
    EXPECT_EQ(p1[576], 896);
    EXPECT_EQ(p1[3360], 2720);
    EXPECT_EQ(p1[4095], 4091);
    EXPECT_EQ(lut.PresetCurve(2)[4095], 4094);
    for (int i = 1; i < 4096; ++i) ASSERT_LE(p1[i - 1], p1[i]) << i;
}

TEST(LutCurves, TableSizeFollowsTheInputDepth) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0x01080000u, 256},  {0x01080002u, 256},  {0x01080008u, 256},   {0x0108000Bu, 256},
        {0x010C0004u, 1024}, {0x010C0026u, 1024}, {0x010C0029u, 1024},  {0x01100003u, 1024},
        {0x0110000Cu, 1024}, {0x0110000Fu, 1024}, {0x0110002Eu, 65536}, {0x01100031u, 65536},
        {0x01100005u, 4096}, {0x01100010u, 4096}, {0x0210001Fu, 4096},  {0x0108000Cu, 4096},
    };
    for (auto [type, size] : cases)
        EXPECT_EQ(CLutTables::TableSizeForMediaType(type), size) << std::hex << type;
}

// ---- Per-channel tables ------------------------------------------------------------------------

TEST(LutTables, EightBitCameraGetsEverySixteenthEntryAfterSetGamma) {
    CLutTables lut;
    lut.Initialise(0, 100, 100, 0, kMono8);
    EXPECT_FALSE(lut.IsInEffect());  // gamma 100, LUT contrast 100: the kernels skip the lookup
    ASSERT_EQ(lut.SetGamma(45), 0);
    EXPECT_EQ(Current(lut), GammaCurve(45, 100));       // the current curve changes at once
    EXPECT_EQ(Table(lut, 0), Derive(Identity(), 256));  // the tables at the next frame
    lut.ApplyPending();
    const Curve g45 = GammaCurve(45, 100);
    const Curve red = Table(lut, 0);
    ASSERT_EQ(red.size(), 256u);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(red[k], g45[16 * k] / 16) << k;
    EXPECT_EQ(Table(lut, 1), red);
    EXPECT_EQ(Table(lut, 2), red);
    EXPECT_TRUE(lut.IsInEffect());
}

TEST(LutTables, TenAndTwelveBitTablesUseTheirStep) {
    CLutTables lut;
    lut.Initialise(0, 60, 130, 0, 0x010C0004u);
    EXPECT_EQ(Table(lut, 0), Derive(GammaCurve(60, 130), 1024));
    lut.Initialise(0, 60, 130, 0, kMono12);
    EXPECT_EQ(Table(lut, 0), GammaCurve(60, 130));
}

TEST(LutTables, FollowsAFrameOfAnotherDepth) {
    CLutTables lut;
    lut.Initialise(0, 45, 100, 0, kMono8);
    ASSERT_EQ(lut.TableSize(), 256u);
    // The sensor switched to 12 bits without a new load: 12-bit samples need 4096 entries.
    EXPECT_TRUE(lut.MatchInputMediaType(kMono12));
    EXPECT_EQ(lut.TableSize(), 4096u);
    EXPECT_EQ(Table(lut, 0), GammaCurve(45, 100));
    EXPECT_FALSE(lut.MatchInputMediaType(kMono12));
    EXPECT_TRUE(lut.MatchInputMediaType(kMono8));
    EXPECT_EQ(Table(lut, 0), Derive(GammaCurve(45, 100), 256));
}

// ---- Setters: conditions, timing, custom curves ----------------------------------------------

TEST(LutTables, SettersRefuseOutsideTheirModeOrIndex) {
    CLutTables lut;
    lut.Initialise(1, 100, 100, 0, kMono8);
    Curve t = Identity();
    EXPECT_EQ(lut.SetGamma(45), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.SetContrastLut(80), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.SetCustomLut(1, t.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.SelectLutPreset(4), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.SelectLutPreset(-1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.GetCustomLut(4, t.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.GetCustomLut(0, nullptr), 0);
    EXPECT_EQ(lut.GetCurrentLut(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(lut.GetCurrentLut(-1, t.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_FALSE(lut.HasPendingChange());

    // The mode tests read the active mode: right after SetLutMode(0) gamma is still refused.
    EXPECT_EQ(lut.SetLutMode(0), 0);
    EXPECT_EQ(lut.SetGamma(45), CAMERA_STATUS_PARAMETER_INVALID);
    lut.ApplyPending();
    EXPECT_EQ(lut.SetGamma(45), 0);
    EXPECT_EQ(lut.SelectLutPreset(1), CAMERA_STATUS_PARAMETER_INVALID);

    CLutTables custom;
    custom.Initialise(2, 100, 100, 0, kMono8);
    EXPECT_EQ(custom.SetCustomLut(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(custom.SetCustomLut(4, t.data()), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST(LutTables, PresetSelectionReachesCurveAtOnceAndTablesAtTheNextFrame) {
    CLutTables lut;
    lut.Initialise(1, 100, 100, 0, kMono12);
    ASSERT_EQ(lut.SelectLutPreset(1), 0);
    const Curve p1(lut.PresetCurve(1), lut.PresetCurve(1) + 4096);
    EXPECT_EQ(Current(lut), p1);
    EXPECT_EQ(Table(lut, 0), Identity());
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), p1);
    EXPECT_EQ(lut.ActivePresetIndex(), 1);
}

TEST(LutTables, CustomCurveOfOneChannelReachesItsTableAtOnce) {
    CLutTables lut;
    lut.Initialise(2, 100, 100, 0, kMono8);
    Curve green(4096);
    for (int i = 0; i < 4096; ++i) green[i] = static_cast<uint16_t>(4095 - i);
    ASSERT_EQ(lut.SetCustomLut(2, green.data()), 0);
    EXPECT_EQ(Table(lut, 1), Derive(green, 256));
    EXPECT_EQ(Table(lut, 0), Derive(Identity(), 256));
    EXPECT_EQ(Table(lut, 2), Derive(Identity(), 256));
    EXPECT_EQ(Current(lut, 2), green);
    EXPECT_EQ(Current(lut, 0), Identity());  // the red curve
    Curve got(4096);
    ASSERT_EQ(lut.GetCustomLut(3, got.data()), 0);
    EXPECT_EQ(got, Identity());
    ASSERT_EQ(lut.GetCustomLut(2, got.data()), 0);
    EXPECT_EQ(got, green);

    ASSERT_EQ(lut.SetCustomLut(0, green.data()), 0);  // index 0: all three
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(Table(lut, ch), Derive(green, 256));
}

TEST(LutTables, CurrentLutShowsCustomCurveRightAfterModeTwo) {
    CLutTables lut;
    lut.Initialise(0, 45, 100, 0, kMono8);
    Curve red = Identity();
    red[100] = 3000;
    lut.StoreCustomCurve(0, red.data());
    ASSERT_EQ(lut.SetLutMode(2), 0);
    EXPECT_EQ(Current(lut, 1), red);
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), Derive(red, 256));
}

TEST(LutTables, CustomValuesAboveTwelveBitsAreStoredAsTheMaximum) {
    CLutTables lut;
    lut.Initialise(2, 100, 100, 0, kMono8);
    Curve wild(4096, 0xFFFF);
    ASSERT_EQ(lut.SetCustomLut(1, wild.data()), 0);
    Curve got(4096);
    lut.GetCustomLut(1, got.data());
    EXPECT_EQ(got, Curve(4096, 4095));
    for (uint16_t v : Table(lut, 0)) ASSERT_EQ(v, 255);  // an 8-bit table stays within 8 bits
}

// ---- Two changes between the same two frames ---------------------------------------------------

TEST(LutTables, ModeChangeWithPresetSelectionLeavesThePresetSlotIntact) {
    CLutTables lut;
    lut.Initialise(1, 45, 100, 0, kMono12);
    const Curve preset2(lut.PresetCurve(2), lut.PresetCurve(2) + 4096);
    ASSERT_EQ(lut.SelectLutPreset(2), 0);
    ASSERT_EQ(lut.SetLutMode(0), 0);
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), GammaCurve(45, 100));  // mode 0 is in force
    EXPECT_EQ(Curve(lut.PresetCurve(2), lut.PresetCurve(2) + 4096), preset2);
    ASSERT_EQ(lut.SetLutMode(1), 0);
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), preset2);
    EXPECT_EQ(Current(lut), preset2);
}

TEST(LutTables, GammaChangeWithModeChangeLeavesTheGeneratedCurveIntact) {
    CLutTables lut;
    lut.Initialise(0, 100, 100, 1, kMono12);
    ASSERT_EQ(lut.SetGamma(45), 0);
    ASSERT_EQ(lut.SetLutMode(1), 0);
    lut.ApplyPending();
    const Curve preset1(lut.PresetCurve(1), lut.PresetCurve(1) + 4096);
    EXPECT_EQ(Table(lut, 0), preset1);
    EXPECT_EQ(Curve(lut.GeneratedCurve(), lut.GeneratedCurve() + 4096), GammaCurve(45, 100));
    ASSERT_EQ(lut.SetLutMode(0), 0);
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), GammaCurve(45, 100));  // mode 0 with gamma 45, not the preset
    EXPECT_EQ(lut.ActiveGamma(), 45);
}

TEST(LutTables, GammaSetJustBeforeAModeChangeDoesNotLeakIntoThePresetTables) {
    CLutTables lut;
    lut.Initialise(0, 100, 100, 2, kMono12);
    ASSERT_EQ(lut.SetLutMode(1), 0);
    ASSERT_EQ(lut.SetGamma(60), 0);  // still accepted: mode 0 is active until the frame
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), Curve(lut.PresetCurve(2), lut.PresetCurve(2) + 4096));
    EXPECT_EQ(Current(lut), Curve(lut.PresetCurve(2), lut.PresetCurve(2) + 4096));
}

TEST(LutTables, LoadInPresetModeKeepsTheGammaCurveForALaterSwitch) {
    CLutTables lut;
    lut.Initialise(1, 45, 100, 0, kMono12);
    ASSERT_EQ(lut.SetLutMode(0), 0);
    EXPECT_EQ(Current(lut), GammaCurve(45, 100));
    lut.ApplyPending();
    EXPECT_EQ(Table(lut, 0), GammaCurve(45, 100));
}

TEST(LutTables, ChangesBeforeTheFirstLoadBuildNothing) {
    CLutTables lut;
    ASSERT_EQ(lut.SetLutMode(1), 0);
    lut.ApplyPending();
    EXPECT_EQ(lut.ChannelTable(0).table, nullptr);
    EXPECT_EQ(Current(lut), Identity());
    ASSERT_EQ(lut.SetLutMode(2), 0);
    lut.ApplyPending();
    const Curve t = Identity();
    EXPECT_EQ(lut.SetCustomLut(1, t.data()), 0);
    EXPECT_EQ(lut.ChannelTable(0).table, nullptr);
}

TEST(LutTables, OutOfRangePresetIndexFromAFileSelectsPresetZero) {
    CLutTables lut;
    lut.Initialise(1, 100, 100, 9, kMono12);
    EXPECT_EQ(lut.ActivePresetIndex(), 0);
    EXPECT_EQ(Table(lut, 0), Identity());
}

}  // namespace
