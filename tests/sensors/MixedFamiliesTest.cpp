// The EV76C560 and EV76C570, MT9T001 and MT9V024, PYTHON1300, SC130GS and JX-F28P drivers case
// by case: frame lengths from the pixel rate, the growing exposure divider, gain codes, the
// MT9T001's frame time, the PYTHON's timer unit, the SC130GS's chips side by side and its
// eighths of a line, the JX-F28P's stretched frame.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008;
constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

class MixedFamilies : public DriverFixture {
  protected:
    double FrameUs() const {
        double us = 0;
        sensor->GetFrameTime(&us);
        return us;
    }
};

// ---- EV76C560 / EV76C570 -----------------------------------------------------------------------

// The frame of a 1280 x 1024 window at 57 MHz, 896 clocks a line, speed 2 (78643200 pixels a
// second, so 60 frames): 63616 lines a second over 60 frames, 1060 lines.
TEST_F(MixedFamilies, Ev76FrameLengthFromThePixelRate) {
    Start(100, SENSOR_TYPE_EV76C560C, Window(1280, 1024), 2, kBayer8);
    EXPECT_EQ(Sensor(0x8C), 1060);
    EXPECT_NEAR(FrameUs(), 1060 * 896 / 57.0, 1e-6);
    EXPECT_EQ(Param().expLinesMax, static_cast<uint32_t>(2e9 / (896 / 0.057)));
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);  // a quarter of the rate: four times the frame
    EXPECT_EQ(Sensor(0x8C), 63616 / 15);
}

// From 65536 lines on the exposure clock's divider grows in proportion and about 60000 of its
// units are written: 120000 lines at divider 112 take divider 224. The time is reckoned beyond
// the 4.29 s a 32-bit count of nanoseconds would hold.
TEST_F(MixedFamilies, Ev76GrowingExposureDivider) {
    Start(100, SENSOR_TYPE_EV76C560C, Window(1280, 1024), 2, kBayer8);
    const double lineUs = LineUs();
    ASSERT_EQ(sensor->SetExposureLines(1000), 0);
    EXPECT_EQ(Sensor(0x84), 0x8000 | 112);
    EXPECT_EQ(Sensor(0x8E), 1000);
    ASSERT_EQ(sensor->SetExposureLines(120000), 0);
    EXPECT_EQ(Sensor(0x84), 0x8000 | 224);
    EXPECT_EQ(Sensor(0x8E), 60000);
    EXPECT_NEAR(ExposureUs(), 120000 * lineUs, 1e-3);
    ASSERT_EQ(sensor->SetExposure(10e6), 0);  // 10 s
    EXPECT_NEAR(ExposureUs(), 10e6, 2 * 8 * (Sensor(0x84) & 0x7FFF) / 57.0);
    ASSERT_EQ(sensor->SetExposureLines(200), 0);  // and back to lines
    EXPECT_EQ(Sensor(0x84), 0x8000 | 112);
    EXPECT_NEAR(ExposureUs(), 200 * lineUs, 1e-6);

    Start(305, SENSOR_TYPE_EV76C570M, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetExposureLines(120000), 0);
    EXPECT_EQ(Sensor(0x84), 0x8800 | 464);
}

// Gain 8000: the EV76C560 takes a coarse step above its threshold (x6, then the fine stage),
// the EV76C570 from its threshold on (x8).
TEST_F(MixedFamilies, Ev76GainSteps) {
    Start(100, SENSOR_TYPE_EV76C560C, Window(640, 480), 2, kBayer8);
    ASSERT_EQ(sensor->SetAnalogGain(8000), 0);
    EXPECT_EQ(Sensor(0x91), 0x500 | 21);  // x6 x (1 + 21/64)
    EXPECT_EQ(Gain(), 7968);
    ASSERT_EQ(sensor->SetAnalogGain(800), 0);  // below unity: unity
    EXPECT_EQ(Sensor(0x91), 0);
    EXPECT_EQ(Gain(), 1000);

    Start(100, SENSOR_TYPE_EV76C570C, Window(640, 480), 2, kBayer8);
    ASSERT_EQ(sensor->SetAnalogGain(8000), 0);
    EXPECT_EQ(Sensor(0x91), 0x600);
    EXPECT_EQ(Gain(), 8000);
    ASSERT_EQ(sensor->SetAnalogGain(30000), 0);  // x8, then x2 x (1 + 56/64)
    EXPECT_EQ(Sensor(0x91), 0x600 | 0x40 | 56);
    EXPECT_EQ(Gain(), 30000);
}

