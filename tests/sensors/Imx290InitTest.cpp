// IMX290 initialisation on each of its thirteen boards: the reset, clock, FPGA interface,
// register tables, window, frame speed and image window, step for step.
#include <gtest/gtest.h>

#include "Imx290Expect.h"

namespace {

using namespace qvsim;
using namespace qvsim::imx290;

// One board with a 1920 x 1080 window, an 8-bit format and frame speed 2.
struct BoardCase {
    int hw;
    std::vector<int64_t> pll;  // SetPll values; empty: none
    std::vector<unsigned> waitsMs;
    int64_t setupWord;  // sensor-interface word during set-up
    bool triggerReset;
    enum Path { P, Other, Serial } path;
    int channelReg;  // serial boards
    // Frame speed 2 on the 1125-line, 4400-period full frame:
    int64_t readout, vmax, hmax;
    uint32_t countingClock;     // four times the input clock
    int64_t x, y;               // FPGA offsets
    int64_t adcReg, formatReg;  // 0x3005 and 0x3046 of the converter step
    int64_t ringStart, ringEnd;
};

// Set-up words: the 10-bit converter bit (1, except on 304 and 9) | 0x40 | the interface mode
// bits (0, 4 or 12). Frame speed 2: 102/105/108 readout 0 and HMAX / 4; 201/205 readout 1, HMAX
// / 2 and VMAX x 60 / 57 = 1184; 200/202 readout 2 and VMAX even = 1124; 4/5/9/304 readout 2 and
// VMAX x 30 / 23 = 1467 -> 1466; serial with one chip readout 0 and HMAX / 4 after the lanes T2.
// Converter step: group P (5, 102, 105, 108, 201, 205) writes 0xF0 or 0xE0 (interface mode 0 or
// not) | 12-bit; the others 0 | 12-bit.
const BoardCase kBoards[] = {
    {102,
     {24, 1, 1, 1, 10, 17, 13, 6},
     {20},
     0x41,
     true,
     BoardCase::P,
     0,
     0,
     1125,
     1100,
     146823528,
     13,
     13,
     0,
     0xF0,
     0,
     0x8000000},
    {105,
     {24, 1, 1, 1, 10, 17, 13, 6},
     {20},
     0x41,
     true,
     BoardCase::P,
     0,
     0,
     1125,
     1100,
     146823528,
     13,
     13,
     0,
     0xF0,
     0,
     0x8000000},
    {108,
     {7, 5, 32, 0, 0, 0, 0, 0},
     {20},
     0x41,
     true,
     BoardCase::P,
     0,
     0,
     1125,
     1100,
     145600000,
     13,
     13,
     0,
     0xF0,
     0,
     0x8000000},
    {106,
     {24, 1, 1, 1, 10, 22, 13, 6},
     {20},
     0x45,
     true,
     BoardCase::Serial,
     40,
     0,
     1125,
     1100,
     113454544,
     1,
     0,
     0,
     0,
     0,
     0x8000000},
    {4,
     {26, 1, 2, 2, 13, 17, 13, 8},
     {20},
     0x4D,
     true,
     BoardCase::Other,
     0,
     2,
     1466,
     4400,
     146823528,
     13,
     28,
     0,
     0,
     0,
     0x8000000},
    {5,
     {26, 1, 2, 2, 13, 17, 13, 8},
     {20},
     0x41,
     true,
     BoardCase::P,
     0,
     2,
     1466,
     4400,
     146823528,
     13,
     13,
     0,
     0xF0,
     0,
     0x8000000},
    {304,
     {13, 1, 12, 7, 16, 13, 13, 13},
     {},
     0x4C,
     false,
     BoardCase::Other,
     0,
     2,
     1466,
     4400,
     146823528,
     13,
     28,
     1,
     1,
     0,
     0x8000000},
    {9,
     {3, 4, 16, 0, 0, 0, 0, 0},
     {},
     0x4C,
     false,
     BoardCase::Other,
     0,
     2,
     1466,
     4400,
     144000000,
     13,
     28,
     1,
     1,
     0,
     0x8000000},
    {201,
     {18, 1, 2, 2, 18, 16, 4, 27},
     {10, 20},
     0x45,
     true,
     BoardCase::P,
     0,
     1,
     1184,
     2200,
     144000000,
     13,
     13,
     0,
     0xE0,
     0,
     0x8000000},
    {205,
     {},
     {20},
     0x45,
     true,
     BoardCase::P,
     0,
     1,
     1184,
     2200,
     144000000,
     13,
     13,
     0,
     0xE0,
     0x100000,
     0x7F00000},
    {200,
     {18, 1, 2, 2, 18, 16, 36, 36},
     {10, 20},
     0x4D,
     true,
     BoardCase::Other,
     0,
     2,
     1124,
     4400,
     144000000,
     13,
     28,
     0,
     0,
     0,
     0x8000000},
    {202,
     {18, 1, 2, 2, 18, 16, 36, 36},
     {10, 20},
     0x4D,
     true,
     BoardCase::Other,
     0,
     2,
     1124,
     4400,
     144000000,
     13,
     28,
     0,
     0,
     0,
     0x8000000},
    {204,
     {18, 1, 2, 2, 40, 16, 20, 27},
     {10, 20},
     0x45,
     true,
     BoardCase::Serial,
     37,
     0,
     1125,
     1100,
     64800000,
     1,
     0,
     0,
     0,
     0,
     0x8000000},
};

// The steps up to and including the chip settings.
std::vector<TraceStep> Opening(const BoardCase& b, uint32_t fpga15, int64_t channelMask = 1) {
    std::vector<TraceStep> s = ResetSteps(b.hw, fpga15);
    if (b.path == BoardCase::Serial)
        s.push_back(Fpga(static_cast<uint16_t>(b.channelReg), static_cast<uint32_t>(channelMask)));
    if (!b.pll.empty()) s.push_back(TraceStep{"SetPll", b.pll});
    for (unsigned ms : b.waitsMs) s.push_back(Sleep(ms));
    s.push_back(Call("SetSensorInterface", {b.setupWord}));
    if (b.triggerReset) s.push_back(Call("SetTriggerControl", {0, 0, 1, 0}));
    Append(s, {Regs(kStart), Regs(kBlackLevel), Regs(kChipSettings)});
    return s;
}

// Gain 1000 (code 0, HCG off) and 2000 lines, longer than every frame here: the frame stretches.
std::vector<TraceStep> Closing(int64_t readout, int64_t vmaxInForce) {
    std::vector<TraceStep> s = {Reg(0x3014, 0), Reg(0x3009, static_cast<uint16_t>(readout))};
    s.push_back(vmaxInForce <= 2000 ? Regs(Vmax(2000) + Shs1(0)) : Regs(Shs1(vmaxInForce - 2000)));
    return s;
}

class Imx290Init : public Imx290Fixture {};

TEST_F(Imx290Init, FullFrameOnEveryBoard) {
    for (const BoardCase& b : kBoards) {
        SCOPED_TRACE("board " + std::to_string(b.hw));
        Make(b.hw, SENSOR_TYPE_IMX290C);
        param = StreamParam(Resolution(1920, 1080), 2, 0x01080008);
        ASSERT_EQ(sensor->Init(&param), 0);

        std::vector<TraceStep> want = Opening(b, kFpga15);
        if (b.path == BoardCase::Serial) {
            Append(want,
                   {Regs(kSerialTable), Regs(kSerialFullFrame), Regs(kConverter10), Regs(kLaneT2)});
        } else {
            Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Reg(0x3007, 0),
                          Reg(0x3005, static_cast<uint16_t>(b.adcReg)),
                          Regs({{0x3046, b.formatReg}, {0x305D, 0}}), Regs(kClosing)});
        }
        Append(want, SpeedWrites(b.readout, b.vmax, b.hmax));
        Append(want, {Sleep(10), Call("SetImageWindow", {b.x, b.y, 1920, 1080, 1920, 1080, 8}),
                      Call("SetFrameBuffer", {b.ringStart, b.ringEnd, 0x200000, 0}),
                      Call("SetFpgaPixelFormat", {0x01080008})});
        Append(want, Closing(b.readout, b.vmax));
        EXPECT_TRUE(TraceMatches(Steps(), want));

