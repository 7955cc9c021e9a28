// The controller's trigger, strobe and I/O-line settings and the GigE stream settings on the
// device double: the line checks, what reaches the device in which mode and order, what is
// stored when the device refuses, the trigger-mode change and the packet settings; and the
// export entries' own checks.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "QVCameraApi.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CTestCamera;

// A camera with all three trigger modes that reports 8 output and 4 input lines, more than the
// controller handles.
class Trigger : public ControllerTest {
  protected:
    CameraControl* OpenCamera(uint32_t triggerModes = 0x7, int* r = nullptr) {
        m_camera = std::make_shared<CTestCamera>();
        m_camera->ScriptParameters(
            0, [&](CameraProperty& p) { p.triggerModeMask = triggerModes; },
            [](tSdkCapability& c) {
                c.uOutputIoCount = 8;
                c.uInputIoCount = 4;
            });
        return Open(m_camera, -1, -1, r);
    }
    std::vector<std::string> CallsSince() const {
        std::vector<std::string> out;
        for (const qvsim::FakeCall& call : m_camera->Calls()) out.push_back(call.ToString());
        return out;
    }
    std::shared_ptr<CTestCamera> m_camera;
};

// ---- Line checks -----------------------------------------------------------------------------

TEST_F(Trigger, LineIndicesAreCheckedBeforeAnyDeviceCall) {
    CameraControl* c = OpenCamera();
    int i = 0;
    uint32_t u = 0, u2 = 0;
    struct Op {
        const char* name;
        bool output;  // else an input line
        int badCode;
        std::function<int(int line)> call;
    };
    const std::vector<Op> ops = {
        {"SetStrobeMode", true, -6, [&](int l) { return c->CameraSetStrobeMode(l, 1); }},
        {"GetStrobeMode", true, -6, [&](int l) { return c->CameraGetStrobeMode(l, &i); }},
        {"SetStrobeDelayTime", true, -6, [&](int l) { return c->CameraSetStrobeDelayTime(l, 5); }},
        {"GetStrobeDelayTime", true, -6, [&](int l) { return c->CameraGetStrobeDelayTime(l, &u); }},
        {"SetStrobePulseWidth", true, -6,
         [&](int l) { return c->CameraSetStrobePulseWidth(l, 5); }},
        {"GetStrobePulseWidth", true, -6,
         [&](int l) { return c->CameraGetStrobePulseWidth(l, &u); }},
        {"SetStrobePolarity", true, -6, [&](int l) { return c->CameraSetStrobePolarity(l, 1); }},
        {"GetStrobePolarity", true, -6, [&](int l) { return c->CameraGetStrobePolarity(l, &i); }},
        {"SetOutputIOMode", true, -4, [&](int l) { return c->CameraSetOutputIOMode(l, 1); }},
        {"GetOutputIOMode", true, -4, [&](int l) { return c->CameraGetOutputIOMode(l, &i); }},
        {"SetOutputIOState", true, -4, [&](int l) { return c->CameraSetOutputIOState(l, 1); }},
        {"GetOutputIOState", true, -4, [&](int l) { return c->CameraGetOutputIOState(l, &i); }},
        {"SetOutputIOPWM", true, -4, [&](int l) { return c->CameraSetOutputIOPWM(l, 10, 5); }},
        {"GetOutputIOPWM", true, -4, [&](int l) { return c->CameraGetOutputIOPWM(l, &u, &u2); }},
        {"SetTriggerJitterTime", false, -6,
         [&](int l) { return c->CameraSetTriggerJitterTime(l, 3); }},
        {"GetTriggerJitterTime", false, -6,
         [&](int l) { return c->CameraGetTriggerJitterTime(l, &u); }},
        {"SetTriggerSignalType", false, -6,
         [&](int l) { return c->CameraSetTriggerSignalType(l, 1); }},
        {"GetTriggerSignalType", false, -6,
         [&](int l) { return c->CameraGetTriggerSignalType(l, &i); }},
        {"SetInputIOMode", false, -4, [&](int l) { return c->CameraSetInputIOMode(l, 0); }},
        {"GetInputIOMode", false, -4, [&](int l) { return c->CameraGetInputIOMode(l, &i); }},
    };
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        const int handled = op.output ? 4 : 2;
        for (int line = 0; line < handled; ++line) EXPECT_EQ(op.call(line), 0) << line;
        // Beyond what the controller handles although the camera reports more, and below 0.
        for (int line : {handled, handled + 1, -1, INT_MIN}) {
            m_camera->ClearCalls();
            EXPECT_EQ(op.call(line), op.badCode) << line;
            EXPECT_TRUE(m_camera->Calls().empty()) << line;
        }
    }
}