// Standby after Init and StreamOff; the trigger modes run the chip.
TEST_F(MixedFamilies, Ev76OperatingMode) {
    Start(205, SENSOR_TYPE_EV76C570C, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(dev->CallCount("SetPll"), 0u);
    EXPECT_EQ(Sensor(0x8B), 5);
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Sensor(0x8B), 0x4E);
    ASSERT_EQ(sensor->StreamOn(), 0);
    EXPECT_EQ(Sensor(0x8B), 0x4E);  // the FPGA only
    ASSERT_EQ(sensor->StreamOff(), 0);
    EXPECT_EQ(Sensor(0x8B), 5);
}

// ---- MT9T001 -----------------------------------------------------------------------------------

TEST_F(MixedFamilies, Mt9t001GainCodes) {
    Start(201, SENSOR_TYPE_MT9T001, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(Gain(), 2000);  // Init's code 16
    struct Case {
        uint32_t gain, code, reported;
    };
    for (const Case& c : {Case{4250, 81, 4250}, Case{8000, 96, 8000}, Case{32000, 120, 32000},
                          Case{500, 8, 1000}, Case{100000, 120, 32000}}) {
        SCOPED_TRACE(c.gain);
        ASSERT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Sensor(0x35), c.code);
        EXPECT_EQ(Gain(), static_cast<int>(c.reported));
    }
}

// The frame time asked for: raised to 83333 us at least; reached by the vertical blank, then by
// halving the clock (the divider doubles as often as it takes), and past the slowest clock and
// the longest blank by a longer line, up to the longest frame the window has, which the range
// advertises; the frame time in force is what GetFrameTime reports.
TEST_F(MixedFamilies, Mt9t001FrameTime) {
    Start(201, SENSOR_TYPE_MT9T001, Window(640, 480), 2, kBayer8);
    const double lineClocks = 640 + 10 + 369;
    EXPECT_NEAR(FrameUs(), (480 + 2) * lineClocks / 48.0, 1e-6);
    int min = 0, max = 0;
    ASSERT_EQ(sensor->GetFrameTimeRange(&min, &max), 0);
    EXPECT_EQ(min, 83333);
    const double longest = (480 + 2047) * (640 + 369 + 2047) * (1e9 / 750000) / 1000;
    EXPECT_EQ(max, static_cast<int>(longest));

    ASSERT_EQ(sensor->SetFrameTime(1000), 0);  // raised to 83333
    EXPECT_EQ(Sensor(0x0A), 1);
    EXPECT_NEAR(FrameUs(), 83333, lineClocks / 24.0);
    EXPECT_LE(FrameUs(), 83333);

    ASSERT_EQ(sensor->SetFrameTime(1e6), 0);  // 1 s: divider 16, blank 992
    EXPECT_EQ(Sensor(0x0A), 16);
    EXPECT_EQ(Sensor(0x06), 992);
    EXPECT_EQ(Sensor(0x05), 10);
    EXPECT_NEAR(FrameUs(), 1e6, lineClocks / 0.75);

    ASSERT_EQ(sensor->SetFrameTime(2e9), 0);  // beyond reach: the longest frame
    EXPECT_EQ(Sensor(0x0A), 32);
    EXPECT_EQ(Sensor(0x06), 2047);
    EXPECT_EQ(Sensor(0x05), 2047);
    EXPECT_NEAR(FrameUs(), longest, 1e-3);

    ASSERT_EQ(sensor->SetFrameTime(200000), 0);  // and back down
    EXPECT_NEAR(FrameUs(), 200000, 0.01 * 200000);
    EXPECT_LE(Sensor(0x06), 2047);
}

// On the clock in force the frame takes the nearest whole number of lines to the time asked:
// 100 ms of 50.5625 us lines (2048 + 10 + 369 clocks at 48 MHz) are 1977.75 lines, a blank of
// 442 below the 1536 rows; 85 ms are 1681.09 lines, a blank of 145.
TEST_F(MixedFamilies, Mt9t001FrameTimeTakesTheNearestLine) {
    struct Case {
        double us;
        uint32_t blank;
    };
    for (const Case& c : {Case{100000, 442}, Case{85000, 145}}) {
        SCOPED_TRACE(c.us);
        Start(201, SENSOR_TYPE_MT9T001, Window(2048, 1536), 2, kBayer8);
        ASSERT_EQ(sensor->SetFrameTime(c.us), 0);
        EXPECT_EQ(Sensor(0x0A), 0);  // the clock stays
        EXPECT_EQ(Sensor(0x06), c.blank);
        EXPECT_NEAR(FrameUs(), (1536 + c.blank) * 2427 / 48.0, 1e-6);
    }
}

