// Triggering and the I/O lines of a USB camera end to end: the simulated IMX290 camera's FPGA
// trigger logic and output lines behind the real libusb, driven through the exported functions
// only. Software and hardware triggers give exactly their frames; the output lines show their
// settings on the camera; bad lines, modes and pointers change nothing on it; after the cable
// was pulled and put back the settings are on the camera again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UsbEndToEndFixture.h"

namespace {

using namespace std::chrono_literals;
using e2etest::UsbEndToEnd;
using Clock = std::chrono::steady_clock;

using Trigger = UsbEndToEnd;

constexpr uint16_t kTriggerWord = CSimUsbImx290Camera::kTriggerRegister;
constexpr uint8_t kFpgaWriteRequest = 0xD6;
constexpr uint16_t kSensorStandby = 0x3000;  // the IMX290's standby register: 0 streams

// How long a camera that must not send a frame is watched: at its frame rate, frames flowing
// on their own would show many times over.
constexpr double kFps = 60;
constexpr int kQuietMs = 300;

uint16_t TriggerSource(CSimUsbCamera& model) {
    return (model.FpgaReg(kTriggerWord) >> 1) & 7;
}

// Waits until pred holds; false when the deadline passed first.
bool WaitFor(const std::function<bool()>& pred, std::chrono::seconds limit = 10s) {
    for (const auto deadline = Clock::now() + limit; !pred();) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Whether no frame comes within kQuietMs.
bool NoFrame(HANDLE h) {
    CameraFrameHandle raw = nullptr;
    const int r = CameraGetRawImageBuffer(h, &raw, kQuietMs);
    if (r == 0) CameraReleaseFrameHandle(h, raw);
    return r == CAMERA_STATUS_TIMEOUT;
}

// Takes the frames left in the pool until none came for kQuietMs.
void DrainFrames(HANDLE h) {
    for (int i = 0; i < 100 && !NoFrame(h); ++i) {
    }
}

TEST_F(Trigger, SoftwareTriggerGivesExactlyItsFrames) {
    CSimUsbImx290Camera& cam = Plug(50, "E2E-SOFT", kFps);
    CSimUsbCamera& model = cam.Model();
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_SOFTWARE), 0);
    int mode = -1;
    EXPECT_EQ(CameraGetTriggerMode(h, &mode), 0);
    EXPECT_EQ(mode, TRIGGER_MODE_SOFTWARE);
    // The camera's trigger is on, its source the software trigger (code 6).
    EXPECT_EQ(model.FpgaReg(kTriggerWord) & 1, 1);
    EXPECT_EQ(TriggerSource(model), 6);
    ASSERT_EQ(CameraPlay(h), 0);
    const uint64_t before = model.FramesCompleted();

    EXPECT_TRUE(NoFrame(h));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CameraSoftTrigger(h), 0);
        ASSERT_TRUE(TakeRaw(h)) << i;
    }
    // An edge on the input is no trigger while the software trigger is the source.
    cam.PulseInput();
    EXPECT_TRUE(NoFrame(h));
    EXPECT_EQ(model.FramesCompleted() - before, 3u);
    EXPECT_EQ(model.TriggersTaken(), 3u);

    // n frames per trigger: the camera sends them (a host that is slower than the camera
    // finds only the newest in the pool), then nothing more.
    ASSERT_EQ(CameraSetTriggerFrameCount(h, 3), 0);
    EXPECT_EQ(model.FpgaReg(10), 0);
    EXPECT_EQ(model.FpgaReg(11), 3);
    ASSERT_EQ(CameraSoftTrigger(h), 0);
    ASSERT_TRUE(TakeRaw(h));
    ASSERT_TRUE(WaitFor([&] { return model.FramesCompleted() - before >= 6; }));
    DrainFrames(h);
    EXPECT_EQ(model.FramesCompleted() - before, 6u);

    // A negative count reaches the camera as its unsigned value: 0xFFFFFFFF frames per
    // trigger, so after one trigger the camera streams as if continuous.
    ASSERT_EQ(CameraSetTriggerFrameCount(h, -1), 0);
    EXPECT_EQ(model.FpgaReg(10), 0xFFFF);
    EXPECT_EQ(model.FpgaReg(11), 0xFFFF);
    int count = 0;
    EXPECT_EQ(CameraGetTriggerFrameCount(h, &count), 0);
    EXPECT_EQ(count, -1);
    ASSERT_EQ(CameraSoftTrigger(h), 0);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(TakeRaw(h)) << i;
    EXPECT_EQ(model.TriggersTaken(), 5u);

    // Continuous again: the trigger is off, frames flow, the software trigger is refused.
    ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_CONTINUOUS), 0);
    EXPECT_EQ(model.FpgaReg(kTriggerWord) & 1, 0);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(TakeRaw(h)) << i;
    EXPECT_EQ(CameraSoftTrigger(h), CAMERA_STATUS_FAILED);
    UnInit(h);
}

