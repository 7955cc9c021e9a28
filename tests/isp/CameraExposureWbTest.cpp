// CameraExposure and CameraWhiteBalance: the parameter load, the pending settings with their
// dirty codes and the rules each setter applies, frames with auto exposure off, and the
// white-balance step's gains in manual and automatic mode.
#include <gtest/gtest.h>

#include <cstring>

#include "CameraExposure.h"
#include "control/CameraSettings.h"
#include "CameraWhiteBalance.h"
#include "sensors/SensorInf.h"

namespace {

SensorParam Limits() {
    SensorParam p;
    std::memset(&p, 0, sizeof(p));
    p.aeTargetMin = 20;
    p.aeTargetMax = 220;
    p.analogGainMin = 1000;
    p.analogGainMax = 16000;
    p.expLinesMin = 1;
    p.expLinesMax = 4000;
    return p;
}

CameraSettings Settings() {
    CameraSettings s;
    std::memset(&s, 0, sizeof(s));
    s.aeState = 1;
    s.aeTarget = 0x10000 + 120;  // only the low 16 bits count
    s.aeExposureMode = 1;
    s.aeExposureMin = 50.0;
    s.aeExposureMax = 30000.0;
    s.aeAnalogGainMin = 2000;
    s.aeAnalogGainMax = 8000;
    s.antiFlick = 1;
    s.lightFrequency = 2;
    const int window[4] = {10, 20, 100, 60};
    std::memcpy(s.aeWindow, window, sizeof(window));
    s.wbMode = 1;
    s.rgbGain[0] = 130;
    s.rgbGain[1] = 100;
    s.rgbGain[2] = 90;
    const int wbWindow[4] = {4, 6, 40, 30};
    std::memcpy(s.wbWindow, wbWindow, sizeof(wbWindow));
    return s;
}

stImageInfo FrameInfo(double expTime, double lineTime, uint32_t gain) {
    stImageInfo info{};
    info.iWidth = 8;
    info.iHeight = 4;
    info.TotalBytes = 32;
    info.uiMediaType = 0x01080008u;
    info.ExpTime = expTime;
    info.ExpLineTime = lineTime;
    info.Gain = gain;
    return info;
}

// ---- CameraExposure ----------------------------------------------------------------------------

class ExposureTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(ae.LoadParameter(Limits(), Settings(), 0), 0); }
    void NextFrame() {
        const stImageInfo info = FrameInfo(1000.0, 10.0, 1000);
        uint8_t raw[32] = {};
        uint32_t lines = 0, gain = 0;
        ae.ProcessFrame(&info, raw, 0, &lines, &gain);
    }
    CameraExposure ae;
};

TEST_F(ExposureTest, LoadTakesTheAutoExposureSettings) {
    const CameraExposure::Settings a = ae.GetActiveSettings();
    EXPECT_EQ(a.aeState, 1);
    EXPECT_EQ(a.aeTarget, 120);
    EXPECT_EQ(a.exposureMode, 1);
    EXPECT_EQ(a.exposureMin, 50.0);
    EXPECT_EQ(a.exposureMax, 30000.0);
    EXPECT_EQ(a.antiFlick, 1);
    EXPECT_EQ(a.lightFrequency, 2);
    EXPECT_EQ(a.windowEnabled, 1);
    EXPECT_EQ(a.window[2], 100);
    EXPECT_EQ(a.frameTimeLimit, 200000.0);  // until the controller reports the frame time
    EXPECT_EQ(a.blackOffset, 0);
    EXPECT_EQ(ae.GetDirtyCode(), 0);
    uint8_t brightness = 0;
    ae.GetBrightness(&brightness);
    EXPECT_EQ(brightness, 128);
}