// A frame already longer than the target on the fastest clock with no blank to give: a blank of
// 3 lines and a shorter line (at least 21 clocks of horizontal blank).
TEST_F(MixedFamilies, Mt9t001ShorterLineAtTheFastestClock) {
    Start(0, SENSOR_TYPE_MT9T001, Window(2048, 1536), 2, kBayer8);
    ASSERT_GT(FrameUs(), 83333);  // blanks 255 and 10 on a board without the FPGA's clock
    ASSERT_EQ(sensor->SetFrameTime(83333), 0);
    EXPECT_EQ(Sensor(0x0A), 0);
    EXPECT_EQ(Sensor(0x06), 3);
    EXPECT_GE(Sensor(0x05), 21);
    EXPECT_LT(Sensor(0x05), 255);
    EXPECT_NEAR(FrameUs(), 83333, (2048 + 369 + Sensor(0x05)) / 48.0);
}

// ---- MT9V024 -----------------------------------------------------------------------------------

// One timing per board: the speed changes nothing.
TEST_F(MixedFamilies, Mt9v024SpeedIgnored) {
    Start(201, SENSOR_TYPE_MT9V024C, Window(640, 480), 2, kBayer8);
    const double frame = FrameUs();
    for (int speed : {0, 1, 2, 7}) {
        EXPECT_EQ(sensor->SetFrameSpeed(speed), 0);
        EXPECT_EQ(Speed(), 2);
        EXPECT_EQ(FrameUs(), frame);
    }
    EXPECT_NEAR(frame, (480 + 45) * (640 + 94) / 48.0, 1e-6);
}

// The 16-bit shutter width: longer exposures stop at 65535 lines and report that.
TEST_F(MixedFamilies, Mt9v024ShutterWidthHolds16Bits) {
    Start(201, SENSOR_TYPE_MT9V024M, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_EQ(Sensor(0x0B), 0xFFFF);
    EXPECT_DOUBLE_EQ(ExposureUs(), 0xFFFF * LineUs());
    ASSERT_EQ(sensor->SetAnalogGain(2500), 0);
    EXPECT_EQ(Sensor(0x35), 40);
    EXPECT_EQ(Gain(), 2500);
    ASSERT_EQ(sensor->SetAnalogGain(500), 0);
    EXPECT_EQ(Gain(), 1000);
}

// The board without an FPGA: the chip's dark columns read along unless the columns are skipped,
// the software trigger on GPIO 67, and one format per variant.
TEST_F(MixedFamilies, Mt9v024WithoutTheFpga) {
    Start(0, SENSOR_TYPE_MT9V024M, Window(640, 480), 2, kMono8);
    EXPECT_EQ(Sensor(0x72), 16);
    trace->Clear();
    ASSERT_EQ(sensor->SoftTrigger(), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Call("WriteGpio", {67, 1}), Call("WriteGpio", {67, 0})}));
    EXPECT_EQ(Capability().supportMediaType, (std::vector<uint32_t>{kMono8}));

    tSdkResolution skipped = Window(320, 240);
    skipped.uModeC = 1;
    Start(0, SENSOR_TYPE_MT9V024M, skipped, 2, kMono8);
    EXPECT_EQ(Sensor(0x72), 0);
    EXPECT_EQ(Sensor(0x0D), 1 | 4);
}

// ---- PYTHON1300 --------------------------------------------------------------------------------

// The frame period in microsecond units: the full window on board 100 at 8 bits, speed 2, 4762
// units of 72 clocks; a quarter of the window on board 201 at speed 0, 10000.
TEST_F(MixedFamilies, PythonFramePeriod) {
    Start(100, SENSOR_TYPE_PYTHON1300C, Window(1280, 1024), 2, kBayer8);
    EXPECT_EQ(Sensor(0x0C8), 4762);
    EXPECT_EQ(Sensor(0x0C7), 72);
    EXPECT_DOUBLE_EQ(LineUs(), 1.0);
    EXPECT_NEAR(FrameUs(), 4762, 1e-6);

    Start(201, SENSOR_TYPE_PYTHON1300M, Window(640, 512), 0, kMono8);
    EXPECT_EQ(Sensor(0x0C8), 10000);
    EXPECT_EQ(Sensor(0x0C7), 36);
}

