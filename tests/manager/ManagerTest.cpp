// Device manager: enumeration and its order, per-index queries, search by key, the GigE IP
// functions and the broadcast software trigger.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "FakeCameraFactory.h"
#include "FakeDevice.h"
#include "manager/JNCameraMgr.h"
#include "LogCapture.h"

namespace {

using namespace std::chrono_literals;
using qvsim::CFakeCameraFactory;
using qvsim::CFakeDevice;
using qvsim::LogCapture;

// JNCameraMgr with fake factories; the singleton is not involved.
class TestManager : public JNCameraMgr {
  public:
    TestManager(std::unique_ptr<CCameraFactory> usb, std::unique_ptr<CCameraFactory> gige)
        : JNCameraMgr(std::move(usb), std::move(gige)) {}
    ~TestManager() override = default;
};

class Manager : public ::testing::Test {
  protected:
    Manager() {
        auto u = std::make_unique<CFakeCameraFactory>(CFakeCameraFactory::RefreshStyle::kUsb);
        auto g = std::make_unique<CFakeCameraFactory>();
        usb = u.get();
        gige = g.get();
        mgr = std::make_unique<TestManager>(std::move(u), std::move(g));
    }
    std::shared_ptr<CFakeDevice> Usb(const char* sn, const char* name) {
        auto d = std::make_shared<CFakeDevice>(sn, name);
        usb->AddDevice(d);
        return d;
    }
    std::shared_ptr<CFakeDevice> Gige(const char* sn, const char* name) {
        auto d = std::make_shared<CFakeDevice>(sn, name);
        gige->AddDevice(d);
        return d;
    }
    std::vector<std::string> Serials() {
        std::vector<std::string> out;
        for (int i = 0; i < mgr->DeviceCount(); ++i) {
            tDevInfo info{};
            EXPECT_EQ(mgr->CameraGetEnumIndexInfo(i, &info), 0);
            out.emplace_back(info.acSn);
        }
        return out;
    }

    CFakeCameraFactory* usb;
    CFakeCameraFactory* gige;
    std::unique_ptr<TestManager> mgr;
};

TEST_F(Manager, EnumerationOrderIsFriendlyNameThenSerialNumber) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> usbCams, gigeCams;  // {sn, name}
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{{"S1", "B"}}, {{"S2", "A"}}, {"S2", "S1"}},
        {{{"S9", "Cam"}, {"S10", "Cam"}}, {}, {"S10", "S9"}},       // strcmp order of the serials
        {{{"Z", "b"}}, {{"Y", "B"}, {"X", "a"}}, {"Y", "X", "Z"}},  // bytes, not letters
        {{{"Q2", "Same"}}, {{"Q1", "Same"}, {"P", "Other"}}, {"P", "Q1", "Q2"}},
    };
    for (const Case& c : cases) {
        usb->SetDevices({});
        gige->SetDevices({});
        for (auto [sn, name] : c.usbCams) Usb(sn, name);
        for (auto [sn, name] : c.gigeCams) Gige(sn, name);
        int count = -1;
        ASSERT_EQ(mgr->CameraEnumerateDevice(&count), 0);
        EXPECT_EQ(count, static_cast<int>(c.expected.size()));
        EXPECT_EQ(Serials(), c.expected);
    }
}

