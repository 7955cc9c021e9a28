// The IMX290 WDR module, IMX225, IMX178 and IMX335 drivers: the cases their programming
// descriptions single out, and the faults of those descriptions that the drivers mend.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010, kMono8 = 0x01080000;

class SonyRolling : public DriverFixture {};

// ---- IMX290 WDR module -------------------------------------------------------------------------

TEST_F(SonyRolling, WdrModuleInitWaitsForTheModuleAndLeavesItsWritesUnchecked) {
    Make(201, SENSOR_TYPE_IMX290C_WDR);
    param = Stream(Window(1920, 1080, 0, 0, 15), 2, kBayer8);
    dev->SetResult("WriteSensorReg", CAMERA_STATUS_IO_ERROR);  // the module still booting
    ASSERT_EQ(sensor->Init(&param), 0);
    std::vector<TraceStep> want = FpgaBitPulse(kFpga15);
    Append(want, {Call("SetSensorBus", {0, 0x12}), Sleep(20),
                  Call("SetPll", {18, 1, 2, 2, 12, 12, 5, 27}), Sleep(10), Sleep(20),
                  Call("SetSensorInterface", {0x40}), Call("SetTriggerControl", {0, 0, 1, 0}),
                  Sleep(1000)});
    const uint16_t kModule[] = {
        0x8168, 0,      0x803D, 0,      0x306E, 1,      0x82C1, 3,      0x82CA, 0xFF,   0x82CB,
        0xFF,   0x82CC, 0xFF,   0x82CD, 0xFF,   0x8197, 1,      0x8198, 10,     0x819A, 1,
        0x81B0, 1,      0x81B1, 10,     0x8307, 1,      0x8308, 0xA3,   0x803D, 8,      0x803C,
        64,     0x803F, 39,     0x803D, 8,      0x806E, 25,     0x8075, 100,    0x8076, 100,
    };
    for (size_t i = 0; i < std::size(kModule); i += 2)
        want.push_back(Reg(kModule[i], kModule[i + 1]));
    Append(want, {Sleep(10), Call("SetImageWindow", {0, 0, 1920, 1080, 1920, 1080, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x200000, 0}),
                  Call("SetFpgaPixelFormat", {kBayer8})});
    EXPECT_TRUE(TraceMatches(Steps(), want));
    int ns = 0;
    sensor->GetLineTime(&ns);
    EXPECT_EQ(ns, 20000);  // the module's fixed line
}

// The exposure time picks a step code: the first band it stays below.
TEST_F(SonyRolling, WdrModuleExposureStepCodes) {
    Start(201, SENSOR_TYPE_IMX290C_WDR, Window(1920, 1080, 0, 0, 15), 2, kBayer8);
    const struct {
        uint32_t lines;
        uint16_t code;
    } kCases[] = {{0, 74},    {1, 73},    {4, 73},    {5, 72},    {9, 72},     {10, 71},
                  {24, 71},   {25, 70},   {49, 70},   {50, 69},   {149, 69},   {150, 68},
                  {249, 68},  {250, 67},  {499, 67},  {500, 66},  {999, 66},   {1000, 65},
                  {1999, 65}, {2000, 75}, {3999, 75}, {4000, 76}, {100000, 76}};
    for (const auto& c : kCases) {
        trace->Clear();
        EXPECT_EQ(sensor->SetExposureLines(c.lines), 0);
        EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x803D, 0), Reg(0x803C, c.code)})) << c.lines;
        EXPECT_DOUBLE_EQ(ExposureUs(), c.lines * 20.0);
    }
    // 30 ms rounds to 1500 lines.
    EXPECT_EQ(sensor->SetExposure(30000), 0);
    EXPECT_DOUBLE_EQ(ExposureUs(), 30000);
}