// A camera whose output line 0 is wired back to its trigger input: in hardware-trigger mode on
// that input, the line a general-purpose output driven low. Its sensor is off until a snapshot
// switches it on.
class LoopedTrigger : public UsbEndToEnd {
  protected:
    HANDLE OpenLooped(const char* serial, uint8_t address) {
        SimImx290Options options;
        options.serial = serial;
        options.port = {1, address};
        options.fps = kFps;
        options.outputLoopedToInput = true;
        m_model = &PlugWith(options).Model();
        if (EnumerateUntil(1) != 0) return nullptr;
        HANDLE h = Init(0);
        if (h == nullptr) return nullptr;
        EXPECT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_HARDWARE), 0);
        EXPECT_EQ(CameraSetTriggerSignalType(h, 0, 0), 0);
        EXPECT_EQ(TriggerSource(*m_model), 1);
        EXPECT_EQ(CameraSetOutputIOState(h, 0, 0), 0);
        EXPECT_EQ(CameraSetOutputIOMode(h, 0, IOMODE_GP_OUTPUT), 0);
        EXPECT_TRUE(m_model->OutputLine(0).DrivenLow());
        EXPECT_FALSE(SensorStreaming());
        return h;
    }
    bool SensorStreaming() const {
        return m_model->SensorReg(CSimUsbImx290Camera::kSensorBusAddress, kSensorStandby) ==
               std::optional<uint16_t>(0);
    }
    // Pulses the output line until done is set (by the snapshot that the edge lets through).
    static void PulseUntil(HANDLE h, const std::atomic<bool>& done) {
        while (!done) {
            EXPECT_EQ(CameraSetOutputIOState(h, 0, 1), 0);
            EXPECT_EQ(CameraSetOutputIOState(h, 0, 0), 0);
            std::this_thread::sleep_for(20ms);
        }
    }
    CSimUsbCamera* m_model = nullptr;
};

// A host that fires its own trigger: one thread waits in a snapshot for the hardware trigger
// while another drives the output line; the snapshot returns the frame that the edge let
// through. The line is pulsed once the shot has switched the paused sensor on (from then on the
// snapshot only waits), until it has its frame.
TEST_F(LoopedTrigger, SnapshotTakesTheFrameAnOutputLineTriggers) {
    HANDLE h = OpenLooped("E2E-LOOP", 57);
    ASSERT_NE(h, nullptr);
    CSimUsbCamera& model = *m_model;
    const uint64_t triggers = model.TriggersTaken();
    const uint64_t frames = model.FramesCompleted();

    std::atomic<bool> done{false};
    int result = 1;
    CameraFrameHandle frame = nullptr;
    stImageInfo info{};
    BYTE* data = nullptr;
    std::thread snap([&] {
        result = CameraSnapToBuffer(h, &frame, &info, &data, 20000);
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return SensorStreaming(); }));
    PulseUntil(h, done);
    snap.join();
    ASSERT_EQ(result, 0);
    ASSERT_NE(data, nullptr);
    // Frames flow only when triggered: this one came from an edge on the looped-back line.
    EXPECT_GT(model.TriggersTaken(), triggers);
    EXPECT_GT(model.FramesCompleted(), frames);
    EXPECT_EQ(info.uiMediaType, e2etest::kMono8);
    uint64_t no = 0;
    EXPECT_EQ(CameraGetImageFrameNo(h, frame, &no), 0);
    EXPECT_EQ(data[0], CSimFrameGenerator::RampByte(no, 0));
    EXPECT_EQ(CameraReleaseFrameHandle(h, frame), 0);
}