        // The timing members follow the lengths in force: VMAX x HMAX periods of the counting
        // clock per frame.
        double frameUs = 0;
        int lineNs = 0;
        sensor->GetFrameTime(&frameUs);
        sensor->GetLineTime(&lineNs);
        EXPECT_NEAR(frameUs, b.vmax * b.hmax * 1e6 / b.countingClock, 1e-6);
        EXPECT_EQ(lineNs, static_cast<int>(b.hmax * 1e9 / b.countingClock));
        EXPECT_EQ(dev->ContractViolations(), 0);
    }
}

// The 720p mode of the non-AST codes: its own mode table and output formats, HMAX 6600 and VMAX
// 750 before the frame speed.
TEST_F(Imx290Init, The720pModeOnAGroupPAndAnotherBoard) {
    Make(102, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1280, 720), 2, 0x01080008);
    ASSERT_EQ(sensor->Init(&param), 0);
    std::vector<TraceStep> want = Opening(kBoards[0], kFpga15);
    // Group P, 10-bit: (0x3005 0, 0x3046 0xE0, 0x305D 0), interface mode 4, offsets 13 and 13.
    // Speed 2: readout 0, HMAX 6600 / 4 = 1650.
    Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Regs(k720pMode),
                  Regs({{0x3005, 0}, {0x3046, 0xE0}, {0x305D, 0}}), Regs(kClosing720p)});
    Append(want, SpeedWrites(0, 750, 1650));
    Append(want, {Sleep(10), Call("SetImageWindow", {13, 13, 1280, 720, 1280, 720, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x100000, 0}),
                  Call("SetFpgaPixelFormat", {0x01080008})});
    Append(want, Closing(0, 750));
    EXPECT_TRUE(TraceMatches(Steps(), want));
    trace->Clear();
    sensor->StreamOn();  // 10-bit | run | interface mode 4
    EXPECT_TRUE(TraceMatches(Steps(), StreamOnSteps(0xC5)));

    // Board 4: (0, 0, 0), interface mode 12, offsets Y 14, X 13; speed 2 VMAX x 30 / 23 = 978.
    Make(4, SENSOR_TYPE_IMX290C);
    ASSERT_EQ(sensor->Init(&param), 0);
    want = Opening(kBoards[4], kFpga15);
    Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Regs(k720pMode),
                  Regs({{0x3005, 0}, {0x3046, 0}, {0x305D, 0}}), Regs(kClosing720p)});
    Append(want, SpeedWrites(2, 978, 6600));
    Append(want, {Sleep(10), Call("SetImageWindow", {13, 14, 1280, 720, 1280, 720, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x100000, 0}),
                  Call("SetFpgaPixelFormat", {0x01080008})});
    Append(want, Closing(2, 978));
    EXPECT_TRUE(TraceMatches(Steps(), want));
}