// In WDR mode the module runs its exposure alone and takes its AE target elsewhere.
TEST_F(SonyRolling, WdrModeMovesTheAeTargetAndStopsExposureWrites) {
    Start(201, SENSOR_TYPE_IMX290C_WDR, Window(1920, 1080, 0, 0, 15), 2, kBayer8);
    EXPECT_EQ(sensor->SetAeTarget(50), 0);
    EXPECT_EQ(sensor->SetWdrMode(1), 0);
    int mode = -1;
    EXPECT_EQ(sensor->GetWdrMode(&mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(sensor->SetExposureLines(1000), 0);
    EXPECT_DOUBLE_EQ(ExposureUs(), 20000);
    EXPECT_EQ(sensor->SetWdrMode(0), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x803F, 50), Reg(0x8168, 3),
                                       Regs({{0x8090, 50}, {0xFFFF, 100}, {0x808E, 66}}),
                                       Reg(0x8168, 0), Reg(0x803F, 50)}));
}

// Writes the module refuses are reported, and the state stays what the module holds.
TEST_F(SonyRolling, WdrModuleReportsRefusedWrites) {
    Start(201, SENSOR_TYPE_IMX290C_WDR, Window(1920, 1080, 0, 0, 15), 2, kBayer8);
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    dev->SetResult("WriteSensorReg", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(sensor->SetWdrMode(1), CAMERA_STATUS_IO_ERROR);
    int mode = -1;
    sensor->GetWdrMode(&mode);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(sensor->SetAeTarget(70), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(sensor->SetExposureLines(1000), CAMERA_STATUS_IO_ERROR);
    EXPECT_DOUBLE_EQ(ExposureUs(), 2000);

    // The mode switch reached the module but the AE target did not.
    dev->ClearResults();
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->SetWdrMode(1), CAMERA_STATUS_TIMEOUT);
    sensor->GetWdrMode(&mode);
    EXPECT_EQ(mode, 1);
}

TEST_F(SonyRolling, WdrModuleCapability) {
    Make(201, SENSOR_TYPE_IMX290C_WDR);
    const SensorCapability cap = Capability();
    EXPECT_EQ(cap.wdrSupported, 1);
    EXPECT_EQ(cap.aeTargetOnSensor, 1);
    EXPECT_EQ(cap.defaultAeTarget, 39u);
    EXPECT_EQ(cap.presetMask, 0x8000u);
    EXPECT_EQ(cap.defaultResolutionIndex, 15u);
    EXPECT_EQ(cap.supportMediaType, std::vector<uint32_t>{kBayer8});
    const SensorParam p = Param();
    EXPECT_EQ(p.aeTargetMin, 1u);
    EXPECT_EQ(p.aeTargetMax, 100u);
    EXPECT_EQ(p.analogGainMax, 30000u);
}

// ---- IMX225 ------------------------------------------------------------------------------------

RegRows Vmax225(int64_t v) {
    return {{0x3018, v & 0xFF}, {0x3019, (v >> 8) & 0xFF}, {0x301A, (v >> 16) & 1}};
}
RegRows Shs225(int64_t s) {
    return {{0x3020, s & 0xFF}, {0x3021, (s >> 8) & 0xFF}, {0x3022, (s >> 16) & 1}};
}

// Board 100 at speed 2 runs 1100-line frames of 1125 periods at 148.5 MHz.
TEST_F(SonyRolling, Imx225ShutterAtTheFrameEndAndTheLongestFrame) {
    Start(100, SENSOR_TYPE_IMX225C, Window(1280, 960, 0, 0, 5), 2, kBayer8);
    const double lineUs = 1125 / 148.5;
    EXPECT_DOUBLE_EQ(LineUs(), lineUs);
    EXPECT_EQ(sensor->SetExposureLines(1098), 0);  // Init left a 2000-line exposure
    EXPECT_EQ(sensor->SetExposureLines(1097), 0);
    // The longest frame 0x1FFFC goes out as its own bytes.
    EXPECT_EQ(sensor->SetExposureLines(200000), 0);
    EXPECT_TRUE(TraceMatches(Steps(),
                             {Regs(Vmax225(1101) + Shs225(2)), Regs(Shs225(2)), Regs(Vmax225(1100)),
                              Regs({{0x3018, 0xFC},
                                    {0x3019, 0xFF},
                                    {0x301A, 1},
                                    {0x3020, 2},
                                    {0x3021, 0},
                                    {0x3022, 0}})}));
    // Three lines of the longest frame are the shutter's: 131065 lines in force.
    EXPECT_NEAR(ExposureUs(), 131065 * lineUs, 1e-6);
}

TEST_F(SonyRolling, Imx225GainInTenthsOfADecibel) {
    Start(100, SENSOR_TYPE_IMX225C, Window(1280, 960, 0, 0, 5), 2, kBayer8);
    EXPECT_EQ(sensor->SetAnalogGain(2000), 0);    // 6.02 dB
    EXPECT_EQ(sensor->SetAnalogGain(100000), 0);  // the 30000 maximum, 29.54 dB
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x3014, 60}, {0x3015, 0}}), Reg(0x3009, 0),
                                       Regs({{0x3014, 0x27}, {0x3015, 1}}), Reg(0x3009, 0)}));
    EXPECT_EQ(Gain(), 30000);
}

