// The Aptina and Micron chip drivers: the cases their programming descriptions single out, and
// the faults of those descriptions that the drivers mend.
#include <gtest/gtest.h>

#include "DriverFixture.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008, kMono8 = 0x01080000, kBayer12 = 0x01100010;

class AptinaMicron : public DriverFixture {
  protected:
    int LineNs() const {
        int ns = 0;
        sensor->GetLineTime(&ns);
        return ns;
    }
    double FrameUs() const {
        double us = 0;
        sensor->GetFrameTime(&us);
        return us;
    }
};

// ---- AR0130, AR0134, AR0135, AR0144 ------------------------------------------------------------

// Board 1 pads the window 20 columns and 10 rows: 1300 columns are below the 1430 minimum, and
// 960 + 10 + 12 rows make the frame; at speed 2 (48 MHz) a line lasts 29791.7 ns.
TEST_F(AptinaMicron, Ar0130LineAndFrameLength) {
    Start(1, SENSOR_TYPE_AR0130, Window(1280, 960, 0, 0, 5), 2, kBayer8);
    EXPECT_NEAR(LineUs() * 1000, 1430 * 1e9 / 48000000, 1e-6);
    EXPECT_NEAR(FrameUs(), 982 * 1430 / 48.0, 1e-6);
    EXPECT_EQ(Sensor(0x300C), 1430u);
    EXPECT_EQ(Sensor(0x300A), 982u);
    // An odd window start: column 100, row 52 (two rows below the even 50).
    Start(1, SENSOR_TYPE_AR0130, Window(640, 480, 101, 51), 2, kBayer8);
    EXPECT_EQ(Sensor(0x3004), 100u);
    EXPECT_EQ(Sensor(0x3002), 52u);
    EXPECT_EQ(Sensor(0x3008), 739u);
    EXPECT_EQ(Sensor(0x3006), 531u);
    // SetExposure (0.1) gives one line, never none.
    EXPECT_EQ(sensor->SetExposure(0.1), 0);
    EXPECT_EQ(Sensor(0x3012), 1u);
}

TEST_F(AptinaMicron, Ar0130GainSteps) {
    Start(1, SENSOR_TYPE_AR0130, Window(640, 480), 2, kBayer8);
    const struct {
        uint32_t gain, inForce;
        uint16_t column, code;
    } kCases[] = {{1249, 1000, 0x00, 0xD208},
                  {1250, 1250, 0x00, 0xD308},
                  {12000, 10000, 0x30, 0xD308},
                  {4500, 4000, 0x20, 0xD208}};
    for (const auto& c : kCases) {
        trace->Clear();
        EXPECT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x30B0, c.column}, {0x3EE4, c.code}})}));
        EXPECT_EQ(Gain(), static_cast<int>(c.inForce)) << c.gain;
    }
}

