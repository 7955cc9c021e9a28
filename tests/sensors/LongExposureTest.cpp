// The IMX294 and IMX533 drivers and their host-timed long-exposure cycle, on timers the test
// fires by hand: each step's writes and FPGA word bits, the periods between them, when the cycle
// starts and stops, the frame multiplier, the exposure limit of the 16-bit timing path, gains and
// the trigger modes.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "LogCapture.h"
#include "ManualSensorTimers.h"
#include "sensors/IMX294Family.h"

namespace {

using namespace qvsim;

constexpr uint32_t kBayer8 = 0x01080008;

class LongExposure : public DriverFixture {
  protected:
    ~LongExposure() override { sensor.reset(); }  // before the timers go

    void StartChip(int hw, SensorTypeE code) {
        Start(hw, code, Window(640, 480), 2, kBayer8);
        timers.ClearEvents();
    }
    CLongExposureCycle& Cycle() { return dynamic_cast<CIMX294Family&>(*sensor).Cycle(); }
    // Fires the cycle's timer and returns the steps it made.
    std::vector<TraceStep> Fire() {
        trace->Clear();
        TimerEntry* entry = timers.Only();
        EXPECT_NE(entry, nullptr);
        if (entry != nullptr) {
            EXPECT_EQ(timers.Fire(entry), 0);
        }
        return Steps();
    }
    uint32_t FpgaFrame107() const { return (dev->FpgaReg(35) | dev->FpgaReg(37) << 16) + 1; }

    CManualSensorTimers timers;
};

// The IMX294's cycle, step by step: exposure off and the FPGA word (1, 0, 0), 15 ms to settle,
// the read-out pulse, 100 ms of read-out, exposure on with the word (1, 1, 1) for the exposure
// time, and round again. A shorter exposure ends it: the timer goes, the exposure is switched
// off and the word pulsed out of long-exposure mode.
TEST_F(LongExposure, Imx294CycleStepByStep) {
    StartChip(107, SENSOR_TYPE_IMX294C);
    ASSERT_EQ(sensor->SetExposure(2e6), 0);
    const int exposureMs = static_cast<int>(ExposureUs() / 1000);
    EXPECT_NEAR(exposureMs, 2000, 1);
    EXPECT_EQ(Sensor(0x332C), 0xFE);  // the chip's long-exposure shutter list
    EXPECT_EQ(timers.Events(), (std::vector<std::string>{"add 100"}));
    EXPECT_EQ(Cycle().State(), 0);

    LogCapture log;
    const TraceStep off = Reg(0x3111, 0), on = Reg(0x3111, 1);
    struct Step {
        std::vector<TraceStep> writes;
        std::string period;
        int state;
    };
    const Step kSteps[] = {
        {{off, Fpga(39, 1)}, "reset 15", 3},
        {{Fpga(39, 9), Fpga(39, 1)}, "reset 100", 2},
        {{on, Fpga(39, 7)}, "reset " + std::to_string(exposureMs), 1},
        {{off, Fpga(39, 1)}, "reset 15", 3},
        {{Fpga(39, 9), Fpga(39, 1)}, "reset 100", 2},
    };
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.period);
        timers.ClearEvents();
        EXPECT_TRUE(TraceMatches(Fire(), step.writes));
        EXPECT_EQ(timers.Events(), (std::vector<std::string>{step.period}));
        EXPECT_EQ(Cycle().State(), step.state);
    }
    EXPECT_EQ(log.Lines().size(), 2u);  // "acquire frame finish", "exposure finish"

    trace->Clear();
    timers.ClearEvents();
    ASSERT_EQ(sensor->SetExposure(500000), 0);
    EXPECT_EQ(timers.Events(), (std::vector<std::string>{"remove"}));
    EXPECT_TRUE(ContainsInOrder(Steps(), {off, Fpga(39, 1), Sleep(15), Fpga(39, 8), Fpga(39, 0)}));
    EXPECT_FALSE(Cycle().Running());
    EXPECT_EQ(Sensor(0x332C), 0xFF);  // the chip's ordinary shutter list again

    // Without a cycle, a short exposure neither writes the cycle's registers nor waits.
    trace->Clear();
    ASSERT_EQ(sensor->SetExposure(400000), 0);
    for (const TraceStep& step : Steps()) {
        EXPECT_NE(step.op, "Sleep");
        EXPECT_FALSE(step.op == "Reg" && step.args[0] == 0x3111);
        EXPECT_FALSE(step.op == "Fpga" && step.args[0] == 39);
    }
    EXPECT_EQ(timers.Count(), 0u);
}

