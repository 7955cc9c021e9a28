// The IMX183, IMX206, IMX226, IMX377 and IMX577 drivers: the cases their programming
// descriptions single out, and the faults of those descriptions that the drivers mend.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010, kMono8 = 0x01080000;

class SonyFrameCount : public DriverFixture {};

// ---- IMX183, IMX206 ----------------------------------------------------------------------------

// Any window but the presets on board 201: 2200-line frames. A shutter start at 7 lines or less
// from the frame start moves into the next frame; the frame count is written only when it
// changes.
TEST_F(SonyFrameCount, Imx183FramesPlusShutter) {
    Start(201, SENSOR_TYPE_IMX183C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(2193), 0);  // frame length - 7
    EXPECT_EQ(sensor->SetExposureLines(2192), 0);  // frame length - 8
    EXPECT_EQ(sensor->SetExposureLines(2000), 0);
    EXPECT_EQ(sensor->SetExposureLines(9000), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Regs({{0x0D, 1}, {0x0E, 0}}), Regs({{0x0C, 0x08}, {0x0B, 0x9F}}),
         Regs({{0x0D, 0}, {0x0E, 0}}), Regs({{0x0C, 0}, {0x0B, 8}}), Regs({{0x0C, 0}, {0x0B, 200}}),
         Regs({{0x0D, 4}, {0x0E, 0}}), Regs({{0x0C, 0x07}, {0x0B, 0xD0}})}));
    EXPECT_NEAR(ExposureUs(), 9000 * 580 / 21.6, 1e-6);
    // The exposure maximum follows the frame: 8 frames less 10 lines.
    EXPECT_EQ(Param().expLinesMax, 2200u * 8 - 10);
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);
    EXPECT_EQ(Param().expLinesMax, 6600u * 8 - 10);
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);  // speeds never compound
    EXPECT_EQ(Param().expLinesMax, 6600u * 8 - 10);
}

TEST_F(SonyFrameCount, InverseGainCodes) {
    Start(201, SENSOR_TYPE_IMX183C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(sensor->SetAnalogGain(16000), 0);
    EXPECT_EQ(Gain(), 16000);
    EXPECT_EQ(sensor->SetAnalogGain(1000), 0);
    EXPECT_EQ(Gain(), 1000);
    EXPECT_EQ(sensor->SetAnalogGain(20000), 0);
    EXPECT_EQ(Gain(), 16000);
    EXPECT_EQ(sensor->SetAnalogGain(3000), 0);  // code 1365 gives 2998.5
    EXPECT_EQ(Gain(), 2998);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Reg(0x11, 0), Reg(0x0A, 7), Reg(0x09, 0x80), Reg(0x11, 0),
                               Reg(0x0A, 0), Reg(0x09, 0), Reg(0x11, 0), Reg(0x0A, 7),
                               Reg(0x09, 0x80), Reg(0x11, 0), Reg(0x0A, 5), Reg(0x09, 0x55)}));
    // A failed write keeps the gain in force.
    dev->SetResult("WriteSensorReg", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(sensor->SetAnalogGain(8000), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(Gain(), 2998);
}

TEST_F(SonyFrameCount, ExposureLogLines) {
    LogCapture log;
    Start(201, SENSOR_TYPE_IMX183C, Window(640, 480, 16, 8), 2, kBayer8);
    sensor->SetExposureLines(2000);
    Start(201, SENSOR_TYPE_IMX206, Window(640, 480, 16, 8), 2, kBayer8);
    sensor->SetExposureLines(2000);
    EXPECT_EQ(log.Count("explines:2000\n"), 1);
    EXPECT_EQ(log.Count("explines:7d0\n"), 1);  // IMX206 in hexadecimal
}

// IMX206 cuts its own window: starts on an 8-column grid, at least 240 columns, and at least
// 1750 rows centred in 3500.
TEST_F(SonyFrameCount, Imx206ComputedWindow) {
    const struct {
        tSdkResolution window;
        uint32_t rows[9];  // 0x6F, 0x70, 0x71, 0x72, 0xF8 to 0xFC
    } kCases[] = {
        // x 13: start 8, width 1002 + 8 up to 1016; 2002 rows: e = 749.
        {Window(1000, 2000, 13, 100), {50, 0, 0xED, 2, 8, 0, 0, 4, 1}},
        // Narrow and short: 240 columns from 16, 1750 rows: e = 875.
        {Window(100, 480, 16, 8), {4, 0, 0x6B, 3, 16, 0, 0, 1, 1}},
    };
    for (const auto& c : kCases) {
        Start(103, SENSOR_TYPE_IMX206, c.window, 2, kBayer8);
        const uint16_t regs[] = {0x6F, 0x70, 0x71, 0x72, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC};
        for (size_t i = 0; i < 9; ++i) EXPECT_EQ(Sensor(regs[i]), c.rows[i]) << std::hex << regs[i];
    }
    // The binned preset writes its own window.
    Start(103, SENSOR_TYPE_IMX206, Window(2304, 1296, 0, 0, 16), 2, kBayer8);
    EXPECT_EQ(Sensor(0x6F), 0x6Cu);
    EXPECT_EQ(Sensor(0x71), 0xD8u);
}

// ---- IMX226 ------------------------------------------------------------------------------------

// Board 110, 8 bits: 3080-line frames of 1560 periods at 72 MHz. Long exposures stretch the
// FPGA's frame, counting every 2nd or 4th line beyond 0x3FFF lines.
TEST_F(SonyFrameCount, Imx226FpgaFrameTiming) {
    Start(110, SENSOR_TYPE_IMX226C, Window(640, 480, 16, 8), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_NEAR(ExposureUs(), 65524 * LineUs(), 1e-6);
    EXPECT_EQ(sensor->SetExposureLines(20000), 0);
    EXPECT_NEAR(ExposureUs(), 20000 * LineUs(), 1e-6);
    EXPECT_EQ(sensor->SetExposureLines(1000), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Call("SetImageTiming", {0x3FFF, 1560, 18}),
         Regs({{0x0B, 8}, {0x0C, 0}, {0x0D, 3}, {0x0E, 0}}),
         Call("SetImageTiming", {10004, 1560, 18}),
         Regs({{0x0B, 8}, {0x0C, 0}, {0x0D, 2}, {0x0E, 0}}),
         // Back in one frame: the shutter, no divider, and the frame timing of the speed.
         Regs({{0x0B, 0x20}, {0x0C, 0x08}, {0x0D, 0}}), Call("SetImageTiming", {3080, 1560, 18})}));
    EXPECT_NEAR(ExposureUs(), 1000 * LineUs(), 1e-6);
    trace->Clear();
    EXPECT_EQ(sensor->SetExposureLines(1001), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x0B, 0x1F}, {0x0C, 0x08}})}));
}