TEST_F(Manager, NoCameraGivesMinus16AndItsLogLine) {
    LogCapture log;
    int count = -1;
    EXPECT_EQ(mgr->CameraEnumerateDevice(&count), CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(log.Count("No camera was found!!!!\n"), 1);

    // Flags 0 asks no transport at all.
    Usb("S1", "A");
    count = -1;
    EXPECT_EQ(mgr->CameraEnumerateDeviceEx(&count, 0), CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(usb->GetDeviceListCalls(), 1);  // only the first enumeration
    EXPECT_EQ(gige->GetDeviceListCalls(), 1);

    // Flags pick the transports: bit 1 USB, bit 0 GigE.
    Gige("S2", "B");
    EXPECT_EQ(mgr->CameraEnumerateDeviceEx(&count, 2), 0);
    EXPECT_EQ(Serials(), std::vector<std::string>{"S1"});
    EXPECT_EQ(mgr->CameraEnumerateDeviceEx(&count, 1), 0);
    EXPECT_EQ(Serials(), std::vector<std::string>{"S2"});
}

TEST_F(Manager, IndexBoundsAndInUse) {
    auto a = Usb("S1", "A");
    auto b = Gige("S2", "B");
    b->SetInUse(true);
    int count = 0;
    ASSERT_EQ(mgr->CameraEnumerateDevice(&count), 0);

    tDevInfo info;
    std::memset(&info, 0x3C, sizeof info);
    const tDevInfo untouched = info;
    for (int bad : {-1, 2, 100}) {
        EXPECT_EQ(mgr->CameraGetEnumIndexInfo(bad, &info), CAMERA_STATUS_PARAMETER_INVALID) << bad;
        EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0) << bad;
        std::shared_ptr<CJNDevice> dev;
        EXPECT_EQ(mgr->GetDevice(bad, dev), CAMERA_STATUS_PARAMETER_INVALID) << bad;
        EXPECT_EQ(mgr->IsDeviceInUse(bad), CAMERA_STATUS_PARAMETER_INVALID) << bad;
    }
    EXPECT_EQ(mgr->CameraGetEnumIndexInfo(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);

    ASSERT_EQ(mgr->CameraGetEnumIndexInfo(1, &info), 0);
    EXPECT_STREQ(info.acSn, "S2");
    EXPECT_EQ(info.uInUse, 1u);
    EXPECT_EQ(std::memcmp(info.abReserved, std::vector<uint8_t>(64, 0).data(), 64), 0);
    ASSERT_EQ(mgr->CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_EQ(info.uInUse, 0u);

    std::shared_ptr<CJNDevice> dev;
    EXPECT_EQ(mgr->GetDevice(1, dev), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(dev, nullptr);
    EXPECT_EQ(mgr->GetDevice(0, dev), 0);
    EXPECT_EQ(dev, a);
}

// The first enumeration waits for the GigE discovery's first scan.
TEST_F(Manager, FirstEnumerationWaitsForTheFirstScan) {
    gige->HoldFirstScan(10s);
    Gige("G1", "Cam");
    int count = -1;
    auto enumeration =
        std::async(std::launch::async, [&] { return mgr->CameraEnumerateDevice(&count); });
    // Waiting, not finished, until the scan is complete.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (gige->FirstScanWaiters() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(gige->FirstScanWaiters(), 1);
    EXPECT_EQ(enumeration.wait_for(0s), std::future_status::timeout);
    gige->CompleteFirstScan();
    EXPECT_EQ(enumeration.get(), 0);
    EXPECT_EQ(count, 1);

    // A scan that never completes within the wait: the enumeration goes on without it.
    auto later = std::make_unique<CFakeCameraFactory>();
    later->HoldFirstScan(20ms);
    later->AddDevice(std::make_shared<CFakeDevice>("G2", "Cam"));
    TestManager other(nullptr, std::move(later));
    EXPECT_EQ(other.CameraEnumerateDevice(&count), 0);
    EXPECT_EQ(count, 1);
}

// A friendly name that changes while the list is sorted cannot make the comparator
// inconsistent: each device's information is read once per enumeration.
TEST_F(Manager, SortReadsEachDeviceOnce) {
    std::vector<std::shared_ptr<CFakeDevice>> devices;
    for (int i = 0; i < 40; ++i) {
        const std::string sn = "S" + std::to_string(100 + i);
        auto d = Gige(sn.c_str(), (i % 2) ? "Odd" : "Even");
        // Every information read flips the name, as a refreshed discovery answer might.
        d->SetCallHook([raw = d.get(), flip = false](const qvsim::FakeCall& c) mutable {
            if (c.name == "GetDeviceInfo") raw->SetFriendlyName((flip = !flip) ? "Zed" : "Abe");
        });
        devices.push_back(d);
    }
    int count = 0;
    ASSERT_EQ(mgr->CameraEnumerateDevice(&count), 0);
    EXPECT_EQ(count, 40);
    for (const auto& d : devices) EXPECT_EQ(d->CallCount("GetDeviceInfo"), 1u);
}

// An index query answers from one device even while another thread re-enumerates a changing set.
TEST_F(Manager, IndexQueryIsConsistentUnderConcurrentEnumeration) {
    auto freeCam = Gige("FREE", "A");
    auto busyCam = Gige("BUSY", "B");
    busyCam->SetInUse(true);
    std::atomic<bool> stop{false};
    std::thread enumerator([&] {
        int n = 0;
        for (int i = 0; !stop.load(); ++i) {
            gige->SetDevices(i % 2 ? std::vector<std::shared_ptr<CJNDevice>>{busyCam, freeCam}
                                   : std::vector<std::shared_ptr<CJNDevice>>{busyCam});
            mgr->CameraEnumerateDevice(&n);
        }
    });
    int checked = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int i = 0; checked < 2000 && std::chrono::steady_clock::now() < deadline; ++i) {
        tDevInfo info{};
        if (mgr->CameraGetEnumIndexInfo(i % 2, &info) != 0) continue;
        ++checked;
        EXPECT_EQ(info.uInUse, std::strcmp(info.acSn, "BUSY") == 0 ? 1u : 0u) << info.acSn;
    }
    stop = true;
    enumerator.join();
    EXPECT_GT(checked, 0);
}

TEST_F(Manager, FindDeviceByKeyOpensTheNamedCamera) {
    auto a = Usb("S1", "Left");
    auto b = Gige("S2", "Right");
    int count = 0;
    ASSERT_EQ(mgr->CameraEnumerateDevice(&count), 0);
    std::shared_ptr<CJNDevice> found;
    tDevInfo info{};
    EXPECT_EQ(mgr->FindDevice(CJNDeviceMgr::DeviceKey::kSerialNumber, "S2", found, &info), 0);
    EXPECT_EQ(found, b);
    EXPECT_STREQ(info.acFriendlyName, "Right");
    EXPECT_EQ(mgr->FindDevice(CJNDeviceMgr::DeviceKey::kFriendlyName, "Left", found), 0);
    EXPECT_EQ(found, a);
    EXPECT_EQ(mgr->FindDevice(CJNDeviceMgr::DeviceKey::kFriendlyName, "Nobody", found),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(mgr->FindDevice(CJNDeviceMgr::DeviceKey::kSerialNumber, nullptr, found),
              CAMERA_STATUS_PARAMETER_INVALID);
    // A device that cannot report its information is skipped.
    b->SetResult("GetDeviceInfo", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(mgr->FindDevice(CJNDeviceMgr::DeviceKey::kSerialNumber, "S2", found),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Manager, GigeIpBySerialNumber) {
    auto usbCam = Usb("U1", "A");
    usbCam->SetResult("GetIpConfig", CAMERA_STATUS_NOT_SUPPORTED);  // as the base answers
    usbCam->SetResult("SetIpConfig", CAMERA_STATUS_NOT_SUPPORTED);
    auto gigeCam = Gige("G1", "B");
    int count = 0;
    ASSERT_EQ(mgr->CameraEnumerateDevice(&count), 0);

    tGigeIpConfig config{};
    EXPECT_EQ(mgr->CameraGigeGetIp("G1", &config), 0);
    EXPECT_EQ(mgr->CameraGigeSetIp("G1", &config), 0);
    EXPECT_EQ(gigeCam->CallCount("SetIpConfig"), 1u);
    EXPECT_EQ(mgr->CameraGigeSetIp("U1", &config), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(mgr->CameraGigeGetIp("NOPE", &config), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(mgr->CameraGigeSetIp("NOPE", &config), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(mgr->CameraGigeSetIp("G1", nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST(FirmwareGate, TemporaryAddressOnOldFirmwareOfAGatedSeries) {
    const char* const gated[] = {"QVG-1000"};
    struct Case {
        const char* series;
        uint16_t firmwareWord;
        UINT persistent;
        bool refused;
    };
    const Case cases[] = {
        {"QVG-1000", 0x0206, 0, true},   {"QVG-1000", 0x0207, 0, false},
        {"QVG-1000", 0x0100, 1, false},   // a persistent address is not gated
        {"QVG-10000", 0x0100, 0, false},  // the terminator is part of the name
        {"OTHER", 0x0100, 0, false},
    };
    for (const Case& c : cases) {
        tDevInfo info{};
        std::strcpy(info.acProductSeries, c.series);
        info.uDeviceType = c.firmwareWord;
        tGigeIpConfig config{};
        config.uPersistent = c.persistent;
        EXPECT_EQ(JNCameraMgr::FirmwareRefusesIp(info, config, gated), c.refused)
            << c.series << " " << c.firmwareWord;
    }
    tDevInfo info{};
    tGigeIpConfig config{};
    EXPECT_FALSE(JNCameraMgr::FirmwareRefusesIp(info, config, {}));
}

TEST(BroadcastTrigger, RequestIdentifiersRunFromOneAndSkipZero) {
    CJNDeviceMgr mgr(nullptr, nullptr);
    EXPECT_EQ(mgr.NextRequestId(), 1);
    EXPECT_EQ(mgr.NextRequestId(), 2);
    for (int i = 3; i < 0xFFFF; ++i) mgr.NextRequestId();
    EXPECT_EQ(mgr.NextRequestId(), 0xFFFF);
    EXPECT_EQ(mgr.NextRequestId(), 1);
}

// Runs f on a thread of its own network namespace with the loopback up, so nothing it sends can
// leave this test.
template <typename F>
void InPrivateLoopback(F f) {
    std::thread([&] {
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << std::strerror(errno);
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, "lo");
        ASSERT_EQ(ioctl(s, SIOCGIFFLAGS, &ifr), 0);
        ifr.ifr_flags |= IFF_UP;
        ASSERT_EQ(ioctl(s, SIOCSIFFLAGS, &ifr), 0);
        close(s);
        f();
    }).join();
}

TEST(BroadcastTrigger, ThreeIdenticalDatagramsPerCallAndTheNextIdentifierAfter) {
    InPrivateLoopback([] {
        const int rx = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(CJNDeviceMgr::kGvcpPort);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
        timeval timeout{2, 0};
        setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

        CJNDeviceMgr mgr(nullptr, nullptr);
        ASSERT_EQ(mgr.GigeBroadcastSoftTrigger("127.0.0.1", 0x1A5), 0);
        ASSERT_EQ(mgr.GigeBroadcastSoftTrigger("127.0.0.1", 7), 0);
        const uint8_t first[9] = {0x42, 0x00, 0x80, 0x13, 0x00, 0x01, 0x00, 0x01, 0xA5};
        const uint8_t second[9] = {0x42, 0x00, 0x80, 0x13, 0x00, 0x01, 0x00, 0x02, 0x07};
        for (int i = 0; i < 6; ++i) {
            uint8_t buffer[64];
            const ssize_t n = recv(rx, buffer, sizeof buffer, 0);
            ASSERT_EQ(n, 9) << i;
            EXPECT_EQ(std::memcmp(buffer, i < 3 ? first : second, 9), 0) << i;
        }
        close(rx);
    });
}

TEST(BroadcastTrigger, BindAndAddressFailuresAreReported) {
    InPrivateLoopback([] {
        CJNDeviceMgr mgr(nullptr, nullptr);
        // Not an address of this namespace: the bind fails and nothing is sent.
        EXPECT_EQ(mgr.GigeBroadcastSoftTrigger("192.0.2.1", 1), CAMERA_STATUS_FAILED);
        EXPECT_EQ(mgr.GigeBroadcastSoftTrigger("not an address", 1), CAMERA_STATUS_FAILED);
    });
    CJNDeviceMgr mgr(nullptr, nullptr);
    EXPECT_EQ(mgr.GigeBroadcastSoftTrigger(nullptr, 1), CAMERA_STATUS_FAILED);
    TestManager manager(nullptr, nullptr);
    EXPECT_EQ(manager.CameraGigeBroadcastSoftTrigger(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
}

}  // namespace
