// The Sony global-shutter drivers (IMX264, IMX265, IMX287, IMX297, IMX392, IMX296) and the
// hold-bracket IMX487 case by case: the longest exposures, the frame margins, the shortest trigger
// pulses, window rules, speeds and multi-chip boards.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kBayer12 = 0x01100010;
constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

class GlobalShutter : public DriverFixture {
  protected:
    // The frame length and shutter of the 0x02xx chips (bank 0) or the 0x30xx ones (0x2E00).
    uint32_t Vmax(uint16_t bank = 0) const {
        return SensorValue({{0x0210 + bank, 0xFF}, {0x0211 + bank, 0xFF}, {0x0212 + bank, 0xF}});
    }
    uint32_t Hmax(uint16_t bank = 0) const {
        return SensorValue({{0x0214 + bank, 0xFF}, {0x0215 + bank, 0xFF}});
    }
    uint32_t Shs(uint16_t bank = 0) const {
        return SensorValue({{0x028D + bank, 0xFF}, {0x028E + bank, 0xFF}, {0x028F + bank, 0xF}});
    }
    std::vector<int64_t> LastTriggerTiming() const {
        const auto calls = dev->CallsNamed({"SetTriggerTiming"});
        return calls.empty() ? std::vector<int64_t>{} : calls.back().args;
    }
};

// The longest exposure the 20-bit frame length holds: VMAX 0xFFFFF with the shutter at 8, 0xFFFF7
// lines reported; the next ordinary exposure writes its shutter and puts the frame back.
TEST_F(GlobalShutter, Imx264LongestExposureAndTheWayBack) {
    Start(100, SENSOR_TYPE_IMX264M, Window(640, 480, 16, 8), 2, kMono8);
    ASSERT_EQ(Vmax(), 520u);  // the window's 480 lines and 40
    LogCapture log;
    ASSERT_EQ(sensor->SetExposureLines(0x100000), 0);
    EXPECT_EQ(log.Count("explines:1048576\n"), 1);
    EXPECT_EQ(Sensor(0x0210), 0xFF);
    EXPECT_EQ(Sensor(0x0211), 0xFF);
    EXPECT_EQ(Sensor(0x0212), 0x0F);
    EXPECT_EQ(Shs(), 8u);
    EXPECT_DOUBLE_EQ(ExposureUs(), 0xFFFF7 * LineUs());

    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_EQ(log.Count("VMax:520,shs1:420\n"), 1);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Regs({{0x028D, 420 & 0xFF}, {0x028E, 420 >> 8}, {0x028F, 0}}),
                               Regs({{0x0210, 520 & 0xFF}, {0x0211, 520 >> 8}, {0x0212, 0}})}));
    EXPECT_DOUBLE_EQ(ExposureUs(), 100 * LineUs());
}

// The IMX287 keeps 14 lines past the shutter: n + 14 = frame length still fits, one more line
// stretches the frame.
TEST_F(GlobalShutter, Imx287FrameMarginOf14) {
    Start(100, SENSOR_TYPE_IMX287C, Window(640, 480, 16, 8), 2, kBayer8);
    const uint32_t frame = Vmax();
    ASSERT_EQ(frame, 522u);  // 480 + 42
    ASSERT_EQ(sensor->SetExposureLines(frame - 14), 0);
    EXPECT_EQ(Shs(), 14u);
    EXPECT_EQ(Vmax(), frame);
    ASSERT_EQ(sensor->SetExposureLines(frame - 13), 0);
    EXPECT_EQ(Shs(), 14u);
    EXPECT_EQ(Vmax(), frame + 1);
}