// The input-state query checks only the camera's input count, and its pointer.
TEST_F(Trigger, InputStateAsksTheDevice) {
    CameraControl* c = OpenCamera();
    uint32_t state = 7;
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraGetInputIOState(2, &state), 0);
    EXPECT_EQ(state, 0u);
    EXPECT_EQ(CallsSince(), (std::vector<std::string>{"GetInputIOState(2)"}));
    m_camera->SetResult("GetInputIOState", CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGetInputIOState(0, &state), CAMERA_STATUS_NOT_SUPPORTED);
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraGetInputIOState(4, &state), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGetInputIOState(-1, &state), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGetInputIOState(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(m_camera->Calls().empty());
}

// ---- Values by mode --------------------------------------------------------------------------

TEST_F(Trigger, ValuesOfAnotherModeAreStoredAndSentAtTheSwitch) {
    CameraControl* c = OpenCamera();
    // Output 1 starts as a general-purpose output: the same mode again sends nothing.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetOutputIOMode(1, IOMODE_GP_OUTPUT), 0);
    EXPECT_TRUE(m_camera->Calls().empty());

    // Strobe and PWM values on a general-purpose line: stored, nothing sent.
    EXPECT_EQ(c->CameraSetStrobeMode(1, 1), 0);
    EXPECT_EQ(c->CameraSetStrobeDelayTime(1, 1200), 0);
    EXPECT_EQ(c->CameraSetStrobePolarity(1, 0), 0);
    EXPECT_EQ(c->CameraSetStrobePulseWidth(1, 300), 0);
    EXPECT_EQ(c->CameraSetOutputIOPWM(1, 100, 40), 0);
    EXPECT_TRUE(m_camera->Calls().empty());
    uint32_t delay = 0;
    EXPECT_EQ(c->CameraGetStrobeDelayTime(1, &delay), 0);
    EXPECT_EQ(delay, 1200u);

    // The switch to strobe sends mode, polarity, delay and width, then the mode.
    EXPECT_EQ(c->CameraSetOutputIOMode(1, IOMODE_STROBE_OUTPUT), 0);
    EXPECT_EQ(CallsSince(),
              (std::vector<std::string>{"SetStrobeMode(1,1)", "SetStrobePolarity(1,0)",
                                        "SetStrobeDelayTime(1,1200)", "SetStrobePulseWidth(1,300)",
                                        "SetOutputIOMode(1,0)"}));
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetOutputIOMode(1, IOMODE_STROBE_OUTPUT), 0);
    EXPECT_TRUE(m_camera->Calls().empty());
    // In strobe mode a strobe value goes at once; a level is only stored.
    EXPECT_EQ(c->CameraSetStrobeDelayTime(1, 50), 0);
    EXPECT_EQ(c->CameraSetOutputIOState(1, 5), 0);
    EXPECT_EQ(CallsSince(), (std::vector<std::string>{"SetStrobeDelayTime(1,50)"}));

    // To PWM: period and duty, then the mode.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetOutputIOMode(1, IOMODE_PWM_OUTPUT), 0);
    EXPECT_EQ(CallsSince(),
              (std::vector<std::string>{"SetOutputIOPWM(1,100,40)", "SetOutputIOMode(1,2)"}));
    // And the level stored meanwhile (any non-zero level drives the line) at the next switch.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetOutputIOMode(1, IOMODE_GP_OUTPUT), 0);
    EXPECT_EQ(CallsSince(),
              (std::vector<std::string>{"SetOutputIOState(1,1)", "SetOutputIOMode(1,1)"}));
    int mode = -1;
    EXPECT_EQ(c->CameraGetOutputIOMode(1, &mode), 0);
    EXPECT_EQ(mode, IOMODE_GP_OUTPUT);

    // A stream open sends each handled line's values by its mode (strobe: mode, delay,
    // polarity, width), then its mode.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraGigeSetTransPacketSize(4000), 0);
    std::vector<std::string> lines;
    for (const std::string& call : CallsSince())
        if (call.rfind("SetStrobe", 0) == 0 || call.rfind("SetOutput", 0) == 0)
            lines.push_back(call);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "SetStrobeMode(0,0)", "SetStrobeDelayTime(0,0)", "SetStrobePolarity(0,1)",
                         "SetStrobePulseWidth(0,1000)", "SetOutputIOMode(0,0)",
                         "SetOutputIOState(1,1)", "SetOutputIOMode(1,1)", "SetOutputIOState(2,0)",
                         "SetOutputIOMode(2,1)", "SetOutputIOState(3,0)", "SetOutputIOMode(3,1)"}));
}

