// GVCP READREG round trip of the GigE camera device against the simulated camera behind a veth
// link (camera in a namespace of its own), beside a bare UDP ping-pong of the same size over the
// same link: the floor that kernel, link and a polling peer set. Reports the median (p50) and
// the 99th percentile (p99) of the round trip in microseconds.
//
//   build/bench/gvcp_bench
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "SimGigeImx290Camera.h"
#include "SimNetns.h"
#include "gige/GigeCameraBySocket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHostIp = "198.18.0.1";
constexpr const char* kCameraIp = "198.18.0.2";
constexpr uint16_t kEchoPort = 40000;

// The camera's namespace and link, made once for the whole run.
struct Link {
    qvsim::CSimNetns ns;
    qvsim::CSimVethLink veth{ns, {kHostIp, 24}, {kCameraIp, 24, true}};
};
Link& TheLink() {
    static Link link;
    return link;
}

void Report(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) return;
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_GvcpReadReg(benchmark::State& state) {
    Link& link = TheLink();
    SimGigeImx290Options o;
    o.ip = kCameraIp;
    o.mask = "255.255.255.0";
    o.netnsFd = link.ns.Fd();
    CSimGigeImx290Camera sim(o);
    qv::gige::DISCOVERY_ACK_DATA ack;
    const auto answer = sim.Firmware().DiscoveryAnswer();
    std::copy(answer.begin(), answer.end(), reinterpret_cast<uint8_t*>(&ack));
    CGigeCameraBySocket device("QVG0001", "QV-G2M-290", "v1.2", link.veth.HostName().c_str(), ack);
    if (device.Open(nullptr) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<double> us;
    us.reserve(1 << 16);
    for (auto _ : state) {
        uint32_t value = 0;
        const auto t0 = Clock::now();
        const int r = device.ReadReg(0x0A00, &value, 1000, 1);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (r != 0) state.SkipWithError("read failed");
    }
    device.Close();
    Report(state, us);
}

// The same 12-byte command and 12-byte answer, echoed by a thread that does nothing else.
void BM_UdpPingPong(benchmark::State& state) {
    Link& link = TheLink();
    int echo = -1;
    link.ns.Run([&] {
        echo = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kEchoPort);
        a.sin_addr.s_addr = qvsim::ParseIp(kCameraIp);
        bind(echo, reinterpret_cast<sockaddr*>(&a), sizeof a);
    });
    std::atomic<bool> stop{false};
    std::thread echoer([&] {
        uint8_t buf[64];
        while (!stop) {
            pollfd p{echo, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(echo, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0) sendto(echo, buf, 12, 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    });
    const int host = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kEchoPort);
    to.sin_addr.s_addr = qvsim::ParseIp(kCameraIp);
    std::vector<double> us;
    us.reserve(1 << 16);
    uint8_t msg[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x0A, 0x00};
    uint8_t back[64];
    for (auto _ : state) {
        const auto t0 = Clock::now();
        sendto(host, msg, sizeof msg, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{host, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1 || recv(host, back, sizeof back, 0) != 12)
            state.SkipWithError("no echo");
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    stop = true;
    echoer.join();
    close(host);
    close(echo);
    Report(state, us);
}

BENCHMARK(BM_GvcpReadReg)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_UdpPingPong)->Iterations(20000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