// The IMX533's cycle switches 0x019E: 4 to expose, 1 otherwise (also when the cycle stops); a
// finished exposure sets the FPGA word before the register.
TEST_F(LongExposure, Imx533CycleValues) {
    StartChip(107, SENSOR_TYPE_IMX533C);
    ASSERT_EQ(sensor->SetExposure(2e6), 0);
    ASSERT_EQ(timers.Count(), 1u);
    EXPECT_TRUE(TraceMatches(Fire(), {Reg(0x019E, 1), Fpga(39, 1)}));
    EXPECT_TRUE(TraceMatches(Fire(), {Fpga(39, 9), Fpga(39, 1)}));
    EXPECT_TRUE(TraceMatches(Fire(), {Reg(0x019E, 4), Fpga(39, 7)}));
    EXPECT_TRUE(TraceMatches(Fire(), {Fpga(39, 1), Reg(0x019E, 1)}));

    // Back to an ordinary shutter: the frame timing of the mode, then the cycle ends.
    trace->Clear();
    ASSERT_EQ(sensor->SetExposure(10000), 0);
    EXPECT_EQ(timers.Count(), 0u);
    EXPECT_TRUE(ContainsInOrder(Steps(), {Fpga(35, 3048), Reg(0x019E, 1), Fpga(39, 1), Sleep(15),
                                          Fpga(39, 8), Fpga(39, 0)}));
}

// Board 201 has no FPGA word: the cycle switches the chip's register only.
TEST_F(LongExposure, NoFpgaWordOnGigE) {
    StartChip(201, SENSOR_TYPE_IMX294C);
    ASSERT_EQ(sensor->SetExposure(1.5e6), 0);
    for (int i = 0; i < 4; ++i) {
        for (const TraceStep& step : Fire()) {
            EXPECT_NE(step.op, "Fpga");
        }
    }
    ASSERT_EQ(sensor->SetExposure(1000), 0);
    EXPECT_EQ(timers.Count(), 0u);
    for (const RegWrite& w : dev->FpgaRegWrites()) EXPECT_NE(w.reg, 39u);
}

// The IMX294's shortest exposure is 4 lines (the log shows what was asked); the frame is at
// least 4 + 25 lines.
TEST_F(LongExposure, Imx294ShortestExposure) {
    StartChip(107, SENSOR_TYPE_IMX294C);
    LogCapture log;
    ASSERT_EQ(sensor->SetExposureLines(0), 0);
    EXPECT_EQ(log.Count("explines:0\n"), 1);
    EXPECT_DOUBLE_EQ(ExposureUs(), 4 * LineUs());
    EXPECT_EQ(FpgaFrame107(), 1446u);
    EXPECT_EQ(SensorValue({{0x302C, 0xFF}, {0x302D, 0xFF}}), 1442u);
    EXPECT_EQ(dev->FpgaReg(36), 874u - 19);
}

// Board 201 times the IMX294's frame through a 16-bit frame length: exposures stop at 65510
// lines, which the exposure reported and the range say.
TEST_F(LongExposure, Imx294FrameLimitOnGigE) {
    StartChip(201, SENSOR_TYPE_IMX294C);
    EXPECT_EQ(Param().expLinesMax, 65510u);
    ASSERT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_EQ(ImageTimingFrame(), 0xFFFFu);
    EXPECT_DOUBLE_EQ(ExposureUs(), 65510 * LineUs());
    EXPECT_EQ(timers.Count(), 1u);  // 2.65 s: timed by the host
    ASSERT_EQ(sensor->SetExposureLines(30000), 0);
    EXPECT_EQ(ImageTimingFrame(), 30025u);
    EXPECT_DOUBLE_EQ(ExposureUs(), 30000 * LineUs());

    StartChip(107, SENSOR_TYPE_IMX294C);  // board 107's registers hold 32 bits
    EXPECT_GT(Param().expLinesMax, 65510u);
    ASSERT_EQ(sensor->SetExposureLines(100000), 0);
    EXPECT_EQ(FpgaFrame107(), 100025u);
}