TEST_F(Trigger, ModeSwitchStoresTheModeAndCombinesTheDeviceResults) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetOutputIOMode(0, IOMODE_GP_OUTPUT), 0);
    m_camera->SetResult("SetStrobePolarity", CAMERA_STATUS_PARAMETER_OUT_OF_RANGE);
    EXPECT_EQ(c->CameraSetOutputIOMode(0, IOMODE_STROBE_OUTPUT),
              CAMERA_STATUS_PARAMETER_OUT_OF_RANGE);
    int mode = -1;
    EXPECT_EQ(c->CameraGetOutputIOMode(0, &mode), 0);
    EXPECT_EQ(mode, IOMODE_STROBE_OUTPUT);
    // A mode the lines do not have: refused before anything is sent or stored.
    m_camera->ClearCalls();
    for (int bad : {3, 255, 256, -1}) EXPECT_EQ(c->CameraSetOutputIOMode(0, bad), -6) << bad;
    EXPECT_TRUE(m_camera->Calls().empty());
    EXPECT_EQ(c->CameraGetOutputIOMode(0, &mode), 0);
    EXPECT_EQ(mode, IOMODE_STROBE_OUTPUT);
}

// A device failure in the matching mode is returned and the stored value stays.
TEST_F(Trigger, DeviceFailureLeavesTheStoredValue) {
    CameraControl* c = OpenCamera();
    constexpr int kRefused = CAMERA_STATUS_PARAMETER_OUT_OF_RANGE;
    ASSERT_EQ(c->CameraSetOutputIOMode(2, IOMODE_PWM_OUTPUT), 0);
    ASSERT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
    int i = 0;
    uint32_t u = 0, u2 = 0;
    auto asInt = [&](int r) { return r == 0 ? int64_t{i} : -100; };
    auto asUint = [&](int r) { return r == 0 ? int64_t{u} : -100; };
    struct Row {
        const char* op;
        uint32_t value;  // differs from the camera's default
        std::function<int(uint32_t)> set;
        std::function<int64_t()> stored;
    };
    const std::vector<Row> rows = {
        {"SetStrobeDelayTime", 9, [&](uint32_t v) { return c->CameraSetStrobeDelayTime(0, v); },
         [&] { return asUint(c->CameraGetStrobeDelayTime(0, &u)); }},
        {"SetStrobeMode", 1, [&](uint32_t v) { return c->CameraSetStrobeMode(0, int(v)); },
         [&] { return asInt(c->CameraGetStrobeMode(0, &i)); }},
        {"SetStrobePolarity", 0, [&](uint32_t v) { return c->CameraSetStrobePolarity(0, int(v)); },
         [&] { return asInt(c->CameraGetStrobePolarity(0, &i)); }},
        {"SetStrobePulseWidth", 9, [&](uint32_t v) { return c->CameraSetStrobePulseWidth(0, v); },
         [&] { return asUint(c->CameraGetStrobePulseWidth(0, &u)); }},
        {"SetOutputIOState", 1, [&](uint32_t v) { return c->CameraSetOutputIOState(1, int(v)); },
         [&] { return asInt(c->CameraGetOutputIOState(1, &i)); }},
        {"SetOutputIOPWM", 80, [&](uint32_t v) { return c->CameraSetOutputIOPWM(2, v, 20); },
         [&] { return asUint(c->CameraGetOutputIOPWM(2, &u, &u2)); }},
        {"SetTriggerSignalType", 3,
         [&](uint32_t v) { return c->CameraSetTriggerSignalType(0, int(v)); },
         [&] { return asInt(c->CameraGetTriggerSignalType(0, &i)); }},
        {"SetTriggerJitterTime", 9, [&](uint32_t v) { return c->CameraSetTriggerJitterTime(0, v); },
         [&] { return asUint(c->CameraGetTriggerJitterTime(0, &u)); }},
        {"SetTriggerFrameCount", 4,
         [&](uint32_t v) { return c->CameraSetTriggerFrameCount(int(v)); },
         [&] { return asInt(c->CameraGetTriggerFrameCount(&i)); }},
        {"SetTriggerDelayTime", 9, [&](uint32_t v) { return c->CameraSetTriggerDelayTime(v); },
         [&] { return asUint(c->CameraGetTriggerDelayTime(&u)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.op);
        const int64_t before = row.stored();
        ASSERT_NE(before, int64_t{row.value});
        m_camera->SetResult(row.op, kRefused);
        m_camera->ClearCalls();
        EXPECT_EQ(row.set(row.value), kRefused);
        EXPECT_EQ(m_camera->CallCount(row.op), 1u);
        EXPECT_EQ(row.stored(), before);
        m_camera->SetResult(row.op, 0);
        EXPECT_EQ(row.set(row.value), 0);
        EXPECT_EQ(row.stored(), int64_t{row.value});
    }
}

TEST_F(Trigger, PwmDutyAbovePeriodIsRefused) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetOutputIOMode(0, IOMODE_PWM_OUTPUT), 0);
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetOutputIOPWM(0, 100, 200), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(m_camera->Calls().empty());
    uint32_t period = 1, duty = 1;
    EXPECT_EQ(c->CameraGetOutputIOPWM(0, &period, &duty), 0);
    EXPECT_EQ(period, 0u);
    EXPECT_EQ(duty, 0u);
    EXPECT_EQ(c->CameraSetOutputIOPWM(0, 100, 100), 0);
    EXPECT_EQ(CallsSince(), (std::vector<std::string>{"SetOutputIOPWM(0,100,100)"}));
}