// In the trigger modes the IMX287's pulse is at least 100 us: 50 us programs and reports 100.
TEST_F(GlobalShutter, Imx287ShortestTriggerPulse) {
    Start(201, SENSOR_TYPE_IMX287M, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetTriggerMode(2), 0);
    ASSERT_EQ(sensor->SetExposure(50), 0);
    EXPECT_EQ(LastTriggerTiming(), (std::vector<int64_t>{100, 0}));
    EXPECT_EQ(ExposureUs(), 100);
    EXPECT_EQ(LineUs(), 1.0);
    ASSERT_EQ(sensor->SetExposure(70014), 0);  // 70000 us of pulse: 0x11170
    EXPECT_EQ(LastTriggerTiming(), (std::vector<int64_t>{0x1170, 1}));
    EXPECT_EQ(ExposureUs(), 70000);
}

// The IMX392 reads no window narrower than 516 pixels: a narrower one is read 516 wide, from a
// column that keeps it on the sensor.
TEST_F(GlobalShutter, Imx392NarrowWindows) {
    struct Case {
        unsigned width;
        int column;
        uint32_t wantWidth, wantColumn;
    };
    for (const Case& c :
         {Case{300, 1500, 516, 1420}, Case{600, 1500, 600, 1500}, Case{300, 400, 516, 400}}) {
        SCOPED_TRACE(c.width);
        Start(100, SENSOR_TYPE_IMX392C, Window(c.width, 200, c.column, 100), 2, kBayer8);
        EXPECT_EQ(SensorValue({{0x3314, 0xFF}, {0x3315, 7}}), c.wantWidth);
        EXPECT_EQ(SensorValue({{0x3310, 0xFF}, {0x3311, 7}}), c.wantColumn);
        EXPECT_EQ(Sensor(0x3300), 3);
        EXPECT_EQ(ImageInfo().iWidth, c.width);  // the FPGA keeps what was asked
    }
}

// Board 106 reads up to four IMX392 side by side; their count sets the clock and the lengths. No
// chip enabled is refused before the clock is touched. The single-chip boards run the lengths of
// one chip on board 106, so every exposure has a line time to count in.
TEST_F(GlobalShutter, Imx392ChipsSideBySideAndSingleChipTiming) {
    Make(106, SENSOR_TYPE_IMX392M);
    param = Stream(Window(640, 480), 2, kMono8, 0xF);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(dev->FpgaReg(40), 0xFu);
    EXPECT_EQ(Hmax(0x2E00), 1772u);
    EXPECT_EQ(Vmax(0x2E00), 1242u);
    EXPECT_EQ(dev->CallsNamed({"SetPll"})[0].args,
              (std::vector<int64_t>{24, 1, 1, 1, 7, 13, 13, 8}));
    EXPECT_EQ(ImageInfo().iWidth, 4 * 640u);

    Make(106, SENSOR_TYPE_IMX392M);
    param = Stream(Window(640, 480), 2, kMono8, 0x30);  // no chip among the four
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(dev->CallCount("SetPll"), 0u);
    EXPECT_EQ(param.channelMask, 0);

    for (int hw : {9, 100, 201}) {
        SCOPED_TRACE(hw);
        Start(hw, SENSOR_TYPE_IMX392M, Window(640, 480), 2, kMono12);
        EXPECT_EQ(Hmax(0x2E00), 994u);
        EXPECT_EQ(Vmax(0x2E00), 1244u);
        int lineNs = 0;
        sensor->GetLineTime(&lineNs);
        EXPECT_GT(lineNs, 0);
        EXPECT_EQ(Param().expLinesMax, static_cast<uint32_t>(3e6 / LineUs()));
        ASSERT_EQ(sensor->SetExposure(10000), 0);
        EXPECT_NEAR(ExposureUs(), 10000 - 14, LineUs());
    }
}

// Moving the window while streaming: the IMX392 brackets its start registers with the hold
// register; the IMX287 too, and reports success whatever the write gave.
TEST_F(GlobalShutter, RoiOffsetUnderHold) {
    Start(100, SENSOR_TYPE_IMX392C, Window(640, 480), 2, kBayer8);
    ASSERT_EQ(sensor->SetRoiOffset(0x123, 0x456), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x3008, 1},
                                             {0x3310, 0x23},
                                             {0x3311, 1},
                                             {0x3312, 0x56},
                                             {0x3313, 4},
                                             {0x3008, 0}})}));
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->SetRoiOffset(2, 2), CAMERA_STATUS_TIMEOUT);

    Start(100, SENSOR_TYPE_IMX287C, Window(640, 480), 2, kBayer8);
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->SetRoiOffset(0x123, 0x456), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x0280, 1},
                                             {0x0510, 0x23},
                                             {0x0511, 1},
                                             {0x0512, 0x56},
                                             {0x0513, 4},
                                             {0x0280, 0}})}));
}

