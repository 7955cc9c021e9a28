// Loss and reconnection: a camera lost while playing comes back through the keep-alive service
// by its serial number with every setting re-applied; release while the service works on it;
// connection-status events with their timer task; reboot.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "services/TimerMng.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CTestCamera;

using Reconnect = ControllerTest;

// Makes the controller lose its camera while playing: the wait that finds it answers -12.
void LoseWhilePlaying(CameraControl* control, ctltest::CManualClock& clock) {
    clock.Advance(5000);
    ASSERT_EQ(ControllerTest::TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    ASSERT_TRUE(control->IsRegistered());
}

// Holds a camera's open by its controller (the attachment passes a non-null opener) until
// opened; opens itself when it goes, so a failing test cannot leave a thread blocked.
class OpenGate {
  public:
    ~OpenGate() { Open(); }
    void Install(CTestCamera& camera) {
        camera.SetCallHook([this](const qvsim::FakeCall& call) {
            if (call.name != "Open" || call.args.empty() || call.args[0] == 0) return;
            std::unique_lock lock(m_mutex);
            m_entered = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return m_open; });
        });
    }
    bool WaitEntered() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_entered; });
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_entered = false;
    bool m_open = false;
};

TEST_F(Reconnect, LossWhilePlayingThenTheSameSerialNumberComesBack) {
    auto camera = AddCamera("SN-A", "bus:1:address:1");
    CameraControl* control = Open(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_EQ(camera->PushTestFrame(), 0);
    ASSERT_EQ(TakeFrame(control), 0);

    // The cable is pulled: the device stops answering and leaves the bus.
    camera->SetAlive(false);
    m_factory->RemoveDevice(camera);
    qvsim::LogCapture log;
    LoseWhilePlaying(control, m_clock);
    EXPECT_EQ(log.Count("lost device register!!!!\n"), 1);
    EXPECT_EQ(camera->OpenCount(), 0);
    EXPECT_EQ(camera->CallCount("CloseStream"), 2u);  // the loss and the last Close
    for (int i = 0; i < 3; ++i) EXPECT_EQ(TakeFrame(control, 1000), CAMERA_STATUS_DEVICE_LOST);
    EXPECT_EQ(control->GetLostCount(), 1);

    // Another camera appears first: it is not this controller's.
    auto stranger = AddCamera("SN-B", "bus:1:address:5");
    ASSERT_TRUE(ctltest::WaitFor([&] {
        return stranger->CallCount("IsInUse") + stranger->CallCount("GetAccessStatus") >= 3;
    }));
    EXPECT_EQ(stranger->CallCount("Open"), 0u);
    EXPECT_TRUE(control->IsRegistered());

    // Plugged in again, on another port: a new device object with the same serial number.
    auto back = AddCamera("SN-A", "bus:1:address:9");
    ASSERT_TRUE(ctltest::WaitFor([&] { return !control->IsRegistered(); }));
    EXPECT_EQ(back->OpenCount(), 1);
    EXPECT_EQ(back->CallCount("StartCapture"), 1u);
    EXPECT_EQ(stranger->CallCount("Open"), 0u);

    ASSERT_EQ(back->PushTestFrame(0x33), 0);
    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraGetRawImageBuffer(&frame, 1000), 0);
    stImageInfo info{};
    EXPECT_EQ(control->CameraGetImageInfo(frame, &info)[0], 0x33);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
    EXPECT_TRUE(ctltest::WaitFor([&] { return !m_mgr->IsServiceRunning(); }));
}

