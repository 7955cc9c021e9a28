// IMX290 after initialisation: exposure, gain, frame speed, the AST long exposures, window
// moves, streaming, trigger, black level and capability.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Imx290Expect.h"
#include "LogCapture.h"

namespace {

using namespace qvsim;
using namespace qvsim::imx290;

// 1100 periods of the 146823528 Hz counting clock (speed 2 on board 102).
constexpr double kLineNs102 = 1100 * 1e9 / 146823528;

class Imx290 : public Imx290Fixture {
  protected:
    double Exposure() {
        double us = 0;
        sensor->GetExposure(&us);
        return us;
    }
    double LineUs() {
        double us = 0;
        sensor->GetExposureLineTime(&us);
        return us;
    }
    SensorParam Param() {
        SensorParam p{};
        sensor->GetSensorParam(&p);
        return p;
    }
};

// ---- Exposure ----------------------------------------------------------------------------------

// The frame of board 102 at speed 2 has 1125 lines; Init left it stretched to 2000.
TEST_F(Imx290, ExposureLinesCountBackFromTheFrameEndAndStretchLongFrames) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    EXPECT_EQ(sensor->SetExposureLines(1000), 0);
    EXPECT_EQ(sensor->SetExposureLines(2000), 0);
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Regs(Vmax(1125)), Regs(Shs1(125)), Regs(Vmax(2000) + Shs1(0)),
                               Regs(Vmax(1125)), Regs(Shs1(1025))}));
    EXPECT_NEAR(Exposure(), 100 * kLineNs102 / 1000, 1e-9);

    trace->Clear();
    EXPECT_EQ(sensor->SetExposureLines(1), 0);  // at least 2 lines
    EXPECT_NEAR(Exposure(), 2 * kLineNs102 / 1000, 1e-9);
    EXPECT_EQ(sensor->SetExposureLines(300000), 0);  // at most the 18-bit 262143
    EXPECT_TRUE(TraceMatches(Steps(), {Regs(Shs1(1123)), Regs(Vmax(262143) + Shs1(0))}));
    stImageInfo info{};
    sensor->GetImageInfo(&info);
    EXPECT_NEAR(info.ExpTime, 262143 * kLineNs102 / 1000, 1e-6);
    EXPECT_NEAR(info.ExpLineTime, kLineNs102 / 1000, 1e-12);
}

TEST_F(Imx290, ExposureTimeRoundsToWholeLines) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    // 1000 us / 7.492 us = 133.47 lines, + 0.5, truncated: 133; SHS1 = 1125 - 133 = 992.
    EXPECT_EQ(sensor->SetExposure(1000), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs(Vmax(1125)), Regs(Shs1(992))}));
    EXPECT_NEAR(Exposure(), 133 * kLineNs102 / 1000, 1e-9);
    trace->Clear();
    EXPECT_EQ(sensor->SetExposure(0), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs(Shs1(1123))}));
}

// ---- Gain
// ----------------------------------------------------------------------------------------

TEST_F(Imx290, GainCodesInThreeTenthsOfADecibelWithHighConversionGainAbove30dB) {
    struct Case {
        uint32_t gain;
        int64_t code, readout;
        int reported;
    };
    // Readout 0 at speed 2 on board 102; the high conversion gain is bit 4 of 0x3009.
    const Case cases[] = {
        {1000, 0, 0x00, 1000},         {31622, 99, 0x00, 31622},  // 29.99994 dB / 0.3
        {31623, 80, 0x10, 31623},                                 // (30.00001 - 6) dB / 0.3
        {3000000, 211, 0x10, 3000000},                            // (69.54 - 6) dB / 0.3
        {5000000, 211, 0x10, 3000000},                            // above the maximum
        {500, 0, 0x00, 1000},  // below unity the chip stays at unity and says so
    };
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    for (const Case& c : cases) {
        trace->Clear();
        EXPECT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x3014, static_cast<uint16_t>(c.code)),
                                           Reg(0x3009, static_cast<uint16_t>(c.readout))}))
            << c.gain;
        int gain = 0;
        sensor->GetAnalogGain(&gain);
        EXPECT_EQ(gain, c.reported);
    }
    int min = 0, max = 0;
    sensor->GetAnalogGainRange(&min, &max);
    EXPECT_EQ(min, 1000);
    EXPECT_EQ(max, 3000000);
}

