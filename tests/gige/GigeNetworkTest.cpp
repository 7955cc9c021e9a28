// Discovery and FORCEIP in network namespaces: cameras behind veth links with 198.18.x
// addresses. Several cameras on one link and one behind a second link, each listed once with
// its own interface; one camera reachable over two links, listed once; a link deleted while
// discovery runs; a flood of datagrams on the discovery socket; FORCEIP within the subnet, to
// another one (answered by broadcast) and back, temporary, unanswered, with malformed answers,
// and the IP record of an interface that has gone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GigeTestRig.h"
#include "SimGigeNetwork.h"
#include "gige/GigeCameraFactory.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Devices = std::vector<std::shared_ptr<CJNDevice>>;
using qvsim::SimGvcpFault;

constexpr uint16_t kForceIp = 0x0004;

SimGigeImx290Options At(const char* serial, const char* ip, uint8_t mac) {
    SimGigeImx290Options o;
    o.serial = serial;
    o.ip = ip;
    o.mask = "255.255.255.0";
    o.macLast = mac;
    return o;
}

std::string Serial(const std::shared_ptr<CJNDevice>& d) {
    tDevInfo info{};
    d->GetDeviceInfo(&info, nullptr);
    return std::string(info.acSn, strnlen(info.acSn, sizeof info.acSn));
}

std::vector<std::string> Serials(const Devices& devices) {
    std::vector<std::string> out;
    for (const auto& d : devices) out.push_back(Serial(d));
    return out;
}

std::string Netcard(const std::shared_ptr<CJNDevice>& d) {
    return static_cast<CGigeCamera*>(d.get())->GetNetcardName();
}

std::string SymbolicOf(const std::shared_ptr<CJNDevice>& d) {
    tDevInfo info{};
    d->GetDeviceInfo(&info, nullptr);
    return info.acSymbolicName;
}

Devices ListUntil(CGigeCameraFactory& factory, const std::function<bool(const Devices&)>& pred,
                  std::chrono::seconds timeout = 15s) {
    const auto deadline = Clock::now() + timeout;
    Devices devices;
    do {
        devices.clear();
        factory.GetDeviceList(devices);
        if (pred(devices)) break;
        std::this_thread::sleep_for(50ms);
    } while (Clock::now() < deadline);
    return devices;
}

std::shared_ptr<CJNDevice> Find(const Devices& devices, const std::string& serial) {
    for (const auto& d : devices)
        if (Serial(d) == serial) return d;
    return nullptr;
}

TEST(GigeNetwork, CamerasOnTwoLinksEachListedOnceWithItsInterface) {
    qvsim::CSimGigeNetwork net;
    const int ns1 = net.AddNamespace();
    const int ns2 = net.AddNamespace();
    const int link1 = net.AddLink(ns1, "198.18.1.1");
    const int link2 = net.AddLink(ns2, "198.18.2.1");
    net.AddCamera(link1, At("NET-B", "198.18.1.2", 2));
    net.AddCamera(link1, At("NET-A", "198.18.1.3", 3));
    net.AddCamera(link2, At("NET-C", "198.18.2.2", 4));
    CGigeCameraFactory factory;
    const Devices devices = ListUntil(factory, [](const Devices& d) { return d.size() >= 3; });
    ASSERT_EQ(Serials(devices), (std::vector<std::string>{"NET-A", "NET-B", "NET-C"}));
    EXPECT_EQ(Netcard(devices[0]), net.HostInterface(link1));
    EXPECT_EQ(Netcard(devices[1]), net.HostInterface(link1));
    EXPECT_EQ(Netcard(devices[2]), net.HostInterface(link2));
    EXPECT_EQ(SymbolicOf(devices[2]), "198.18.2.2:255.255.255.0:0.0.0.0");

    // Each opens and answers over its own link.
    for (const auto& d : devices) {
        ASSERT_EQ(d->Open(nullptr), 0) << Serial(d);
        EXPECT_TRUE(d->CheckAlive());
        d->Close();
    }
}

TEST(GigeNetwork, CameraReachableOverTwoLinksListedOnceWithTheFirstInterface) {
    qvsim::CSimGigeNetwork net;
    const int ns = net.AddNamespace();
    const int link1 = net.AddLink(ns, "198.18.3.1");
    net.AddLink(ns, "198.18.4.1", "198.18.4.2");
    net.AddCamera(link1, At("TWICE", "198.18.3.2", 5));
    CGigeCameraFactory factory;
    const Devices devices = ListUntil(factory, [](const Devices& d) { return !d.empty(); });
    // Let a few cycles pass: it answers on both interfaces in every one.
    std::this_thread::sleep_for(2500ms);
    Devices later;
    factory.GetDeviceList(later);
    ASSERT_EQ(Serials(later), (std::vector<std::string>{"TWICE"}));
    EXPECT_EQ(Netcard(later[0]), net.HostInterface(link1));
}