// The exposure maximum is what the long-exposure path can program.
TEST_F(SonyFrameCount, Imx226AdvertisesOnlyWhatItCanProgram) {
    Start(110, SENSOR_TYPE_IMX226C, Window(640, 480, 16, 8), 2, kBayer8);
    for (int speed : {0, 1, 2}) {
        ASSERT_EQ(sensor->SetFrameSpeed(speed), 0);
        EXPECT_EQ(Param().expLinesMax, 65524u) << speed;
    }
    EXPECT_EQ(sensor->SetExposureLines(Param().expLinesMax), 0);
    EXPECT_NEAR(ExposureUs(), 65524 * LineUs(), 1e-6);
}

TEST_F(SonyFrameCount, Imx226WindowMovesWithTheNextInit) {
    Start(110, SENSOR_TYPE_IMX226M, Window(640, 480, 16, 8), 2, kMono8);
    EXPECT_EQ(sensor->SetRoiOffset(100, 51), 0);
    EXPECT_TRUE(Steps().empty());
    tSdkResolution res{};
    sensor->GetResolution(&res);
    EXPECT_EQ(res.iOffsetX, 100);
    EXPECT_EQ(res.iOffsetY, 50);
    EXPECT_EQ(sensor->SetBlackLevel(0x1234), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x45, 0x34)}));
}

// ---- IMX377, IMX577 ----------------------------------------------------------------------------

RegRows Lengths377(int64_t frame, int64_t line) {
    return {{0x30F7, frame & 0xFF},
            {0x30F8, (frame >> 8) & 0xFF},
            {0x30F9, (frame >> 16) & 0xF},
            {0x30F5, line & 0xFF},
            {0x30F6, line >> 8}};
}

// On board 205 a continuous 4000 x 3000 frame lasts at least the FPGA's transfer time,
// 106.7 ms: 10240 lines of 10.417 us instead of 3062. Triggered frames need not.
TEST_F(SonyFrameCount, Imx377FreeRunningMinimumFrameTime) {
    Start(205, SENSOR_TYPE_IMX377C, Window(4000, 3000, 0, 0, 24), 2, kBayer8);
    double frameUs = 0;
    sensor->GetFrameTime(&frameUs);
    EXPECT_NEAR(frameUs, 10240 * 750 / 72.0, 1e-6);
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_TRUE(ContainsInOrder(
        Steps(), {Call("SetTriggerControl", {0x108, 6, 1, 1}), Regs(Lengths377(3062, 750)),
                  Call("SetTriggerControl", {0x108, 0, 1, 0}), Regs(Lengths377(10240, 750))}));
    EXPECT_EQ(dev->CallCount("SetTriggerTiming"), 0u);

    // Board 110 at 12 bits and speed 0: its speed table, doubled.
    Start(110, SENSOR_TYPE_IMX377C, Window(4000, 3000, 0, 0, 24), 0, kBayer12);
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs(Lengths377(21114, 819))}));
}