// ---- Trigger mode and inputs -----------------------------------------------------------------

TEST_F(Trigger, TriggerModeOutsideTheMaskIsRefusedWithoutTouchingTheStream) {
    CameraControl* c = OpenCamera(0x3);  // continuous and software only
    m_camera->ClearCalls();
    for (int mode : {int{TRIGGER_MODE_HARDWARE}, 3, 31, 32, 33, 64, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(c->CameraSetTriggerMode(mode), CAMERA_STATUS_PARAMETER_INVALID) << mode;
    EXPECT_TRUE(m_camera->Calls().empty());
    int mode = -1;
    EXPECT_EQ(c->CameraGetTriggerMode(&mode), 0);
    EXPECT_EQ(mode, TRIGGER_MODE_CONTINUOUS);
    // Without the hardware trigger there are no trigger inputs to configure.
    uint32_t time = 0;
    int type = 0;
    EXPECT_EQ(c->CameraSetTriggerJitterTime(0, 5), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGetTriggerJitterTime(0, &time), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraSetTriggerSignalType(0, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGetTriggerSignalType(0, &type), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(m_camera->Calls().empty());
}

TEST_F(Trigger, NewTriggerModeReopensTheStream) {
    CameraControl* c = OpenCamera();
    qvsim::LogCapture log;
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_SOFTWARE), 0);
    const std::vector<std::string> calls = CallsSince();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(m_camera->CallCount("CloseStream"), 1u);
    EXPECT_EQ(m_camera->CallCount("OpenStream"), 1u);
    EXPECT_EQ(m_camera->CallsNamed({"SetTriggerMode"}).size(), 1u);
    EXPECT_EQ(m_camera->CallsNamed({"SetTriggerMode"})[0].args, (std::vector<int64_t>{1}));
    EXPECT_EQ(log.Count("CameraSetTriggerMode  1\n"), 1);
    // The same mode again: nothing.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_SOFTWARE), 0);
    EXPECT_TRUE(m_camera->Calls().empty());
    // A reopen that fails is the caller's answer.
    m_camera->SetResult("OpenStream", CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_CONTINUOUS), CAMERA_STATUS_FAILED);
}

TEST_F(Trigger, SignalTypeAndInputModeReachTheDeviceInHardwareModeOnly) {
    CameraControl* c = OpenCamera();
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetTriggerSignalType(1, 3), 0);  // continuous mode: stored only
    EXPECT_TRUE(m_camera->Calls().empty());
    ASSERT_EQ(c->CameraSetTriggerJitterTime(1, 40), 0);  // input 1 is no trigger input
    ASSERT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
    // Input 1 is no trigger input: its signal type is stored only.
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetTriggerSignalType(1, 2), 0);
    EXPECT_TRUE(m_camera->Calls().empty());
    // Making it one sends its signal type and debounce time; refusals do not stop the switch.
    m_camera->SetResult("SetTriggerJitterTime", CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraSetInputIOMode(1, 0), 0);
    EXPECT_EQ(CallsSince(), (std::vector<std::string>{"SetTriggerSignalType(1,2)",
                                                      "SetTriggerJitterTime(1,40)"}));
    int mode = -1;
    EXPECT_EQ(c->CameraGetInputIOMode(1, &mode), 0);
    EXPECT_EQ(mode, 0);
}