// The same host adjusts the image and saves its settings while the snapshot waits, and only
// then fires the trigger: the settings calls answer without waiting for the shot, which could
// otherwise end only at its time-out.
TEST_F(LoopedTrigger, ImageSettingsAnswerWhileASnapshotWaitsForTheLine) {
    HANDLE h = OpenLooped("E2E-LOOP-IMAGE", 58);
    ASSERT_NE(h, nullptr);
    int value = 0;
    double us = 0;
    USHORT red = 0, green = 0, blue = 0;
    CameraCurDevInfo devInfo{};
    struct Row {
        const char* name;
        std::function<int()> call;
    };
    const std::vector<Row> rows = {
        {"AE off", [&] { return CameraSetAeState(h, 0); }},
        {"exposure time", [&] { return CameraSetExposureTime(h, 5000); }},
        {"its getter", [&] { return CameraGetExposureTime(h, &us); }},
        {"analog gain", [&] { return CameraSetAnalogGain(h, 200); }},
        {"its getter", [&] { return CameraGetAnalogGain(h, &value); }},
        {"WB mode", [&] { return CameraSetWbMode(h, 0); }},
        {"gains", [&] { return CameraSetGain(h, 120, 100, 140); }},
        {"their getter", [&] { return CameraGetGain(h, &red, &green, &blue); }},
        {"LUT mode", [&] { return CameraSetLutMode(h, 0); }},
        {"gamma", [&] { return CameraSetGamma(h, 120); }},
        {"its getter", [&] { return CameraGetGamma(h, &value); }},
        {"sharpness", [&] { return CameraSetSharpness(h, 10); }},
        {"saturation", [&] { return CameraSetSaturation(h, 50); }},
        {"contrast", [&] { return CameraSetContrast(h, 60); }},
        {"AE window", [&] { return CameraSetAeWindow(h, 0, 0, 320, 240); }},
        {"mirror", [&] { return CameraSetMirror(h, 1, 1); }},
        {"its getter", [&] { return CameraGetMirror(h, 1, &value); }},
        {"monochrome", [&] { return CameraSetMonochrome(h, 1); }},
        {"black level", [&] { return CameraSetBlackLevel(h, 3); }},
        {"group saved", [&] { return CameraSaveParameter(h, 1); }},
        {"current device information", [&] { return CameraGetCurDevInfo(h, &devInfo); }},
    };

    std::atomic<bool> done{false};
    int result = 1;
    CameraFrameHandle frame = nullptr;
    BYTE* data = nullptr;
    std::thread snap([&] {
        result = CameraSnapToBuffer(h, &frame, nullptr, &data, 20000);
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return SensorStreaming(); }));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(), 0);
    }
    PulseUntil(h, done);
    snap.join();
    ASSERT_EQ(result, 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(CameraReleaseFrameHandle(h, frame), 0);
    // The calls took effect: the getters and the saved group tell what was set.
    EXPECT_EQ(CameraGetGamma(h, &value), 0);
    EXPECT_EQ(value, 120);
    EXPECT_EQ(CameraGetMirror(h, 1, &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(devInfo.sDevInfo.uInUse, 1u);
}

TEST_F(Trigger, HardwareTriggerGivesOneFramePerEdge) {
    CSimUsbImx290Camera& cam = Plug(51, "E2E-HARD", kFps);
    CSimUsbCamera& model = cam.Model();
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    // Input 0 is a trigger input; its signal type reaches the camera in hardware-trigger mode.
    int inputMode = -1;
    EXPECT_EQ(CameraGetInputIOMode(h, 0, &inputMode), 0);
    EXPECT_EQ(inputMode, 0);
    ASSERT_EQ(CameraSetTriggerSignalType(h, 0, 3), 0);
    EXPECT_EQ(TriggerSource(model), 0);
    ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_HARDWARE), 0);
    EXPECT_EQ(model.FpgaReg(kTriggerWord) & 1, 1);
    EXPECT_EQ(TriggerSource(model), 4);  // signal type 3
    ASSERT_EQ(CameraSetTriggerSignalType(h, 0, 0), 0);
    EXPECT_EQ(TriggerSource(model), 1);
    ASSERT_EQ(CameraSetTriggerJitterTime(h, 0, 0x20003), 0);
    EXPECT_EQ(model.FpgaReg(12), 2);
    EXPECT_EQ(model.FpgaReg(13), 3);
    ASSERT_EQ(CameraSetTriggerDelayTime(h, 0x10007), 0);
    EXPECT_EQ(model.FpgaReg(14), 1);
    EXPECT_EQ(model.FpgaReg(15), 7);
    ASSERT_EQ(CameraPlay(h), 0);
    const uint64_t before = model.FramesCompleted();

    EXPECT_TRUE(NoFrame(h));
    for (int i = 0; i < 3; ++i) {
        cam.PulseInput();
        ASSERT_TRUE(TakeRaw(h)) << i;
    }
    EXPECT_TRUE(NoFrame(h));
    EXPECT_EQ(model.FramesCompleted() - before, 3u);
    // The software trigger is not this mode's.
    EXPECT_EQ(CameraSoftTrigger(h), CAMERA_STATUS_FAILED);

    // The input's level, as the camera reads it.
    UINT state = 7;
    model.SetInputLevel(1);
    EXPECT_EQ(CameraGetInputIOState(h, 0, &state), 0);
    EXPECT_EQ(state, 1u);
    model.SetInputLevel(0);
    EXPECT_EQ(CameraGetInputIOState(h, 0, &state), 0);
    EXPECT_EQ(state, 0u);

    ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_CONTINUOUS), 0);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(TakeRaw(h)) << i;
    UnInit(h);
}