// The IMX533 stretches its frame in units of 1, 2 or 4 frames of at most 16383 lines; beyond
// four the host times the exposure. The exposure reported is the lines asked.
TEST_F(LongExposure, Imx533FrameMultiplier) {
    StartChip(107, SENSOR_TYPE_IMX533C);
    // Inside the frame: the shutter start 3049 - 100 in pairs of lines.
    ASSERT_EQ(sensor->SetExposureLines(100), 0);
    EXPECT_EQ(Sensor(0x0016), (2949u >> 1) & 0xFF);
    EXPECT_EQ(Sensor(0x0017), 2949u >> 9);
    EXPECT_EQ(Sensor(0x0012), 0u);
    EXPECT_DOUBLE_EQ(ExposureUs(), 100 * LineUs());
    struct Case {
        uint32_t lines;
        uint16_t code;
        uint32_t frame, reported;
    };
    for (const Case& c : {Case{10000, 0, 10004, 10000}, Case{16380, 2, 8192, 16380},
                          Case{40001, 3, 10001, 40001}, Case{65531, 3, 16383, 65531}}) {
        SCOPED_TRACE(c.lines);
        ASSERT_EQ(sensor->SetExposureLines(c.lines), 0);
        EXPECT_EQ(Sensor(0x0012), c.code);
        EXPECT_EQ(Sensor(0x0016), 2);
        EXPECT_EQ(FpgaFrame107(), c.frame);
        EXPECT_DOUBLE_EQ(ExposureUs(), c.reported * LineUs());
        EXPECT_EQ(timers.Count(), 0u);
    }
    ASSERT_EQ(sensor->SetExposureLines(65532), 0);
    EXPECT_EQ(timers.Count(), 1u);
    EXPECT_EQ(Sensor(0x0012), 0);
    EXPECT_EQ(FpgaFrame107(), 3049u);
    // A longer one only restarts it.
    timers.ClearEvents();
    ASSERT_EQ(sensor->SetExposureLines(200000), 0);
    EXPECT_EQ(timers.Events(), (std::vector<std::string>{"reset 100"}));
}

