// The OmniVision drivers: the OV5640, whose camera runs the chip on its own (the driver only keeps
// the values the SDK reads), and the OV7725 on its 8-bit bus: gain codes, the window inside its
// initialisation list, its speeds, frames of two bytes a pixel and its streaming words.
#include <gtest/gtest.h>

#include "DriverFixture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008;

class OvDriver : public DriverFixture {};

// The OV5640's gain code: eighths below x4.25, then 250ths above x4, then whole steps from x8;
// each gives back the gain asked for.
TEST_F(OvDriver, Ov5640GainCodes) {
    Start(100, SENSOR_TYPE_OV5640, Window(640, 480), 2, kBayer8);
    struct Case {
        uint32_t gain, code;
    };
    for (const Case& c :
         {Case{1000, 8}, Case{2000, 16}, Case{4250, 81}, Case{8000, 96}, Case{9000, 352}}) {
        SCOPED_TRACE(c.gain);
        ASSERT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Gain(), static_cast<int>(c.gain));
    }
    EXPECT_TRUE(Steps().empty());
}

// The OV5640's fixed 1280 x 720 output with 300 and 10 periods of blanking at 20 ns: the first
// Init already has 31.6 us lines and 23.068 ms frames, whatever window the record asks for.
TEST_F(OvDriver, Ov5640TimingAndFixedOutput) {
    Make(0, SENSOR_TYPE_OV5640);
    param = Stream(Window(2592, 1944, 10, 20), 2, kBayer8);
    ASSERT_EQ(sensor->Init(&param), 0);
    int lineNs = 0;
    sensor->GetLineTime(&lineNs);
    EXPECT_EQ(lineNs, 31600);
    double frameUs = 0;
    sensor->GetFrameTime(&frameUs);
    EXPECT_DOUBLE_EQ(frameUs, 23068.0);
    tSdkResolution res{};
    sensor->GetResolution(&res);
    EXPECT_EQ(res.uWidth, 1280u);
    EXPECT_EQ(res.uHeight, 720u);
    EXPECT_EQ(res.iSensorWidth, 2592);
    EXPECT_EQ(ImageInfo().iWidth, 1280u);
    ASSERT_EQ(sensor->SetExposure(1000), 0);
    EXPECT_NEAR(ExposureUs(), 1000, 31.6 / 2);
    EXPECT_TRUE(Steps().empty());
}

// The OV7725's gain: below unity the channel gains scale (0x80 = x1); from unity the high nibble
// doubles per set bit and the low one adds sixteenths, no more than 15 of them, so the top is
// x16 x 31/16.
TEST_F(OvDriver, Ov7725GainCodes) {
    Start(100, SENSOR_TYPE_OV7725, Window(640, 480), 2, kBayer8);
    struct Case {
        uint32_t gain, code, channel, reported;
    };
    for (const Case& c : {Case{3000, 0x18, 128, 3000}, Case{500, 0, 64, 500},
                          Case{1000, 0, 128, 1000}, Case{16000, 0xF0, 128, 16000},
                          Case{31000, 0xFF, 128, 31000}, Case{32000, 0xFF, 128, 31000}}) {
        SCOPED_TRACE(c.gain);
        trace->Clear();
        ASSERT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_TRUE(TraceMatches(
            Steps(),
            {Regs({{0x00, c.code}, {0x01, c.channel}, {0x02, c.channel}, {0x03, c.channel}})}));
        EXPECT_EQ(Gain(), static_cast<int>(c.reported));
    }
}

