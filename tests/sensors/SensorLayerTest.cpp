// The shared driver layer: pixel formats, the FPGA image window, the driver clock, the reset and
// trigger steps, the channel mask, the shutter engine of the Sony chips, the gain encoders and
// the chip identity check, the FPGA frame timing and changes made with the stream stopped.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "LogCapture.h"
#include "SensorTrace.h"
#include "TestChip.h"
#include "sensors/SensorGain.h"

namespace {

using namespace qvsim;

class SensorLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        CTestChip::formats = {sensor::kBayerGR8, sensor::kBayerGR12};
        CTestChip::mono = false;
        dev = std::make_shared<CFakeDevice>();
        dev->SetHardwareType(4);
    }
    CVirtualSensorClock clock;  // no test waits for real
    std::shared_ptr<CFakeDevice> dev;
};

// ---- Pixel formats --------------------------------------------------------------------------

TEST_F(SensorLayer, PixelFormatSetsTheBitModeOfTheCodeTaken) {
    struct Case {
        uint32_t format;
        uint16_t bitMode;
    };
    const Case cases[] = {
        {0x01080000, 0},  {0x01080002, 0},  {0x01080008, 0},  {0x0108000B, 0},  {0x010C0006, 32},
        {0x01100005, 32}, {0x01100010, 32}, {0x01100013, 32}, {0x0210001F, 48},
    };
    for (const Case& c : cases) {
        CTestChip::formats = {sensor::kBayerGR8, c.format};
        CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
        LogCapture log;
        EXPECT_EQ(chip.SetPixelFormat(c.format), 0);
        EXPECT_EQ(chip.PixelFormat(), c.format) << std::hex << c.format;
        EXPECT_EQ(chip.BitMode(), c.bitMode) << std::hex << c.format;
        EXPECT_TRUE(log.Lines().empty());
    }
}

TEST_F(SensorLayer, UnlistedFormatFallsBackToTheFirstListedWithItsLogLine) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    LogCapture log;
    EXPECT_EQ(chip.SetPixelFormat(0x01080000), 0);
    EXPECT_EQ(chip.PixelFormat(), 0x01080008u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0],
              "Set the pixel format 17301504 current sensor don't support, use the default "
              "format\r\n");
}

TEST_F(SensorLayer, UnrecognisedFormatKeepsOneBytePerPixelAndSaysSo) {
    CTestChip::formats = {0x02180014};
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    LogCapture log;
    chip.SetPixelFormat(0x02180014);
    EXPECT_EQ(chip.BitMode(), 0);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "The bayer format we don't recognize, format 0x2180014\r\n");
}

// A capability without formats must not be read past its end: the chip's 8-bit default stands in.
TEST_F(SensorLayer, EmptyFormatListFallsBackToTheEightBitDefault) {
    CTestChip::formats = {};
    CTestChip colour(SENSOR_TYPE_AR0130, dev.get());
    EXPECT_EQ(colour.PixelFormat(), 0x01080008u);
    CTestChip::mono = true;
    CTestChip monoChip(SENSOR_TYPE_AR0130, dev.get());
    EXPECT_EQ(monoChip.PixelFormat(), 0x01080000u);
}

// ---- FPGA image window ----------------------------------------------------------------------

TEST_F(SensorLayer, ImageWindowRingHoldsWholeFramesOnMebibyteBoundaries) {
    struct Case {
        int hw;
        uint32_t format;
        unsigned width, height;
        int64_t bits, start, end, step;
    };
    // 1920 x 1080 + 256 = 2073856 bytes -> 2 MiB, 64 frames in 128 MiB; twice that at two bytes
    // per pixel (4147456 -> 4 MiB, 32 frames); 1280 x 720 + 256 = 921856 -> 1 MiB. Board 205
    // starts the ring at 1 MiB: 63 frames of 2 MiB end at 0x7F00000.
    const Case cases[] = {
        {4, sensor::kBayerGR8, 1920, 1080, 8, 0, 0x8000000, 0x200000},
        {4, sensor::kBayerGR12, 1920, 1080, 16, 0, 0x8000000, 0x400000},
        {201, sensor::kBayerGR8, 1280, 720, 8, 0, 0x8000000, 0x100000},
        {205, sensor::kBayerGR8, 1920, 1080, 8, 0x100000, 0x7F00000, 0x200000},
    };
    for (const Case& c : cases) {
        dev->SetHardwareType(c.hw);
        CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
        chip.SetPixelFormat(c.format);
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.SetupImageWindow(13, 28, c.width, c.height, c.width, c.height, 0x8000000, 2),
                  0);
        EXPECT_TRUE(TraceMatches(
            trace.Steps(),
            {Call("SetImageWindow", {13, 28, c.width, c.height, c.width, c.height, c.bits}),
             Call("SetFrameBuffer", {c.start, c.end, c.step, 2}),
             Call("SetFpgaPixelFormat", {c.format})}))
            << "board " << c.hw;
    }
}