// The IMX297's 12 bits on board 100 take twice the line; speed 0 triples the frame.
TEST_F(GlobalShutter, Imx297TwelveBitLineAndSlowSpeed) {
    Start(100, SENSOR_TYPE_IMX297C, Window(640, 480), 2, kBayer12);
    EXPECT_EQ(Hmax(), 2 * 1070u);
    EXPECT_EQ(Vmax(), 510u);  // 480 + 30
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);
    EXPECT_EQ(Hmax(), 2 * 1070u);
    EXPECT_EQ(Vmax(), 3 * 510u);
    double frameUs = 0;
    sensor->GetFrameTime(&frameUs);
    EXPECT_NEAR(frameUs, 3 * 510 * 2 * 1070 / 74.25, 1e-6);

    Start(201, SENSOR_TYPE_IMX297C, Window(640, 480), 2, kBayer12);
    EXPECT_EQ(Hmax(), 1070u);
}

// Gain in 0.1 dB steps: 2000 is 6.0 dB, code 60; below unity the chip stays at unity.
TEST_F(GlobalShutter, GainInTenthsOfADecibel) {
    for (auto [code, bank] : {std::pair{SENSOR_TYPE_IMX264C, 0}, {SENSOR_TYPE_IMX392C, 0x2E00}}) {
        SCOPED_TRACE(code);
        Start(100, code, Window(640, 480), 2, kBayer8);
        ASSERT_EQ(sensor->SetAnalogGain(2000), 0);
        EXPECT_EQ(Sensor(0x0404 + bank), 0x3C);
        EXPECT_EQ(Sensor(0x0405 + bank), 0);
        EXPECT_EQ(Gain(), 2000);
        ASSERT_EQ(sensor->SetAnalogGain(30000), 0);  // 29.5 dB
        EXPECT_EQ(Sensor(0x0404 + bank), 295 & 0xFF);
        EXPECT_EQ(Sensor(0x0405 + bank), 1);
        ASSERT_EQ(sensor->SetAnalogGain(400), 0);
        EXPECT_EQ(Sensor(0x0404 + bank), 0);
        EXPECT_EQ(Sensor(0x0405 + bank), 0);
        EXPECT_EQ(Gain(), 1000);
    }
}

// The black level goes to the chip on every member (the IMX392 included).
TEST_F(GlobalShutter, BlackLevel) {
    for (auto [code, bank] : {std::pair{SENSOR_TYPE_IMX287C, 0}, {SENSOR_TYPE_IMX392C, 0x2E00}}) {
        Start(100, code, Window(640, 480), 2, kBayer8);
        ASSERT_EQ(sensor->SetBlackLevel(0x1F0), 0);
        EXPECT_EQ(Sensor(0x0454 + bank), 0xF0);
        int level = 0;
        sensor->GetBlackLevel(&level);
        EXPECT_EQ(level, 0xF0);
    }
}

// The IMX296 on a GigE board at 12 bits stretches its frame by 30/19.
TEST_F(GlobalShutter, Imx296TwelveBitFrameOnGigE) {
    Start(201, SENSOR_TYPE_IMX296M, Window(1440, 1080), 2, kMono12);
    EXPECT_EQ(Vmax(0x2E00), 1765u);  // 1118 x 60 / 2 / 19
    EXPECT_EQ(Hmax(0x2E00), 1120u);
    EXPECT_EQ(Sensor(0x3300), 0);  // the full window
    Start(100, SENSOR_TYPE_IMX296M, Window(1440, 1080), 2, kMono12);
    EXPECT_EQ(Vmax(0x2E00), 1118u);
    EXPECT_EQ(Hmax(0x2E00), 2240u);
}