TEST_F(Imx290, AFailedGainWriteKeepsTheGainInForce) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    ASSERT_EQ(sensor->SetAnalogGain(2000), 0);
    dev->SetResult("WriteSensorReg", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(sensor->SetAnalogGain(40000), CAMERA_STATUS_COMM_ERROR);
    int gain = 0;
    sensor->GetAnalogGain(&gain);
    EXPECT_EQ(gain, 2000);
    // The high-conversion bit of the failed request does not reach the next readout write.
    dev->ClearResults();
    trace->Clear();
    sensor->SetFrameSpeed(2);
    EXPECT_EQ(Steps().front().ToString(), "Reg(3009=0)");
}

// ---- Frame speed -----------------------------------------------------------------------------

struct SpeedCase {
    int hw;
    uint32_t mediaType;
    int channelMask;
    int speed;
    int lanes;  // serial lane set T0, T1, T2; -1 none
    int64_t readout, vmax, hmax;
    uint32_t countingClock;
};

// A 1125-line, 4400-period full frame, scaled by the board's table (floors, "even" lowers to
// even): x 3 = 3374, x 2 = 2250, x 30 / 20 = 1686, even = 1124, x 60 / 57 = 1184, x 30 / 5 =
// 6750, x 30 / 10 = 3374, x 30 / 23 = 1466; HMAX / 2 = 2200, / 4 = 1100.
const SpeedCase kSpeedCases[] = {
    {102, 0x01080008, 1, 0, -1, 2, 1125, 4400, 146823528},
    {102, 0x01080008, 1, 1, -1, 1, 1125, 2200, 146823528},
    {102, 0x01080008, 1, 2, -1, 0, 1125, 1100, 146823528},
    {102, 0x01100010, 1, 0, -1, 2, 3374, 4400, 146823528},
    {102, 0x01100010, 1, 1, -1, 2, 1125, 4400, 146823528},
    {102, 0x01100010, 1, 2, -1, 1, 1125, 2200, 146823528},
    {201, 0x01080008, 1, 0, -1, 2, 2250, 4400, 144000000},
    {201, 0x01080008, 1, 1, -1, 2, 1125, 4400, 144000000},
    {201, 0x01080008, 1, 2, -1, 1, 1184, 2200, 144000000},
    {201, 0x01100010, 1, 0, -1, 2, 2250, 4400, 144000000},
    {201, 0x01100010, 1, 1, -1, 2, 1125, 4400, 144000000},
    {201, 0x01100010, 1, 2, -1, 2, 1125, 4400, 144000000},
    {200, 0x01080008, 1, 0, -1, 2, 3374, 4400, 144000000},
    {200, 0x01080008, 1, 1, -1, 2, 1686, 4400, 144000000},
    {200, 0x01080008, 1, 2, -1, 2, 1124, 4400, 144000000},
    {4, 0x01080008, 1, 0, -1, 2, 6750, 4400, 146823528},
    {4, 0x01080008, 1, 1, -1, 2, 3374, 4400, 146823528},
    {4, 0x01080008, 1, 2, -1, 2, 1466, 4400, 146823528},
    {106, 0x01080008, 1, 0, 0, 2, 1125, 4400, 146823528},
    {106, 0x01080008, 1, 1, 1, 1, 1125, 2200, 146823528},
    {106, 0x01080008, 1, 2, 2, 0, 1125, 1100, 113454544},
    {106, 0x01080008, 3, 0, 0, 2, 2250, 4400, 146823528},
    {106, 0x01080008, 3, 1, 0, 2, 1125, 4400, 146823528},
    {106, 0x01080008, 3, 2, 1, 1, 1125, 2200, 146823528},
    {204, 0x01080008, 0xF, 0, 0, 2, 3374, 4400, 64800000},
    {204, 0x01080008, 0xF, 1, 0, 2, 1686, 4400, 64800000},
    {204, 0x01080008, 0xF, 2, 0, 2, 1124, 4400, 64800000},
};