// The range of the parameter group is the host's record of its last request; every load starts
// auto exposure on the sensor's whole gain range.
TEST_F(ExposureTest, LoadStartsOnTheSensorsGainRange) {
    struct Case {
        uint32_t min, max;
    };
    const Case cases[] = {{2000, 8000}, {500, 20000}, {0, 0}, {9000, 3000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.min << ".." << c.max);
        CameraSettings s = Settings();
        s.aeAnalogGainMin = c.min;
        s.aeAnalogGainMax = c.max;
        ASSERT_EQ(ae.LoadParameter(Limits(), s, 0), 0);
        uint32_t min = 0, max = 0;
        ae.CE_CameraGetAeAnalogGainRange(&min, &max);
        EXPECT_EQ(min, 1000u);
        EXPECT_EQ(max, 16000u);
    }
    // A range set through the setter holds until the next load.
    ae.CE_CameraSetAeAnalogGainRange(2000, 4000);
    NextFrame();
    uint32_t min = 0, max = 0;
    ae.CE_CameraGetAeAnalogGainRange(&min, &max);
    EXPECT_EQ(min, 2000u);
    ASSERT_EQ(ae.LoadParameter(Limits(), Settings(), 0), 0);
    ae.CE_CameraGetAeAnalogGainRange(&min, &max);
    EXPECT_EQ(min, 1000u);
    EXPECT_EQ(max, 16000u);
}

// Sensor limits that change after the load: the gain range auto exposure works in stays within
// them; the sensor's whole range stays whole, a range with nothing left on them becomes theirs.
TEST_F(ExposureTest, GainRangeFollowsChangedSensorLimits) {
    struct Case {
        uint32_t setMin, setMax;  // set before the change; 0, 0: the load's whole range
        uint32_t sensorMin, sensorMax;
        uint32_t wantMin, wantMax;
    };
    const Case cases[] = {
        {0, 0, 1000, 8000, 1000, 8000},          {0, 0, 1000, 32000, 1000, 32000},
        {0, 0, 2000, 16000, 2000, 16000},        {2000, 12000, 1000, 8000, 2000, 8000},
        {2000, 12000, 1000, 32000, 2000, 12000}, {2000, 12000, 4000, 16000, 4000, 12000},
        {10000, 16000, 1000, 8000, 1000, 8000},  {1000, 4000, 5000, 16000, 5000, 16000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.setMin << ".." << c.setMax << " on " << c.sensorMin
                                          << ".." << c.sensorMax);
        ASSERT_EQ(ae.LoadParameter(Limits(), Settings(), 0), 0);
        if (c.setMax != 0) ae.CE_CameraSetAeAnalogGainRange(c.setMin, c.setMax);
        NextFrame();
        SensorParam limits = Limits();
        limits.analogGainMin = c.sensorMin;
        limits.analogGainMax = c.sensorMax;
        ASSERT_EQ(ae.SetSensorLimits(limits), 0);
        NextFrame();
        uint32_t min = 0, max = 0;
        ae.CE_CameraGetAeAnalogGainRange(&min, &max);
        EXPECT_EQ(min, c.wantMin);
        EXPECT_EQ(max, c.wantMax);
        // A range set afterwards is cut to the new limits.
        ae.CE_CameraSetAeAnalogGainRange(c.sensorMin, 64000);
        NextFrame();
        ae.CE_CameraGetAeAnalogGainRange(&min, &max);
        EXPECT_EQ(max, c.sensorMax);
    }
}

TEST_F(ExposureTest, LoadNormalisesLightFrequencyAndEnablesOnlyAWholeWindow) {
    CameraSettings s = Settings();
    s.lightFrequency = 3;
    s.aeWindow[3] = 0;  // width without height
    ASSERT_EQ(ae.LoadParameter(Limits(), s, 0), 0);
    EXPECT_EQ(ae.CE_CameraGetLightFrequency(), 1);
    EXPECT_EQ(ae.GetActiveSettings().windowEnabled, 0);
}