TEST_F(SensorLayer, ImageWindowIsLeftAloneOnBoardsWithoutOne) {
    for (int hw : {0, 109, 303, 400}) {
        dev->SetHardwareType(hw);
        CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.SetupImageWindow(0, 0, 1920, 1080, 1920, 1080, 0x8000000, 0), 0);
        EXPECT_TRUE(trace.Steps().empty()) << "board " << hw;
    }
}

TEST_F(SensorLayer, ImageWindowStopsAtTheFirstFailure) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    dev->SetResult("SetImageWindow", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(chip.SetupImageWindow(0, 0, 1920, 1080, 1920, 1080, 0x8000000, 0),
              CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(trace.Steps().size(), 1u);
}

// A limit too small for one frame would give the FPGA an empty ring.
TEST_F(SensorLayer, ImageWindowRejectsARingWithoutRoomForOneFrame) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    EXPECT_EQ(chip.SetupImageWindow(0, 0, 1920, 1080, 1920, 1080, 0x100000, 0),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(dev->CallCount("SetFrameBuffer"), 0u);
}

TEST_F(SensorLayer, FrameBufferModePassesOneToThreeOnly) {
    EXPECT_EQ(CTestChip::GetFrameBufferMode(0), 0u);
    EXPECT_EQ(CTestChip::GetFrameBufferMode(1), 1u);
    EXPECT_EQ(CTestChip::GetFrameBufferMode(2), 2u);
    EXPECT_EQ(CTestChip::GetFrameBufferMode(3), 3u);
    EXPECT_EQ(CTestChip::GetFrameBufferMode(4), 0u);
}

// ---- Reset, clock, timing -------------------------------------------------------------------

TEST_F(SensorLayer, ResetPausesRunOnTheDriverClock) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    EXPECT_EQ(chip.Reset(), 0);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Call("SetGpioMode", {28, 0}), Call("WriteGpio", {28, 0}), Sleep(10),
         Call("WriteGpio", {28, 1}), Sleep(10), Call("SetSensorBus", {0x20, 0x22}), Sleep(20)}));
    EXPECT_EQ(trace.Clock().SleptMs(), 40u);
}

