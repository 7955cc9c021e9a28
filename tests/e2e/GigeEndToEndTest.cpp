// A GigE camera end to end through the exported functions: a simulated mono IMX290 GigE camera
// on a loopback address of the test's own namespace is enumerated, opened and played; it stays
// under the SDK's control well past its own heartbeat timeout; when it goes silent while
// playing, the heartbeat reports the loss (-38); when it answers again the SDK opens it again;
// CameraUnInit gives its control back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "QVCameraApi.h"
#include "SimGigeImx290Camera.h"
#include "SimNetns.h"
#include "control/CameraControl.h"
#include "control/ControlClock.h"
#include "gige/GigeCamera.h"
#include "manager/JNCameraMgr.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The loss rule's clock held still: the camera sends no frames, which must not count as a loss
// here; only the heartbeat's report does.
class CStillClock : public CControlClock {
  public:
    uint64_t NowMs() override { return 1000000; }
};

bool Eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The keep-alive service's thread ends by itself once the camera is back, but only a later
// registration or the manager's end joins it; the manager lives as long as the process.
struct KeepAliveStopper : CDevKeepAliveMgr {
    static void Stop(CDevKeepAliveMgr* manager) { (manager->*(&KeepAliveStopper::StopService))(); }
};

size_t PrivilegeReads(qvsim::CSimGigeCamera& camera) {
    size_t n = 0;
    for (const auto& c : camera.Commands())
        if (c.command == 0x0080 && c.payload.size() == 4 && c.payload[2] == 0x0A &&
            c.payload[3] == 0x00)
            ++n;
    return n;
}

class GigeEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool done = false;
        if (done) return;
        done = true;
        qvsim::AddAddress("lo", "127.0.0.2", 8);
        s_home = std::filesystem::temp_directory_path() /
                 ("qv-gige-e2e-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(s_home, ec);
        });
    }
    static std::filesystem::path s_home;
};
std::filesystem::path GigeEndToEnd::s_home;

TEST_F(GigeEndToEnd, ControlHeartbeatLossReconnectRelease) {
    SimGigeImx290Options o;
    o.serial = "QVG-E2E-1";
    o.ip = "127.0.0.10";
    CSimGigeImx290Camera sim(o);
    qvsim::CSimGigeCamera& camera = sim.Camera();

    int count = 0;
    ASSERT_TRUE(Eventually([&] { return CameraEnumerateDevice(&count) == 0 && count == 1; }, 10s));
    tDevInfo info{};
    ASSERT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_STREQ(info.acSn, "QVG-E2E-1");
    EXPECT_STREQ(info.acDriverName, "GigE Vision");
    EXPECT_STREQ(info.acSymbolicName, "127.0.0.10:255.0.0.0:0.0.0.0");
    EXPECT_STREQ(info.acPortType, "GigE 1000M Full");
    EXPECT_EQ(info.uInUse, 0u);

    HANDLE h = nullptr;
    ASSERT_EQ(CameraInit(&h, 0), 0);
    CStillClock still;
    static_cast<CameraControl*>(h)->SetClock(&still);
    const auto holder = sim.Firmware().CcpHolder();
    ASSERT_TRUE(holder.has_value());
    ASSERT_EQ(CameraPlay(h), 0);
    EXPECT_EQ(sim.Firmware().StreamDestination(), 0xFFFFFFFFu);
    EXPECT_NE(sim.Firmware().StreamHostPort(), 0);
    EXPECT_TRUE(sim.Firmware().AcquisitionRunning());

    // Well past the camera's 5 s heartbeat timeout: the privilege never lapsed.
    camera.ClearCommands();
    const auto start = Clock::now();
    ASSERT_TRUE(camera.WaitFor(
        [](const auto& c) {
            return std::count_if(c.begin(), c.end(), [](const auto& x) {
                       return x.command == 0x0080 && x.payload[2] == 0x0A;
                   }) >= 2;
        },
        20s));
    while (Clock::now() - start < 6500ms) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sim.Firmware().CcpExpiries(), 0u);
    ASSERT_TRUE(sim.Firmware().CcpHolder().has_value());
    EXPECT_EQ(sim.Firmware().CcpHolder()->port, holder->port);
    EXPECT_GE(PrivilegeReads(camera), 2u);

    // The camera goes silent while playing. Three missed heartbeats report the loss; the test
    // runs the three checks at once instead of waiting 9 s for the timer.
    std::shared_ptr<CJNDevice> device;
    tDevInfo again{};
    ASSERT_EQ(JNCameraMgr::GetInstance()->GetEnumIndexInfo(0, &again, &device), 0);
    auto* gige = dynamic_cast<CGigeCamera*>(device.get());
    ASSERT_NE(gige, nullptr);
    camera.Unplug();
    for (int i = 0; i < 3; ++i) gige->HeartbeatCheck(100);
    CameraFrameHandle frame = nullptr;
    // The wait that meets the posted loss answers -12 and hands the camera to the keep-alive
    // service; from then on every wait answers -38.
    EXPECT_EQ(CameraGetRawImageBuffer(h, &frame, 1000), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(CameraGetRawImageBuffer(h, &frame, 100), CAMERA_STATUS_DEVICE_LOST);

    // It answers again (powered up afresh): the SDK finds it, opens it and plays again.
    camera.ClearCommands();
    camera.Plug();
    ASSERT_TRUE(Eventually(
        [&] { return CameraGetRawImageBuffer(h, &frame, 50) != CAMERA_STATUS_DEVICE_LOST; }, 20s));
    ASSERT_TRUE(sim.Firmware().CcpHolder().has_value());
    EXPECT_TRUE(sim.Firmware().AcquisitionRunning());
    EXPECT_EQ(sim.Firmware().StreamDestination(), 0xFFFFFFFFu);

    // Released: the privilege goes back to the camera.
    ASSERT_EQ(CameraUnInit(h), 0);
    EXPECT_FALSE(sim.Firmware().CcpHolder().has_value());
    bool released = false;
    for (const auto& c : camera.Commands())
        released |= c.command == 0x0082 && c.payload.size() == 8 && c.payload[2] == 0x0A &&
                    c.payload[7] == 0;
    EXPECT_TRUE(released);
    CameraEnumerateDeviceEx(&count, 0);  // the manager lets go of its list
    KeepAliveStopper::Stop(JNCameraMgr::GetInstance());
}

}  // namespace