TEST_F(Trigger, OutputLinesShowTheirSettingsOnTheCamera) {
    CSimUsbImx290Camera& cam = Plug(52, "E2E-LINES", kFps);
    CSimUsbCamera& model = cam.Model();
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);

    // Line 1 starts as a general-purpose output driven low.
    EXPECT_TRUE(model.OutputLine(1).DrivenLow());
    ASSERT_EQ(CameraSetOutputIOState(h, 1, 1), 0);
    EXPECT_TRUE(model.OutputLine(1).DrivenHigh());

    // Line 0 is a strobe output: its settings go to the camera at once.
    ASSERT_EQ(CameraSetStrobeMode(h, 0, 1), 0);
    ASSERT_EQ(CameraSetStrobePolarity(h, 0, 0), 0);
    ASSERT_EQ(CameraSetStrobeDelayTime(h, 0, 0x12345), 0);
    ASSERT_EQ(CameraSetStrobePulseWidth(h, 0, 700), 0);
    SimOutputLine line0 = model.OutputLine(0);
    EXPECT_EQ(line0.code, 1);
    EXPECT_FALSE(line0.polarity);
    EXPECT_EQ(line0.strobeDelay, 0x12345u);
    EXPECT_EQ(line0.pulseWidth, 700u);
    ASSERT_EQ(CameraSetStrobePolarity(h, 0, 1), 0);
    EXPECT_TRUE(model.OutputLine(0).polarity);
    EXPECT_TRUE(model.OutputLine(1).DrivenHigh());

    // PWM values on the general-purpose line wait for its switch to PWM.
    ASSERT_EQ(CameraSetOutputIOPWM(h, 1, 5000, 1250), 0);
    EXPECT_TRUE(model.OutputLine(1).DrivenHigh());
    ASSERT_EQ(CameraSetOutputIOMode(h, 1, IOMODE_PWM_OUTPUT), 0);
    SimOutputLine line1 = model.OutputLine(1);
    EXPECT_TRUE(line1.Pwm());
    EXPECT_EQ(line1.strobeDelay, 5000u);  // the period
    EXPECT_EQ(line1.pulseWidth, 1250u);   // the duty
    EXPECT_EQ(model.OutputLine(0).code, 1);

    // Line 0 to general purpose, driven low; a write the camera refuses reaches the caller,
    // and neither the camera's line nor the stored level changes.
    ASSERT_EQ(CameraSetOutputIOMode(h, 0, IOMODE_GP_OUTPUT), 0);
    EXPECT_TRUE(model.OutputLine(0).DrivenLow());
    model.InjectFault({.kind = SimFaultKind::kStall, .request = kFpgaWriteRequest});
    EXPECT_NE(CameraSetOutputIOState(h, 0, 1), 0);
    EXPECT_TRUE(model.OutputLine(0).DrivenLow());
    int level = -1;
    EXPECT_EQ(CameraGetOutputIOState(h, 0, &level), 0);
    EXPECT_EQ(level, 0);
    ASSERT_EQ(CameraSetOutputIOState(h, 0, 1), 0);
    EXPECT_TRUE(model.OutputLine(0).DrivenHigh());
    UnInit(h);
}