// Past 65535 units the unit stretches: 120000 us are 60000 units of 72 clocks at 36 MHz.
TEST_F(MixedFamilies, PythonStretchedUnit) {
    Start(201, SENSOR_TYPE_PYTHON1300C, Window(640, 512), 2, kBayer8);
    LogCapture log;
    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(120000), 0);
    EXPECT_EQ(log.Count("mult_timer:72, m_expLines:60000\n"), 1);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Reg(0x0CE, 0x0377), Reg(0x0C7, 72), Reg(0x0C9, 60000), Reg(0x0CE, 0x037F)}));
    EXPECT_DOUBLE_EQ(ExposureUs(), 120000);
    ASSERT_EQ(sensor->SetExposureLines(1000), 0);
    EXPECT_EQ(Sensor(0x0C7), 36);
    EXPECT_EQ(Sensor(0x0C9), 1000);
    EXPECT_DOUBLE_EQ(ExposureUs(), 1000);
    // The longest unit the multiplier holds.
    ASSERT_EQ(sensor->SetExposure(1e12), 0);
    EXPECT_EQ(Sensor(0x0C7), 0xFFFF);
    EXPECT_NEAR(ExposureUs(), 60000.0 * 0xFFFF / 36, 1e-3);
}

TEST_F(MixedFamilies, PythonGainStages) {
    Start(100, SENSOR_TYPE_PYTHON1300C, Window(640, 512), 2, kBayer8);
    struct Case {
        uint32_t gain;
        uint16_t analog, digital;
        int reported;
    };
    for (const Case& c : {Case{1000, 0x1E1, 128, 1000}, Case{1800, 0x1E1, 230, 1796},
                          Case{1801, 0x1E4, 128, 1800}, Case{8000, 0x1E4, 568, 7987},
                          Case{9000, 0x1E4, 568, 7987}, Case{200, 0x1E1, 128, 1000}}) {
        SCOPED_TRACE(c.gain);
        ASSERT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Sensor(0x0CC), c.analog);
        EXPECT_EQ(Sensor(0x0CD), c.digital);
        EXPECT_EQ(Gain(), c.reported);
    }
    SensorInfo info{};
    ASSERT_EQ(SensorInf::GetSensorInfo(SENSOR_TYPE_PYTHON1300M, &info), 0);
    EXPECT_EQ(info.type, 29);
    EXPECT_STREQ(info.name, "PYTHON1300M");
}

// ---- SC130GS -----------------------------------------------------------------------------------

// Board 106 with mask 0x5: two chips, the two-chip clock, the mask in FPGA register 40 and an
// image twice as wide.
TEST_F(MixedFamilies, Sc130gsChipsSideBySide) {
    Make(106, SENSOR_TYPE_SC130GSC);
    param = Stream(Window(640, 480), 2, kBayer8, 0x5);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(dev->CallsNamed({"SetPll"}).at(0).args,
              (std::vector<int64_t>{27, 1, 1, 1, 8, 26, 13, 8}));
    EXPECT_EQ(dev->FpgaReg(40), 5u);
    EXPECT_EQ(ImageInfo().iWidth, 1280u);
    EXPECT_EQ(dev->CallsNamed({"SetImageWindow"}).at(0).args[2], 1280);
    // Frame 1052 lines at speed 2, three times that at speed 0, from the same base each time.
    EXPECT_EQ(SensorValue({{0x320F, 0xFF}, {0x320E, 0xFF}}), 526u);
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);
    ASSERT_EQ(sensor->SetFrameSpeed(1), 0);
    EXPECT_EQ(SensorValue({{0x320F, 0xFF}, {0x320E, 0xFF}}), 1052u);

    Make(106, SENSOR_TYPE_SC130GSC);
    param = Stream(Window(640, 480), 2, kBayer8, 0x30);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(MixedFamilies, Sc130gsGain) {
    Start(110, SENSOR_TYPE_SC130GSC, Window(640, 480), 2, kBayer8);
    ASSERT_EQ(sensor->SetAnalogGain(2000), 0);
    EXPECT_EQ(Sensor(0x3E08), 0x07);
    EXPECT_EQ(Sensor(0x3E09), 32);
    EXPECT_EQ(Gain(), 1950);
    ASSERT_EQ(sensor->SetAnalogGain(300), 0);
    EXPECT_EQ(Sensor(0x3E08), 0x03);
    EXPECT_EQ(Sensor(0x3E09), 32);
    EXPECT_EQ(Gain(), 1000);
}