TEST_F(ExposureTest, LoadDiscardsAnythingPending) {
    ae.CE_CameraSetAeState(0);
    ae.SetFrameTime(33333.0);
    ASSERT_EQ(ae.LoadParameter(Limits(), Settings(), 0), 0);
    EXPECT_EQ(ae.GetDirtyCode(), 0);
    NextFrame();
    EXPECT_EQ(ae.CE_CameraGetAeState(), 1);
    EXPECT_EQ(ae.GetFrameTime(), 200000.0);
}

TEST_F(ExposureTest, EachSetterStaysPendingWithItsDirtyCodeUntilTheNextFrame) {
    struct Case {
        const char* name;
        int (*set)(CameraExposure&);
        uint16_t code;
        bool (*applied)(const CameraExposure::Settings&);
    };
    using S = CameraExposure::Settings;
    const Case cases[] = {
        {"AeState", [](CameraExposure& e) { return e.CE_CameraSetAeState(0); }, 1,
         [](const S& s) { return s.aeState == 0; }},
        {"AeTarget", [](CameraExposure& e) { return e.CE_CameraSetAeTarget(90); }, 2,
         [](const S& s) { return s.aeTarget == 90; }},
        {"AeWindow", [](CameraExposure& e) { return e.CE_CameraSetAeWindow(2, 4, 50, 40); }, 5,
         [](const S& s) { return s.window[0] == 2 && s.window[2] == 50; }},
        {"AntiFlick", [](CameraExposure& e) { return e.CE_CameraSetAntiFlick(0); }, 6,
         [](const S& s) { return s.antiFlick == 0; }},
        {"LightFrequency", [](CameraExposure& e) { return e.CE_CameraSetLightFrequency(1); }, 7,
         [](const S& s) { return s.lightFrequency == 1; }},
        {"FrameTime", [](CameraExposure& e) { return e.SetFrameTime(40000.0); }, 8,
         [](const S& s) { return s.frameTimeLimit == 40000.0; }},
        {"BlackOffset", [](CameraExposure& e) { return e.SetBlackOffset(3); }, 9,
         [](const S& s) { return s.blackOffset == 3; }},
        {"GainRange", [](CameraExposure& e) { return e.CE_CameraSetAeAnalogGainRange(3000, 9000); },
         10, [](const S& s) { return s.aeGainMin == 3000 && s.aeGainMax == 9000; }},
        {"ExposureRange", [](CameraExposure& e) { return e.CE_CameraSetAeExposureRange(10, 900); },
         11, [](const S& s) { return s.exposureMin == 10.0 && s.exposureMax == 900.0; }},
        {"ExposureMode", [](CameraExposure& e) { return e.CE_CameraSetAeExposureMode(0); }, 12,
         [](const S& s) { return s.exposureMode == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ae.LoadParameter(Limits(), Settings(), 0), 0);
        EXPECT_EQ(c.set(ae), 0);
        EXPECT_EQ(ae.GetDirtyCode(), c.code);
        EXPECT_FALSE(c.applied(ae.GetActiveSettings()));
        NextFrame();
        EXPECT_TRUE(c.applied(ae.GetActiveSettings()));
        EXPECT_EQ(ae.GetDirtyCode(), 0);
    }
}

TEST_F(ExposureTest, TargetIsBroughtIntoTheSensorsTargetRange) {
    struct Case {
        uint32_t in;
        uint16_t stored;
    };
    const Case cases[] = {{128, 128}, {0x10000 + 100, 100}, {250, 220}, {5, 20}, {0x1FFFF, 220}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        ae.CE_CameraSetAeTarget(c.in);
        NextFrame();
        EXPECT_EQ(ae.CE_CameraGetAeTarget(), c.stored);
    }
}

TEST_F(ExposureTest, WindowWidthIsEvenAndWidthZeroDisablesIt) {
    ae.CE_CameraSetAeWindow(10, 20, 101, 51);
    NextFrame();
    int l, t, w, h;
    ae.CE_CameraGetAeWindow(&l, &t, &w, &h);
    EXPECT_EQ(ae.GetActiveSettings().windowEnabled, 1);
    EXPECT_EQ(l, 10);
    EXPECT_EQ(t, 20);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 51);  // the height is kept as passed

    // Disabling keeps the rectangle in force for a later enable; only the flag changes.
    ae.CE_CameraSetAeWindow(5, 6, 0, 7);
    NextFrame();
    ae.CE_CameraGetAeWindow(&l, &t, &w, &h);
    EXPECT_EQ(ae.GetActiveSettings().windowEnabled, 0);
    EXPECT_EQ(w, 100);
}