// The record keeps an input's mode in a byte: a mode beyond it (256 would read back as 0, a
// trigger input that was never sent its signal type) is refused with nothing sent or stored.
TEST_F(Trigger, InputModeOutsideItsByteIsRefused) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
    ASSERT_EQ(c->CameraSetInputIOMode(1, 5), 0);
    m_camera->ClearCalls();
    for (int bad : {256, 0x10000, -1, INT_MIN}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(c->CameraSetInputIOMode(1, bad), CAMERA_STATUS_PARAMETER_INVALID);
        int mode = -1;
        EXPECT_EQ(c->CameraGetInputIOMode(1, &mode), 0);
        EXPECT_EQ(mode, 5);
    }
    EXPECT_TRUE(m_camera->Calls().empty());
    // The whole byte is the device's: 255 is kept as given.
    EXPECT_EQ(c->CameraSetInputIOMode(1, 255), 0);
    int mode = -1;
    EXPECT_EQ(c->CameraGetInputIOMode(1, &mode), 0);
    EXPECT_EQ(mode, 255);
}

// The device counts frames unsigned: a negative count reaches it as its two's complement, and
// the caller reads back what it gave.
TEST_F(Trigger, NegativeFrameCountReachesTheDeviceUnsigned) {
    CameraControl* c = OpenCamera();
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetTriggerFrameCount(-1), 0);
    EXPECT_EQ(CallsSince(), (std::vector<std::string>{"SetTriggerFrameCount(4294967295)"}));
    int count = 0;
    EXPECT_EQ(c->CameraGetTriggerFrameCount(&count), 0);
    EXPECT_EQ(count, -1);
    // A stream open in a trigger mode sends the same.
    m_camera->ClearCalls();
    ASSERT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_SOFTWARE), 0);
    EXPECT_EQ(m_camera->CallsNamed({"SetTriggerFrameCount"}).at(0).args,
              (std::vector<int64_t>{4294967295}));
}

// ---- GigE stream settings --------------------------------------------------------------------

TEST_F(Trigger, PacketSizeAndDelayAreNormalised) {
    CameraControl* c = OpenCamera();
    struct Row {
        int given;
        int stored;
    };
    for (const Row& row : std::vector<Row>{
             {1, 1500}, {9003, 9000}, {8999, 8996}, {-1, 9000}, {1501, 1500}, {4003, 4000}}) {
        SCOPED_TRACE(row.given);
        int before = 0;
        ASSERT_EQ(c->CameraGigeGetTransPacketSize(&before), 0);
        m_camera->ClearCalls();
        EXPECT_EQ(c->CameraGigeSetTransPacketSize(row.given), 0);
        int size = 0;
        EXPECT_EQ(c->CameraGigeGetTransPacketSize(&size), 0);
        EXPECT_EQ(size, row.stored);
        // Only a new size restarts the stream, which then carries it.
        EXPECT_EQ(m_camera->CallCount("OpenStream"), before == row.stored ? 0u : 1u);
        if (before != row.stored) {
            EXPECT_EQ(m_camera->LastInitParam().packetSize, row.stored);
        }
    }

    struct Delay {
        uint32_t given;
        int stored;
        size_t calls;
    };
    for (const Delay& d : std::vector<Delay>{
             {5000, 1000, 1}, {1000, 1000, 0}, {uint32_t(-1), 1000, 0}, {999, 999, 1}, {0, 0, 1}}) {
        SCOPED_TRACE(d.given);
        m_camera->ClearCalls();
        EXPECT_EQ(c->CameraGigeSetPacketDelayTime(d.given), 0);
        EXPECT_EQ(m_camera->CallCount("SetPacketDelay"), d.calls);
        if (d.calls == 1) {
            EXPECT_EQ(m_camera->CallsNamed({"SetPacketDelay"})[0].args,
                      (std::vector<int64_t>{d.stored}));
        }
        int delay = -5;
        EXPECT_EQ(c->CameraGigeGetPacketDelayTime(&delay), 0);
        EXPECT_EQ(delay, d.stored);
    }
    // A device without packet delay refuses it: nothing stored.
    m_camera->SetResult("SetPacketDelay", CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGigeSetPacketDelayTime(300), CAMERA_STATUS_NOT_SUPPORTED);
    int delay = -5;
    EXPECT_EQ(c->CameraGigeGetPacketDelayTime(&delay), 0);
    EXPECT_EQ(delay, 0);
}