TEST_F(Imx290, FrameSpeedTablesByBoardFormatAndChips) {
    const RegRows* laneSets[] = {&kLaneT0, &kLaneT1, &kLaneT2};
    for (const SpeedCase& c : kSpeedCases) {
        SCOPED_TRACE("board " + std::to_string(c.hw) + " mask " + std::to_string(c.channelMask) +
                     " speed " + std::to_string(c.speed) + " format " +
                     std::to_string(c.mediaType));
        Start(c.hw, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), c.speed, c.mediaType,
              c.channelMask);
        std::vector<TraceStep> want;
        if (c.lanes >= 0) want.push_back(Regs(*laneSets[c.lanes]));
        Append(want, SpeedWrites(c.readout, c.vmax, c.hmax));
        // Twice: the speeds scale the window's own lengths and never compound.
        ASSERT_EQ(sensor->SetFrameSpeed(c.speed), 0);
        ASSERT_EQ(sensor->SetFrameSpeed(c.speed), 0);
        std::vector<TraceStep> twice = want;
        Append(twice, want);
        EXPECT_TRUE(TraceMatches(Steps(), twice));
        double frameUs = 0;
        sensor->GetFrameTime(&frameUs);
        EXPECT_NEAR(frameUs, c.vmax * c.hmax * 1e6 / c.countingClock, 1e-6);
        int speed = -1;
        sensor->GetFrameSpeed(&speed);
        EXPECT_EQ(speed, c.speed);
    }
}

TEST_F(Imx290, FrameSpeedOutOfRangeChangesNothing) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 1);
    EXPECT_EQ(sensor->SetFrameSpeed(3), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(sensor->SetFrameSpeed(-1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(Steps().empty());
    int speed = -1;
    sensor->GetFrameSpeed(&speed);
    EXPECT_EQ(speed, 1);
}

// ---- Long exposures of the AST variants -----------------------------------------------------

// Above 100 s board 102 switches to the 4 MHz clock (16 MHz counting, 62.5 ns): 150 s needs
// HMAX (150e9 ns / 262143) / 62.5 = 9155 to fit 262143 lines. Back at 1 ms the normal clock and
// the saved HMAX 1100 return.
TEST_F(Imx290, AstSwitchesToTheSlowClockAndStretchesTheLine) {
    Start(102, SENSOR_TYPE_IMX290C_AST, Resolution(1920, 1080), 2);
    ASSERT_EQ(sensor->StreamOn(), 0);
    trace->Clear();
    EXPECT_EQ(sensor->SetExposure(150000000), 0);
    std::vector<TraceStep> want = {Call("SetPll", {12, 1, 1, 1, 5, 78, 6, 3})};
    Append(want, StreamOffSteps(0x141));
    Append(want, {Regs(Hmax(9155)), Regs(Vmax(262143) + Shs1(0))});
    Append(want, StreamOnSteps(0xC1));
    EXPECT_TRUE(TraceMatches(Steps(), want));
    EXPECT_NEAR(Exposure(), 262143.0 * 9155 * 62.5 / 1000, 1e-3);  // 149.995 s

    trace->Clear();
    EXPECT_EQ(sensor->SetExposure(1000), 0);
    want = {Call("SetPll", {24, 1, 1, 1, 10, 17, 13, 6})};
    Append(want, StreamOffSteps(0x141));
    Append(want, {Regs(Hmax(1100)), Regs(Vmax(1125)), Regs(Shs1(992))});
    Append(want, StreamOnSteps(0xC1));
    EXPECT_TRUE(TraceMatches(Steps(), want));
    EXPECT_NEAR(Exposure(), 133 * kLineNs102 / 1000, 1e-9);

    trace->Clear();  // the same exposure again: nothing to do
    EXPECT_EQ(sensor->SetExposure(1000), 0);
    EXPECT_TRUE(Steps().empty());
}

// The AST variants promise 1800 s, but 262143 lines of the longest line (HMAX 0xFFFF) at the
// 16 MHz clock make 262143 x 65535 x 62.5 ns = 1073.72 s. The advertised maximum is what the
// registers reach, and a longer request programs and reports that.
TEST_F(Imx290, AstExposureLimitIsWhatTheRegistersReach) {
    struct Case {
        int hw;
        double longestUs;
        std::vector<int64_t> slowPll;  // empty: the board keeps its clock
    };
    const Case cases[] = {
        {102, 262143.0 * 65535 * 62.5 / 1000, {12, 1, 1, 1, 5, 78, 6, 3}},
        // 108 counts at 17333332 Hz when slow: 991.1 s.
        {108, 262143.0 * 65535 * 1e6 / 17333332, {1, 6, 128, 0, 0, 0, 0, 0}},
        // 201 keeps its 144 MHz counting clock: 119.3 s.
        {201, 262143.0 * 65535 * 1e6 / 144000000, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("board " + std::to_string(c.hw));
        Start(c.hw, SENSOR_TYPE_IMX290C_AST, Resolution(1920, 1080), 2);
        const SensorParam p = Param();
        EXPECT_LE(p.expLinesMax * LineUs(), c.longestUs + 1e-6);
        EXPECT_GT((p.expLinesMax + 1.0) * LineUs(), c.longestUs);

        ASSERT_EQ(sensor->StreamOn(), 0);
        trace->Clear();
        EXPECT_EQ(sensor->SetExposure(1.8e9), 0);
        std::vector<TraceStep> want;
        if (!c.slowPll.empty()) want.push_back(TraceStep{"SetPll", c.slowPll});
        Append(want, StreamOffSteps(c.hw == 201 ? 0x145 : 0x141));
        Append(want, {Regs(Hmax(0xFFFF)), Regs(Vmax(262143) + Shs1(0))});
        Append(want, StreamOnSteps(c.hw == 201 ? 0xC5 : 0xC1));
        EXPECT_TRUE(TraceMatches(Steps(), want));
        EXPECT_NEAR(Exposure(), c.longestUs, 1e-3);
    }
}

// Codes 14 and 37 keep the constructor's limit and never switch clocks.
TEST_F(Imx290, PlainVariantsHaveNoLongExposureProcedure) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    EXPECT_EQ(Param().expLinesMax, 8640u);
    EXPECT_EQ(sensor->SetExposure(150000000), 0);
    EXPECT_EQ(dev->CallCount("SetPll"), 1u);  // Init's only
    EXPECT_NEAR(Exposure(), 262143 * kLineNs102 / 1000, 1e-6);
}

// A paused stream stays paused when a long exposure changes the line length.
TEST_F(Imx290, AstExposureLeavesAPausedStreamPaused) {
    Start(102, SENSOR_TYPE_IMX290C_AST, Resolution(1920, 1080), 2);
    EXPECT_EQ(sensor->SetExposure(150000000), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Call("SetPll", {12, 1, 1, 1, 5, 78, 6, 3}), Regs(Hmax(9155)),
                                       Regs(Vmax(262143) + Shs1(0))}));
}