TEST_F(ExposureTest, GainRangeIsLimitedByTheSensorsRange) {
    struct Case {
        uint32_t min, max;
        int status;
        uint32_t wantMin, wantMax;  // -6: the range before stays
    };
    const Case cases[] = {
        {2000, 9000, 0, 2000, 9000},      {500, 20000, 0, 1000, 16000},  // both ends cut
        {500, 9000, 0, 1000, 9000},       {2000, 20000, 0, 2000, 16000},
        {16001, 20000, -6, 2000, 16000},  // nothing of it on the sensor's
        {0, 999, -6, 2000, 16000},        {20000, 16001, -6, 2000, 16000},
        {0xFFFFFFFF, 0, -6, 2000, 16000}, {16000, 16000, 0, 16000, 16000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.min << ".." << c.max);
        EXPECT_EQ(ae.CE_CameraSetAeAnalogGainRange(c.min, c.max), c.status);
        NextFrame();
        uint32_t min = 0, max = 0;
        ae.CE_CameraGetAeAnalogGainRange(&min, &max);
        EXPECT_EQ(min, c.wantMin);
        EXPECT_EQ(max, c.wantMax);
    }
}

TEST_F(ExposureTest, AntiFlickerChangesTakeEffectWithAutoExposureOff) {
    // The controller reports the new setting, so it is the one in force when auto exposure is
    // turned on again.
    ae.CE_CameraSetAeState(0);
    NextFrame();
    ae.CE_CameraSetAntiFlick(0);
    NextFrame();
    EXPECT_EQ(ae.CE_CameraGetAntiFlick(), 0);
}

TEST_F(ExposureTest, FrameTimeOnlyMarksAChange) {
    EXPECT_EQ(ae.SetFrameTime(200000.0), 0);  // the limit in force: nothing pending
    EXPECT_EQ(ae.GetDirtyCode(), 0);

    // Back to the active value before the frame: the pending one must not win.
    ae.SetFrameTime(33333.0);
    ae.SetFrameTime(200000.0);
    NextFrame();
    EXPECT_EQ(ae.GetFrameTime(), 200000.0);

    ae.SetFrameTime(33333.0);
    EXPECT_EQ(ae.GetDirtyCode(), CameraExposure::kDirtyFrameTime);
    NextFrame();
    EXPECT_EQ(ae.GetFrameTime(), 33333.0);
}

TEST_F(ExposureTest, WithAutoExposureOffFramesKeepTheirOwnExposureAndGain) {
    CameraSettings off = Settings();
    off.aeState = 0;
    ASSERT_EQ(ae.LoadParameter(Limits(), off, 0), 0);
    struct Case {
        double expTime, lineTime;
        uint32_t gain;
        uint32_t lines;
    };
    const Case cases[] = {
        {1000.0, 30.0, 1500, 33},   // 33.3 lines, rounded
        {1000.0, 8.0, 2000, 125},   // exact
        {1005.0, 10.0, 1000, 101},  // 100.5 rounds up
        {1000.0, 0.0, 1200, 0},     // no line time: no line count
        {1000.0, -1.0, 1200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.expTime << " / " << c.lineTime);
        const stImageInfo info = FrameInfo(c.expTime, c.lineTime, c.gain);
        uint8_t raw[32] = {};
        uint32_t lines = 12345, gain = 54321;
        EXPECT_EQ(ae.ProcessFrame(&info, raw, 0, &lines, &gain), 0);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(gain, c.gain);
    }
    const stImageInfo info = FrameInfo(1000.0, 10.0, 1000);
    EXPECT_EQ(ae.ProcessFrame(&info, nullptr, 0, nullptr, nullptr), 0);
}