TEST_F(SensorLayer, ResetLinesOfEveryKind) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    dev->SetFpgaReg(15, 0x000310C1);  // interface bits and the reset bit set, kept around the pulse
    {
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.PulseReset(sensor::FpgaBitReset()), 0);
        EXPECT_TRUE(TraceMatches(trace.Steps(), {Call("ReadFpga", {15}), Fpga(15, 0x000210C1),
                                                 Sleep(10), Fpga(15, 0x000310C1), Sleep(10)}));
    }
    {
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.PulseReset(sensor::GpioPairReset(23, 71)), 0);
        EXPECT_TRUE(TraceMatches(
            trace.Steps(), {Call("SetGpioMode", {23, 0}), Call("WriteGpio", {23, 0}),
                            Call("SetGpioMode", {71, 0}), Call("WriteGpio", {71, 0}), Sleep(10),
                            Call("WriteGpio", {23, 1}), Call("WriteGpio", {71, 1}), Sleep(10)}));
    }
    {
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.PulseReset(sensor::GpioPairTogetherReset(23, 71)), 0);
        EXPECT_TRUE(TraceMatches(
            trace.Steps(), {Call("SetGpioMode", {23, 0}), Call("SetGpioMode", {71, 0}),
                            Call("WriteGpio", {23, 0}), Call("WriteGpio", {71, 0}), Sleep(10),
                            Call("WriteGpio", {23, 1}), Call("WriteGpio", {71, 1}), Sleep(10)}));
    }
    {
        // Two lines in order: GPIO 65 driven low, then the pair pulse.
        CSensorTrace trace(*dev);
        EXPECT_EQ(
            chip.PulseReset(sensor::Then(sensor::GpioLevel(65, 0), sensor::GpioPairReset(23, 71))),
            0);
        const auto steps = trace.Steps();
        ASSERT_EQ(steps.size(), 10u);
        EXPECT_TRUE(TraceMatches({steps.begin(), steps.begin() + 3},
                                 {Call("SetGpioMode", {65, 0}), Call("WriteGpio", {65, 0}),
                                  Call("SetGpioMode", {23, 0})}));
    }
    {
        // The two-line pulse: 66 and 65 as outputs, 66 low and 65 at its level, 100 ms, 66 high
        // and the wait after it (none here).
        CSensorTrace trace(*dev);
        EXPECT_EQ(chip.PulseReset(sensor::TwoLineReset(66, 65, 1, 0)), 0);
        EXPECT_TRUE(TraceMatches(
            trace.Steps(),
            {Call("SetGpioMode", {66, 0}), Call("SetGpioMode", {65, 0}), Call("WriteGpio", {66, 0}),
             Call("WriteGpio", {65, 1}), Sleep(100), Call("WriteGpio", {66, 1})}));
        trace.Clear();
        EXPECT_EQ(chip.PulseReset(sensor::TwoLineReset(66, 65, 0, 20)), 0);
        EXPECT_EQ(trace.Steps().back().ToString(), Sleep(20).ToString());
    }
    {
        CSensorTrace trace(*dev);
        dev->SetResult("WriteGpio", CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(chip.Reset(), CAMERA_STATUS_IO_ERROR);
        EXPECT_TRUE(TraceMatches(trace.Steps(),
                                 {Call("SetGpioMode", {28, 0}), Call("WriteGpio", {28, 0})}));
    }
}

TEST_F(SensorLayer, ClockSettingRecordsItsInputClockOnlyWhenSent) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    dev->SetResult("SetPll", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(chip.ApplyPll(sensor::Pll({24, 1, 1, 1, 10, 17, 13, 6}, 36705882)),
              CAMERA_STATUS_COMM_ERROR);
    dev->ClearResults();
    CSensorTrace trace(*dev);
    EXPECT_EQ(chip.ApplyPll(sensor::NoPll(36000000)), 0);
    EXPECT_TRUE(trace.Steps().empty());
}

TEST_F(SensorLayer, LinesOfATimeRoundToTheNearestLineWithinTheirRange) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    EXPECT_EQ(chip.LinesForUs(1000, 2), 2u);  // no line time yet: the minimum
    // 1100 periods of a 146823528 Hz counting clock: 7491.99 ns per line.
    chip.SetLineTiming(1100, 1125, 146823528);
    EXPECT_NEAR(chip.LineTimeNs(), 7491.987, 0.001);
    EXPECT_EQ(chip.LinesForUs(1000, 2), 133u);  // 133.47 lines + 0.5, truncated
    EXPECT_EQ(chip.LinesForUs(3.7, 2), 2u);     // 0.49 + 0.5 -> 0, raised to the minimum
    EXPECT_EQ(chip.LinesForUs(-5, 1), 1u);
    EXPECT_EQ(chip.LinesForUs(NAN, 1), 1u);
    // 1e12 us is 1.3e11 lines: past any field, and past what a 32-bit conversion may take.
    EXPECT_EQ(chip.LinesForUs(1e12, 1), 0xFFFFFFFFu);
}

// ---- Trigger and channels -------------------------------------------------------------------