// The 360p skipping mode (mode word 2) of the mono chip on board 5: the window stays the full
// frame, and the run word carries 0x2000.
TEST_F(Imx290Init, The360pSkippingMode) {
    Make(5, SENSOR_TYPE_IMX290M);
    param = StreamParam(Resolution(640, 360, 0, 0, 1920, 1080, 2), 2, 0x01080000);
    ASSERT_EQ(sensor->Init(&param), 0);
    std::vector<TraceStep> want = Opening(kBoards[5], kFpga15);
    Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Reg(0x3007, 0), Regs(k360pMode),
                  Regs({{0x3005, 0}, {0x3046, 0xF0}, {0x305D, 0}}), Regs(kClosing)});
    Append(want, SpeedWrites(2, 1466, 4400));
    Append(want, {Sleep(10), Call("SetImageWindow", {13, 13, 640, 360, 1920, 1080, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x100000, 0}),
                  Call("SetFpgaPixelFormat", {0x01080000})});
    Append(want, Closing(2, 1466));
    EXPECT_TRUE(TraceMatches(Steps(), want));
    trace->Clear();
    sensor->StreamOn();
    EXPECT_TRUE(TraceMatches(Steps(), StreamOnSteps(0x20C1)));
}

// A cropped window on board 201: 1000 x 500 at (101, 51) starts at (100, 50); padded to 1008 x
// 508, HMAX max(2000, 2 x 1008 + 560) = 2576 and VMAX max(563, 508 + 55) = 563; speed 2 on 201
// halves HMAX (1288) and takes VMAX x 60 / 57 = 592.
TEST_F(Imx290Init, ACroppedWindowOnAParallelBoard) {
    Make(201, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1000, 500, 101, 51), 2, 0x01080008);
    ASSERT_EQ(sensor->Init(&param), 0);
    std::vector<TraceStep> want = Opening(kBoards[8], kFpga15);
    Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Reg(0x3007, 0x40),
                  Regs(Window(100, 50, 1008, 508)), Reg(0x3005, 0),
                  Regs({{0x3046, 0xE0}, {0x305D, 0}}), Regs(kClosing)});
    Append(want, SpeedWrites(1, 592, 1288));
    Append(want, {Sleep(10), Call("SetImageWindow", {3, 13, 1000, 500, 1000, 500, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x100000, 0}),
                  Call("SetFpgaPixelFormat", {0x01080008})});
    Append(want, Closing(1, 592));
    EXPECT_TRUE(TraceMatches(Steps(), want));
}