// A failed write in the middle returns its status and restarts the stream it stopped.
TEST_F(Imx290, AstExposureFailureRestartsTheStream) {
    Start(102, SENSOR_TYPE_IMX290C_AST, Resolution(1920, 1080), 2);
    ASSERT_EQ(sensor->StreamOn(), 0);
    trace->Clear();
    dev->onWriteSensorReg = [](uint16_t reg, uint16_t) {
        return reg == 0x301C ? CAMERA_STATUS_IO_ERROR : 0;
    };
    EXPECT_EQ(sensor->SetExposure(150000000), CAMERA_STATUS_IO_ERROR);
    std::vector<TraceStep> want = {Call("SetPll", {12, 1, 1, 1, 5, 78, 6, 3})};
    Append(want, StreamOffSteps(0x141));
    want.push_back(Regs(Hmax(9155)));
    Append(want, StreamOnSteps(0xC1));
    EXPECT_TRUE(TraceMatches(Steps(), want));
}

// ---- Window moves ----------------------------------------------------------------------------

// On board 4 at speed 2 the full frame runs with VMAX 1466. Moving the window start keeps that
// frame length in force, so 1200 lines fit it (SHS1 266) instead of stretching the frame.
TEST_F(Imx290, WindowMoveKeepsTheFrameLengthInForce) {
    Start(4, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    double before = 0, after = 0;
    sensor->GetFrameTime(&before);
    EXPECT_EQ(sensor->SetRoiOffset(0, 0), 0);
    sensor->GetFrameTime(&after);
    EXPECT_EQ(before, after);
    EXPECT_EQ(sensor->SetExposureLines(1200), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs(Vmax(1466)), Regs(Shs1(266))}));
}