TEST_F(Trigger, BadLinesModesAndPointersChangeNothingOnTheCamera) {
    CSimUsbImx290Camera& cam = Plug(53, "E2E-BAD", kFps);
    CSimUsbCamera& model = cam.Model();
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    int i = 77;
    UINT u = 77, u2 = 77;
    // The camera has output lines 0 and 1 and input line 0.
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"strobe mode, output 2", [&] { return CameraSetStrobeMode(h, 2, 1); }},
        {"strobe delay, output -1", [&] { return CameraSetStrobeDelayTime(h, -1, 5); }},
        {"strobe width, output 4", [&] { return CameraSetStrobePulseWidth(h, 4, 5); }},
        {"strobe polarity, output 2", [&] { return CameraSetStrobePolarity(h, 2, 1); }},
        {"strobe mode getter, output 2", [&] { return CameraGetStrobeMode(h, 2, &i); }},
        {"output mode, output 2", [&] { return CameraSetOutputIOMode(h, 2, 1); }},
        {"output mode 3", [&] { return CameraSetOutputIOMode(h, 0, 3); }},
        {"output state, output -1", [&] { return CameraSetOutputIOState(h, -1, 1); }},
        {"pwm, output 2", [&] { return CameraSetOutputIOPWM(h, 2, 10, 5); }},
        {"pwm duty above period", [&] { return CameraSetOutputIOPWM(h, 1, 100, 200); }},
        {"jitter, input 1", [&] { return CameraSetTriggerJitterTime(h, 1, 5); }},
        {"signal type, input -1", [&] { return CameraSetTriggerSignalType(h, -1, 1); }},
        {"signal type getter, input 1", [&] { return CameraGetTriggerSignalType(h, 1, &i); }},
        {"input mode, input 1", [&] { return CameraSetInputIOMode(h, 1, 0); }},
        {"input state, input 1", [&] { return CameraGetInputIOState(h, 1, &u); }},
        {"input state, null", [&] { return CameraGetInputIOState(h, 0, nullptr); }},
        {"trigger mode 3", [&] { return CameraSetTriggerMode(h, 3); }},
        {"trigger mode -1", [&] { return CameraSetTriggerMode(h, -1); }},
        {"trigger mode 32", [&] { return CameraSetTriggerMode(h, 32); }},
        {"soft trigger in continuous mode", [&] { return CameraSoftTrigger(h); }},
        {"packet size getter, null", [&] { return CameraGigeGetTransPacketSize(h, nullptr); }},
        {"packet delay getter, null", [&] { return CameraGigeGetPacketDelayTime(h, nullptr); }},
    };
    const std::vector<int> expected = {-6, -6, -6, -6, -6, -4, -6, -4, -4, -6, -6,
                                       -6, -6, -4, -4, -6, -6, -6, -6, -1, -6, -6};
    ASSERT_EQ(calls.size(), expected.size());
    const size_t requests = model.Requests().size();
    for (size_t k = 0; k < calls.size(); ++k)
        EXPECT_EQ(calls[k].second(), expected[k]) << calls[k].first;
    EXPECT_EQ(model.Requests().size(), requests);
    EXPECT_EQ(i, 77);
    EXPECT_EQ(u, 77u);
    EXPECT_EQ(CameraGetOutputIOPWM(h, 1, &u, &u2), 0);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(u2, 0u);

    // On a USB camera the GigE stream settings are kept, the device operations refused.
    EXPECT_EQ(CameraGigeSetPacketDelayTime(h, 20), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(CameraGigeSetResend(h, 1, 1, 2, 3), CAMERA_STATUS_NOT_SUPPORTED);
    int size = 0;
    EXPECT_EQ(CameraGigeGetOptimalPacketSize(h, &size), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(CameraGigeSetTransPacketSize(h, 4003), 0);
    EXPECT_EQ(CameraGigeGetTransPacketSize(h, &size), 0);
    EXPECT_EQ(size, 4000);

    // The stream runs on.
    ASSERT_EQ(CameraPlay(h), 0);
    ASSERT_TRUE(TakeRaw(h));
    UnInit(h);
}

// The cable is pulled in hardware-trigger mode and put back: the keep-alive service opens the
// camera again, and its lines and trigger are set as before.
TEST_F(Trigger, SettingsAreOnTheCameraAgainAfterReplug) {
    CSimUsbImx290Camera& cam = Plug(54, "E2E-REPLUG", kFps);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(CameraSetOutputIOState(h, 1, 1), 0);
    ASSERT_EQ(CameraSetStrobeDelayTime(h, 0, 3000), 0);
    ASSERT_EQ(CameraSetStrobePulseWidth(h, 0, 400), 0);
    ASSERT_EQ(CameraSetStrobePolarity(h, 0, 0), 0);
    ASSERT_EQ(CameraSetTriggerSignalType(h, 0, 2), 0);
    ASSERT_EQ(CameraSetTriggerFrameCount(h, 2), 0);
    ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_HARDWARE), 0);
    ASSERT_EQ(CameraPlay(h), 0);
    const uint64_t frames = cam.Model().FramesCompleted();
    cam.PulseInput();
    ASSERT_TRUE(TakeRaw(h));
    ASSERT_TRUE(WaitFor([&] { return cam.Model().FramesCompleted() - frames >= 2; }));

    auto registers = [](CSimUsbCamera& m) {
        std::vector<uint16_t> v;
        for (uint16_t r = 0; r < 40; ++r) v.push_back(m.FpgaReg(r));
        return v;
    };
    const std::vector<uint16_t> before = registers(cam.Model());
    EXPECT_EQ(TriggerSource(cam.Model()), 3);

    cam.Pull();
    // In a trigger mode the camera is found lost by its failed alive check.
    CameraFrameHandle raw = nullptr;
    int r = 0;
    for (auto deadline = Clock::now() + 30s; Clock::now() < deadline;) {
        r = CameraGetRawImageBuffer(h, &raw, 100);
        if (r == 0) CameraReleaseFrameHandle(h, raw);
        if (r == CAMERA_STATUS_DEVICE_LOST) break;
    }
    ASSERT_EQ(r, CAMERA_STATUS_DEVICE_LOST);

    cam.PlugAgain();
    std::optional<RawFrame> back;
    for (auto deadline = Clock::now() + 60s; !back && Clock::now() < deadline;) {
        cam.PulseInput();  // a trigger only once the stream runs again
        back = TakeRaw(h, 200);
    }
    ASSERT_TRUE(back) << "no triggered frame after the camera came back";
    CSimUsbCamera& model = cam.Model();
    EXPECT_EQ(registers(model), before);
    EXPECT_EQ(model.FpgaReg(kTriggerWord) & 1, 1);
    EXPECT_EQ(TriggerSource(model), 3);
    EXPECT_TRUE(model.OutputLine(1).DrivenHigh());
    const SimOutputLine line0 = model.OutputLine(0);
    EXPECT_TRUE(line0.Strobe());
    EXPECT_FALSE(line0.polarity);
    EXPECT_EQ(line0.strobeDelay, 3000u);
    EXPECT_EQ(line0.pulseWidth, 400u);
    UnInit(h);
}

}  // namespace