// Board 8 moves to the 1 MHz clock above 20 s. The chip waits in standby meanwhile, and only a
// running stream is started again.
TEST_F(SonyRolling, Imx225SlowClockRestartsOnlyARunningStream) {
    Start(8, SENSOR_TYPE_IMX225C, Window(1280, 960, 0, 0, 5), 2, kBayer8);
    const RegRows kSlow = {{0x305C, 8}, {0x305D, 0x10}, {0x305E, 8}, {0x305F, 0x10}};
    const RegRows kNormal = {{0x305C, 0x20}, {0x305D, 0x10}, {0x305E, 0x20}, {0x305F, 0x10}};
    // Paused: 30 s at 2250 periods of 1 us, 13333 lines in a stretched frame; no run word.
    EXPECT_EQ(sensor->SetExposure(30e6), 0);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Call("SetSensorInterface", {0x40}), Reg(0x3000, 1), Sleep(10),
                               Reg(0x3002, 1), Regs(kSlow), Regs(Vmax225(13336) + Shs225(2))}));
    EXPECT_NEAR(ExposureUs(), 30e6, LineUs());
    EXPECT_EQ(Param().expLinesMax, static_cast<uint32_t>(2e9 / 2250));

    // Running: back to the normal clock, then the run word and the chip out of standby.
    ASSERT_EQ(sensor->StreamOn(), 0);
    trace->Clear();
    EXPECT_EQ(sensor->SetExposure(1e6), 0);
    std::vector<TraceStep> want = {Call("SetSensorInterface", {0x1044}),
                                   Reg(0x3000, 1),
                                   Sleep(10),
                                   Reg(0x3002, 1),
                                   Regs(kNormal),
                                   Call("SetSensorInterface", {0xC4}),
                                   Sleep(10),
                                   Reg(0x3000, 0),
                                   Sleep(20),
                                   Reg(0x3002, 0)};
    EXPECT_TRUE(ContainsInOrder(Steps(), want));
    EXPECT_NEAR(ExposureUs(), 1e6, LineUs());

    // A failed switch still leaves the stream running.
    trace->Clear();
    dev->onWriteSensorReg = [](uint16_t reg, uint16_t value) {
        return reg == 0x3002 && value == 1 ? CAMERA_STATUS_IO_ERROR : 0;
    };
    EXPECT_EQ(sensor->SetExposure(25e6), CAMERA_STATUS_IO_ERROR);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Call("SetSensorInterface", {0x40}), Reg(0x3000, 1), Sleep(10),
                               Reg(0x3002, 1), Call("SetSensorInterface", {0x10C4}), Sleep(10),
                               Reg(0x3000, 0), Sleep(20), Reg(0x3002, 0)}));
}