TEST_F(ExposureTest, IntervalAndStatisticsAccessors) {
    EXPECT_EQ(ae.GetFrameInterval(), 2);  // continuous trigger mode's spacing from the start
    ae.SetFrameInterval(0);
    EXPECT_EQ(ae.GetFrameInterval(), 0);
    uint8_t r = 9, g1 = 9, g2 = 9, b = 9;
    EXPECT_EQ(ae.GetFrameStatistics(&r, &g1, &g2, &b), 0);
    EXPECT_EQ(r + g1 + g2 + b, 0);  // nothing measured yet
    EXPECT_EQ(ae.GetFrameStatistics(nullptr, nullptr, nullptr, nullptr), 0);
}

// ---- CameraWhiteBalance -------------------------------------------------------------------------

class WhiteBalanceTest : public ::testing::Test {
  protected:
    void SetUp() override { Load(Settings()); }
    void Load(const CameraSettings& s) {
        ASSERT_EQ(wb.LoadParameter(s, 1, 1, 50, 300, 100, 100, 60, 250), 0);
    }
    void NextFrame() {
        const stImageInfo info = FrameInfo(1000.0, 10.0, 1000);
        uint8_t raw[32] = {};
        uint32_t r = 0, g = 0, b = 0;
        wb.ProcessFrame(raw, &info, &r, &g, &b, 1, 128);
    }
    CameraWhiteBalance wb;
};

TEST_F(WhiteBalanceTest, LoadTakesTheWhiteBalanceSettingsAndCapability) {
    EXPECT_EQ(wb.CWB_CameraGetWbMode(), 1);
    uint32_t r, g, b;
    wb.GetCurrentGains(&r, &g, &b);
    EXPECT_EQ(r, 130u);
    EXPECT_EQ(g, 100u);
    EXPECT_EQ(b, 90u);
    uint32_t ranges[6];
    wb.GetGainRanges(ranges);
    const uint32_t want[6] = {50, 300, 100, 100, 60, 250};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ranges[i], want[i]) << i;
    int l, t, w, h;
    wb.CWB_CameraGetWbWindow(&l, &t, &w, &h);
    EXPECT_EQ(wb.GetActiveSettings().windowEnabled, 1);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());
    EXPECT_EQ(wb.GetDirtyCode(), 0);

    wb.CWB_CameraSetWbMode(0);
    CameraSettings s = Settings();
    s.wbWindow[3] = 0;
    Load(s);
    EXPECT_EQ(wb.GetDirtyCode(), 0);  // the pending mode is gone
    NextFrame();
    EXPECT_EQ(wb.CWB_CameraGetWbMode(), 1);
    EXPECT_EQ(wb.GetActiveSettings().windowEnabled, 0);
}