TEST_F(SensorLayer, TriggerModesRewriteTheControlWord) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    ASSERT_EQ(dev->SetTriggerControl(0, 3, 0, 0), 0);  // external source 3 selected before
    CSensorTrace trace(*dev);
    EXPECT_EQ(chip.SetTriggerMode(1), 0);
    EXPECT_EQ(chip.SetTriggerMode(2), 0);
    EXPECT_EQ(chip.SetTriggerMode(0), 0);
    EXPECT_EQ(chip.SetTriggerMode(5), 0);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Call("GetTriggerControl"), Call("SetTriggerControl", {0x108, 6, 1, 1}),
         Call("SetTriggerTiming", {2000, 50000}), Call("GetTriggerControl"),
         Call("SetTriggerControl", {0x108, 6, 1, 1}), Call("SetTriggerTiming", {2000, 50000}),
         Call("GetTriggerControl"), Call("SetTriggerControl", {0x108, 0, 1, 0})}));

    // Hardware trigger keeps the source the word holds; unreadable, the external line 1.
    dev->SetTriggerControl(0x40, 3, 0, 0);
    trace.Clear();
    chip.SetTriggerMode(2);
    dev->SetResult("GetTriggerControl", CAMERA_STATUS_COMM_ERROR);
    chip.SetTriggerMode(2);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Call("GetTriggerControl"), Call("SetTriggerControl", {0x148, 3, 1, 1}),
         Call("SetTriggerTiming", {2000, 50000}), Call("GetTriggerControl"),
         Call("SetTriggerControl", {0x108, 1, 1, 1}), Call("SetTriggerTiming", {2000, 50000})}));
}

TEST_F(SensorLayer, ChannelMaskKeepsFourBitsAndCountsThem) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CameraInitParam param{};
    param.channelMask = 0x35;
    uint8_t count = 0;
    CSensorTrace trace(*dev);
    EXPECT_EQ(chip.TakeChannelMask(param, count, 40), 0);
    EXPECT_EQ(param.channelMask, 0x5);
    EXPECT_EQ(count, 2);
    param.channelMask = 0x30;
    EXPECT_EQ(chip.TakeChannelMask(param, count, 40), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(TraceMatches(trace.Steps(), {Fpga(40, 5)}));
}

// ---- Shutter engine ---------------------------------------------------------------------------
// The frame-length/shutter layouts of three chips that share the engine, with their register
// addresses and margins.

constexpr sensor::RegField kImx178Vmax[] = {{0x302C, 0, 0xFF}, {0x302D, 8, 0xFF}, {0x302E, 16, 1}};
constexpr sensor::RegField kImx178Shs[] = {{0x3034, 0, 0xFF}, {0x3035, 8, 0xFF}, {0x3036, 16, 1}};
constexpr ShutterLayout kImx178{kImx178Vmax, kImx178Shs, 8, 8, 8, 0, false, 0x1FFFF};

constexpr sensor::RegField kImx225Vmax[] = {{0x3018, 0, 0xFF}, {0x3019, 8, 0xFF}, {0x301A, 16, 1}};
constexpr sensor::RegField kImx225Shs[] = {{0x3020, 0, 0xFF}, {0x3021, 8, 0xFF}, {0x3022, 16, 1}};
constexpr ShutterLayout kImx225{kImx225Vmax, kImx225Shs, 3, 3, 2, 1, false, 0x1FFFC};

TEST_F(SensorLayer, ShutterFitsTheFrameUpToItsMarginThenStretchesIt) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    bool longFrame = false;
    uint32_t inForce = 0;
    // IMX178 with a 2980-line frame: 2972 lines (frame - 8) fit with SHS 8; 2973 stretch the
    // frame to 2981 (0xBA5) with SHS 8; 100 lines then write SHS 2880 (0xB40) and give the frame
    // its length back.
    EXPECT_EQ(chip.WriteShutter(kImx178, 2972, 2980, longFrame, &inForce), 0);
    EXPECT_FALSE(longFrame);
    EXPECT_EQ(chip.WriteShutter(kImx178, 2973, 2980, longFrame, &inForce), 0);
    EXPECT_TRUE(longFrame);
    EXPECT_EQ(inForce, 2973u);
    EXPECT_EQ(chip.WriteShutter(kImx178, 100, 2980, longFrame, &inForce), 0);
    EXPECT_FALSE(longFrame);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Regs({{0x3034, 8}, {0x3035, 0}, {0x3036, 0}}),
         Regs({{0x302C, 0xA5}, {0x302D, 0x0B}, {0x302E, 0}, {0x3034, 8}, {0x3035, 0}, {0x3036, 0}}),
         Regs({{0x3034, 0x40}, {0x3035, 0x0B}, {0x3036, 0}}),
         Regs({{0x302C, 0xA4}, {0x302D, 0x0B}, {0x302E, 0}})}));
}

