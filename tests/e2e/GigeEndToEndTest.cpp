// A GigE camera end to end through the exported functions: a simulated mono IMX290 GigE camera
// on a loopback address of the test's own namespace is enumerated, opened and played; it stays
// under the SDK's control well past its own heartbeat timeout; when it goes silent while
// playing, the heartbeat reports the loss (-38); when it answers again the SDK opens it again;
// CameraUnInit gives its control back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "QVCameraApi.h"
#include "api/ApiInternal.h"
#include "SimGigeImx290Camera.h"
#include "SimGigeNetwork.h"
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

// Two cameras behind a veth link in a namespace of their own: each enumerated once; their IP
// records; an address within the subnet, one in another subnet and back, and a temporary one,
// each shown by the next enumeration; the broadcast soft trigger reaching both.
TEST_F(GigeEndToEnd, IpSettingsThroughTheExports) {
    qvsim::CSimGigeNetwork net;
    const int ns = net.AddNamespace();
    const int link = net.AddLink(ns, "198.18.20.1");
    auto option = [](const char* serial, const char* ip, uint8_t mac) {
        SimGigeImx290Options o;
        o.serial = serial;
        o.ip = ip;
        o.mask = "255.255.255.0";
        o.macLast = mac;
        return o;
    };
    auto& one = net.AddCamera(link, option("IP-ONE", "198.18.20.2", 21));
    auto& two = net.AddCamera(link, option("IP-TWO", "198.18.20.3", 22));

    // The symbolic text (address:mask:gateway) of a serial number in a fresh enumeration.
    auto listed = [](const std::string& serial) {
        int count = 0;
        CameraEnumerateDevice(&count);
        int found = 0;
        std::string symbolic;
        for (int i = 0; i < count; ++i) {
            tDevInfo info{};
            if (CameraGetEnumIndexInfo(i, &info) != 0 || serial != info.acSn) continue;
            ++found;
            symbolic = info.acSymbolicName;
        }
        return found == 1 ? symbolic : std::string(found == 0 ? "none" : "twice");
    };
    auto shows = [&](const std::string& serial, const std::string& symbolic) {
        return Eventually([&] { return listed(serial) == symbolic; }, 15s);
    };
    ASSERT_TRUE(shows("IP-ONE", "198.18.20.2:255.255.255.0:0.0.0.0"));
    ASSERT_TRUE(shows("IP-TWO", "198.18.20.3:255.255.255.0:0.0.0.0"));

    tGigeIpConfig c{};
    ASSERT_EQ(CameraGigeGetIp("IP-ONE", &c), 0);
    EXPECT_EQ(std::string(c.acAdapterName), net.HostInterface(link));
    EXPECT_STREQ(c.acAdapterIp, "198.18.20.1");
    EXPECT_STREQ(c.acAdapterMask, "255.255.255.0");
    EXPECT_STREQ(c.acAdapterGateway, "0.0.0.0");
    EXPECT_STREQ(c.acIp, "198.18.20.2");
    EXPECT_STREQ(c.acMask, "255.255.255.0");
    EXPECT_EQ(c.abMac[5], 21);
    EXPECT_EQ(CameraGigeGetIp("NO-SUCH", &c), CAMERA_STATUS_PARAMETER_INVALID);

    auto setIp = [](const char* sn, const char* ip, const char* mask, unsigned persistent) {
        tGigeIpConfig config{};
        CameraGigeGetIp(sn, &config);
        std::strcpy(config.acIp, ip);
        std::strcpy(config.acMask, mask);
        std::strcpy(config.acGateway, "0.0.0.0");
        config.uPersistent = persistent;
        return CameraGigeSetIp(sn, &config);
    };
    // Within the subnet.
    ASSERT_EQ(setIp("IP-ONE", "198.18.20.50", "255.255.255.0", 1), 0);
    ASSERT_EQ(CameraGigeGetIp("IP-ONE", &c), 0);
    EXPECT_STREQ(c.acIp, "198.18.20.50");
    EXPECT_EQ(c.uPersistent, 1u);
    EXPECT_TRUE(shows("IP-ONE", "198.18.20.50:255.255.255.0:0.0.0.0"));
    // To another subnet (it answers by broadcast from there) and back.
    ASSERT_EQ(setIp("IP-ONE", "198.19.9.9", "255.255.0.0", 1), 0);
    EXPECT_TRUE(shows("IP-ONE", "198.19.9.9:255.255.0.0:0.0.0.0"));
    ASSERT_EQ(setIp("IP-ONE", "198.18.20.60", "255.255.255.0", 1), 0);
    EXPECT_TRUE(shows("IP-ONE", "198.18.20.60:255.255.255.0:0.0.0.0"));
    // Temporary: back to its start-up address.
    ASSERT_EQ(setIp("IP-ONE", "198.18.20.70", "255.255.255.0", 0), 0);
    EXPECT_TRUE(shows("IP-ONE", "198.18.20.2:255.255.255.0:0.0.0.0"));
    ASSERT_EQ(CameraGigeGetIp("IP-ONE", &c), 0);
    EXPECT_EQ(c.uPersistent, 0u);
    // The other camera never moved, and it still opens.
    EXPECT_EQ(listed("IP-TWO"), "198.18.20.3:255.255.255.0:0.0.0.0");

    // The manager's software trigger by broadcast reaches both cameras of the subnet, three
    // datagrams each.
    const unsigned before1 = one.Firmware().GetCounters().softTriggers;
    const unsigned before2 = two.Firmware().GetCounters().softTriggers;
    ASSERT_EQ(CameraGigeBroadcastSoftTrigger("198.18.20.1", 1), 0);
    EXPECT_TRUE(Eventually(
        [&] {
            return one.Firmware().GetCounters().softTriggers == before1 + 3 &&
                   two.Firmware().GetCounters().softTriggers == before2 + 3;
        },
        5s));
    int count = 0;
    CameraEnumerateDeviceEx(&count, 0);
}

}  // namespace