// 0x30B0 holds the column gain and the trigger bit 10: each change keeps the other.
TEST_F(AptinaMicron, Ar0134KeepsTheTriggerBitAcrossAGainChange) {
    Start(100, SENSOR_TYPE_AR0134C, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(Sensor(0x30B0), 0x0480u);  // 0x80 from the start, bit 10
    EXPECT_EQ(sensor->SetAnalogGain(4000), 0);
    EXPECT_EQ(Sensor(0x30B0), 0x04A0u);
    EXPECT_EQ(sensor->SetFrameSpeed(1), 0);  // the clock list writes the copy too
    EXPECT_EQ(Sensor(0x30B0), 0x04A0u);
    EXPECT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(Sensor(0x30B0), 0x00A0u);
    EXPECT_EQ(Sensor(0x301A), 0x1D94u);
}

// The 1.25 step programs what 1.0 does, and is reported as that.
TEST_F(AptinaMicron, Ar0135GainInForce) {
    Start(110, SENSOR_TYPE_AR0135C, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(sensor->SetAnalogGain(1500), 0);
    EXPECT_EQ(Sensor(0x30B0), 0x0480u);
    EXPECT_EQ(Gain(), 1000);
    EXPECT_EQ(sensor->SetAnalogGain(9000), 0);
    EXPECT_EQ(Sensor(0x30B0), 0x04B0u);
    EXPECT_EQ(Gain(), 8000);
    // Fixed lengths at 74.25 MHz on its boards.
    EXPECT_NEAR(LineUs(), 1388 / 74.25, 1e-9);
    EXPECT_NEAR(FrameUs(), 997 * 1388 / 74.25, 1e-6);
}

// A power of two and sixteenths: 3000 is x2 and 8/16; 1100 is 1 + 1/16 (1062).
TEST_F(AptinaMicron, Ar0144GainAndItsFourChips) {
    Make(201, SENSOR_TYPE_AR0144);
    param = Stream(Window(640, 480), 2, kMono8, 0x1);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(param.channelMask, 0xF);  // the board always runs all four
    EXPECT_EQ(ImageInfo().iWidth, 4 * 640u);
    EXPECT_EQ(sensor->SetAnalogGain(3000), 0);
    EXPECT_EQ(Sensor(0x3060), 0x18u);
    EXPECT_EQ(Gain(), 3000);
    EXPECT_EQ(sensor->SetAnalogGain(1100), 0);
    EXPECT_EQ(Sensor(0x3060), 0x01u);
    EXPECT_EQ(Gain(), 1062);
    // Four chips share the slow clock: 16.875 MHz at speed 2.
    EXPECT_NEAR(LineUs(), 1430 / 16.875, 1e-9);
}

// ---- AR0234, AR052x ----------------------------------------------------------------------------

// Board 9 clocks a narrower window faster: M = 72960 / max(1280, width), M x 1.2 MHz.
TEST_F(AptinaMicron, Ar0234ClockOnBoard9FollowsTheWindowWidth) {
    Start(9, SENSOR_TYPE_AR0234C, Window(1920, 1200), 2, kBayer8);
    EXPECT_EQ(Sensor(0x3030), 38u);
    EXPECT_NEAR(LineUs(), 2448 / 45.6, 1e-9);  // the 2448-period minimum line
    Start(9, SENSOR_TYPE_AR0234C, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(Sensor(0x3030), 57u);
    EXPECT_NEAR(LineUs(), 2448 / 68.4, 1e-9);
    // Board 201: a quarter of 2448 periods at 38.4 MHz, 15937.5 ns.
    Start(201, SENSOR_TYPE_AR0234C, Window(1280, 720), 2, kBayer8);
    EXPECT_NEAR(LineUs() * 1000, 15937.5, 1e-6);
}

// Init's settings, then the analog table of 32 rows with the rows known of it at their places
// (the first three, the last four; the maker's between), then 0x3060 once more.
TEST_F(AptinaMicron, Ar0234AnalogTable) {
    Make(201, SENSOR_TYPE_AR0234C);
    param = Stream(Window(1280, 720), 2, kBayer8);
    trace->Clear();
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_TRUE(ContainsInOrder(
        Steps(),
        {Regs({{0x3044, 0x0410},
               {0x3094, 0x03D4},
               {0x3096, 0x0480},
               {0x30BA, 0x7602},
               {0x30FE, 0x002A}}),
         Regs(RegRows{{0x31DE, 0x0410}, {0x3ED6, 0x1435}, {0x3ED8, 0x9865}} + AnyRows(25) +
              RegRows{{0x3276, 0x05DC}, {0x30BA, 0x7602}, {0x3102, 0x5000}, {0x3060, 0x000D}}),
         Reg(0x3060, 0x000D)}));
    EXPECT_EQ(Sensor(0x3276), 0x05DCu);
    EXPECT_EQ(Sensor(0x3102), 0x5000u);
}

// The binned preset reads the whole 1920 x 1200 field and bins it to 960 x 600.
TEST_F(AptinaMicron, Ar0234BinningReadsTheWholeField) {
    tSdkResolution res = Window(960, 600, 0, 0, 33);
    res.iSensorWidth = 1920;
    res.iSensorHeight = 1200;
    res.uModeB = 1;
    Start(201, SENSOR_TYPE_AR0234M, res, 2, kMono8);
    EXPECT_EQ(Sensor(0x3004), 8u);
    EXPECT_EQ(Sensor(0x3002), 8u);
    EXPECT_EQ(Sensor(0x3008), 8u + 1920 - 1);
    EXPECT_EQ(Sensor(0x3006), 8u + 1200 - 1);
    EXPECT_EQ(Sensor(0x3040), 0x3000u);
    EXPECT_EQ(Sensor(0x30A2), 3u);
    EXPECT_EQ(Sensor(0x30A6), 3u);
    tSdkResolution back{};
    sensor->GetResolution(&back);
    EXPECT_EQ(back.uModeB, 1u);
    EXPECT_EQ(ImageInfo().iWidth, 960u);
}

TEST_F(AptinaMicron, Ar0234GainCodesAndThreeChipsOnBoard106) {
    Start(100, SENSOR_TYPE_AR0234C, Window(640, 480), 2, kBayer8);
    const struct {
        uint32_t gain;
        uint16_t code;
        int inForce;
    } kCases[] = {{2500, 320, 2500}, {20000, 2048, 16000}, {1001, 128, 1000}};
    for (const auto& c : kCases) {
        EXPECT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Sensor(0x305E), c.code);
        EXPECT_EQ(Gain(), c.inForce);
    }
    Make(106, SENSOR_TYPE_AR0234C);
    param = Stream(Window(640, 480), 2, kBayer8, 0x0B);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(param.channelMask, 0x0B);
    EXPECT_EQ(dev->FpgaReg(40), 0x0Bu);
    EXPECT_EQ(Sensor(0x3030), 132u);  // the three-chip clock, 29.7 MHz
    EXPECT_NEAR(LineUs(), 2448 * 0.25 / 29.7, 1e-9);
    EXPECT_EQ(ImageInfo().iWidth, 3 * 640u);
}

// The identity register: 0x04 in bits 8 to 15 with bit 12 ignored, 0x57 in bits 0 to 7.
TEST_F(AptinaMicron, Ar052xIdentity) {
    for (const auto& [id, accepted] :
         {std::pair{0x1457, true}, {0x0457, true}, {0x0557, false}, {0x0456, false}}) {
        CFakeDevice device;
        device.SetHardwareType(201);
        device.SetSensorReg(0x3000, static_cast<uint16_t>(id));
        std::unique_ptr<SensorInf> made(SensorInf::CreateSensor(SENSOR_TYPE_AR0521C, &device));
        EXPECT_EQ(made != nullptr, accepted) << std::hex << id;
        EXPECT_EQ(device.CallsNamed({"SetSensorBus"}).front().args,
                  (std::vector<int64_t>{0x6C, 0x22}));
    }
}

// The frame speed reaches the chip: Init programs the model's lengths, and a window move
// rewrites the same ones.
TEST_F(AptinaMicron, Ar052xProgramsTheTimingItReports) {
    Start(201, SENSOR_TYPE_AR0521C, Window(2592, 1944, 0, 0, 11), 0, kBayer8);
    EXPECT_EQ(Sensor(0x300C), 8000u);
    EXPECT_EQ(Sensor(0x300A), 2346u * 4);
    EXPECT_NEAR(LineUs() * 1000, 8000 * 1e9 / 462000000 * 0.5, 1e-6);  // 8658.0 ns
    EXPECT_NEAR(FrameUs(), 9384 * LineUs(), 1e-6);
    EXPECT_EQ(sensor->SetRoiOffset(4, 2), 0);
    EXPECT_TRUE(ContainsInOrder(Steps(), {Reg(0x300C, 8000), Reg(0x300A, 9384)}));
    // The gain is not driven: unity stays in force and is reported.
    trace->Clear();
    EXPECT_EQ(sensor->SetAnalogGain(5000), 0);
    EXPECT_EQ(Gain(), 1000);
    EXPECT_TRUE(Steps().empty());
}

// ---- The 16-bit exposure registers ----------------------------------------------------------

// Beyond 65535 lines the register stops there, and the exposure reported is the one in force.
TEST_F(AptinaMicron, SixteenBitExposureRegistersStopAtTheirTop) {
    const struct {
        SensorTypeE code;
        int hw;
        uint16_t reg;
    } kCases[] = {{SENSOR_TYPE_AR0130, 1, 0x3012},
                  {SENSOR_TYPE_AR0234M, 201, 0x3012},
                  {SENSOR_TYPE_MT9J003C, 1, 0x0202},
                  {SENSOR_TYPE_MT9M001, 1, 0x09}};
    for (const auto& c : kCases) {
        Start(c.hw, c.code, Window(640, 480), 2, c.code == SENSOR_TYPE_AR0234M ? kMono8 : kBayer8);
        for (uint32_t lines : {65535u, 65536u, 100000u, 0xFFFFFFFFu}) {
            EXPECT_EQ(sensor->SetExposureLines(lines), 0);
            EXPECT_EQ(Sensor(c.reg), 0xFFFFu) << c.code << " " << lines;
        }
        // The MT9M001 exposes 180 periods (3.75 us at 48 MHz) less than its lines.
        const double overheadUs = c.code == SENSOR_TYPE_MT9M001 ? 3.75 : 0;
        EXPECT_NEAR(ExposureUs(), 65535 * LineUs() - overheadUs, 1e-6) << c.code;
        EXPECT_EQ(sensor->SetExposure(1e10), 0);
        EXPECT_EQ(Sensor(c.reg), 0xFFFFu);
    }
    // The MT9P031 has the upper word in 0x08.
    Start(100, SENSOR_TYPE_MT9P031C, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_EQ(Sensor(0x08), 1u);
    EXPECT_EQ(Sensor(0x09), 100000u - 65536);
}

// ---- MT9J003 -----------------------------------------------------------------------------------

// Board 1 pads the 3840-wide window by w + 300 and 250 rows; the line counts in pixel pairs.
TEST_F(AptinaMicron, Mt9j003WindowAndLineTime) {
    Start(1, SENSOR_TYPE_MT9J003C, Window(3840, 2748), 2, kBayer8);
    EXPECT_EQ(Sensor(0x0342), 8080u);
    EXPECT_EQ(Sensor(0x0340), 2998u);
    EXPECT_NEAR(LineUs() * 1000, 4040 * 1e9 / 48000000, 1e-6);  // 84166.7 ns
    EXPECT_EQ(Sensor(0x3016), 0x0121u);
    EXPECT_DOUBLE_EQ(ExposureUs(), 3840 * LineUs());  // one line per output column
    // Skipping by 2: increments 3, the window end 3 short of the field.
    tSdkResolution res = Window(1920, 1374, 0, 0);
    res.iSensorWidth = 3840;
    res.iSensorHeight = 2748;
    res.uModeC = 1;
    Start(1, SENSOR_TYPE_MT9J003C, res, 2, kBayer8);
    EXPECT_EQ(Sensor(0x0382), 3u);
    EXPECT_EQ(Sensor(0x0386), 3u);
    EXPECT_EQ(Sensor(0x3008), 112u + 3840 - 3);
    // Two chips on board 7 keep the half row speed at speed 2.
    Make(7, SENSOR_TYPE_MT9J003C);
    param = Stream(Window(640, 480), 2, kBayer8, 0x7);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(param.channelMask, 3);
    EXPECT_EQ(Sensor(0x3016), 0x0222u);
    EXPECT_EQ(dev->FpgaReg(40), 3u);
    EXPECT_EQ(ImageInfo().iWidth, 2 * 640u);
}

TEST_F(AptinaMicron, Mt9j003GainRanges) {
    Start(1, SENSOR_TYPE_MT9J003C, Window(640, 480), 2, kBayer8);
    const struct {
        uint32_t gain;
        uint16_t code;
        int inForce;
    } kCases[] = {{3000, 0x1860, 3000}, {1700, 0x107F, 1484}, {900, 0x1060, 1000},
                  {2000, 0x1840, 2000}, {4000, 0x1C40, 4000}, {8000, 0x1CC0, 8000}};
    for (const auto& c : kCases) {
        EXPECT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Sensor(0x305E), c.code) << c.gain;
        EXPECT_EQ(Gain(), c.inForce) << c.gain;
    }
}

// ---- MT9M001, MT9P031 --------------------------------------------------------------------------

// On an unknown board the speed sets the horizontal blank at 48 MHz; the exposure runs 180
// periods short of its lines.
TEST_F(AptinaMicron, Mt9m001OnAnUnknownBoard) {
    Start(0, SENSOR_TYPE_MT9M001, Window(1280, 1024), 0, kMono8);
    EXPECT_NEAR(LineUs() * 1000, 3345 * 1e9 / 48000000, 1e-6);  // 69687.5 ns
    EXPECT_NEAR(FrameUs(), 1034 * LineUs(), 1e-6);
    EXPECT_EQ(sensor->SetExposure(1000.0), 0);
    EXPECT_EQ(Sensor(0x09), 14u);
    EXPECT_NEAR(ExposureUs(), 971.875, 1e-9);
    EXPECT_EQ(sensor->SetFrameSpeed(2), 0);
    EXPECT_NEAR(LineUs() * 1000, 1855 * 1e9 / 48000000, 1e-6);
    EXPECT_TRUE(ContainsInOrder(Steps(), {Regs({{0x05, 350}, {0x06, 10}})}));
}

TEST_F(AptinaMicron, MicronGainCodes) {
    Start(1, SENSOR_TYPE_MT9M001_B, Window(640, 480), 2, kBayer8);
    const struct {
        uint32_t gain;
        uint16_t code;
        int inForce;
    } kCases[] = {{4249, 33, 4125}, {4250, 81, 4250}, {10500, 608, 10000},
                  {1000, 8, 1000},  {8000, 96, 8000}, {9000, 352, 9000}};
    for (const auto& c : kCases) {
        EXPECT_EQ(sensor->SetAnalogGain(c.gain), 0);
        EXPECT_EQ(Sensor(0x35), c.code) << c.gain;
        EXPECT_EQ(Gain(), c.inForce) << c.gain;
    }
    // Init leaves code 16 in the chip, which is x2: reported as such.
    Start(1, SENSOR_TYPE_MT9M001_B, Window(640, 480), 2, kBayer8);
    EXPECT_EQ(Sensor(0x35), 16u);
    EXPECT_EQ(Gain(), 2000);
    SensorInfo info{};
    sensor->GetInfo(&info);
    EXPECT_EQ(info.type, 12);
    EXPECT_STREQ(info.name, "MT9M001");
    EXPECT_EQ(Capability().isMono, 0);
}

// Speed 2 on board 1 (48 MHz), no skipping, a 2592-wide field: the longer of 486 and
// 301 + 1296 periods, twice: 66541.7 ns.
TEST_F(AptinaMicron, Mt9p031LineTime) {
    Start(1, SENSOR_TYPE_MT9P031C, Window(2592, 1944), 2, kBayer8);
    EXPECT_NEAR(LineUs() * 1000, 2 * 1597 * 1e9 / 48000000, 1e-6);
    trace->Clear();
    EXPECT_EQ(sensor->SetFrameSpeed(3), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(Steps().empty());
    // The triggered modes let the chip settle for 300 ms.
    EXPECT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(Steps().back().ToString(), Sleep(300).ToString());
    // A window move while streaming writes the new start.
    trace->Clear();
    EXPECT_EQ(sensor->SetRoiOffset(100, 50), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Regs({{0x01, 102}, {0x02, 112}})}));
}

}  // namespace