// The window of a 320 x 240 output from (0, 0) in the initialisation list: the sensor window
// starts at (136, 15) and spans the output and the blanking (338 x 248).
TEST_F(OvDriver, Ov7725WindowInTheInitialisationList) {
    Make(100, SENSOR_TYPE_OV7725);
    param = Stream(Window(320, 240), 2, kBayer8);
    ASSERT_EQ(sensor->Init(&param), 0);
    const auto lists = dev->CallsNamed({"WriteSensorRegs"});
    ASSERT_FALSE(lists.empty());
    EXPECT_EQ(lists[0].args.size(), 2u * 63);
    EXPECT_EQ(Sensor(0x17), 34);
    EXPECT_EQ(Sensor(0x18), 84);
    EXPECT_EQ(Sensor(0x19), 7);
    EXPECT_EQ(Sensor(0x1A), 124);
    EXPECT_EQ(Sensor(0x32), 0x42);
    EXPECT_EQ(Sensor(0x29), 80);
    EXPECT_EQ(Sensor(0x2C), 120);
    EXPECT_EQ(Sensor(0x2A), 0);
    EXPECT_EQ(dev->CallsNamed({"SetSensorInterface"})[0].args, (std::vector<int64_t>{0}));
    // Init ends with 10 lines of exposure.
    EXPECT_EQ(Sensor(0x10), 10);
    EXPECT_EQ(Sensor(0x08), 0);
}

// Two bytes a pixel: a 640 x 480 image is reported 1280 wide, 614400 bytes.
TEST_F(OvDriver, Ov7725FramesOfTwoBytesAPixel) {
    Start(100, SENSOR_TYPE_OV7725, Window(640, 480), 2, kBayer8);
    const stImageInfo info = ImageInfo();
    EXPECT_EQ(info.iWidth, 1280u);
    EXPECT_EQ(info.iHeight, 480u);
    EXPECT_EQ(info.TotalBytes, 614400u);
}

// Three speeds of fixed timing, each with its clock divider; 784 periods a line, 510 lines a
// frame. Any other speed runs as the middle one and is kept as asked.
TEST_F(OvDriver, Ov7725Speeds) {
    Start(100, SENSOR_TYPE_OV7725, Window(640, 480), 2, kBayer8);
    struct Case {
        int speed;
        uint16_t divider, reg22, reg23;
        double lineUs, frameUs;
    };
    for (const Case& c :
         {Case{0, 3, 0x3F, 7, 130.144, 66373.44}, Case{1, 1, 0x7F, 3, 65.072, 33186.72},
          Case{2, 0, 0xFF, 1, 32.144, 16393.44}, Case{3, 1, 0x7F, 3, 65.072, 33186.72},
          Case{-6, 1, 0x7F, 3, 65.072, 33186.72}}) {
        SCOPED_TRACE(c.speed);
        ASSERT_EQ(sensor->SetFrameSpeed(2), 0);
        trace->Clear();
        ASSERT_EQ(sensor->SetFrameSpeed(c.speed), 0);
        EXPECT_TRUE(
            TraceMatches(Steps(), {Regs({{0x11, c.divider}, {0x22, c.reg22}, {0x23, c.reg23}})}));
        EXPECT_EQ(Speed(), c.speed);
        EXPECT_DOUBLE_EQ(LineUs(), c.lineUs);
        double frameUs = 0;
        sensor->GetFrameTime(&frameUs);
        EXPECT_DOUBLE_EQ(frameUs, c.frameUs);
    }
}

// The run word takes pixels in; the stop word follows a soft reset of the chip.
TEST_F(OvDriver, Ov7725Streaming) {
    Start(100, SENSOR_TYPE_OV7725, Window(640, 480), 2, kBayer8);
    ASSERT_EQ(sensor->StreamOn(), 0);
    ASSERT_EQ(sensor->StreamOff(), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Call("SetSensorInterface", {0x84}), Reg(0x12, 0x80),
                                       Call("SetSensorInterface", {4})}));
    // Moving the window changes the members only.
    trace->Clear();
    ASSERT_EQ(sensor->SetRoiOffset(8, 4), 0);
    EXPECT_TRUE(Steps().empty());
    tSdkResolution res{};
    sensor->GetResolution(&res);
    EXPECT_EQ(res.iOffsetX, 8);
    EXPECT_EQ(res.iOffsetY, 4);
}

}  // namespace