// A reconnection re-sends every setting of the parameter record in the order of a stream open,
// with the exposure and gain the camera ran with, then resumes capture.
TEST_F(Reconnect, SettingsAreReappliedInOrder) {
    CameraParameter r = BaseRecord();
    r.settings.triggerMode = TRIGGER_MODE_HARDWARE;
    r.triggerFrameCount = 2;
    r.triggerDelayTime = 40;
    r.inputLines[0] = {0, {}, 1, 500};
    r.inputLines[1] = {0, {}, 3, 600};
    r.outputLines[0] = {IOMODE_STROBE_OUTPUT, 0, {}, 1, 20, 0, 300, 0, 0};
    r.outputLines[1] = {IOMODE_GP_OUTPUT, 1, {}, 0, 0, 1, 1000, 0, 0};
    r.outputLines[2] = {IOMODE_PWM_OUTPUT, 0, {}, 0, 0, 1, 1000, 30, 100};
    r.outputLines[3] = {IOMODE_GP_OUTPUT, 0, {}, 0, 0, 1, 1000, 0, 0};
    r.packetDelay = 12;
    r.intValueB = 1;  // WDR mode
    r.intValueC = 7;  // integer value 15
    r.settings.intValueFlag = 1;
    r.settings.aeTarget = 99;
    r.settings.exposureTime = 20000.0;
    r.settings.analogGain = 2000;
    r.settings.blackLevel = 9;
    SaveGroup(r, 0);

    auto camera = AddCamera("SN-R", "bus:2:address:1");
    camera->ScriptParameters(0, [](CameraProperty& p) {
        p.wdrSupported = 1;
        p.aeTargetOnSensor = 1;
    });
    CameraControl* control = Open(camera, 0, 0);
    ASSERT_EQ(control->CameraPlay(), 0);
    // The camera ran with another exposure than stored; the gain cannot be read at the loss.
    camera->SetExposure(25000.0);
    camera->SetResult("GetAnalogGain", -13);
    camera->SetAlive(false);
    m_factory->RemoveDevice(camera);
    LoseWhilePlaying(control, m_clock);

    auto back = std::make_shared<CTestCamera>("SN-R", "Cam", "bus:2:address:2");
    back->ScriptParameters(0, [](CameraProperty& p) {
        p.wdrSupported = 1;
        p.aeTargetOnSensor = 1;
    });
    m_factory->AddDevice(back);
    ASSERT_TRUE(ctltest::WaitFor([&] { return !control->IsRegistered(); }));
    ASSERT_TRUE(ctltest::WaitFor([&] { return !m_mgr->IsServiceRunning(); }));

    const std::vector<std::string> expected = {
        "OpenStream",
        "SetIntValue(1,0)",
        "SetIntValue(3,0)",
        "SetIntValue(15,7)",
        "SetIntValue(14,0)",
        "SetIntValue(13,1)",
        "SetPacketDelay(12)",
        "SetResend(1,10,30,3)",
        // Output lines: the values of each line's mode, then the mode.
        "SetStrobeMode(0,1)",
        "SetStrobeDelayTime(0,20)",
        "SetStrobePolarity(0,0)",
        "SetStrobePulseWidth(0,300)",
        "SetOutputIOMode(0,0)",
        "SetOutputIOState(1,1)",
        "SetOutputIOMode(1,1)",
        "SetOutputIOPWM(2,100,30)",
        "SetOutputIOMode(2,2)",
        "SetOutputIOState(3,0)",
        "SetOutputIOMode(3,1)",
        // Hardware trigger with both inputs as trigger inputs.
        "SetTriggerMode(2)",
        "SetTriggerFrameCount(2)",
        "SetTriggerDelayTime(40)",
        "SetTriggerSignalType(0,1)",
        "SetTriggerJitterTime(0,500)",
        "SetTriggerSignalType(1,3)",
        "SetTriggerJitterTime(1,600)",
        "SetWdrMode(1)",
        "SetAeTarget(99)",
        "SetExposure(25000.000000)",  // read back at the loss
        "SetAnalogGain(2000)",        // the read failed: the stored value stays
        "SetBlackLevel(9)",
        "StartStream()",
        "StreamOn()",  // it was playing
        "GetFrameTime()",
        "StartCapture()",
    };
    EXPECT_EQ(ctltest::CallsFrom(*back, "OpenStream"), expected);
}

