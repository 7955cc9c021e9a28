// Which controller calls wait for a long call on the same camera: a snapshot holds the camera
// for its whole wait, and the line, display and information operations must answer meanwhile
// (a host that fires its own trigger from an output line could otherwise never end the wait).
// No timing: the snapshot's frame comes only once every operation of the table has answered, so
// an operation that waited for the snapshot would leave it to its time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ControllerTestBase.h"
#include "common/Log.h"

namespace {

using ctltest::CallRow;
using ctltest::CallWhileASnapshotWaits;
using ctltest::ControllerTest;
using ctltest::CTestCamera;

// Long enough for any machine to run the table; only a broken lock rule lets it pass.
constexpr unsigned kSnapWaitMs = 20000;

void DisplayCallback(HANDLE, BYTE*, stImageInfo*, void*, int) {}

// A BGR image of 640 x 480 for the overlay and the display.
constexpr size_t kImageBytes = 640 * 480 * 3;
stImageInfo ImageHead() {
    stImageInfo head{};
    head.iWidth = 640;
    head.iHeight = 480;
    head.TotalBytes = kImageBytes;
    head.uiMediaType = CAMERA_MEDIA_TYPE_BGR8;
    return head;
}

// The controller-test camera with its storage calls answered in memory.
class CLockCamera : public CTestCamera {
  public:
    int DevWriteSN(uint8_t*, INT level) override { return Rec("DevWriteSN", {level}); }
    int DevReadSN(uint8_t* sn, INT level) override {
        std::memset(sn, 0, 32);
        return Rec("DevReadSN", {level});
    }
    int DevSaveUserData(uint32_t offset, uint8_t*, int len) override {
        return Rec("DevSaveUserData", {offset, len});
    }
    int DevLoadUserData(uint32_t offset, uint8_t* data, int len) override {
        std::memset(data, 0, static_cast<size_t>(len));
        return Rec("DevLoadUserData", {offset, len});
    }
    int DevSetFriendlyName(char*) override { return Rec("DevSetFriendlyName"); }
};

class Locks : public ControllerTest {
  protected:
    // A camera with all three trigger modes, four output and two input lines and 64 bytes of
    // user data, in hardware-trigger mode with a display.
    CameraControl* OpenCamera() {
        m_camera = std::make_shared<CLockCamera>();
        m_camera->ScriptParameters(
            0, [](CameraProperty& p) { p.triggerModeMask = 0x7; },
            [](tSdkCapability& c) { c.uUserDataSize = 64; });
        CameraControl* c = Open(m_camera);
        EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
        EXPECT_EQ(c->CameraDisplayInit(1), 0);
        return c;
    }
    // Defined with the tests that use it.
    CameraControl* LoadBesideARefresh(int group, uint32_t fromMax, uint32_t toMax);
    std::shared_ptr<CLockCamera> m_camera;
};

TEST_F(Locks, LineDisplayAndInformationOperationsAnswerWhileASnapshotWaits) {
    CameraControl* c = OpenCamera();
    int i = 0, j = 0;
    uint32_t u = 0, v = 0;
    uint8_t flag = 0;
    BYTE bytes[64] = {};
    char text[64] = {};
    std::vector<BYTE> image(kImageBytes, 0);
    const stImageInfo head = ImageHead();
    tSdkCapability capability{};
    tSdkResolution resolution{};
    const std::vector<CallRow> rows = {
        // Trigger and I/O lines.
        {"trigger frame count", [](auto* c) { return c->CameraSetTriggerFrameCount(2); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetTriggerFrameCount(&i); }, 0},
        {"trigger delay", [](auto* c) { return c->CameraSetTriggerDelayTime(5); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetTriggerDelayTime(&u); }, 0},
        {"trigger mode getter", [&](auto* c) { return c->CameraGetTriggerMode(&i); }, 0},
        {"jitter", [](auto* c) { return c->CameraSetTriggerJitterTime(0, 3); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetTriggerJitterTime(0, &u); }, 0},
        {"signal type", [](auto* c) { return c->CameraSetTriggerSignalType(0, 1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetTriggerSignalType(0, &i); }, 0},
        {"strobe mode", [](auto* c) { return c->CameraSetStrobeMode(0, 1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetStrobeMode(0, &i); }, 0},
        {"strobe delay", [](auto* c) { return c->CameraSetStrobeDelayTime(0, 10); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetStrobeDelayTime(0, &u); }, 0},
        {"strobe width", [](auto* c) { return c->CameraSetStrobePulseWidth(0, 20); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetStrobePulseWidth(0, &u); }, 0},
        {"strobe polarity", [](auto* c) { return c->CameraSetStrobePolarity(0, 1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetStrobePolarity(0, &i); }, 0},
        {"output mode", [](auto* c) { return c->CameraSetOutputIOMode(1, IOMODE_GP_OUTPUT); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetOutputIOMode(1, &i); }, 0},
        {"output level", [](auto* c) { return c->CameraSetOutputIOState(1, 1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetOutputIOState(1, &i); }, 0},
        {"PWM", [](auto* c) { return c->CameraSetOutputIOPWM(2, 100, 50); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetOutputIOPWM(2, &u, &v); }, 0},
        {"input mode", [](auto* c) { return c->CameraSetInputIOMode(1, 0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetInputIOMode(1, &i); }, 0},
        {"input level", [&](auto* c) { return c->CameraGetInputIOState(0, &u); }, 0},
        {"packet delay", [](auto* c) { return c->CameraGigeSetPacketDelayTime(10); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGigeGetPacketDelayTime(&i); }, 0},
        // Display and overlay.
        {"display mode", [](auto* c) { return c->CameraSetDisplayMode(1); }, 0},
        {"display scale", [](auto* c) { return c->CameraSetDisplayScaleRadio(2); }, 0},
        {"display offset", [](auto* c) { return c->CameraSetDisplayOffset(3, 4); }, 0},
        {"display size", [](auto* c) { return c->CameraSetDisplaySize(320, 240); }, 0},
        {"display callback",
         [](auto* c) { return c->CameraSetDisplayCallbackFun(DisplayCallback, nullptr, nullptr); },
         0},
        {"cross line getter", [&](auto* c) { return c->CameraGetCrossLine(0, &i, &j, &u, &flag); },
         0},
        {"overlay", [&](auto* c) { return c->CameraImageOverlay(image.data(), &head); }, 0},
        // Parameter mode, device information and maintenance.
        {"parameter mode", [](auto* c) { return c->CameraSetParameterMode(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetParameterMode(&i); }, 0},
        {"current group", [&](auto* c) { return c->CameraGetCurrentParameterGroup(&i); }, 0},
        {"capability", [&](auto* c) { return c->CameraGetCapability(&capability); }, 0},
        {"serial number as opened", [&](auto* c) { return c->CameraReadSN(bytes, 0); }, 0},
        {"serial number stored", [&](auto* c) { return c->CameraReadSN(bytes, 1); }, 0},
        {"serial number written", [&](auto* c) { return c->CameraWriteSN(bytes, 2); }, 0},
        {"user data saved", [&](auto* c) { return c->CameraSaveUserData(0, bytes, 16); }, 0},
        {"user data loaded", [&](auto* c) { return c->CameraLoadUserData(0, bytes, 16); }, 0},
        {"friendly name", [&](auto* c) { return c->CameraGetFriendlyName(text); }, 0},
        {"new friendly name", [](auto* c) { return c->CameraSetFriendlyName("Bench 2"); }, 0},
        {"firmware check", [&](auto* c) { return c->CameraCheckFwUpdate(&flag); }, 0},
        {"firmware text", [&](auto* c) { return c->CameraGetFirmwareVision(text); }, 0},
        {"device type", [&](auto* c) { return c->CameraGetDeviceType(&i); }, 0},
        {"interface version", [&](auto* c) { return c->CameraGetInerfaceVersion(text); }, 0},
        {"integer value", [](auto* c) { return c->CameraSetIntValue(1, 5); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetIntValue(1, &i); }, 0},
        {"stored integer value", [](auto* c) { return c->CameraSetIntValue(15, 7); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetIntValue(15, &i); }, 0},
        {"device integer value", [&](auto* c) { return c->CameraGetIntValue(16, &i); }, 0},
        {"upgrade", [](auto* c) { return c->CameraUpgrade("/nonexistent", nullptr, nullptr); }, 0},
        {"settings page", [](auto* c) { return c->CameraShowSettingPage(1); }, 0},
        {"active page", [](auto* c) { return c->CameraSetActivePage(7, 1); }, 0},
        {"page handle", [](auto* c) { return c->CameraCreateSettingPageEx(); }, 0},
        {"customised resolution",
         [&](auto* c) { return c->CameraCustomizeResolution(&resolution); }, -1},
        {"reference window", [](auto* c) { return c->CameraCustomizeReferWin(); }, -1},
    };

    m_camera->ClearCalls();
    CallWhileASnapshotWaits(c, *m_camera, rows, kSnapWaitMs);

    // What the operations did is in force.
    const CameraParameter record = c->GetParameterRecord();
    EXPECT_EQ(record.triggerFrameCount, 2);
    EXPECT_EQ(record.outputLines[1].mode, IOMODE_GP_OUTPUT);
    EXPECT_EQ(record.outputLines[1].state, 1);
    EXPECT_EQ(record.settings.parameterMode, 1);
    EXPECT_EQ(c->CameraGetFriendlyName(text), 0);
    EXPECT_STREQ(text, "Bench 2");
}

// The lock-free calls from one thread while another changes the stream, loads and saves the
// record and sets the windows: every call answers, and a stream open sends the lines as the
// record holds them (a sanitizer build checks that the two share nothing unguarded). The image
// settings, saves and device information are lock-free too (ControllerImageLockTest has them
// beside processed frames and snapshots); a few of them here meet the window and mirror changes.
TEST_F(Locks, LockFreeCallsBesideStreamChanges) {
    CameraControl* c = OpenCamera();
    constexpr int kRounds = 40;
    // One image each: the overlay draws into its own while the other is shown.
    std::vector<BYTE> image(kImageBytes, 0), shown(kImageBytes, 0);
    const stImageInfo head = ImageHead();
    std::thread lines([&] {
        int i = 0;
        uint32_t u = 0;
        uint8_t flag = 0;
        char text[32];
        tSdkCapability capability{};
        CameraCurDevInfo info{};
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(c->CameraSetGamma(100 + round), 0);
            EXPECT_EQ(c->CameraSetSharpness(round), 0);
            EXPECT_EQ(c->CameraSetWbWindow(round, round, 64, 64), 0);
            EXPECT_EQ(c->CameraGetAeWindow(&i, &i, &i, &i), 0);
            EXPECT_EQ(c->CameraGetMirror(0, &flag), 0);
            EXPECT_EQ(c->CameraGetCurDevInfo(&info), 0);
            EXPECT_EQ(c->CameraSetOutputIOState(1, round & 1), 0);
            EXPECT_EQ(c->CameraSetStrobeDelayTime(0, static_cast<uint32_t>(round)), 0);
            EXPECT_EQ(c->CameraSetTriggerSignalType(0, round % 3), 0);
            EXPECT_EQ(c->CameraSetInputIOMode(1, round & 1), 0);
            EXPECT_EQ(c->CameraSetTriggerFrameCount(round + 1), 0);
            EXPECT_EQ(c->CameraSetIntValue(15, round), 0);
            // The same mode throughout: the other thread loads the groups it saves.
            EXPECT_EQ(c->CameraSetParameterMode(0), 0);
            EXPECT_EQ(c->CameraGetParameterMode(&i), 0);
            EXPECT_EQ(c->CameraSetFriendlyName(round & 1 ? "odd" : "even"), 0);
            EXPECT_EQ(c->CameraGetCapability(&capability), 0);
            EXPECT_EQ(c->CameraGetFriendlyName(text), 0);
            EXPECT_EQ(c->CameraGetCrossLine(round % 9, &i, &i, &u, &flag), 0);
            EXPECT_EQ(c->CameraImageOverlay(image.data(), &head), 0);
            EXPECT_EQ(c->CameraSetDisplayMode(round & 1), 0);
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        // The driver changes its limits with the trigger mode; the capability call above takes
        // them over while the stream changes here read them.
        m_camera->SetSensorGainLimits(1000, round & 1 ? 16000 : 8000);
        EXPECT_EQ(
            c->CameraSetTriggerMode(round & 1 ? TRIGGER_MODE_CONTINUOUS : TRIGGER_MODE_HARDWARE),
            0);
        EXPECT_EQ(c->CameraSetResolution(round & 1), 0);
        EXPECT_EQ(c->CameraSetMirror(round & 1, 1), 0);
        EXPECT_EQ(c->CameraSetAeWindow(round, round, 100, 100), 0);
        EXPECT_EQ(c->CameraSetAeWinVisible(1), 0);
        EXPECT_EQ(c->CameraSetCrossLine(round % 9, 10, 10, 0xFF, 1), 0);
        EXPECT_EQ(c->CameraSaveParameter(round % 4), 0);
        EXPECT_EQ(c->CameraLoadParameter(round % 4), 0);
        EXPECT_EQ(c->CameraDisplay(shown.data(), &head), 0);
        EXPECT_EQ(m_camera->PushTestFrame(), 0);
        EXPECT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
    }
    lines.join();
    // A stream open sends the lines as the record holds them.
    EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
    const CameraParameter record = c->GetParameterRecord();
    std::vector<int64_t> last;
    for (const qvsim::FakeCall& call : m_camera->CallsNamed({"SetOutputIOState"}))
        if (call.args.at(0) == 1) last = call.args;
    EXPECT_EQ(last, (std::vector<int64_t>{1, record.outputLines[1].state}));
    char text[32];
    EXPECT_EQ(c->CameraGetFriendlyName(text), 0);
    EXPECT_STREQ(text, "odd");  // the last name set
}

// Saves in serial-number mode beside loads of the camera's defaults, whose factory settings name
// the product-name mode: a save copies the record as it was before a load or as it is after it,
// so every group file goes under the serial number and the mode never reads as the factory's.
TEST_F(Locks, SaveBesideADefaultsLoad) {
    CameraControl* c = OpenCamera();
    constexpr int kSerialNumberMode = 2;
    ASSERT_EQ(c->CameraSetParameterMode(kSerialNumberMode), 0);
    constexpr int kLoads = 150;
    std::atomic<bool> loading{true};
    std::thread loads([&] {
        for (int round = 0; round < kLoads; ++round)
            EXPECT_EQ(c->CameraLoadParameter(CameraParameterBuilder::kSaveGroup), 0);
        loading = false;
    });
    // The mode is read far more often than a save is written, so a short half state is seen.
    std::atomic<int> otherModes{0};
    std::atomic<int> reads{0};
    std::thread modes([&] {
        while (loading) {
            int mode = -1;
            EXPECT_EQ(c->CameraGetParameterMode(&mode), 0);
            if (mode != kSerialNumberMode) ++otherModes;
            ++reads;
        }
    });
    int saves = 0;
    while (loading) {
        EXPECT_EQ(c->CameraSaveParameter(2), 0);
        ++saves;
    }
    loads.join();
    modes.join();
    EXPECT_EQ(otherModes.load(), 0) << "of " << reads.load() << " reads";
    const std::string dir = m_home.ConfigDir();
    EXPECT_GT(saves, 0);
    EXPECT_TRUE(std::filesystem::exists(dir + "SN0001_Cfg_C.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir + "FAKE-CAM_Cfg_C.bin"));
    int mode = -1;
    ASSERT_EQ(c->CameraGetParameterMode(&mode), 0);
    EXPECT_EQ(mode, kSerialNumberMode);
}

// Frame times reach auto exposure in the order they were read: CameraGetFrameTime (on host
// threads, without the API mutex) and the stream reopen each read the device's frame time and
// hand it on in one hold, so a time read before another, or before a reopen, never reaches auto
// exposure after it. The double answers every read with one microsecond more than the read
// before and checks, at each read, that auto exposure has the value of the read before.
TEST_F(Locks, FrameTimeReachesAutoExposureInReadOrder) {
    CameraControl* c = OpenCamera();
    std::atomic<int> stale{0};
    m_camera->CountFrameTimeReads([&](double last) {
        if (c->ExposureObject().GetPendingSettings().frameTimeLimit != last) ++stale;
    });
    constexpr int kReaders = 3, kReads = 10000, kReopens = 40;
    std::atomic<bool> reopening{true};
    std::vector<std::thread> readers;
    for (int t = 0; t < kReaders; ++t) {
        readers.emplace_back([&] {
            // Until the reopens are over, and at least kReads times.
            for (int i = 0; i < kReads || reopening; ++i) {
                double us = 0;
                EXPECT_EQ(c->CameraGetFrameTime(&us), 0);
            }
        });
    }
    for (int round = 0; round < kReopens; ++round) EXPECT_EQ(c->CameraSetResolution(round & 1), 0);
    reopening = false;
    for (std::thread& t : readers) t.join();
    m_camera->CountFrameTimeReads(nullptr);
    EXPECT_EQ(stale.load(), 0);
    // The last value handed on is the last one read.
    double last = 0;
    ASSERT_EQ(m_camera->GetFrameTime(&last), 0);
    EXPECT_EQ(c->ExposureObject().GetPendingSettings().frameTimeLimit, last);
}

// The AE gain range set while capability calls take over a driver's gain maximum, which moves
// between 16000 and 8000: a range is cut to the limits in force when it is stored, so once a
// refresh to 8000 is done, neither the record nor auto exposure has a maximum above 8000, also
// with a range set at the same moment.
TEST_F(Locks, GainRangeBesideACapabilityRefresh) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetAeState(1), 0);
    constexpr int kRounds = 100000;
    std::atomic<bool> refreshing{true};
    std::atomic<int> sets{0};
    std::thread setter([&] {
        while (refreshing) {
            EXPECT_EQ(c->CameraSetAeAnalogGainRange(1000, 16000), 0);
            ++sets;
        }
    });
    // The refreshes start once the setter runs.
    ASSERT_TRUE(ctltest::WaitFor([&] { return sets.load() > 0; }));
    int above = 0;
    for (int round = 0; round < kRounds; ++round) {
        const uint32_t max = round & 1 ? 16000 : 8000;
        m_camera->SetSensorGainLimits(1000, max);
        tSdkCapability capability{};
        ASSERT_EQ(c->CameraGetCapability(&capability), 0);
        if (max != 8000) continue;
        int lo = 0, hi = 0;
        ASSERT_EQ(c->CameraGetAeAnalogGainRange(&lo, &hi), 0);
        const uint32_t aeMax = c->ExposureObject().GetPendingSettings().aeGainMax;
        if (hi > 8000 || aeMax > 8000) ++above;
    }
    refreshing = false;
    setter.join();
    EXPECT_EQ(above, 0) << "of " << kRounds / 2 << " refreshes to 8000";
}

// A capability refresh that meets a load between the load's reading of the limits and its
// storing of the record: the load stops there (its stream close logs the refused stream stop)
// until the refresh has answered. The refresh told the host the driver's lowered gain maximum,
// so after both the controller keeps to it: the AE gain range and the gain setter.
std::mutex g_pauseMutex;
std::condition_variable g_pauseWake;
bool g_paused = false;  // the load waits in the sink
bool g_resumed = false;
void PausingSink(const char* message) {
    if (std::strcmp(message, "Img_Disable err:-13\n") != 0) return;
    std::unique_lock lock(g_pauseMutex);
    g_paused = true;
    g_pauseWake.notify_all();
    g_pauseWake.wait(lock, [] { return g_resumed; });
}

// Opens a camera whose driver reports a gain maximum of fromMax, saves group 1 and turns auto
// exposure on; then loads group while the driver changes its maximum to toMax and
// CameraGetCapability takes that over between the load's reading of the limits and its storing
// of the record. The refresh must report toMax.
CameraControl* Locks::LoadBesideARefresh(int group, uint32_t fromMax, uint32_t toMax) {
    std::shared_ptr<CLockCamera>& camera = m_camera;
    camera = std::make_shared<CLockCamera>();
    camera->SetSensorGainLimits(1000, fromMax);
    CameraControl* c = Open(camera);
    EXPECT_EQ(c->CameraSaveParameter(1), 0);
    EXPECT_EQ(c->CameraSetAeState(1), 0);
    camera->SetResult("StreamOff", -13);
    {
        std::lock_guard lock(g_pauseMutex);
        g_paused = g_resumed = false;
    }
    qv::SetLogSink(&PausingSink);
    std::thread load([&] { EXPECT_EQ(c->CameraLoadParameter(group), 0); });
    {
        std::unique_lock lock(g_pauseMutex);
        g_pauseWake.wait(lock, [] { return g_paused; });
    }
    camera->SetSensorGainLimits(1000, toMax);
    tSdkCapability capability{};
    EXPECT_EQ(c->CameraGetCapability(&capability), 0);
    EXPECT_EQ(capability.auSensorParam[3], toMax);
    {
        std::lock_guard lock(g_pauseMutex);
        g_resumed = true;
    }
    g_pauseWake.notify_all();
    load.join();
    qv::SetLogSink(nullptr);
    camera->SetResult("StreamOff", 0);
    return c;
}

// A lowered maximum the refresh told the host is kept after the load: the AE gain range and
// the gain setter keep to it.
TEST_F(Locks, RefreshBetweenALoadsReadAndItsStoreIsKept) {
    for (const int group : {1, CameraParameterBuilder::kSaveGroup}) {
        SCOPED_TRACE(group);
        CameraControl* c = LoadBesideARefresh(group, 16000, 8000);
        int lo = 0, hi = 0;
        ASSERT_EQ(c->CameraGetAeAnalogGainRange(&lo, &hi), 0);
        EXPECT_LE(hi, 8000);
        ASSERT_EQ(c->CameraSetAeState(0), 0);
        ASSERT_EQ(c->CameraSetAnalogGain(12000), 0);
        EXPECT_EQ(c->GetParameterRecord().settings.analogGain, 8000u);
        ASSERT_EQ(c->CameraUninit(), 0);
    }
}

// A raised maximum: the whole range the load put in force follows it as it would had the
// refresh come after the load.
TEST_F(Locks, WideningRefreshBetweenALoadsReadAndItsStoreIsFollowed) {
    for (const int group : {1, CameraParameterBuilder::kSaveGroup}) {
        SCOPED_TRACE(group);
        CameraControl* c = LoadBesideARefresh(group, 8000, 16000);
        int lo = 0, hi = 0;
        ASSERT_EQ(c->CameraGetAeAnalogGainRange(&lo, &hi), 0);
        EXPECT_EQ(lo, 1000);
        EXPECT_EQ(hi, 16000);
        ASSERT_EQ(c->CameraSetAeState(0), 0);
        ASSERT_EQ(c->CameraSetAnalogGain(12000), 0);
        EXPECT_EQ(c->GetParameterRecord().settings.analogGain, 12000u);
        ASSERT_EQ(c->CameraUninit(), 0);
    }
}

}  // namespace