// Beyond 131068 lines at the slow clock the line itself stretches (at most 0x3FFF periods); a
// shorter exposure takes the line length back.
TEST_F(SonyRolling, Imx225StretchesTheLineForTheLongestExposures) {
    Start(8, SENSOR_TYPE_IMX225C, Window(1280, 960, 0, 0, 5), 2, kBayer8);
    ASSERT_EQ(sensor->SetExposure(30e6), 0);  // slow clock, 2250-period lines
    trace->Clear();
    // 2000 s: a line of 2e12 ns / 131056 / 1000 ns = 15260 periods, 131062 lines of it.
    EXPECT_EQ(sensor->SetExposure(2e9), 0);
    EXPECT_DOUBLE_EQ(LineUs(), 15260);
    EXPECT_NEAR(ExposureUs(), 131062 * 15260.0, 1e-3);
    EXPECT_EQ(sensor->SetExposure(30e6), 0);
    EXPECT_DOUBLE_EQ(LineUs(), 2250);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x301B, 0x9C}, {0x301C, 0x3B}}), Regs(Vmax225(131065) + Shs225(2)),
                  Regs({{0x301B, 0xCA}, {0x301C, 0x08}}), Regs(Vmax225(13336) + Shs225(2))}));
}

TEST_F(SonyRolling, Imx225NamesAndUnservedBoards) {
    Make(0, SENSOR_TYPE_IMX225C);
    EXPECT_EQ(sensor->SoftTrigger(), 0);
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(sensor->StreamOff(), 0);
    EXPECT_TRUE(Steps().empty());
    SensorInfo info{};
    sensor->GetInfo(&info);
    EXPECT_STREQ(info.name, "IMX225");  // the chip's own name; the type table says "IMX225C"
    const SensorCapability cap = Capability();
    EXPECT_EQ(cap.presetMask, 0x32u);
    EXPECT_EQ(cap.defaultResolutionIndex, 5u);
    EXPECT_EQ(Param().reductionModeMask, 3u);
}

// ---- IMX178 ------------------------------------------------------------------------------------

RegRows Vmax178(int64_t v) {
    return {{0x302C, v & 0xFF}, {0x302D, (v >> 8) & 0xFF}, {0x302E, (v >> 16) & 1}};
}
RegRows Shs178(int64_t s) {
    return {{0x3034, s & 0xFF}, {0x3035, (s >> 8) & 0xFF}, {0x3036, (s >> 16) & 1}};
}

// Board 104 at speed 2: 2980-line frames.
TEST_F(SonyRolling, Imx178ShutterStretchAndTheLongestFrame) {
    LogCapture log;
    Start(104, SENSOR_TYPE_IMX178C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(2972), 0);
    EXPECT_EQ(sensor->SetExposureLines(2973), 0);
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_EQ(sensor->SetExposureLines(200000), 0);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Regs(Shs178(8)), Regs(Vmax178(2981) + Shs178(8)), Regs(Shs178(2880)),
                               Regs(Vmax178(2980)), Regs(Vmax178(0x1FFFF) + Shs178(8))}));
    EXPECT_NEAR(ExposureUs(), 131063 * 604 / 54.0, 1e-6);
    EXPECT_EQ(log.Count("explines:2972\n"), 1);
    EXPECT_EQ(log.Count("VMax:2980,shs1:8\n"), 1);
    EXPECT_EQ(log.Count("val:0,0,8\n"), 1);
}

TEST_F(SonyRolling, Imx178GainAndBlackLevel) {
    Start(104, SENSOR_TYPE_IMX178C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(sensor->SetAnalogGain(2000), 0);
    EXPECT_EQ(sensor->SetAnalogGain(30000), 0);
    EXPECT_EQ(sensor->SetAnalogGain(40000), 0);
    EXPECT_EQ(sensor->SetBlackLevel(0x1234), 0);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Reg(0x301F, 60), Reg(0x3020, 0), Reg(0x301F, 0x27), Reg(0x3020, 1),
                               Reg(0x301F, 0x27), Reg(0x3020, 1), Reg(0x300A, 0x34)}));
    EXPECT_EQ(Gain(), 30000);

    // The mono chip says once that it has no Bayer format, and keeps its black level to itself.
    LogCapture log;
    Start(104, SENSOR_TYPE_IMX178M, Window(640, 480, 16, 8), 2, kMono8);
    EXPECT_EQ(log.Count("Set the pixel format 17301512 current sensor don't support, use the "
                        "default format\r\n"),
              1);
    EXPECT_EQ(sensor->SetBlackLevel(0x1234), 0);
    EXPECT_TRUE(Steps().empty());
    int level = 0;
    sensor->GetBlackLevel(&level);
    EXPECT_EQ(level, 0x34);
    EXPECT_EQ(ImageInfo().uiMediaType, kMono8);
}