TEST_F(SonyFrameCount, Imx377GainTakesADigitalStepAboveSixteen) {
    Start(110, SENSOR_TYPE_IMX377C, Window(4000, 3000, 0, 0, 24), 2, kBayer8);
    EXPECT_EQ(sensor->SetAnalogGain(16000), 0);
    EXPECT_EQ(Gain(), 16000);
    EXPECT_EQ(sensor->SetAnalogGain(30000), 0);  // x2 digital, analog code 1911
    EXPECT_EQ(Gain(), 2 * 2048000 / (2048 - 1911));
    EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x3011, 0), Reg(0x300A, 7), Reg(0x3009, 0x80),
                                       Reg(0x3011, 1), Reg(0x300A, 7), Reg(0x3009, 0x77)}));
}

TEST_F(SonyFrameCount, Imx377FrameCountEveryTime) {
    Start(110, SENSOR_TYPE_IMX377C, Window(4000, 3000, 0, 0, 24), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(3512), 0);  // frame length 3519 - 7
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x300D, 1}, {0x300E, 0}}), Regs({{0x300C, 0x0D}, {0x300B, 0xC6}}),
                  Regs({{0x300D, 0}, {0x300E, 0}}), Regs({{0x300C, 0x0D}, {0x300B, 0x5B}})}));
}

// 8 bits: 3102-line frames. The exposure goes under the hold register; from frame length - 19
// lines on the frame stretches with it.
TEST_F(SonyFrameCount, Imx577DirectLinesUnderTheHold) {
    Start(110, SENSOR_TYPE_IMX577C, Window(4000, 3000, 0, 0, 24), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(3082), 0);
    EXPECT_EQ(sensor->SetExposureLines(3083), 0);
    EXPECT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Reg(0x0104, 1), Regs({{0x0202, 0x0C}, {0x0203, 0x0A}}), Reg(0x0104, 0),
                  Regs({{0x0104, 1},
                        {0x0202, 0x0C},
                        {0x0203, 0x0B},
                        {0x0341, 0x1F},
                        {0x0340, 0x0C},
                        {0x0104, 0}}),
                  Reg(0x0104, 1), Regs({{0x0341, 0x1E}, {0x0340, 0x0C}}),
                  Regs({{0x0202, 0}, {0x0203, 100}}), Reg(0x0104, 0)}));
    // The frame register holds 16 bits: the longest exposure is 65505 lines.
    EXPECT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_NEAR(ExposureUs(), 65505 * LineUs(), 1e-6);
    EXPECT_EQ(Sensor(0x0340) << 8 | Sensor(0x0341), 65525u);
}

TEST_F(SonyFrameCount, Imx577AnalogAndDigitalGain) {
    Start(110, SENSOR_TYPE_IMX577C, Window(4000, 3000, 0, 0, 24), 2, kBayer8);
    const RegRows kUnity = {{0x0104, 1}, {0x0204, 0}, {0x0205, 0},
                            {0x020E, 1}, {0x020F, 0}, {0x0104, 0}};
    EXPECT_EQ(sensor->SetAnalogGain(1000), 0);
    EXPECT_EQ(Gain(), 1000);
    EXPECT_EQ(sensor->SetAnalogGain(30000), 0);  // analog 978 (x22.26), digital 345
    EXPECT_EQ(Gain(), 30000);
    EXPECT_EQ(sensor->SetAnalogGain(500), 0);  // below unity: unity
    EXPECT_EQ(Gain(), 1000);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Regs(kUnity),
         Regs({{0x0104, 1}, {0x0204, 3}, {0x0205, 0xD2}, {0x020E, 1}, {0x020F, 0x59}, {0x0104, 0}}),
         Regs(kUnity)}));
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(sensor->SetAnalogGain(2000), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(Gain(), 1000);
}

// Storage may name these chips on a board they do not serve; the device still reads their
// capability at every open, so it must describe them without stopping.
TEST_F(SonyFrameCount, Imx377And577CapabilityOnOtherBoards) {
    for (SensorTypeE code : {SENSOR_TYPE_IMX377C, SENSOR_TYPE_IMX577C}) {
        for (int hw : {110, 205, 201, 203, 0}) {
            CFakeDevice device;
            device.SetHardwareType(hw);
            std::unique_ptr<SensorInf> driver(SensorInf::NewSensor(code, &device));
            ASSERT_NE(driver, nullptr);
            SensorCapability cap;
            driver->GetCapability(cap);
            const bool served = hw == 110 || hw == 205;
            const std::vector<uint32_t> want =
                served ? std::vector<uint32_t>{kBayer8, kBayer12} : std::vector<uint32_t>{kBayer8};
            EXPECT_EQ(cap.supportMediaType, want) << code << " on " << hw;
            EXPECT_EQ(cap.presetMask, uint64_t{1} << 24);
            EXPECT_EQ(device.CallCount("WriteSensorReg") + device.CallCount("WriteSensorRegs"), 0u);
        }
    }
}

}  // namespace