// Release while the keep-alive thread is inside the reconnection (the returning camera's open
// blocks): the release waits for it and then closes everything; nothing calls the camera after.
TEST_F(Reconnect, ReleaseDuringTheReconnection) {
    auto camera = AddCamera("SN-U", "bus:3:address:1");
    CameraControl* control = Open(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    camera->SetAlive(false);
    m_factory->RemoveDevice(camera);
    LoseWhilePlaying(control, m_clock);

    OpenGate gate;
    auto back = std::make_shared<CTestCamera>("SN-U", "Cam", "bus:3:address:2");
    gate.Install(*back);
    m_factory->AddDevice(back);
    ASSERT_TRUE(gate.WaitEntered());
    std::atomic<bool> released{false};
    std::thread host([&] {
        m_controls.clear();  // CameraUninit and the destructor
        released = true;
    });
    gate.Open();
    host.join();
    EXPECT_TRUE(released.load());
    EXPECT_EQ(back->OpenCount(), 0);
    EXPECT_EQ(back->ContractViolations(), 0);
    EXPECT_EQ(back->CallCount("Open"), 1u);
    EXPECT_EQ(back->CallCount("Close"), 1u);
    // The service has nobody left to serve and ends.
    ASSERT_TRUE(ctltest::WaitFor([&] { return !m_mgr->IsServiceRunning(); }));
}

// Release of a lost camera while the keep-alive thread polls for it, many times over: the
// release never waits for the service and the service never touches a released controller.
TEST_F(Reconnect, ReleaseWhileTheServicePolls) {
    auto other = AddCamera("SN-OTHER", "bus:4:address:9");
    for (int i = 0; i < 30; ++i) {
        auto camera = std::make_shared<CTestCamera>("SN-P", "Cam", "bus:4:address:1");
        CameraControl* control = Open(camera);
        ASSERT_EQ(control->CameraPlay(), 0);
        LoseWhilePlaying(control, m_clock);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 * 7));
        m_controls.clear();
        EXPECT_EQ(camera->OpenCount(), 0);
    }
    EXPECT_EQ(other->CallCount("Open"), 0u);
}

// ---- Connection-status events ----------------------------------------------------------------

struct StatusLog {
    std::mutex mutex;
    std::vector<int> statuses;
    void Add(int s) {
        std::lock_guard lock(mutex);
        statuses.push_back(s);
    }
    std::vector<int> Get() {
        std::lock_guard lock(mutex);
        return statuses;
    }
};

void OnStatus(HANDLE, int status, void* context) {
    static_cast<StatusLog*>(context)->Add(status);
}

// The transport reports the camera gone: the status callback hears 0, the timer task closes the
// stream, detaches and registers; the camera answers again and is reconnected (1).
TEST_F(Reconnect, StatusEventLeadsToLossAndBack) {
    auto camera = AddCamera("SN-S", "bus:5:address:1");
    CameraControl* control = Open(camera);
    StatusLog log;
    ASSERT_EQ(control->CameraSetConnectionStatusCallback(&OnStatus, &log), 0);
    EXPECT_TRUE(camera->HasDisconnectCallback());
    ASSERT_EQ(control->CameraPlay(), 0);

    camera->SetAlive(false);
    camera->FireDisconnect(0);
    camera->FireDisconnect(0);  // reported twice, heard once
    ASSERT_TRUE(ctltest::WaitFor([&] { return control->IsRegistered(); }));
    EXPECT_EQ(camera->OpenCount(), 0);
    EXPECT_FALSE(camera->HasDisconnectCallback());  // removed before the detach
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_DEVICE_LOST);

    camera->SetAlive(true);
    ASSERT_TRUE(ctltest::WaitFor([&] { return !control->IsRegistered(); }));
    // The reconnection leaves the service before it tells the host.
    ASSERT_TRUE(ctltest::WaitFor([&] { return log.Get().size() >= 2; }));
    EXPECT_EQ(log.Get(), (std::vector<int>{0, 1}));
    EXPECT_EQ(camera->OpenCount(), 1);
    EXPECT_TRUE(camera->HasDisconnectCallback());  // installed again on the returned camera
    ASSERT_EQ(camera->PushTestFrame(), 0);
    EXPECT_EQ(TakeFrame(control), 0);
}