// An 800 x 600 window on board 4: padded 808 x 608, VMAX 663 x 30 / 23 = 864 at speed 2.
TEST_F(Imx290, WindowMoveWritesTheWindowAndBracketsItOnlyWhileStreaming) {
    Start(4, SENSOR_TYPE_IMX290C, Resolution(800, 600), 2);
    EXPECT_EQ(sensor->SetRoiOffset(201, 101), 0);
    EXPECT_EQ(sensor->SetExposureLines(700), 0);
    EXPECT_TRUE(TraceMatches(Steps(),
                             {Regs(Window(200, 100, 808, 608)), Regs(Vmax(864)), Regs(Shs1(164))}));
    tSdkResolution res{};
    sensor->GetResolution(&res);
    EXPECT_EQ(res.iOffsetX, 200);
    EXPECT_EQ(res.iOffsetY, 100);
    EXPECT_EQ(res.uWidth, 800u);

    ASSERT_EQ(sensor->StreamOn(), 0);
    trace->Clear();
    EXPECT_EQ(sensor->SetRoiOffset(300, 150), 0);
    EXPECT_TRUE(TraceMatches(Steps(),
                             {Call("SetSensorInterface", {0x14D}), Regs(Window(300, 150, 808, 608)),
                              Call("SetSensorInterface", {0xCD})}));
}

TEST_F(Imx290, WindowMoveInThe720pModeWritesNothing) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1280, 720), 2);
    EXPECT_EQ(sensor->SetRoiOffset(10, 20), 0);
    EXPECT_TRUE(Steps().empty());
    tSdkResolution res{};
    sensor->GetResolution(&res);
    EXPECT_EQ(res.iOffsetX, 10);
    EXPECT_EQ(res.iOffsetY, 20);
}

// ---- Streaming and trigger -------------------------------------------------------------------

TEST_F(Imx290, StreamWordsCarryTheConverterAndInterfaceBits) {
    Start(201, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    EXPECT_EQ(sensor->StreamOn(), 0);
    EXPECT_EQ(sensor->StreamOff(), 0);
    std::vector<TraceStep> want = StreamOnSteps(0xC5);
    Append(want, StreamOffSteps(0x145));
    EXPECT_TRUE(TraceMatches(Steps(), want));

    trace->Clear();
    dev->SetResult("WriteSensorReg", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(sensor->StreamOn(), CAMERA_STATUS_COMM_ERROR);
    EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x3000, 0)}));

    Make(110, SENSOR_TYPE_IMX290C);  // a board without the FPGA interface of this chip
    EXPECT_EQ(sensor->StreamOn(), 0);
    EXPECT_EQ(sensor->StreamOff(), 0);
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_TRUE(Steps().empty());
}

TEST_F(Imx290, TriggerModesAndSoftTrigger) {
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);
    trace->Clear();
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(sensor->SoftTrigger(), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Call("GetTriggerControl"), Call("SetTriggerControl", {0x108, 6, 1, 1}),
                  Call("SetTriggerTiming", {10, 0xFFFF}), Call("GetTriggerControl"),
                  Call("SetTriggerControl", {0x108, 0, 1, 0}), Call("SendSoftTrigger")}));

    // Board 105 takes a soft trigger only around a restart of the sensor.
    Start(105, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    dev->SetResult("SendSoftTrigger", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->SoftTrigger(), CAMERA_STATUS_TIMEOUT);
    std::vector<TraceStep> want = StreamOffSteps(0x141);
    want.push_back(Call("SendSoftTrigger"));
    Append(want, StreamOnSteps(0xC1));
    EXPECT_TRUE(TraceMatches(Steps(), want));
}

// ---- Black level, records, capability ------------------------------------------------------

TEST_F(Imx290, BlackLevelReachesTheChipOnlyOnTheAstVariants) {
    Start(102, SENSOR_TYPE_IMX290C_AST, Resolution(1920, 1080), 2);
    EXPECT_EQ(sensor->SetBlackLevel(0x1234), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x300A, 0x34)}));
    Start(102, SENSOR_TYPE_IMX290C, Resolution(1920, 1080), 2);
    EXPECT_EQ(sensor->SetBlackLevel(0x1234), 0);
    EXPECT_TRUE(Steps().empty());
    int level = 0;
    sensor->GetBlackLevel(&level);
    EXPECT_EQ(level, 0x34);
}