TEST_F(Trigger, ResendAndOptimalPacketSizeAskTheDevice) {
    CameraControl* c = OpenCamera();
    m_camera->SetResult("SetResend", CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGigeSetResend(0, 1, 2, 3), CAMERA_STATUS_NOT_SUPPORTED);
    m_camera->SetResult("SetResend", 0);
    EXPECT_EQ(c->CameraGigeSetResend(7, 4, 5, 6), 0);
    // The next stream open sends what the device took.
    m_camera->ClearCalls();
    ASSERT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_SOFTWARE), 0);
    EXPECT_EQ(m_camera->CallsNamed({"SetResend"}).at(0).args, (std::vector<int64_t>{1, 4, 5, 6}));

    int size = 0;
    EXPECT_EQ(c->CameraGigeGetOptimalPacketSize(&size), 0);
    EXPECT_EQ(size, 1500);
    m_camera->SetResult("GetOptimalPacketSize", CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGigeGetOptimalPacketSize(&size), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraGigeGetOptimalPacketSize(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Trigger, StreamSettingsNeedAnInitialisedCamera) {
    CameraControl fresh(m_mgr.get());
    EXPECT_EQ(fresh.CameraSetTriggerMode(0), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(fresh.CameraGigeSetTransPacketSize(1500), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(fresh.CameraGigeSetResend(1, 1, 1, 1), CAMERA_STATUS_NOT_INITIALIZED);
    int size = 0;
    EXPECT_EQ(fresh.CameraGigeGetOptimalPacketSize(&size), CAMERA_STATUS_NOT_INITIALIZED);
    // Without a device the device operations fail quietly, and nothing is stored.
    EXPECT_EQ(fresh.CameraSetTriggerFrameCount(3), CAMERA_STATUS_FAILED);
    int count = -1;
    EXPECT_EQ(fresh.CameraGetTriggerFrameCount(&count), 0);
    EXPECT_EQ(count, 0);
}

// ---- Entries ---------------------------------------------------------------------------------

TEST_F(Trigger, EntriesCheckHandlesAndTheirOwnPointers) {
    int i = 0;
    UINT u = 0, u2 = 0;
    const std::vector<std::pair<const char*, int>> results = {
        {"CameraSetTriggerMode", CameraSetTriggerMode(nullptr, 0)},
        {"CameraGetTriggerMode", CameraGetTriggerMode(nullptr, &i)},
        {"CameraSoftTrigger", CameraSoftTrigger(nullptr)},
        {"CameraSetTriggerFrameCount", CameraSetTriggerFrameCount(nullptr, 1)},
        {"CameraGetTriggerFrameCount", CameraGetTriggerFrameCount(nullptr, &i)},
        {"CameraSetTriggerDelayTime", CameraSetTriggerDelayTime(nullptr, 1)},
        {"CameraGetTriggerDelayTime", CameraGetTriggerDelayTime(nullptr, &u)},
        {"CameraSetTriggerJitterTime", CameraSetTriggerJitterTime(nullptr, 0, 1)},
        {"CameraGetTriggerJitterTime", CameraGetTriggerJitterTime(nullptr, 0, &u)},
        {"CameraSetTriggerSignalType", CameraSetTriggerSignalType(nullptr, 0, 1)},
        {"CameraGetTriggerSignalType", CameraGetTriggerSignalType(nullptr, 0, &i)},
        {"CameraSetStrobeMode", CameraSetStrobeMode(nullptr, 0, 1)},
        {"CameraGetStrobeMode", CameraGetStrobeMode(nullptr, 0, &i)},
        {"CameraSetStrobeDelayTime", CameraSetStrobeDelayTime(nullptr, 0, 1)},
        {"CameraGetStrobeDelayTime", CameraGetStrobeDelayTime(nullptr, 0, &u)},
        {"CameraSetStrobePulseWidth", CameraSetStrobePulseWidth(nullptr, 0, 1)},
        {"CameraGetStrobePulseWidth", CameraGetStrobePulseWidth(nullptr, 0, &u)},
        {"CameraSetStrobePolarity", CameraSetStrobePolarity(nullptr, 0, 1)},
        {"CameraGetStrobePolarity", CameraGetStrobePolarity(nullptr, 0, &i)},
        {"CameraSetOutputIOMode", CameraSetOutputIOMode(nullptr, 0, 1)},
        {"CameraGetOutputIOMode", CameraGetOutputIOMode(nullptr, 0, &i)},
        {"CameraSetInputIOMode", CameraSetInputIOMode(nullptr, 0, 1)},
        {"CameraGetInputIOMode", CameraGetInputIOMode(nullptr, 0, &i)},
        {"CameraSetOutputIOState", CameraSetOutputIOState(nullptr, 0, 1)},
        {"CameraGetOutputIOState", CameraGetOutputIOState(nullptr, 0, &i)},
        {"CameraSetOutputIOPWM", CameraSetOutputIOPWM(nullptr, 0, 2, 1)},
        {"CameraGetOutputIOPWM", CameraGetOutputIOPWM(nullptr, 0, &u, &u2)},
        {"CameraGetInputIOState", CameraGetInputIOState(nullptr, 0, &u)},
        {"CameraGigeSetTransPacketSize", CameraGigeSetTransPacketSize(nullptr, 1500)},
        {"CameraGigeGetTransPacketSize", CameraGigeGetTransPacketSize(nullptr, &i)},
        {"CameraGigeSetPacketDelayTime", CameraGigeSetPacketDelayTime(nullptr, 1)},
        {"CameraGigeGetPacketDelayTime", CameraGigeGetPacketDelayTime(nullptr, &i)},
        {"CameraGigeSetResend", CameraGigeSetResend(nullptr, 1, 1, 1, 1)},
        {"CameraGigeGetOptimalPacketSize", CameraGigeGetOptimalPacketSize(nullptr, &i)},
    };
    for (const auto& [name, r] : results) EXPECT_EQ(r, CAMERA_STATUS_PARAMETER_INVALID) << name;

    CameraControl* c = OpenCamera();
    HANDLE h = c;
    m_camera->ClearCalls();
    EXPECT_EQ(CameraGetInputIOState(h, 0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGigeGetTransPacketSize(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGigeGetPacketDelayTime(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGetTriggerMode(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGetStrobeMode(h, 0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(m_camera->Calls().empty());

    // Signal type and strobe mode reach the caller's int only on success.
    ASSERT_EQ(CameraSetTriggerSignalType(h, 1, 4), 0);
    ASSERT_EQ(CameraSetStrobeMode(h, 3, 1), 0);
    int type = 77;
    EXPECT_EQ(CameraGetTriggerSignalType(h, 2, &type), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(CameraGetTriggerSignalType(h, 1, &type), 0);
    EXPECT_EQ(type, 4);
    int strobe = 77;
    EXPECT_EQ(CameraGetStrobeMode(h, 4, &strobe), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(strobe, 77);
    EXPECT_EQ(CameraGetStrobeMode(h, 3, &strobe), 0);
    EXPECT_EQ(strobe, 1);
    // A negative packet delay counts as above the limit.
    EXPECT_EQ(CameraGigeSetPacketDelayTime(h, -1), 0);
    int delay = 0;
    EXPECT_EQ(CameraGigeGetPacketDelayTime(h, &delay), 0);
    EXPECT_EQ(delay, 1000);
}

}  // namespace