// The FPGA follows every IMX296 shutter: four lines past SHS, counted round the frame, or line 8
// of a stretched frame.
TEST_F(GlobalShutter, Imx296ShutterMirroredToTheFpga) {
    Start(201, SENSOR_TYPE_IMX296M, Window(1440, 1080), 2, kMono8);
    ASSERT_EQ(Vmax(0x2E00), 1118u);
    struct Case {
        uint32_t lines, shs;
        std::vector<int64_t> timing;
    };
    for (const Case& c :
         {Case{1000, 118, {122, 0x400}}, Case{2, 1116, {2, 0x400}}, Case{5000, 8, {8, 0x400}}}) {
        SCOPED_TRACE(c.lines);
        trace->Clear();
        ASSERT_EQ(sensor->SetExposureLines(c.lines), 0);
        EXPECT_EQ(Shs(0x2E00), c.shs);
        EXPECT_EQ(LastTriggerTiming(), c.timing);
        // The FPGA hears first.
        EXPECT_EQ(Steps().front().op, "SetTriggerTiming");
    }
}

// Board 204 reads up to four IMX296 side by side, its mask in FPGA register 37; no chip enabled
// is refused.
TEST_F(GlobalShutter, Imx296ChipsSideBySide) {
    Make(204, SENSOR_TYPE_IMX296C);
    param = Stream(Window(640, 480), 2, kBayer8, 0b0101);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(dev->FpgaReg(37), 0b0101u);
    EXPECT_EQ(ImageInfo().iWidth, 1280u);
    EXPECT_EQ(ImageInfo().TotalBytes, 1280u * 480u);
    EXPECT_EQ(dev->CallCount("SetTriggerControl"), 0u);  // this board keeps its trigger word

    Make(204, SENSOR_TYPE_IMX296C);
    param = Stream(Window(640, 480), 2, kBayer8, 0);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
}

// ---- IMX487 ------------------------------------------------------------------------------------

class Imx487 : public GlobalShutter {
  protected:
    uint32_t Vmax() const { return SensorValue({{0x30D4, 0xFF}, {0x30D5, 0xFF}, {0x30D6, 0xFF}}); }
    uint32_t Shr() const { return SensorValue({{0x3240, 0xFF}, {0x3241, 0xFF}, {0x3242, 0xFF}}); }
};

// Windows move in steps of 16 pixels: every value of the record is rounded down.
TEST_F(Imx487, WindowsOnSixteenPixelSteps) {
    Start(201, SENSOR_TYPE_IMX487U, Window(1000, 1000, 17, 33), 2, kMono8);
    tSdkResolution res{};
    ASSERT_EQ(sensor->GetResolution(&res), 0);
    EXPECT_EQ(res.uWidth, 992u);
    EXPECT_EQ(res.uHeight, 992u);
    EXPECT_EQ(res.iOffsetX, 16);
    EXPECT_EQ(res.iOffsetY, 32);
    EXPECT_EQ(SensorValue({{0x3124, 0xFF}, {0x3125, 0x1F}}), 992u);
    EXPECT_EQ(SensorValue({{0x3120, 0xFF}, {0x3121, 0x1F}}), 16u);
    EXPECT_EQ(SensorValue({{0x3122, 0xFF}, {0x3123, 0x0F}}), 32u);

    trace->Clear();
    ASSERT_EQ(sensor->SetRoiOffset(37, 50), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Regs({{0x3034, 1}, {0x3120, 32}, {0x3121, 0}, {0x3122, 48}, {0x3123, 0}, {0x3034, 0}})}));
}