// A failed length write leaves the lengths the chip has in force.
TEST_F(SonyRolling, Imx178FailedSpeedKeepsTheLengthsInForce) {
    Start(110, SENSOR_TYPE_IMX178C, Window(640, 480, 16, 8), 2, kBayer12);
    const double frameUs = 2980 * 1208 / 54.0;
    double us = 0;
    sensor->GetFrameTime(&us);
    EXPECT_NEAR(us, frameUs, 1e-6);
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(sensor->SetFrameSpeed(0), CAMERA_STATUS_IO_ERROR);
    sensor->GetFrameTime(&us);
    EXPECT_NEAR(us, frameUs, 1e-6);
    EXPECT_EQ(Speed(), 2);
}

// ---- IMX335 ------------------------------------------------------------------------------------

// Board 106 with chip mask 0x15: chips 1 and 3 of four, an image twice as wide.
TEST_F(SonyRolling, Imx335TwoChipsOnBoard106) {
    Make(106, SENSOR_TYPE_IMX335C);
    param = Stream(Window(640, 480, 16, 8), 2, kBayer8, 0x15);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(param.channelMask, 5);
    EXPECT_TRUE(
        ContainsInOrder(Steps(), {Fpga(40, 5), Call("SetPll", {27, 1, 1, 1, 9, 52, 13, 8}),
                                  Call("SetImageWindow", {13, 8, 1280, 480, 640, 480, 8})}));
    const stImageInfo info = ImageInfo();
    EXPECT_EQ(info.iWidth, 1280u);
    EXPECT_EQ(info.TotalBytes, 1280u * 480u);
    int ns = 0;
    sensor->GetLineTime(&ns);
    EXPECT_EQ(ns, static_cast<int>(420 * 1e9 / 37125000));  // the two-chip line

    Make(106, SENSOR_TYPE_IMX335C);
    param = Stream(Window(640, 480, 16, 8), 2, kBayer8, 0x10);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(param.channelMask, 0);
}

// Board 9's skipping preset: its own clock and the skip bit in every run word.
TEST_F(SonyRolling, Imx335SkippingModeOnBoard9) {
    for (SensorTypeE code : {SENSOR_TYPE_IMX335C, SENSOR_TYPE_IMX335C_B}) {
        Start(9, code, Window(1296, 972, 0, 0, 32), 2, kBayer8);
        ASSERT_EQ(dev->CallsNamed({"SetPll"}).size(), 1u);
        EXPECT_EQ(dev->CallsNamed({"SetPll"})[0].ToString(), "SetPll(5,16,64,0,0,0,0,0)");
        ASSERT_EQ(sensor->StreamOn(), 0);
        EXPECT_EQ(Steps().front().ToString(), "SetSensorInterface(4292)");  // 0x10C4
        // 550 (FPGA-timed 1422) periods of 46.4 MHz (FPGA-timed 48 MHz).
        const double lineNs = code == SENSOR_TYPE_IMX335C ? 550 * 1e9 / 46406250 : 1422 / 0.048;
        EXPECT_NEAR(LineUs() * 1000, lineNs, 1e-6);
        EXPECT_TRUE(Capability().presetMask & (uint64_t{1} << 32));
    }
}

TEST_F(SonyRolling, Imx335LengthsWindowAndGain) {
    Start(110, SENSOR_TYPE_IMX335C, Window(2592, 1944, 0, 0, 11), 2, kBayer8);
    EXPECT_EQ(sensor->SetFrameSpeed(2), 0);
    EXPECT_EQ(sensor->SetAnalogGain(2000), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x3030, 0x94}, {0x3031, 0x11}, {0x3032, 0}, {0x3034, 0x13}, {0x3035, 1}}),
                  Reg(0x30E8, 20), Reg(0x30E9, 0)}));
    // Window widths go to a 24-column grid.
    for (const auto& [w, want] : {std::pair{300u, 360u}, {800u, 816u}, {400u, 432u}}) {
        Start(110, SENSOR_TYPE_IMX335C, Window(w, 480, 0, 0), 2, kBayer8);
        EXPECT_EQ(SensorValue({{0x302E, 0xFF}, {0x302F, 0xFF}}), want) << w;
    }
}

