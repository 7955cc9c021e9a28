// The Sony SWIR drivers (IMX990, IMX991, IMX992) case by case: line lengths and speed tables,
// long exposures under the hold register and the way back, the frame the FPGA counts, the
// trigger pulse, the gain code and the chip's thermometer.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"
#include "sensors/ImxHoldMap.h"

namespace {

using namespace qvsim;

constexpr uint32_t kMono8 = 0x01080000, kMono12 = 0x01100005;

class SwirImx : public DriverFixture {
  protected:
    uint32_t Vmax() const { return SensorValue({{0x30D4, 0xFF}, {0x30D5, 0xFF}, {0x30D6, 0xFF}}); }
    uint32_t Hmax() const { return SensorValue({{0x30D8, 0xFF}, {0x30D9, 0xFF}}); }
    uint32_t Shr() const { return SensorValue({{0x3240, 0xFF}, {0x3241, 0xFF}, {0x3242, 0xFF}}); }
    uint32_t FpgaFrame111() const { return (dev->FpgaReg(35) | dev->FpgaReg(37) << 16) + 1; }
};

// On board 201 with 8-bit output at speed 2 the IMX990's line is 772 clocks; the GigE boards
// take speed table A; the timing registers hold the window's frame (height + 44).
TEST_F(SwirImx, Imx990GigESpeed) {
    Start(201, SENSOR_TYPE_IMX990I, Window(640, 480), 2, kMono8);
    EXPECT_EQ(Hmax(), 772u);
    EXPECT_EQ(Vmax(), 524u);
    EXPECT_EQ(Sensor(0x3226), 0xA3);
    EXPECT_EQ(Sensor(0x30DC), 0x01);
    EXPECT_NEAR(LineUs(), 772 / 74.25, 1e-9);
    EXPECT_EQ(Param().expLinesMax, static_cast<uint32_t>(3e6 / LineUs()));
    ASSERT_EQ(sensor->SetFrameSpeed(0), 0);
    EXPECT_EQ(Vmax(), 3 * 524u);

    Start(100, SENSOR_TYPE_IMX990I, Window(1280, 1024), 2, kMono12);
    EXPECT_EQ(Hmax(), 972u);
    EXPECT_EQ(Vmax(), 1068u);  // the full window
    EXPECT_EQ(Sensor(0x3226), 0x93);
    EXPECT_EQ(Sensor(0x3104), 0);
}

// An exposure longer than the frame: SHR at the margin (15) and the frame n + 15 under hold; the
// next short one writes its shutter, puts the frame back and only then lets go of the hold.
TEST_F(SwirImx, Imx990LongExposureAndTheWayBack) {
    Start(201, SENSOR_TYPE_IMX990I, Window(640, 480), 2, kMono8);
    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(2000), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x3034, 1}, {0x3240, 15}, {0x3241, 0}, {0x3242, 0}}),
                  Regs({{0x30D4, 2015 & 0xFF}, {0x30D5, 2015 >> 8}, {0x30D6, 0}, {0x3034, 0}})}));
    EXPECT_DOUBLE_EQ(ExposureUs(), 2000 * LineUs());

    trace->Clear();
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Regs({{0x3034, 1}, {0x3240, 424 & 0xFF}, {0x3241, 424 >> 8}, {0x3242, 0}}),
                  Regs({{0x30D4, 524 & 0xFF}, {0x30D5, 524 >> 8}, {0x30D6, 0}}), Reg(0x3034, 0)}));
    EXPECT_EQ(Vmax() - Shr(), 100u);

    // The longest: what the 20-bit frame holds less the margin.
    ASSERT_EQ(sensor->SetExposure(1e12), 0);
    EXPECT_EQ(Vmax(), 0xFFFFFu);
    EXPECT_DOUBLE_EQ(ExposureUs(), (0xFFFFF - 15) * LineUs());
}

// Board 111 counts the frame in the FPGA (registers 35 to 37, and 40 at Init): a long exposure
// stretches that frame, the next short one puts it back.
TEST_F(SwirImx, FpgaCountedFrameOnBoard111) {
    Start(111, SENSOR_TYPE_IMX990I, Window(640, 480), 2, kMono12);
    EXPECT_EQ(FpgaFrame111(), 524u);
    EXPECT_EQ(dev->FpgaReg(36), 752u - 19);
    EXPECT_EQ(dev->FpgaReg(40), 524u);
    ASSERT_EQ(sensor->SetExposureLines(5000), 0);
    EXPECT_EQ(FpgaFrame111(), 5015u);
    EXPECT_EQ(Shr(), 15u);
    EXPECT_EQ(FpgaFrame111() - Shr(), 5000u);
    ASSERT_EQ(sensor->SetExposureLines(300), 0);
    EXPECT_EQ(FpgaFrame111(), 524u);
    EXPECT_EQ(Shr(), 224u);
}