// On board 201 at 8 bits without a mode flag the line is 532 clocks at readout speed 2; Init
// writes that speed's table and then four rows of the timing grid.
TEST_F(Imx487, GigESpeedAndTimingTables) {
    Make(201, SENSOR_TYPE_IMX487U);
    param = Stream(Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(SensorValue({{0x30D8, 0xFF}, {0x30D9, 0xFF}}), 532u);
    EXPECT_EQ(Vmax(), 480u + 204);
    const auto steps = Steps();
    const TraceStep speedTable = Regs({{0x30DC, 2}, {0x3226, 0x08}, {0x3227, 0xD1}});
    auto it = std::find_if(steps.begin(), steps.end(),
                           [&](const TraceStep& s) { return speedTable.Matches(s); });
    ASSERT_NE(it, steps.end());
    ASSERT_NE(++it, steps.end());
    EXPECT_EQ(it->op, "Regs");
    EXPECT_EQ(it->args.size(), 8u);  // the grid's four registers
    EXPECT_EQ(Sensor(0x303C), 2);    // readout without binning or skipping
}

// A binning window reads the array in its own steps, with a frame of 3012 lines.
TEST_F(Imx487, BinningWindow) {
    tSdkResolution res = Window(1424, 1424);
    res.uModeA = 1;
    Start(100, SENSOR_TYPE_IMX487U, res, 2, kMono8);
    EXPECT_EQ(Sensor(0x303C), 18);
    EXPECT_EQ(Sensor(0x30D0), 148);
    EXPECT_EQ(Sensor(0x30D1), 5);
    EXPECT_EQ(Vmax(), 3012u);
    const auto window = dev->CallsNamed({"SetImageWindow"});
    ASSERT_EQ(window.size(), 1u);
    EXPECT_EQ(window[0].args[1], 36);
}

// Exposure with margin 40 under the hold bracket: n + 40 = frame length fits, one more stretches
// the frame in one held list, and the next short exposure puts the frame back before it lets go.
TEST_F(Imx487, ShutterMarginAndHeldStretch) {
    Start(201, SENSOR_TYPE_IMX487U, Window(640, 480), 2, kMono8);
    const uint32_t frame = Vmax();
    ASSERT_EQ(frame, 684u);
    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(frame - 40), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x3034, 1}, {0x3240, 40}, {0x3241, 0}, {0x3242, 0}}), Reg(0x3034, 0)}));
    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(frame - 39), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x3034, 1},
                                             {0x30D4, (frame + 1) & 0xFF},
                                             {0x30D5, (frame + 1) >> 8},
                                             {0x30D6, 0},
                                             {0x3240, 40},
                                             {0x3241, 0},
                                             {0x3242, 0},
                                             {0x3034, 0}})}));
    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(),
        {Regs({{0x3034, 1},
               {0x3240, (frame - 100) & 0xFF},
               {0x3241, (frame - 100) >> 8},
               {0x3242, 0}}),
         Regs({{0x30D4, frame & 0xFF}, {0x30D5, frame >> 8}, {0x30D6, 0}}), Reg(0x3034, 0)}));

    // The longest: the 20-bit frame less the margin.
    ASSERT_EQ(sensor->SetExposureLines(0xFFFFFFFF), 0);
    EXPECT_EQ(Vmax(), 0xFFFFFu);
    EXPECT_DOUBLE_EQ(ExposureUs(), (0xFFFFF - 40) * LineUs());
}

// The trigger modes count the exposure range in microseconds of pulse (15 to 1000000); back in
// continuous mode it is lines again, as the frame speed set it.
TEST_F(Imx487, TriggerModesAndTheExposureRange) {
    Start(100, SENSOR_TYPE_IMX487U, Window(640, 480), 2, kMono8);
    const SensorParam before = Param();
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(Param().expLinesMin, 15u);
    EXPECT_EQ(Param().expLinesMax, 1000000u);
    ASSERT_EQ(sensor->SetExposure(10), 0);
    EXPECT_EQ(LastTriggerTiming(), (std::vector<int64_t>{1, 0}));
    EXPECT_EQ(ExposureUs(), 15);
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Param().expLinesMin, before.expLinesMin);
    EXPECT_EQ(Param().expLinesMax, before.expLinesMax);
    EXPECT_EQ(Sensor(0x3400), 0);
}

}  // namespace