TEST_F(LongExposure, InverseGainWithDigitalSteps) {
    StartChip(107, SENSOR_TYPE_IMX294C);
    ASSERT_EQ(sensor->SetAnalogGain(16000), 0);
    EXPECT_EQ(SensorValue({{0x300A, 0xFF}, {0x300B, 7}}), 1920u);
    EXPECT_EQ(Sensor(0x3012), 0);
    EXPECT_EQ(Gain(), 16000);
    ASSERT_EQ(sensor->SetAnalogGain(16001), 0);
    EXPECT_EQ(Sensor(0x3012), 1);  // x2 digital
    ASSERT_EQ(sensor->SetAnalogGain(500), 0);
    EXPECT_EQ(SensorValue({{0x300A, 0xFF}, {0x300B, 7}}), 0u);
    EXPECT_EQ(Gain(), 1000);

    StartChip(107, SENSOR_TYPE_IMX533C);
    for (uint32_t gain : {128000u, 256000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(gain);
        trace->Clear();
        ASSERT_EQ(sensor->SetAnalogGain(gain), 0);
        EXPECT_TRUE(TraceMatches(Steps(), {Reg(0x003E, 48), Reg(0x0031, 14), Reg(0x0030, 255)}));
        EXPECT_EQ(Gain(), 127968);
    }
}

// The trigger modes take one frame a trigger: a running cycle ends. Continuous mode applies the
// exposure again, which starts it again.
TEST_F(LongExposure, TriggerModesEndTheCycle) {
    StartChip(107, SENSOR_TYPE_IMX294C);
    ASSERT_EQ(sensor->SetExposure(3e6), 0);
    ASSERT_EQ(timers.Count(), 1u);
    trace->Clear();
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(timers.Count(), 0u);
    EXPECT_TRUE(ContainsInOrder(Steps(), {Call("SetTriggerTiming", {10, 50000}), Reg(0x3111, 0)}));
    ASSERT_EQ(sensor->SetTriggerMode(0), 0);
    EXPECT_EQ(timers.Count(), 1u);

    // A software trigger without a long exposure only triggers.
    ASSERT_EQ(sensor->SetExposure(20000), 0);
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    trace->Clear();
    ASSERT_EQ(sensor->SoftTrigger(), 0);
    EXPECT_TRUE(TraceMatches(Steps(), {Call("SendSoftTrigger")}));

    // The IMX533 in host-timed mode keeps the mode through a trigger mode; a software trigger
    // starts one exposure of the time in force.
    StartChip(107, SENSOR_TYPE_IMX533C);
    ASSERT_EQ(sensor->SetExposure(2e6), 0);
    ASSERT_EQ(sensor->SetTriggerMode(1), 0);
    EXPECT_EQ(timers.Count(), 0u);
    timers.ClearEvents();
    ASSERT_EQ(sensor->SoftTrigger(), 0);
    EXPECT_EQ(
        timers.Events(),
        (std::vector<std::string>{"add " + std::to_string(static_cast<int>(ExposureUs() / 1000))}));
}

// A trigger mode whose trigger word cannot be read is not set: the read's status comes back and
// nothing is written, and a running cycle goes on.
TEST_F(LongExposure, TriggerModeEndsAtAFailedReadOfTheTriggerWord) {
    for (SensorTypeE code : {SENSOR_TYPE_IMX294C, SENSOR_TYPE_IMX533C}) {
        StartChip(107, code);
        ASSERT_EQ(sensor->SetExposure(3e6), 0);
        dev->SetResult("GetTriggerControl", CAMERA_STATUS_COMM_ERROR);
        for (int mode : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << code << " mode " << mode);
            trace->Clear();
            EXPECT_EQ(sensor->SetTriggerMode(mode), CAMERA_STATUS_COMM_ERROR);
            EXPECT_TRUE(TraceMatches(Steps(), {Call("GetTriggerControl")}));
            EXPECT_EQ(timers.Count(), 1u);
        }
    }
}