// The exposure register pair holds 0xFFFF eighths of a line: 100 ms on board 110 (7.92 us
// lines) programs and reports the 64.9 ms it holds. A trigger-mode round trip leaves the range
// in lines again.
TEST_F(MixedFamilies, Sc130gsExposureHeldToItsRegisters) {
    Start(110, SENSOR_TYPE_SC130GSM, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetExposure(100000), 0);
    EXPECT_EQ(Sensor(0x3E01), 0xFF);
    EXPECT_EQ(Sensor(0x3E02), 0xFF);
    EXPECT_NEAR(ExposureUs(), 0xFFFF * LineUs() / 8, 1e-6);
    ASSERT_EQ(sensor->SetExposure(10000), 0);
    EXPECT_NEAR(ExposureUs(), 10000, LineUs() / 8);

    const SensorParam before = Param();
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(Param().expLinesMax, 1000000u);
    ASSERT_EQ(sensor->SetExposure(5), 0);
    EXPECT_EQ(ExposureUs(), 15);
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Param().expLinesMin, before.expLinesMin);
    EXPECT_EQ(Param().expLinesMax, before.expLinesMax);

    // The black level is the chip's own: a defined 0.
    ASSERT_EQ(sensor->SetBlackLevel(50), 0);
    int level = -1;
    sensor->GetBlackLevel(&level);
    EXPECT_EQ(level, 0);
    Make(300, SENSOR_TYPE_SC130GSM);
    EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_PARAMETER_INVALID);
}

// In the trigger modes the exposure is the trigger pulse: below 15 us the shortest pulse, 15
// reported; else the whole microseconds of the time less the 14 us the chip adds, and the time
// asked reported; past the 32-bit pulse the longest, and what it gives reported.
TEST_F(MixedFamilies, Sc130gsTriggerPulse) {
    Start(201, SENSOR_TYPE_SC130GSM, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetTriggerMode(2), 0);
    struct Case {
        double us;
        int64_t pulse;
        double reported;
    };
    for (const Case& c : {Case{3, 1, 15}, Case{5000.5, 4986, 5000.5}, Case{5014, 5000, 5014},
                          Case{1e12, 0xFFFFFFFF, 4294967295.0 + 14}}) {
        SCOPED_TRACE(c.us);
        ASSERT_EQ(sensor->SetExposure(c.us), 0);
        EXPECT_EQ(dev->CallsNamed({"SetTriggerTiming"}).back().args,
                  (std::vector<int64_t>{c.pulse & 0xFFFF, c.pulse >> 16}));
        EXPECT_EQ(ExposureUs(), c.reported);
    }
}

// ---- JX-F28P -----------------------------------------------------------------------------------

// An exposure of 3000 lines at speed 2 stretches the frame registers to 3000; the frame of the
// speed (1125) stays, and the next exposure below it writes it back.
TEST_F(MixedFamilies, Jxf28pStretchedFrame) {
    Start(110, SENSOR_TYPE_JXF28PC, Window(640, 480), 2, kMono12);
    ASSERT_EQ(sensor->SetExposureLines(3000), 0);
    EXPECT_EQ(SensorValue({{0x22, 0xFF}, {0x23, 0xFF}}), 3000u);
    EXPECT_EQ(SensorValue({{0x01, 0xFF}, {0x02, 0xFF}}), 3000u);
    EXPECT_NEAR(FrameUs(), 1125 * 1280 / 43.2, 1e-6);
    ASSERT_EQ(sensor->SetExposureLines(500), 0);
    EXPECT_EQ(SensorValue({{0x22, 0xFF}, {0x23, 0xFF}}), 1125u);
}

// Gain 1990: below x2 the sixteenths stop at 15 (code 0x0F, 1937).
TEST_F(MixedFamilies, Jxf28pGain) {
    Start(110, SENSOR_TYPE_JXF28PC, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetAnalogGain(1990), 0);
    EXPECT_EQ(Sensor(0x00), 0x0F);
    EXPECT_EQ(Gain(), 1937);
    ASSERT_EQ(sensor->SetAnalogGain(30000), 0);
    EXPECT_EQ(Sensor(0x00), 0x40 | 14);
    EXPECT_EQ(Gain(), 30000);
}

// Init ends with the chip at unity gain and 8 lines (its closing list); the driver's exposure
// and gain stay as they were, for the stream open sets both next.
TEST_F(MixedFamilies, Jxf28pInitLeavesExposureAndGainToTheStreamOpen) {
    Start(110, SENSOR_TYPE_JXF28PC, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetAnalogGain(1990), 0);
    ASSERT_EQ(sensor->SetExposureLines(500), 0);
    const double exposure = ExposureUs();
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(Sensor(0x00), 0u);
    EXPECT_EQ(SensorValue({{0x01, 0xFF}, {0x02, 0xFF}}), 8u);
    EXPECT_EQ(Gain(), 1937);
    EXPECT_DOUBLE_EQ(ExposureUs(), exposure);
}

}  // namespace