// A stretch stops at what the frame-length field holds, and says how many lines that leaves.
TEST_F(SensorLayer, ShutterStretchStopsAtTheFieldWidth) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    bool longFrame = false;
    uint32_t inForce = 0;
    EXPECT_EQ(chip.WriteShutter(kImx178, 131064, 2980, longFrame, &inForce), 0);
    EXPECT_EQ(inForce, 131063u);
    EXPECT_TRUE(TraceMatches(trace.Steps(), {Regs({{0x302C, 0xFF},
                                                   {0x302D, 0xFF},
                                                   {0x302E, 1},
                                                   {0x3034, 8},
                                                   {0x3035, 0},
                                                   {0x3036, 0}})}));
}

TEST_F(SensorLayer, ShutterWithAnOffsetAndAShorterStretchShutter) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    bool longFrame = false;
    // IMX225 with a 1100-line frame: 1098 lines stretch it to 1101 (0x44D) with SHS1 2; 1097
    // fit with SHS1 = 1100 - 1097 - 1 = 2 and restore the frame length after the shutter.
    EXPECT_EQ(chip.WriteShutter(kImx225, 1098, 1100, longFrame), 0);
    EXPECT_EQ(chip.WriteShutter(kImx225, 1097, 1100, longFrame), 0);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Regs({{0x3018, 0x4D}, {0x3019, 0x04}, {0x301A, 0}, {0x3020, 2}, {0x3021, 0}, {0x3022, 0}}),
         Regs({{0x3020, 2}, {0x3021, 0}, {0x3022, 0}}),
         Regs({{0x3018, 0x4C}, {0x3019, 0x04}, {0x301A, 0}})}));
}

TEST_F(SensorLayer, ShutterKeepsTheStretchWhenItsRestoreFails) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    bool longFrame = false;
    ASSERT_EQ(chip.WriteShutter(kImx178, 5000, 2980, longFrame), 0);
    dev->onWriteSensorReg = [](uint16_t reg, uint16_t) {
        return reg == 0x302C ? CAMERA_STATUS_COMM_ERROR : 0;
    };
    EXPECT_EQ(chip.WriteShutter(kImx178, 100, 2980, longFrame), CAMERA_STATUS_COMM_ERROR);
    EXPECT_TRUE(longFrame);  // the next short exposure tries the restore again
}

// IMX183: frame count in 0x0D (low) and 0x0E (high), the shutter start high byte first in 0x0C
// and 0x0B; a start at most 7 lines into the frame moves to the next frame. IMX377 writes the
// count on every call.
constexpr sensor::RegField kImx183Count[] = {{0x0D, 0, 0xFF}, {0x0E, 8, 0xFF}};
constexpr sensor::RegField kImx183Shutter[] = {{0x0C, 8, 0xFF}, {0x0B, 0, 0xFF}};
constexpr FrameCountLayout kImx183{kImx183Count, kImx183Shutter, 7, true};
constexpr sensor::RegField kImx377Count[] = {{0x300D, 0, 0xFF}, {0x300E, 8, 0xFF}};
constexpr sensor::RegField kImx377Shutter[] = {{0x300C, 8, 0xFF}, {0x300B, 0, 0xFF}};
constexpr FrameCountLayout kImx377{kImx377Count, kImx377Shutter, 7, false};