// Two of four chips on board 106 (mask 0x35 keeps 0x5): the clock of speed 2 with several chips,
// the cropped serial window, lanes T1 and a window twice as wide.
TEST_F(Imx290Init, TwoChipsOnTheSerialBoard) {
    Make(106, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(800, 600, 100, 50), 2, 0x01080008, 0x35);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(param.channelMask, 0x5);

    BoardCase b = kBoards[3];
    b.pll = {24, 1, 1, 1, 10, 17, 13, 6};
    std::vector<TraceStep> want = Opening(b, kFpga15, 0x5);
    // 800 x 600 pads to 808 x 608: HMAX max(2000, 2176) = 2176, VMAX 663; 0x3418/19 = 608,
    // 0x3472/73 = 808 + 28 = 836. Two chips at speed 2: readout 1, HMAX / 2 = 1088, lanes T1.
    Append(want, {Regs(kSerialTable), Reg(0x3007, 0x40),
                  Regs({{0x3418, 0x60}, {0x3419, 0x02}, {0x3472, 0x44}, {0x3473, 0x03}}),
                  Regs(Window(100, 50, 808, 608)), Regs(kConverter10), Regs(kLaneT1)});
    Append(want, SpeedWrites(1, 663, 1088));
    Append(want, {Sleep(10), Call("SetImageWindow", {1, 0, 1600, 600, 800, 600, 8}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x100000, 0}),
                  Call("SetFpgaPixelFormat", {0x01080008})});
    Append(want, Closing(1, 663));
    EXPECT_TRUE(TraceMatches(Steps(), want));

    stImageInfo info{};
    ASSERT_EQ(sensor->GetImageInfo(&info), 0);
    EXPECT_EQ(info.iWidth, 1600u);
    EXPECT_EQ(info.iHeight, 600u);
    EXPECT_EQ(info.TotalBytes, 960000u);
}