// A stream closed while the host times an exposure (Uninit, as every USB stream close runs it,
// or the driver's end) switches the camera out of long exposure: the exposure off and the FPGA
// word pulsed to 0. The stream opened again and given a short exposure then runs on the chip's
// own shutter; the IMX533 opened again in its host-timed mode puts its long shutter back when
// the long exposure comes again. A close without a running cycle touches nothing of it.
TEST_F(LongExposure, StreamCloseAndReopenDuringALongExposure) {
    struct Case {
        int hw;
        SensorTypeE code;
        bool destroy;
        TraceStep off, on;
    };
    const Case kCases[] = {
        {107, SENSOR_TYPE_IMX294C, false, Reg(0x3111, 0), Reg(0x3111, 1)},
        {107, SENSOR_TYPE_IMX533C, false, Reg(0x019E, 1), Reg(0x019E, 4)},
        {107, SENSOR_TYPE_IMX294C, true, Reg(0x3111, 0), Reg(0x3111, 1)},
        {107, SENSOR_TYPE_IMX533C, true, Reg(0x019E, 1), Reg(0x019E, 4)},
        {201, SENSOR_TYPE_IMX294C, false, Reg(0x3111, 0), Reg(0x3111, 1)},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message()
                     << c.code << " on " << c.hw << (c.destroy ? ", destroyed" : ", Uninit"));
        StartChip(c.hw, c.code);
        ASSERT_EQ(sensor->SetExposure(3e6), 0);
        Fire();
        Fire();
        EXPECT_TRUE(ContainsInOrder(Fire(), {c.on}));  // exposing
        if (c.hw == 107) {
            EXPECT_EQ(dev->FpgaReg(39), 7u);
        }

        trace->Clear();
        if (c.destroy) {
            sensor.reset();
        } else {
            EXPECT_EQ(sensor->Uninit(), 0);
        }
        EXPECT_EQ(timers.Count(), 0u);
        if (c.hw == 107) {
            EXPECT_TRUE(
                TraceMatches(Steps(), {c.off, Fpga(39, 1), Sleep(15), Fpga(39, 8), Fpga(39, 0)}));
            EXPECT_EQ(dev->FpgaReg(39), 0u);
        } else {
            EXPECT_TRUE(TraceMatches(Steps(), {c.off, Sleep(15)}));
        }
        if (c.destroy) continue;

        // Opened again with a short exposure.
        trace->Clear();
        ASSERT_EQ(sensor->Init(&param), 0);
        ASSERT_EQ(sensor->SetExposure(10000), 0);
        EXPECT_EQ(timers.Count(), 0u);
        EXPECT_NEAR(ExposureUs(), 10000, LineUs());
        const uint32_t lines = static_cast<uint32_t>(ExposureUs() / LineUs() + 0.5);
        if (c.code == SENSOR_TYPE_IMX294C) {
            EXPECT_EQ(SensorValue({{0x302C, 0xFF}, {0x302D, 0xFF}}), 1446 - lines);
            EXPECT_EQ(Sensor(0x332C), 0xFF);  // the chip's ordinary shutter list
        } else {
            const uint32_t shutter = 3049 - lines;
            EXPECT_EQ(Sensor(0x0016), (shutter >> 1) & 0xFF);
            EXPECT_EQ(Sensor(0x0017), shutter >> 9);
            EXPECT_EQ(Sensor(0x0012), 0u);
        }
        if (c.hw == 107) {
            EXPECT_EQ(dev->FpgaReg(39), 0u);
            EXPECT_EQ(FpgaFrame107(), c.code == SENSOR_TYPE_IMX294C ? 1446u : 3049u);
        }

        // The long exposure again: the chip's long shutter and a new cycle.
        ASSERT_EQ(sensor->SetExposure(3e6), 0);
        EXPECT_EQ(timers.Count(), 1u);
        if (c.code == SENSOR_TYPE_IMX533C) {
            EXPECT_EQ(Sensor(0x0016), 2u);
            EXPECT_EQ(Sensor(0x0017), 0u);
            EXPECT_EQ(Sensor(0x0012), 0u);
        } else {
            EXPECT_EQ(Sensor(0x332C), 0xFE);
        }

        // Closed once more after the long exposure was ended: nothing more to switch off.
        ASSERT_EQ(sensor->SetExposure(10000), 0);
        trace->Clear();
        EXPECT_EQ(sensor->Uninit(), 0);
        EXPECT_TRUE(Steps().empty());
    }
}

// The IMX533 opened again after a stream close in its host-timed mode starts from the chip's
// own shutter: the next long exposure programs the long shutter (Init's shutter reset has put
// 0x0016 back to 0xF1), not only a new cycle.
TEST_F(LongExposure, Imx533ReopenedInItsHostTimedMode) {
    StartChip(107, SENSOR_TYPE_IMX533C);
    ASSERT_EQ(sensor->SetExposure(3e6), 0);
    ASSERT_EQ(sensor->Uninit(), 0);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(Sensor(0x0016), 0xF1u);
    trace->Clear();
    ASSERT_EQ(sensor->SetExposure(3e6), 0);
    EXPECT_TRUE(ContainsInOrder(
        Steps(), {Fpga(35, 3048), Regs({{0x0016, 2}, {0x0017, 0}, {0x0012, 0}, {0x0013, 0}})}));
    EXPECT_EQ(Sensor(0x0016), 2u);
    EXPECT_EQ(timers.Count(), 1u);
}