TEST_F(SensorLayer, FrameCountShutterSpansWholeFrames) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    uint16_t count = 0xFFFF;  // nothing written yet
    // A 4000-line frame: 3992 lines (frame - 8) give k 0, s 8; 3993 (frame - 7) would give s 7,
    // so k 1 and s 4007 (0xFA7); 10000 lines give k 2, s 2000 (0x7D0); 10001 keep k 2.
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 3992, 4000, count), 0);
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 3993, 4000, count), 0);
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 10000, 4000, count), 0);
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 10001, 4000, count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Regs({{0x0D, 0}, {0x0E, 0}}), Regs({{0x0C, 0}, {0x0B, 8}}), Regs({{0x0D, 1}, {0x0E, 0}}),
         Regs({{0x0C, 0x0F}, {0x0B, 0xA7}}), Regs({{0x0D, 2}, {0x0E, 0}}),
         Regs({{0x0C, 0x07}, {0x0B, 0xD0}}), Regs({{0x0C, 0x07}, {0x0B, 0xCF}})}));

    trace.Clear();
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx377, 100, 4000, count), 0);
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx377, 100, 4000, count), 0);
    EXPECT_EQ(trace.Steps().size(), 4u);

    // A failed count write leaves the remembered count alone.
    dev->SetResult("WriteSensorRegs", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 20000, 4000, count), CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(count, 0);
}

// The frame count holds 16 bits: the longest exposure is 65535 whole frames.
TEST_F(SensorLayer, FrameCountShutterStopsAtWhatTheCountHolds) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    EXPECT_EQ(CTestChip::FrameCountMaxLines(kImx183, 4000), 65535u * 4000);
    EXPECT_EQ(CTestChip::FrameCountMaxLines(kImx183, 100000), 0xFFFFFFFFu);
    CSensorTrace trace(*dev);
    uint16_t count = 0;
    EXPECT_EQ(chip.WriteFrameCountShutter(kImx183, 0xFFFFFFFFu, 4000, count), 0);
    EXPECT_EQ(count, 0xFFFF);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(), {Regs({{0x0D, 0xFF}, {0x0E, 0xFF}}), Regs({{0x0C, 0x0F}, {0x0B, 0xA0}})}));
}

// The FPGA's frame timing: through SetImageTiming the frame length holds 16 bits; boards with
// timing registers of their own take it whole, as frame - 1 in two halves.
TEST_F(SensorLayer, FrameTimingHoldsWhatItsPathCarries) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    CSensorTrace trace(*dev);
    uint32_t inForce = 0;
    EXPECT_EQ(chip.WriteFrameTiming(4024, 152, 0, &inForce), 0);
    EXPECT_EQ(inForce, 4024u);
    EXPECT_EQ(chip.WriteFrameTiming(100009, 152, 0, &inForce), 0);
    EXPECT_EQ(inForce, 65535u);
    EXPECT_EQ(chip.WriteFrameTiming(0, 152, 0, &inForce), 0);
    EXPECT_EQ(inForce, 1u);
    EXPECT_EQ(chip.WriteFrameTiming(100009, 1422, 18, &inForce), 0);
    EXPECT_EQ(inForce, 100009u);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(),
        {Call("SetImageTiming", {4024, 152, 18}), Call("SetImageTiming", {65535, 152, 18}),
         Call("SetImageTiming", {1, 152, 18}), Fpga(18, 0x86A8), Fpga(19, 1403), Fpga(20, 1)}));

    // All three registers are written; the first failure is the result and nothing is in force.
    trace.Clear();
    dev->onWriteFpgaReg = [](uint16_t reg, uint32_t) {
        return reg == 19 ? CAMERA_STATUS_IO_ERROR : 0;
    };
    inForce = 7;
    EXPECT_EQ(chip.WriteFrameTiming(5000, 1422, 18, &inForce), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(inForce, 7u);
    EXPECT_EQ(trace.Steps().size(), 3u);
}