// A status event followed at once by the release, many times: the timer task and the release
// meet in every order without waiting for each other.
TEST_F(Reconnect, StatusEventRacingTheRelease) {
    for (int i = 0; i < 40; ++i) {
        auto camera = std::make_shared<CTestCamera>("SN-T", "Cam", "bus:6:address:1");
        CameraControl* control = Open(camera);
        StatusLog log;
        ASSERT_EQ(control->CameraSetConnectionStatusCallback(&OnStatus, &log), 0);
        camera->FireDisconnect(0);
        if (i % 2) std::this_thread::sleep_for(std::chrono::milliseconds(i % 5 * 4));
        m_controls.clear();
        EXPECT_EQ(camera->OpenCount(), 0);
        EXPECT_FALSE(camera->HasDisconnectCallback());
    }
    EXPECT_TRUE(ctltest::WaitFor([] { return !CTimerMng::GetInstance()->IsWorkerRunning(); }));
}

// The timer thread serves every camera: while the keep-alive service is busy with a long
// reconnection, a status event's task cannot register and tries again at later ticks instead of
// waiting, and the other timers keep running.
TEST_F(Reconnect, TimerTaskNeverWaitsForABusyService) {
    auto first = AddCamera("SN-F", "bus:8:address:1");
    CameraControl* a = Open(first);
    ASSERT_EQ(a->CameraPlay(), 0);
    first->SetAlive(false);
    m_factory->RemoveDevice(first);
    LoseWhilePlaying(a, m_clock);

    OpenGate gate;
    auto back = std::make_shared<CTestCamera>("SN-F", "Cam", "bus:8:address:2");
    gate.Install(*back);
    m_factory->AddDevice(back);
    ASSERT_TRUE(gate.WaitEntered());

    auto second = std::make_shared<CTestCamera>("SN-G", "Cam", "bus:8:address:3");
    CameraControl* b = Open(second);
    StatusLog log;
    ASSERT_EQ(b->CameraSetConnectionStatusCallback(&OnStatus, &log), 0);
    std::atomic<int> ticks{0};
    // Removed when the test ends, before ticks goes.
    std::unique_ptr<TimerEntry, void (*)(TimerEntry*)> counter(
        CTimerMng::GetInstance()->AddTimer(
            [](TimerEntry*, void* user) {
                static_cast<std::atomic<int>*>(user)->fetch_add(1);
                return 0;
            },
            10, &ticks),
        [](TimerEntry* entry) { CTimerMng::GetInstance()->RemoveTimer(entry); });
    second->FireDisconnect(0);
    // B's stream is closed and its camera let go at once; its registration waits.
    ASSERT_TRUE(ctltest::WaitFor([&] { return second->OpenCount() == 0; }));
    const int before = ticks.load();
    ASSERT_TRUE(ctltest::WaitFor([&] { return ticks.load() >= before + 5; }));
    EXPECT_EQ(b->GetLostCount(), 0);  // counted once the service has taken it

    gate.Open();
    ASSERT_TRUE(ctltest::WaitFor([&] { return !a->IsRegistered(); }));
    ASSERT_TRUE(ctltest::WaitFor([&] { return b->GetLostCount() == 1; }));
    EXPECT_TRUE(b->IsRegistered());
    EXPECT_EQ(log.Get(), (std::vector<int>{0}));
}

TEST_F(Reconnect, RebootReportsTheLossToTheStatusCallback) {
    auto camera = AddCamera("SN-RB", "bus:7:address:1");
    CameraControl* control = Open(camera);
    camera->SetResult("Reboot", -13);
    EXPECT_EQ(control->CameraReboot(), -13);
    camera->SetResult("Reboot", 0);
    EXPECT_EQ(control->CameraReboot(), 0);  // no status callback: nothing else happens
    EXPECT_FALSE(control->IsRegistered());

    StatusLog log;
    ASSERT_EQ(control->CameraSetConnectionStatusCallback(&OnStatus, &log), 0);
    EXPECT_EQ(control->CameraReboot(), 0);
    EXPECT_EQ(log.Get(), (std::vector<int>{0}));
    // The restarted camera answers at once here: it is taken back.
    ASSERT_TRUE(ctltest::WaitFor([&] { return log.Get().size() == 2; }));
    EXPECT_EQ(log.Get(), (std::vector<int>{0, 1}));
    EXPECT_FALSE(control->IsRegistered());
}

}  // namespace