// The IMX992 on board 205: its frame is FPGA register 40, which a long exposure stretches (the
// exposure would otherwise stop at one frame) and the next short one puts back.
TEST_F(SwirImx, Imx992StretchesTheFpgaFrameOnBoard205) {
    Start(205, SENSOR_TYPE_IMX992I, Window(640, 480), 2, kMono8);
    EXPECT_EQ(dev->FpgaReg(40), 524u);
    EXPECT_EQ(Hmax(), 0u);  // the chip's own timing registers stay untouched
    ASSERT_EQ(sensor->SetExposureLines(3000), 0);
    EXPECT_EQ(Shr(), 52u);
    EXPECT_EQ(dev->FpgaReg(40), 3052u);
    EXPECT_EQ(dev->FpgaReg(40) - Shr(), 3000u);
    EXPECT_DOUBLE_EQ(ExposureUs(), 3000 * LineUs());
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_EQ(dev->FpgaReg(40), 524u);
    EXPECT_EQ(Shr(), 424u);
    // Its longest exposure keeps the margin inside 20 bits.
    ASSERT_EQ(sensor->SetExposureLines(0xFFFFFFFF), 0);
    EXPECT_EQ(dev->FpgaReg(40), 0xFFFFFu);
    EXPECT_DOUBLE_EQ(ExposureUs(), 0xFFFCB * LineUs());
}

// The trigger pulse: below 15 us the shortest pulse, 15 reported; the pulse is the whole
// microseconds of the time less the 14 us the chip adds, and the time asked is reported; a time
// past what the 32-bit pulse holds gives the longest pulse and reports what it gives.
TEST_F(SwirImx, TriggerPulse) {
    Start(201, SENSOR_TYPE_IMX991I, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(Sensor(0x3230), 19);
    EXPECT_EQ(Sensor(0x3400), 1);
    struct Case {
        double us;
        int64_t pulse;
        double reported;
    };
    for (const Case& c :
         {Case{10, 1, 15}, Case{100014, 100000, 100014}, Case{100014.75, 100000, 100014.75},
          Case{15.5, 1, 15.5}, Case{1e12, 0xFFFFFFFF, 4294967295.0 + 14}}) {
        SCOPED_TRACE(c.us);
        ASSERT_EQ(sensor->SetExposure(c.us), 0);
        EXPECT_EQ(dev->CallsNamed({"SetTriggerTiming"}).back().args,
                  (std::vector<int64_t>{c.pulse & 0xFFFF, c.pulse >> 16}));
        EXPECT_EQ(ExposureUs(), c.reported);
    }
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Sensor(0x3230), 17);

    Start(111, SENSOR_TYPE_IMX992I, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetTriggerMode(2), 0);
    EXPECT_EQ(Sensor(0x3230), 43);
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Sensor(0x3230), 41);
}

// Gain in 0.1 dB under hold: 30000 is 29.5 dB, code 295; below unity the chip stays at unity.
TEST_F(SwirImx, GainUnderHold) {
    Start(201, SENSOR_TYPE_IMX990I, Window(640, 480), 2, kMono8);
    ASSERT_EQ(sensor->SetAnalogGain(30000), 0);
    EXPECT_TRUE(
        TraceMatches(Steps(), {Regs({{0x3034, 1}, {0x3514, 0x27}, {0x3515, 1}, {0x3034, 0}})}));
    EXPECT_EQ(Gain(), 30000);
    ASSERT_EQ(sensor->SetAnalogGain(10), 0);
    EXPECT_EQ(Sensor(0x3514), 0);
    EXPECT_EQ(Gain(), 1000);
}

// The thermometer: 0x3588 bit 0 latches a reading, 10 ms, then 0x3490 (low) and 0x3491 (high)
// hold a 12-bit two's-complement count of eighths of a degree; the latch bit is put back.
TEST_F(SwirImx, Temperature) {
    struct Case {
        uint16_t raw;
        float celsius;
    };
    for (const Case& c : {Case{0x0F38, -25.0f}, Case{0x00C8, 25.0f}, Case{0x0000, 0.0f},
                          Case{0x07FF, 255.875f}, Case{0x0800, -256.0f}, Case{0x0FFF, -0.125f},
                          Case{0x0147, 40.875f}, Case{0xFF38, -25.0f}}) {
        SCOPED_TRACE(c.raw);
        EXPECT_DOUBLE_EQ(CImxHoldMap::DecodeTemperature(c.raw), c.celsius);
    }

    Start(111, SENSOR_TYPE_IMX991I, Window(640, 480), 2, kMono8);
    dev->SetSensorReg(0x3588, 0x40);
    dev->SetSensorReg(0x3490, 0x38);
    dev->SetSensorReg(0x3491, 0x0F);
    LogCapture log;
    trace->Clear();
    float celsius = 0;
    ASSERT_EQ(sensor->GetTemperature(&celsius), 0);
    EXPECT_FLOAT_EQ(celsius, -25.0f);
    EXPECT_TRUE(TraceMatches(
        Steps(), {Call("ReadReg", {0x3588}), Reg(0x3588, 0x41), Sleep(10),
                  Call("ReadReg", {0x3490}), Call("ReadReg", {0x3491}), Reg(0x3588, 0x40)}));
    EXPECT_EQ(log.Count("IMX992 current temperature -25.000000\n"), 1);

    dev->SetResult("ReadSensorReg", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->GetTemperature(&celsius), CAMERA_STATUS_TIMEOUT);
}

}  // namespace
