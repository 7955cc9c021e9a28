// Discovery against simulated cameras on loopback addresses of the test's own namespace: each
// camera listed once (also when it answers on two sockets), in serial-number order, with its
// interface; answers that are not whole answers to this cycle's command are ignored; the
// keep-alive refresh; a camera that goes silent and comes back.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GigeTestRig.h"
#include "SimNetns.h"
#include "gige/GigeCameraFactory.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Devices = std::vector<std::shared_ptr<CJNDevice>>;

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

// Asks the factory until its list satisfies pred (a cycle takes about a second).
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

// Once per process: lo carries 127.0.0.2, so discovery has an interface to broadcast on.
class GigeDiscovery : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool done = false;
        if (!done) qvsim::AddAddress("lo", "127.0.0.2", 8);
        done = true;
    }
    static SimGigeImx290Options Camera(const char* serial, const char* ip, uint8_t mac) {
        SimGigeImx290Options o;
        o.serial = serial;
        o.ip = ip;
        o.macLast = mac;
        return o;
    }
};

TEST_F(GigeDiscovery, EachCameraOnceInSerialOrder) {
    CSimGigeImx290Camera a(Camera("200", "127.0.0.10", 10));
    // This one answers on the interface's socket and by broadcast on the 0.0.0.0 socket.
    auto config = CSimGigeImx290Camera::MakeConfig(Camera("1000", "127.0.0.11", 11));
    config.discoveryRoute = qvsim::CSimGigeCamera::AnswerRoute::kBoth;
    qvsim::CSimGigeCamera b(config);
    // A serial number of all 16 characters, no terminator, before the user name.
    auto longName = Camera("ABCDEFGHIJKLMNOP", "127.0.0.12", 12);
    longName.userName = "USERNAMEUSERNAME";
    CSimGigeImx290Camera c(longName);

    CGigeCameraFactory factory;
    Devices first;
    const auto start = Clock::now();
    factory.GetDeviceList(first);  // the first enumeration waits for the first cycle
    EXPECT_LT(Clock::now() - start, 5s);
    const Devices devices = ListUntil(factory, [](const Devices& d) { return d.size() >= 3; });
    EXPECT_EQ(Serials(devices), (std::vector<std::string>{"1000", "200", "ABCDEFGHIJKLMNOP"}));
    ASSERT_TRUE(b.WaitFor([](const auto& cmds) { return !cmds.empty(); }, 5s));
    for (const auto& d : devices) {
        auto* camera = static_cast<CGigeCamera*>(d.get());
        EXPECT_EQ(camera->GetNetcardName(), "lo");
        EXPECT_STREQ(camera->GetSymbolicName(), Serial(d).c_str());
    }
    tDevInfo info{};
    devices[2]->GetDeviceInfo(&info, nullptr);
    EXPECT_STREQ(info.acFriendlyName, "USERNAMEUSERNAME");
    EXPECT_STREQ(info.acSymbolicName, "127.0.0.12:255.0.0.0:0.0.0.0");

    // A later cycle keeps the same objects.
    const size_t asked = a.Camera().Count(0x0002);
    ASSERT_TRUE(a.Camera().WaitFor(
        [&](const auto& c) {
            return static_cast<size_t>(std::count_if(c.begin(), c.end(), [](const auto& x) {
                       return x.command == 0x0002;
                   })) >= asked + 2;
        },
        10s));
    Devices later;
    factory.GetDeviceList(later);
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later[0], devices[0]);
    EXPECT_EQ(later[1], devices[1]);
}