// A change that needs the chip stopped: a running stream is stopped and started again, also
// when the change failed; a paused one stays paused.
TEST_F(SensorLayer, ChangesWithTheStreamStopped) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    std::vector<std::string> order;
    auto stop = [&] { return order.push_back("stop"), 0; };
    auto start = [&] { return order.push_back("start"), 0; };
    auto change = [&] { return order.push_back("change"), 0; };
    auto failing = [&] { return order.push_back("change"), CAMERA_STATUS_IO_ERROR; };

    EXPECT_EQ(chip.WhileStopped(stop, change, start), 0);
    EXPECT_EQ(order, std::vector<std::string>{"change"});
    chip.SetStreaming(true);
    order.clear();
    EXPECT_EQ(chip.WhileStopped(stop, failing, start), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(order, (std::vector<std::string>{"stop", "change", "start"}));
    // A failed restart is reported when the change itself went through.
    order.clear();
    EXPECT_EQ(chip.WhileStopped(stop, change, [&] { return CAMERA_STATUS_TIMEOUT; }),
              CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(order, (std::vector<std::string>{"stop", "change"}));
}

TEST_F(SensorLayer, TriggerControlWithoutTiming) {
    CTestChip chip(SENSOR_TYPE_AR0130, dev.get());
    ASSERT_EQ(dev->SetTriggerControl(2, 3, 0, 0), 0);
    CSensorTrace trace(*dev);
    EXPECT_EQ(chip.ApplyTriggerControl(2), 0);
    EXPECT_EQ(chip.ApplyTriggerControl(5), 0);
    EXPECT_TRUE(TraceMatches(
        trace.Steps(), {Call("GetTriggerControl"), Call("SetTriggerControl", {0x10A, 3, 1, 1})}));
}

// ---- Gain encoders ------------------------------------------------------------------------------

TEST(SensorGain, LogarithmicCodesWithAndWithoutHighConversionGain) {
    const sensor::LogGainStep imx290{3, 30.0, 6.0};  // 0.3 dB steps, HCG above 30 dB
    const sensor::LogGainStep imx178{1, 1e9, 0.0};   // 0.1 dB steps, no HCG
    struct Case {
        const sensor::LogGainStep* step;
        uint32_t gain, code;
        bool hcg;
    };
    const Case cases[] = {
        {&imx290, 1000, 0, false},     {&imx290, 31622, 99, false},  // 29.99994 dB / 0.3
        {&imx290, 31623, 80, true},                                  // (30.00001 - 6) dB / 0.3
        {&imx290, 3000000, 211, true},                               // (69.54 - 6) dB / 0.3
        {&imx290, 500, 0, false},      // below unity: code 0, not a wrapped negative code
        {&imx178, 2000, 60, false},    // 6.02 dB
        {&imx178, 30000, 295, false},  // 29.54 dB
    };
    for (const Case& c : cases) {
        const sensor::LogGainCode code = sensor::EncodeLogGain(c.gain, *c.step);
        EXPECT_EQ(code.code, c.code) << c.gain;
        EXPECT_EQ(code.highConversion, c.hcg) << c.gain;
    }
}

TEST(SensorGain, InverseCodesAndTheGainTheyReallyGive) {
    // x16: (1 - 1/16) x 2048 = 1920 (0x780), which gives 2048000 / 128 = 16000 again.
    EXPECT_EQ(sensor::EncodeInverseGain(16000, 2048), 1920u);
    EXPECT_EQ(sensor::DecodeInverseGain(1920, 2048), 16000u);
    EXPECT_EQ(sensor::EncodeInverseGain(1000, 2048), 0u);
    EXPECT_EQ(sensor::DecodeInverseGain(0, 2048), 1000u);
    // x3: 1365.33 -> 1365, which gives 2048000 / 683 = 2998.
    EXPECT_EQ(sensor::EncodeInverseGain(3000, 2048), 1365u);
    EXPECT_EQ(sensor::DecodeInverseGain(1365, 2048), 2998u);
}

// Above x16 a digital factor of 2, 4 or 8 takes over and the analog code carries the rest.
TEST(SensorGain, InverseCodesWithADigitalStep) {
    struct Case {
        uint32_t gain, scale, maxStep;
        uint32_t code, step, inForce;
    };
    const Case cases[] = {
        {16000, 2048, 1, 1920, 0, 16000},    // x16 is still analog
        {30000, 2048, 1, 1911, 1, 29897},    // x2 digital, (1 - 2/30) x 2048
        {40000, 2048, 1, 1945, 1, 39766},    // past x32 with one step: the analog code goes on
        {40000, 2048, 3, 1843, 2, 39960},    // x4 digital, (1 - 4/40) x 2048 = 1843.2
        {128000, 4095, 3, 3839, 3, 127968},  // x8 digital, (1 - 8/128) x 4095 = 3839.06
        {500, 2048, 1, 0, 0, 1000},          // below unity: unity
    };
    for (const Case& c : cases) {
        const sensor::InverseGainCode code =
            sensor::EncodeInverseGainStep(c.gain, c.scale, c.maxStep);
        EXPECT_EQ(code.code, c.code) << c.gain;
        EXPECT_EQ(code.digitalStep, c.step) << c.gain;
        EXPECT_EQ(code.gainMilli, c.inForce) << c.gain;
    }
}

// The Micron global gain code: eighths below 4250, quarters over the doubling bit to 8000, then
// whole steps that the chips count as x1 digital steps (high byte) or as fine steps.
TEST(SensorGain, MicronCodesAndTheirTwoUpperRanges) {
    using sensor::MicronHighGain;
    struct Case {
        uint32_t gain;
        MicronHighGain high;
        uint32_t code, inForce;
    };
    const Case cases[] = {
        {1000, MicronHighGain::DigitalSteps, 8, 1000},
        {2000, MicronHighGain::DigitalSteps, 16, 2000},
        {4249, MicronHighGain::DigitalSteps, 33, 4125},
        {4250, MicronHighGain::DigitalSteps, 81, 4250},
        {8000, MicronHighGain::DigitalSteps, 96, 8000},
        {9000, MicronHighGain::DigitalSteps, 352, 9000},
        {10500, MicronHighGain::DigitalSteps, 608, 10000},
        {4250, MicronHighGain::FineSteps, 81, 4250},
        {8000, MicronHighGain::FineSteps, 96, 8000},
        {32000, MicronHighGain::FineSteps, 120, 32000},
    };
    for (const Case& c : cases) {
        const uint32_t code = sensor::EncodeMicronGain(c.gain, c.high);
        EXPECT_EQ(code, c.code) << c.gain;
        EXPECT_EQ(sensor::DecodeMicronGain(code, c.high), c.inForce) << c.gain;
    }
}

TEST(SensorGain, StepTablesTakeTheHighestStepReached) {
    const sensor::GainStep steps[] = {{8000, 3, 80}, {2000, 1, 20}, {1000, 0, 10}};
    EXPECT_EQ(sensor::PickGainStep(steps, 9000).code, 80);
    EXPECT_EQ(sensor::PickGainStep(steps, 8000).code, 80);
    EXPECT_EQ(sensor::PickGainStep(steps, 7999).code, 20);
    EXPECT_EQ(sensor::PickGainStep(steps, 1999).code, 10);
    EXPECT_EQ(sensor::PickGainStep(steps, 0).code, 10);  // below all: the lowest
}

// ---- Chip identity ------------------------------------------------------------------------------

TEST_F(SensorLayer, IdentityCheckResetsThenComparesEveryRegister) {
    CTestChip chip(SENSOR_TYPE_AR0144, dev.get());
    dev->SetSensorReg(0x3000, 0x0356);
    {
        CSensorTrace trace(*dev);
        EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0356}}), 0);
        const auto steps = trace.Steps();
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.front().op, "SetGpioMode");  // the chip is reset before it is read
        EXPECT_EQ(steps.back().ToString(), "ReadReg(3000)");
    }
    dev->SetSensorReg(0x3000, 0x0357);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0356}}),
              CAMERA_STATUS_HARDWARE_NOT_FOUND);

    // A masked identity: bit 12 of the revision is ignored.
    dev->SetSensorReg(0x3000, 0x1457);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0457, 0xEFFF}}), 0);
    dev->SetSensorReg(0x3000, 0x0557);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0457, 0xEFFF}}),
              CAMERA_STATUS_HARDWARE_NOT_FOUND);

    // Two registers, the second wrong.
    dev->SetSensorReg(0x0A, 0x08);
    dev->SetSensorReg(0x0B, 0x51);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x0A, 0x08}, {0x0B, 0x50}}),
              CAMERA_STATUS_HARDWARE_NOT_FOUND);
}

TEST_F(SensorLayer, IdentityCheckPassesDeviceFailuresOn) {
    CTestChip chip(SENSOR_TYPE_AR0144, dev.get());
    dev->SetResult("ReadSensorReg", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0356}}), CAMERA_STATUS_COMM_ERROR);
    dev->ClearResults();
    dev->SetResult("SetSensorBus", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(CTestChip::CheckChipIdentity(chip, {{0x3000, 0x0356}}), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(dev->CallCount("ReadSensorReg"), 1u);  // only the first attempt read
}

}  // namespace