// The 17-bit frame length: the longest stretch is 0x1FFFF, never a wrapped one.
TEST_F(SonyRolling, Imx335LongestSensorTimedFrame) {
    Start(110, SENSOR_TYPE_IMX335C, Window(2592, 1944, 0, 0, 11), 2, kBayer8);
    const RegRows kLongest = {{0x3030, 0xFF}, {0x3031, 0xFF}, {0x3032, 1},
                              {0x3058, 9},    {0x3059, 0},    {0x305A, 0}};
    for (uint32_t lines : {131062u, 131063u, 131064u, 4000000u}) {
        trace->Clear();
        EXPECT_EQ(sensor->SetExposureLines(lines), 0);
        EXPECT_TRUE(TraceMatches(Steps(), {Regs(kLongest)})) << lines;
        EXPECT_NEAR(ExposureUs(), 131062 * LineUs(), 1e-6) << lines;
    }
}

// FPGA-timed frames: a long exposure is a frame of n + 9 lines with the shutter at 9, which
// exposes n lines; the 16-bit timing path holds 65535-line frames at most.
TEST_F(SonyRolling, Imx335FpgaTimedFrames) {
    Start(201, SENSOR_TYPE_IMX335C_B, Window(2592, 1944, 0, 0, 11), 2, kBayer8);
    const int64_t frame = 4024, line = 152;
    EXPECT_EQ(ImageTimingFrame(), frame);
    EXPECT_EQ(sensor->SetExposureLines(10000), 0);
    EXPECT_NEAR(ExposureUs(), 10000 * LineUs(), 1e-6);
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Regs({{0x3001, 1}, {0x3058, 9}, {0x3059, 0}, {0x305A, 0}, {0x3001, 0}}),
         Call("SetImageTiming", {10009, line, 18}), Call("SetImageTiming", {frame, line, 18}),
         Regs({{0x3001, 1}, {0x305A, 0}, {0x3059, 0x0F}, {0x3058, 0x54}, {0x3001, 0}}),
         Regs({{0x3001, 1}, {0x3058, 9}, {0x3059, 0}, {0x305A, 0}, {0x3001, 0}}),
         Call("SetImageTiming", {65535, line, 18})}));
    EXPECT_NEAR(ExposureUs(), 65526 * LineUs(), 1e-6);

    // Board 9 keeps the timing in registers of its own, which hold the whole frame; after more
    // than 2 s a pulse ends the exposure still running.
    Start(9, SENSOR_TYPE_IMX335C_B, Window(2592, 1944, 0, 0, 11), 2, kBayer8);
    EXPECT_EQ(dev->FpgaReg(21), 4500u);
    EXPECT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_EQ(dev->FpgaReg(18), (100009u - 1) & 0xFFFF);
    EXPECT_EQ(dev->FpgaReg(19), 1422u - 19);
    EXPECT_EQ(dev->FpgaReg(20), 1u);
    EXPECT_NEAR(ExposureUs(), 100000 * LineUs(), 1e-6);
    ASSERT_GT(ExposureUs(), 2e6);
    trace->Clear();
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(ContainsInOrder(Steps(), {Fpga(18, 4499), Fpga(20, 0), Fpga(22, 8), Fpga(22, 0)}));
}

TEST_F(SonyRolling, Imx335ResetOnlyBoardIsRefusedBeforeTraffic) {
    Make(100, SENSOR_TYPE_IMX335C);
    param = Stream(Window(640, 480), 2, kBayer8);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(Steps().empty());
    EXPECT_EQ(sensor->Reset(), 0);
    EXPECT_TRUE(TraceMatches(Steps(), [] {
        std::vector<TraceStep> s = GpioPulse(28);
        Append(s, {Call("SetSensorBus", {0x34, 0x12}), Sleep(20)});
        return s;
    }()));
}

}  // namespace