// Answers of lengths 0 to 300, of the previous cycle, of another command: none is listed and
// nothing is read beyond what arrived.
TEST_F(GigeDiscovery, AnswersThatAreNotWholeAnswersOfThisCycle) {
    CSimGigeImx290Camera real(Camera("REAL", "127.0.0.20", 20));
    CSimGigeImx290Camera stale(Camera("STALE", "127.0.0.21", 21));
    stale.Camera().SetAnswerEditor([](uint16_t, std::vector<uint8_t>& d) {
        const uint16_t id = static_cast<uint16_t>((d[6] << 8 | d[7]) - 1);
        d[6] = static_cast<uint8_t>(id >> 8);
        d[7] = static_cast<uint8_t>(id);
    });
    CSimGigeImx290Camera foreign(Camera("FOREIGN", "127.0.0.22", 22));
    foreign.Camera().SetAnswerEditor([](uint16_t, std::vector<uint8_t>& d) { d[3] = 0x05; });
    CSimGigeImx290Camera cut(Camera("CUT", "127.0.0.23", 23));
    cut.Camera().SetAnswerEditor([](uint16_t, std::vector<uint8_t>& d) { d.resize(255); });

    // A responder that answers every discovery with datagrams of every length up to 300, made
    // of a real answer's bytes (so a short one holds a plausible header).
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(13956);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<size_t> next{0};  // the next length to send
    std::vector<uint8_t> template_(8, 0);
    template_[3] = 0x03;
    const auto payload = foreign.Firmware().DiscoveryAnswer();
    template_.insert(template_.end(), payload.begin(), payload.end());
    template_.resize(300, 0x41);
    std::thread responder([&] {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            uint8_t cmd[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                recvfrom(fd, cmd, sizeof cmd, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 8 || cmd[3] != 0x02) continue;
            std::vector<uint8_t> d = template_;
            d[6] = cmd[6];
            d[7] = cmd[7];
            // A whole answer, then the next 100 lengths: every length goes out over a few
            // cycles without a burst that would overflow the host's socket.
            sendto(fd, d.data(), 256, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
            for (int i = 0; i < 100 && next <= 300; ++i, ++next)
                sendto(fd, d.data(), next, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
            ++answered;
        }
    });

    CGigeCameraFactory factory;
    Devices devices = ListUntil(
        factory, [&](const Devices&) { return next.load() > 300; }, 30s);
    // Then a whole cycle more.
    const int seen = answered.load();
    devices = ListUntil(
        factory, [&](const Devices& d) { return answered.load() >= seen + 2 && d.size() >= 2; });
    stop = true;
    responder.join();
    close(fd);
    // The responder's whole answers (256 bytes and up) carry the foreign camera's identity with
    // a right code and id: that camera is listed, once; nothing else but the real one.
    EXPECT_EQ(Serials(devices), (std::vector<std::string>{"FOREIGN", "REAL"}));
}

TEST_F(GigeDiscovery, RefreshMergesLiveCamerasAndSilentOnesLeave) {
    CSimGigeImx290Camera a(Camera("KA-1", "127.0.0.30", 30));
    CSimGigeImx290Camera b(Camera("KA-2", "127.0.0.31", 31));
    CGigeCameraFactory factory;
    Devices devices = ListUntil(factory, [](const Devices& d) { return d.size() == 2; });
    ASSERT_EQ(devices.size(), 2u);

    // A watch list holding an older object for KA-1 and an unrelated entry.
    auto older = gigetest::DeviceFor(a.Firmware());
    std::list<std::shared_ptr<CJNDevice>> watch{older, nullptr};
    ASSERT_EQ(factory.RefreshDeviceList(watch), 0);
    ASSERT_EQ(watch.size(), 3u);
    auto it = watch.begin();
    EXPECT_EQ(*it, devices[0]);  // replaced by the factory's object
    EXPECT_EQ(*++it, nullptr);
    EXPECT_EQ(*++it, devices[1]);  // appended

    // KA-2 goes silent: it leaves the list, while its object lives on for holders.
    b.Camera().Unplug();
    std::shared_ptr<CJNDevice> held = devices[1];
    devices = ListUntil(factory, [](const Devices& d) { return d.size() == 1; });
    EXPECT_EQ(Serials(devices), (std::vector<std::string>{"KA-1"}));
    EXPECT_EQ(Serial(held), "KA-2");
    std::list<std::shared_ptr<CJNDevice>> none;
    factory.RefreshDeviceList(none);
    EXPECT_EQ(none.size(), 1u);  // only the live one
    // It answers again: a new object, since the old one is no longer listed.
    b.Camera().Plug();
    devices = ListUntil(factory, [](const Devices& d) { return d.size() == 2; });
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_NE(devices[1], held);
    EXPECT_EQ(Serial(devices[1]), "KA-2");
}

TEST(GigeDiscoveryNoInterface, FirstEnumerationWaitsAtMostOneAndAHalfSeconds) {
    // A fresh namespace of its own with only lo (127.0.0.1, which discovery skips).
    qvsim::CSimNetns empty;
    Devices devices;
    Clock::duration took{};
    empty.Run([&] {
        CGigeCameraFactory factory;
        const auto start = Clock::now();
        factory.GetDeviceList(devices);
        took = Clock::now() - start;
    });
    EXPECT_TRUE(devices.empty());
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 10s);
}

}  // namespace