// 12-bit output on board 102 at speed 0: the speed-0 clock, the 12-bit converter, bit mode 32 in
// the interface word, two bytes per pixel in the FPGA, VMAX x 3 even = 3374.
TEST_F(Imx290Init, TwelveBitsAtTheSlowestSpeed) {
    Make(102, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 0, 0x01100010);
    ASSERT_EQ(sensor->Init(&param), 0);
    BoardCase b = kBoards[0];
    b.pll = {24, 1, 2, 2, 13, 17, 13, 8};
    b.setupWord = 0x60;
    std::vector<TraceStep> want = Opening(b, kFpga15);
    Append(want, {Regs(kParallel), Regs(kParallelPair), Sleep(50), Reg(0x3007, 0), Reg(0x3005, 1),
                  Regs({{0x3046, 0xF1}, {0x305D, 0}}), Regs(kClosing)});
    Append(want, SpeedWrites(2, 3374, 4400));
    Append(want, {Sleep(10), Call("SetImageWindow", {13, 13, 1920, 1080, 1920, 1080, 16}),
                  Call("SetFrameBuffer", {0, 0x8000000, 0x400000, 0}),
                  Call("SetFpgaPixelFormat", {0x01100010})});
    Append(want, Closing(2, 3374));  // 2000 lines fit the frame: SHS1 = 3374 - 2000
    EXPECT_TRUE(TraceMatches(Steps(), want));

    // Board 304 with 12 bits: the 18.35 MHz clock and no trigger reset.
    Make(304, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 2, 0x01100010);
    ASSERT_EQ(sensor->Init(&param), 0);
    const auto steps = Steps();
    ASSERT_GT(steps.size(), 9u);
    EXPECT_EQ(steps[7].ToString(), "SetPll(13,1,12,7,33,13,13,13)");
    EXPECT_EQ(steps[8].ToString(), "SetSensorInterface(108)");  // 0x6C: 32 | 0x4C
    EXPECT_EQ(steps[9].op, "Regs");
    double frameUs = 0;
    sensor->GetFrameTime(&frameUs);
    EXPECT_NEAR(frameUs, 1466 * 4400 * 1e6 / 73411764, 1e-6);
}

// ---- Refusals and failures ------------------------------------------------------------------

TEST_F(Imx290Init, BoardsItDoesNotServeAreRefusedBeforeAnyTraffic) {
    for (int hw : {0, 103, 110, 203}) {
        Make(hw, SENSOR_TYPE_IMX290C);
        param = StreamParam(Resolution(1920, 1080), 2, 0x01080008);
        EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_NOT_SUPPORTED) << hw;
        EXPECT_EQ(sensor->Reset(), CAMERA_STATUS_NOT_SUPPORTED) << hw;
        EXPECT_EQ(sensor->SetFrameSpeed(1), CAMERA_STATUS_NOT_SUPPORTED) << hw;
        EXPECT_EQ(sensor->SoftTrigger(), CAMERA_STATUS_NOT_SUPPORTED) << hw;
        EXPECT_TRUE(Steps().empty()) << hw;
    }
}

TEST_F(Imx290Init, SerialBoardWithoutChipsIsRefused) {
    Make(204, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 2, 0x01080008, 0x10);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(param.channelMask, 0);
    EXPECT_TRUE(TraceMatches(Steps(), ResetSteps(204, kFpga15)));
}

TEST_F(Imx290Init, AFrameSpeedOutOfRangeEndsInitBeforeTheSpeedWrites) {
    Make(102, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 3, 0x01080008);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_PARAMETER_INVALID);
    const auto steps = Steps();
    ASSERT_FALSE(steps.empty());
    EXPECT_TRUE(Regs(kClosing).Matches(steps.back()));
}

TEST_F(Imx290Init, DeviceFailuresStopTheSequenceWhereTheyHappen) {
    Make(102, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 2, 0x01080008);
    dev->SetResult("SetPll", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(Steps().back().op, "SetPll");

    Make(102, SENSOR_TYPE_IMX290C);
    dev->onWriteSensorReg = [](uint16_t reg, uint16_t) {
        return reg == 0x3070 ? CAMERA_STATUS_IO_ERROR : 0;
    };
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_IO_ERROR);
    EXPECT_TRUE(Regs(kChipSettings).Matches(Steps().back()));

    Make(201, SENSOR_TYPE_IMX290C);
    dev->SetResult("SetFrameBuffer", CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(sensor->Init(&param), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(Steps().back().op, "SetFrameBuffer");
}

// A second Init rebuilds the lengths from the window: frame speeds never compound.
TEST_F(Imx290Init, RepeatedInitGivesTheSameTraffic) {
    Make(4, SENSOR_TYPE_IMX290C);
    param = StreamParam(Resolution(1920, 1080), 0, 0x01080008);
    ASSERT_EQ(sensor->Init(&param), 0);
    const auto first = Steps();
    trace->Clear();
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_TRUE(TraceMatches(Steps(), first));
}

}  // namespace