// Board 107's FPGA is not loaded again while it is configured, so the long-exposure word and
// the chip's exposure register survive a process that ended during a long exposure without
// closing its stream (an exit, a crash, a kill). A new driver opening the stream switches the
// camera out of long exposure whatever it remembers; so does a driver whose own cycle still runs
// when the stream is opened again. A short exposure then runs on the chip's own shutter.
TEST_F(LongExposure, OpeningSwitchesALongExposureLeftOnOff) {
    struct Case {
        SensorTypeE code;
        bool ownCycle;  // false: the word left by another process; true: this driver's cycle
        uint16_t reg, offValue, onValue;  // the chip's exposure register
    };
    const Case kCases[] = {
        {SENSOR_TYPE_IMX294C, false, 0x3111, 0, 1},
        {SENSOR_TYPE_IMX533C, false, 0x019E, 1, 4},
        {SENSOR_TYPE_IMX294C, true, 0x3111, 0, 1},
        {SENSOR_TYPE_IMX533C, true, 0x019E, 1, 4},
    };
    for (const Case& c : kCases) {
        const TraceStep off = Reg(c.reg, c.offValue), on = Reg(c.reg, c.onValue);
        SCOPED_TRACE(testing::Message() << c.code << (c.ownCycle ? ", own cycle" : ", left on"));
        if (c.ownCycle) {
            StartChip(107, c.code);
            ASSERT_EQ(sensor->SetExposure(3e6), 0);
            Fire();
            Fire();
            EXPECT_TRUE(ContainsInOrder(Fire(), {on}));
        } else {
            Make(107, c.code);
            param = Stream(Window(640, 480), 2, kBayer8);
            dev->SetSensorReg(c.reg, c.onValue);
        }
        dev->SetFpgaReg(39, 7);
        trace->Clear();
        ASSERT_EQ(sensor->Init(&param), 0);
        EXPECT_EQ(timers.Count(), 0u);
        EXPECT_TRUE(
            ContainsInOrder(Steps(), {off, Fpga(39, 1), Sleep(15), Fpga(39, 8), Fpga(39, 0)}));
        EXPECT_EQ(dev->FpgaReg(39), 0u);
        EXPECT_NE(Sensor(c.reg), c.onValue);

        ASSERT_EQ(sensor->SetExposure(10000), 0);
        EXPECT_EQ(timers.Count(), 0u);
        EXPECT_EQ(dev->FpgaReg(39), 0u);
        EXPECT_NEAR(ExposureUs(), 10000, LineUs());
    }
}

// Board 201 has no long-exposure word: opening there only ends a cycle of this driver.
TEST_F(LongExposure, OpeningOnGigEEndsOnlyAOwnCycle) {
    StartChip(201, SENSOR_TYPE_IMX294C);
    ASSERT_EQ(sensor->Init(&param), 0);
    for (const RegWrite& w : dev->FpgaRegWrites()) EXPECT_NE(w.reg, 39);
    ASSERT_EQ(sensor->SetExposure(3e6), 0);
    ASSERT_EQ(timers.Count(), 1u);
    ASSERT_EQ(sensor->Init(&param), 0);
    EXPECT_EQ(timers.Count(), 0u);
}

// After a stream close nothing starts a cycle on the closed stream (an exposure set while the
// camera is released, a trigger mode or a software trigger); the stream opened again does.
TEST_F(LongExposure, NoCycleStartsOnAClosedStream) {
    struct Case {
        SensorTypeE code;
        const char* call;
    };
    const Case kCases[] = {
        {SENSOR_TYPE_IMX294C, "exposure"},     {SENSOR_TYPE_IMX533C, "exposure"},
        {SENSOR_TYPE_IMX294C, "continuous"},   {SENSOR_TYPE_IMX533C, "continuous"},
        {SENSOR_TYPE_IMX294C, "soft trigger"}, {SENSOR_TYPE_IMX533C, "soft trigger"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.code << ", " << c.call);
        StartChip(107, c.code);
        ASSERT_EQ(sensor->SetExposure(3e6), 0);
        ASSERT_EQ(timers.Count(), 1u);
        const std::string call = c.call;
        if (call != "exposure") {
            ASSERT_EQ(sensor->SetTriggerMode(1), 0);
        }
        ASSERT_EQ(sensor->Uninit(), 0);
        ASSERT_EQ(timers.Count(), 0u);
        if (call == "exposure") {
            sensor->SetExposure(2e6);
        } else if (call == "continuous") {
            sensor->SetTriggerMode(0);
        } else {
            sensor->SoftTrigger();
        }
        EXPECT_EQ(timers.Count(), 0u);
        EXPECT_EQ(dev->FpgaReg(39), 0u);

        ASSERT_EQ(sensor->Init(&param), 0);
        ASSERT_EQ(sensor->SetExposure(2e6), 0);
        EXPECT_EQ(timers.Count(), 1u);
    }
}

}  // namespace