TEST_F(WhiteBalanceTest, EachSetterStaysPendingWithItsDirtyCodeUntilTheNextFrame) {
    struct Case {
        const char* name;
        int mode;  // the mode loaded before the setter
        int (*set)(CameraWhiteBalance&);
        uint16_t code;
        bool (*applied)(const CameraWhiteBalance::Settings&);
    };
    using S = CameraWhiteBalance::Settings;
    const Case cases[] = {
        {"WbMode", 1, [](CameraWhiteBalance& w) { return w.CWB_CameraSetWbMode(0); }, 1,
         [](const S& s) { return s.wbMode == 0; }},
        {"OnceWB", 0, [](CameraWhiteBalance& w) { return w.CWB_CameraSetOnceWB(); }, 3,
         [](const S& s) { return s.onceRequest == 1; }},
        {"WbWindow", 1, [](CameraWhiteBalance& w) { return w.CWB_CameraSetWbWindow(0, 2, 8, 6); },
         4, [](const S& s) { return s.window[0] == 0 && s.window[2] == 8; }},
        {"BlackOffset", 1, [](CameraWhiteBalance& w) { return w.SetBlackOffset(2); }, 5,
         [](const S& s) { return s.blackOffset == 2; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraSettings s = Settings();
        s.wbMode = c.mode;
        // A camera without the one-shot capability: a request is taken over but never measured,
        // so it stays visible after the frame.
        ASSERT_EQ(wb.LoadParameter(s, 1, 0, 50, 300, 100, 100, 60, 250), 0);
        EXPECT_EQ(c.set(wb), 0);
        EXPECT_EQ(wb.GetDirtyCode(), c.code);
        EXPECT_FALSE(c.applied(wb.GetActiveSettings()));
        NextFrame();
        EXPECT_TRUE(c.applied(wb.GetActiveSettings()));
        EXPECT_EQ(wb.GetDirtyCode(), 0);
    }
}

TEST_F(WhiteBalanceTest, WindowIsWholeCellsAndWidthZeroDisablesIt) {
    wb.CWB_CameraSetWbWindow(3, 5, 101, 101);
    NextFrame();
    int l, t, w, h;
    wb.CWB_CameraGetWbWindow(&l, &t, &w, &h);
    EXPECT_EQ(wb.GetActiveSettings().windowEnabled, 1);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(t, 5);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 100);

    wb.CWB_CameraSetWbWindow(7, 9, 0, 31);
    NextFrame();
    wb.CWB_CameraGetWbWindow(&l, &t, &w, &h);
    EXPECT_EQ(wb.GetActiveSettings().windowEnabled, 0);
    EXPECT_EQ(w, 100);  // the rectangle in force stays for a later enable
}

TEST_F(WhiteBalanceTest, AOneShotRequestIsDroppedWhileAutomaticWhiteBalanceIsOn) {
    // Mode 1 loaded: the request has nothing to do.
    wb.CWB_CameraSetOnceWB();
    NextFrame();
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());
    // Nor does it survive to a later switch to manual mode.
    wb.CWB_CameraSetWbMode(0);
    NextFrame();
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());

    // In the same batch as a switch to automatic mode: the new mode counts.
    wb.CWB_CameraSetOnceWB();
    wb.CWB_CameraSetWbMode(1);
    NextFrame();
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());

    // Manual mode: the request is taken over and measured on the same frame, whose gains it
    // writes (a black frame has no white dot: the loaded gains).
    wb.CWB_CameraSetWbMode(0);
    NextFrame();
    wb.CWB_CameraSetOnceWB();
    const stImageInfo info = FrameInfo(1000.0, 10.0, 1000);
    uint8_t raw[32] = {};
    uint32_t r = 1, g = 1, b = 1;
    wb.ProcessFrame(raw, &info, &r, &g, &b, 1, 128);
    EXPECT_FALSE(wb.CWB_CameraGetOnceWB());
    EXPECT_EQ(r, 130u);
    EXPECT_EQ(g, 100u);
    EXPECT_EQ(b, 90u);
}

TEST_F(WhiteBalanceTest, ManualModeLeavesTheHostsGainsAndAutomaticModeWritesItsOwn) {
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        CameraSettings s = Settings();
        s.wbMode = mode;
        Load(s);
        const stImageInfo info = FrameInfo(1000.0, 10.0, 1000);
        uint8_t raw[32];
        std::memset(raw, 200, sizeof(raw));
        uint32_t r = 140, g = 100, b = 70;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(wb.ProcessFrame(raw, &info, &r, &g, &b, 1, 128), 0);
        // The window lies below this small frame, so automatic mode measures nothing and holds
        // the loaded gains.
        EXPECT_EQ(r, mode == 0 ? 140u : 130u);
        EXPECT_EQ(g, 100u);
        EXPECT_EQ(b, mode == 0 ? 70u : 90u);
    }
    EXPECT_EQ(wb.GetFrameInterval(), 3u);
    wb.SetFrameInterval(0);
    EXPECT_EQ(wb.GetFrameInterval(), 0u);
}

}  // namespace