TEST_F(Imx290, ConstructionValues) {
    LogCapture log;
    Make(102, SENSOR_TYPE_IMX290M);
    // The default 8-bit Bayer format is not the mono chip's: it says so once and takes Mono8.
    EXPECT_EQ(log.Count("Set the pixel format 17301512 current sensor don't support, use the "
                        "default format\r\n"),
              1);
    const SensorParam p = Param();
    const uint32_t want[] = {60, 160, 1000, 3000000, 1, 8640, 1080, 32, 1920, 32, 7};
    const uint32_t* words = reinterpret_cast<const uint32_t*>(&p);
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(words[i], want[i]) << "word " << i;
    for (size_t i = std::size(want); i < sizeof p / 4; ++i) EXPECT_EQ(words[i], 0u) << "word " << i;
    double frameUs = 0;
    sensor->GetFrameTime(&frameUs);
    EXPECT_EQ(frameUs, 200000.0);
    int speed = 0;
    sensor->GetFrameSpeed(&speed);
    EXPECT_EQ(speed, 2);
    stImageInfo info{};
    sensor->GetImageInfo(&info);
    EXPECT_EQ(info.uiMediaType, 0x01080000u);
    EXPECT_EQ(sensor->GetInfo(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(sensor->GetSensorParam(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(sensor->GetImageInfo(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Imx290, CapabilityByCodeAndBoard) {
    struct Case {
        SensorTypeE code;
        int hw;
        uint8_t isMono;
        uint64_t presets;
        uint32_t red, green, blue;
        std::vector<uint32_t> formats;
    };
    const Case cases[] = {
        {SENSOR_TYPE_IMX290C_AST, 102, 0, 0x8100, 181, 100, 198, {0x01080008, 0x01100010}},
        {SENSOR_TYPE_IMX290C, 102, 0, 0x8110, 181, 100, 198, {0x01080008, 0x01100010}},
        {SENSOR_TYPE_IMX290M_AST, 102, 1, 0x8100, 100, 100, 100, {0x01080000, 0x01100005}},
        {SENSOR_TYPE_IMX290M, 201, 1, 0x8110, 100, 100, 100, {0x01080000, 0x01100005}},
        {SENSOR_TYPE_IMX290C, 204, 0, 0x8110, 181, 100, 198, {0x01080008}},
        {SENSOR_TYPE_IMX290M_AST, 106, 1, 0x8000, 100, 100, 100, {0x01080008}},
        {SENSOR_TYPE_IMX290M, 204, 1, 0x8000, 100, 100, 100, {0x01080008}},
        {SENSOR_TYPE_IMX290C, 0, 0, 0x8110, 181, 100, 198, {0x01080008}},
        {SENSOR_TYPE_IMX290M, 0, 1, 0x8110, 100, 100, 100, {0x01080000}},
        // The AST variants on a board of unknown model still list a format.
        {SENSOR_TYPE_IMX290C_AST, 0, 0, 0x8100, 181, 100, 198, {0x01080008}},
        {SENSOR_TYPE_IMX290M_AST, 0, 1, 0x8100, 100, 100, 100, {0x01080000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " board " + std::to_string(c.hw));
        Make(c.hw, c.code);
        SensorCapability cap;
        sensor->GetCapability(cap);
        EXPECT_EQ(cap.isMono, c.isMono);
        EXPECT_EQ(cap.driverWord, 1u);
        EXPECT_EQ(cap.defaultResolutionIndex, 15u);
        EXPECT_EQ(cap.presetMask, c.presets);
        EXPECT_EQ(cap.defaultRedGain, c.red);
        EXPECT_EQ(cap.defaultGreenGain, c.green);
        EXPECT_EQ(cap.defaultBlueGain, c.blue);
        EXPECT_EQ(cap.supportMediaType, c.formats);
        EXPECT_EQ(cap.wdrSupported, 0);
        EXPECT_EQ(cap.aeTargetOnSensor, 0);
        EXPECT_EQ(cap.defaultAeTarget, 100u);
        EXPECT_EQ(cap.defaultBlackLevel, 0u);
        EXPECT_TRUE(Steps().empty());
    }
}

TEST_F(Imx290, WdrAeTargetAndTemperatureAreNotSupported) {
    Make(102, SENSOR_TYPE_IMX290C);
    int mode = 7;
    EXPECT_EQ(sensor->SetWdrMode(1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(sensor->GetWdrMode(&mode), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(sensor->SetAeTarget(100), CAMERA_STATUS_NOT_SUPPORTED);
    float celsius = 0;
    EXPECT_EQ(sensor->GetTemperature(&celsius), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(sensor->Uninit(), 0);
    EXPECT_TRUE(Steps().empty());
}

}  // namespace