TEST(GigeNetwork, LinkDeletedWhileDiscoveryRunsAndAFloodOnItsSocket) {
    qvsim::CSimGigeNetwork net;
    const int ns1 = net.AddNamespace();
    const int ns2 = net.AddNamespace();
    const int link1 = net.AddLink(ns1, "198.18.5.1");
    const int link2 = net.AddLink(ns2, "198.18.6.1");
    auto& keep = net.AddCamera(link1, At("KEEP", "198.18.5.2", 6));
    net.AddCamera(link2, At("GONE", "198.18.6.2", 7));
    CGigeCameraFactory factory;
    ListUntil(factory, [](const Devices& d) { return d.size() == 2; });

    // A flood of datagrams of every size to the socket the discovery of the moment listens on.
    std::atomic<bool> stop{false};
    int flooder = -1;
    net.Namespace(ns1).Run([&] { flooder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    std::thread flood([&] {
        std::vector<uint8_t> junk(1400);
        for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 31);
        junk[0] = 0x00;
        junk[2] = 0x00;
        junk[3] = 0x03;  // looks like a discovery answer
        size_t size = 0;
        while (!stop) {
            const auto cmds = keep.Camera().Commands();
            if (!cmds.empty()) {
                const auto& last = cmds.back();
                junk[6] = static_cast<uint8_t>(last.reqId >> 8);
                junk[7] = static_cast<uint8_t>(last.reqId);
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(last.fromPort);
                to.sin_addr.s_addr = last.fromIp;
                for (int i = 0; i < 50; ++i, size = (size + 37) % junk.size())
                    sendto(flooder, junk.data(), size, 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to);
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    // The second link disappears while cycles run; KEEP is listed throughout.
    std::this_thread::sleep_for(300ms);
    net.RemoveLink(link2);
    int lists = 0;
    bool keptAll = true;
    const auto until = Clock::now() + 3500ms;
    while (Clock::now() < until) {
        Devices d;
        factory.GetDeviceList(d);
        keptAll &= Find(d, "KEEP") != nullptr;
        ++lists;
        std::this_thread::sleep_for(100ms);
    }
    stop = true;
    flood.join();
    close(flooder);
    EXPECT_TRUE(keptAll);
    EXPECT_GT(lists, 10);
    const Devices after = ListUntil(factory, [](const Devices& d) { return d.size() == 1; });
    EXPECT_EQ(Serials(after), (std::vector<std::string>{"KEEP"}));
}

// ---- FORCEIP -------------------------------------------------------------------------------

class GigeForceIp : public ::testing::Test {
  protected:
    void SetUp() override {
        ns = net.AddNamespace();
        link = net.AddLink(ns, "198.18.10.1");
        cam = &net.AddCamera(link, At("FIP-1", "198.18.10.2", 9));
        // Made once the link is there: the first cycle finds it.
        factory = std::make_unique<CGigeCameraFactory>();
        devices = ListUntil(*factory, [](const Devices& d) { return !d.empty(); });
        ASSERT_EQ(devices.size(), 1u);
        device = static_cast<CGigeCamera*>(devices[0].get());
    }
    tGigeIpConfig Config() {
        tGigeIpConfig c{};
        EXPECT_EQ(device->GetIpConfig(&c), 0);
        return c;
    }
    int SetIp(const char* ip, const char* mask, const char* gw, unsigned persistent) {
        tGigeIpConfig c = Config();
        std::strcpy(c.acIp, ip);
        std::strcpy(c.acMask, mask);
        std::strcpy(c.acGateway, gw);
        c.uPersistent = persistent;
        return device->SetIpConfig(&c);
    }
    // The factory's object for the camera once its answer shows the address.
    std::shared_ptr<CJNDevice> ListedAt(const std::string& symbolic) {
        const Devices d = ListUntil(*factory, [&](const Devices& list) {
            return list.size() == 1 && SymbolicOf(list[0]) == symbolic;
        });
        return d.size() == 1 && SymbolicOf(d[0]) == symbolic ? d[0] : nullptr;
    }

    qvsim::CSimGigeNetwork net;
    int ns = -1;
    int link = -1;
    CSimGigeImx290Camera* cam = nullptr;
    std::unique_ptr<CGigeCameraFactory> factory;
    Devices devices;
    CGigeCamera* device = nullptr;
};

TEST_F(GigeForceIp, IpRecord) {
    const tGigeIpConfig c = Config();
    EXPECT_EQ(std::string(c.acAdapterName), net.HostInterface(link));
    EXPECT_STREQ(c.acAdapterIp, "198.18.10.1");
    EXPECT_STREQ(c.acAdapterMask, "255.255.255.0");
    EXPECT_STREQ(c.acAdapterGateway, "0.0.0.0");  // no default route through it
    EXPECT_EQ(c.uPersistent, 0u);
    EXPECT_STREQ(c.acIp, "198.18.10.2");
    EXPECT_STREQ(c.acMask, "255.255.255.0");
    EXPECT_STREQ(c.acGateway, "0.0.0.0");
    const uint8_t mac[6] = {0x00, 0x1C, 0x51, 0x00, 0x00, 9};
    EXPECT_EQ(std::memcmp(c.abMac, mac, 6), 0);
    // The record's layout: mask at byte 80, gateway at 96.
    static_assert(offsetof(tGigeIpConfig, acAdapterMask) == 80);
    static_assert(offsetof(tGigeIpConfig, acAdapterGateway) == 96);
    static_assert(offsetof(tGigeIpConfig, uPersistent) == 112);
    static_assert(sizeof(tGigeIpConfig) == 172);
}

TEST_F(GigeForceIp, WithinTheSubnetThenOpenedThere) {
    cam->Camera().ClearCommands();
    ASSERT_EQ(SetIp("198.18.10.20", "255.255.255.0", "198.18.10.254", 1), 0);
    // The 64-byte command: flags 0x11, request id 1, this camera's MAC and the new values.
    const auto sent = gigetest::Only(cam->Camera(), kForceIp);
    ASSERT_GE(sent.size(), 1u);
    EXPECT_EQ(sent[0].flags, 0x11);
    EXPECT_EQ(sent[0].reqId, 1);
    ASSERT_EQ(sent[0].payload.size(), 56u);
    EXPECT_EQ(sent[0].payload[7], 9);
    EXPECT_EQ(gigetest::Be32(sent[0].payload, 20), 0xC6120A14u);
    EXPECT_EQ(gigetest::Be32(sent[0].payload, 36), 0xFFFFFF00u);
    EXPECT_EQ(gigetest::Be32(sent[0].payload, 52), 0xC6120AFEu);
    // Shown at once, before any discovery answer.
    const tGigeIpConfig c = Config();
    EXPECT_STREQ(c.acIp, "198.18.10.20");
    EXPECT_STREQ(c.acGateway, "198.18.10.254");
    EXPECT_EQ(c.uPersistent, 1u);
    EXPECT_EQ(device->GetPeerAddress().ip(), "198.18.10.20");
    EXPECT_EQ(cam->Firmware().Identity().ip, "198.18.10.20");
    // Opened at the new address.
    ASSERT_EQ(device->Open(nullptr), 0);
    EXPECT_TRUE(cam->Firmware().CcpHolder().has_value());
    device->Close();
    EXPECT_NE(ListedAt("198.18.10.20:255.255.255.0:198.18.10.254"), nullptr);
}

TEST_F(GigeForceIp, ToAnotherSubnetAnsweredByBroadcastAndBack) {
    ASSERT_EQ(SetIp("198.19.7.7", "255.255.0.0", "0.0.0.0", 1), 0);
    EXPECT_STREQ(Config().acIp, "198.19.7.7");
    // Discovery hears it by broadcast now.
    ASSERT_NE(ListedAt("198.19.7.7:255.255.0.0:0.0.0.0"), nullptr);
    ASSERT_EQ(SetIp("198.18.10.2", "255.255.255.0", "0.0.0.0", 1), 0);
    ASSERT_NE(ListedAt("198.18.10.2:255.255.255.0:0.0.0.0"), nullptr);
    ASSERT_EQ(device->Open(nullptr), 0);
    device->Close();
}

TEST_F(GigeForceIp, TemporaryGoesBackToTheStartUpAddress) {
    ASSERT_EQ(SetIp("198.18.10.30", "255.255.255.0", "0.0.0.0", 1), 0);
    ASSERT_NE(ListedAt("198.18.10.30:255.255.255.0:0.0.0.0"), nullptr);
    cam->Camera().ClearCommands();
    ASSERT_EQ(SetIp("198.18.10.40", "255.255.255.0", "0.0.0.0", 0), 0);
    const auto sent = gigetest::Only(cam->Camera(), kForceIp);
    ASSERT_GE(sent.size(), 1u);
    for (size_t at : {20, 36, 52}) EXPECT_EQ(gigetest::Be32(sent[0].payload, at), 0u);
    // Zeros until the next answer, then the camera's start-up address.
    EXPECT_STREQ(Config().acIp, "0.0.0.0");
    EXPECT_EQ(Config().uPersistent, 0u);
    ASSERT_NE(ListedAt("198.18.10.2:255.255.255.0:0.0.0.0"), nullptr);
    EXPECT_EQ(Config().uPersistent, 0u);
}

TEST_F(GigeForceIp, TemporaryAddressCommandsFollowTheRecord) {
    ASSERT_EQ(SetIp("198.18.10.30", "255.255.255.0", "0.0.0.0", 1), 0);
    // Without discovery only the FORCEIP itself moves the control address from here on.
    factory.reset();
    // Back to the start-up address, which the record names: the camera is reached there at once.
    ASSERT_EQ(SetIp("198.18.10.2", "255.255.255.0", "0.0.0.0", 0), 0);
    EXPECT_EQ(cam->Firmware().Identity().ip, "198.18.10.2");
    EXPECT_EQ(device->GetPeerAddress().ip(), "198.18.10.2");
    EXPECT_STREQ(Config().acIp, "0.0.0.0");  // the stored answer shows what was sent
    ASSERT_EQ(device->Open(nullptr), 0);
    EXPECT_TRUE(cam->Firmware().CcpHolder().has_value());
    device->Close();
    // A record address no command can go to leaves the control address as it was.
    for (const char* text : {"0.0.0.0", "no address", "255.255.255.255"}) {
        ASSERT_EQ(SetIp(text, "255.255.255.0", "0.0.0.0", 0), 0) << text;
        EXPECT_EQ(device->GetPeerAddress().ip(), "198.18.10.2") << text;
    }
    ASSERT_EQ(device->Open(nullptr), 0);
    device->Close();
}

TEST_F(GigeForceIp, UnansweredOrMalformedAnswersChangeNothing) {
    struct Case {
        const char* what;
        SimGvcpFault fault;
        int value;
    };
    const Case cases[] = {
        {"no answer", SimGvcpFault::kDropAnswer, 0},
        {"7 bytes", SimGvcpFault::kShort, 7},
        {"9 bytes", SimGvcpFault::kLong, 1},
        {"64 bytes", SimGvcpFault::kLong, 56},
        {"another id", SimGvcpFault::kWrongId, 1},
        {"another code", SimGvcpFault::kWrongCode, 0},
        {"error status", SimGvcpFault::kErrorStatus, 0x8002},
    };
    // The camera takes each command (only its answer is spoiled); without discovery running
    // the host's record shows only what the FORCEIP itself made of it.
    factory.reset();
    for (const Case& c : cases) {
        cam->Camera().ClearRules();
        cam->Camera().AddRule({kForceIp, -1, c.fault, c.value});
        // The same address: the camera stays where it is whatever the host makes of it.
        EXPECT_EQ(SetIp("198.18.10.2", "255.255.255.0", "198.18.10.9", 1), -1) << c.what;
        const tGigeIpConfig after = Config();
        EXPECT_STREQ(after.acGateway, "0.0.0.0") << c.what;
        EXPECT_EQ(after.uPersistent, 0u) << c.what;
    }
    cam->Camera().ClearRules();
    // Three tries when nothing answers.
    cam->Camera().ClearCommands();
    cam->Camera().AddRule({kForceIp, -1, SimGvcpFault::kDropCommand});
    EXPECT_EQ(SetIp("198.18.10.2", "255.255.255.0", "0.0.0.0", 1), -1);
    cam->Camera().ClearRules();
}

TEST_F(GigeForceIp, InterfaceGone) {
    net.RemoveLink(link);
    const tGigeIpConfig c = Config();
    EXPECT_STREQ(c.acAdapterIp, "0.0.0.0");
    EXPECT_STREQ(c.acAdapterMask, "0.0.0.0");
    EXPECT_STREQ(c.acAdapterGateway, "0.0.0.0");
    EXPECT_STREQ(c.acIp, "198.18.10.2");  // the camera's own, from its last answer
}

}  // namespace
