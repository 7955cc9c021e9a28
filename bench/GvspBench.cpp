// The GVSP receiver against the simulated camera over a veth link (the camera in a namespace of
// its own, jumbo frames allowed): 1920 x 1080 Mono8 frames at 1 GbE line rate with packet sizes
// 1500 and 9000, as fast as the camera can send, at rising rates (the capacity: the highest rate
// without a lost frame), and at line rate with 1 % of the packets lost and resent. And the
// receiver against a minimal recvmmsg receive loop, batched the same way, on the same datagrams
// at the same time (the floor; see BM_ReceiverAgainstFloor).
//
// Reported per case: frames received and lost, packets per second, the receive thread's CPU in
// % of one core and in us per packet (from the thread's own CPU clock), how full the batched
// receives were, and the camera's sending thread's CPU (on a veth pair the kernel's receive
// work runs in the sender's send calls and is charged to the camera).
//
//   build/bench/gvsp_bench
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "SimGigeNetwork.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiverBySocket.h"
#include "gige/GigeCameraBySocket.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kHostIp = "198.18.50.1";
constexpr const char* kCameraIp = "198.18.50.2";
constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr auto kMeasure = 3s;

// Bits per second of UDP datagrams (IP header included) that fill a 1 Gb/s Ethernet link:
// every frame also carries 38 bytes of preamble, MAC header, FCS and gap.
double LineRate(int packetSize) {
    return 1e9 * packetSize / (packetSize + 38.0);
}

int64_t CpuNs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The camera behind its link, made once.
struct Rig {
    qvsim::CSimGigeNetwork net;
    CSimGigeImx290Camera* cam = nullptr;
    int link = -1;
    Rig() {
        const int ns = net.AddNamespace();
        link = net.AddLink(ns, kHostIp, "", 24, 9000);
        SimGigeImx290Options o;
        o.ip = kCameraIp;
        o.mask = "255.255.255.0";
        o.gvcpCapability = 4;
        o.stream.fps = 0;
        o.stream.gated = true;
        cam = &net.AddCamera(link, o);
    }
};
Rig& TheRig() {
    static Rig rig;
    return rig;
}

struct Result {
    uint64_t frames = 0, lost = 0, packets = 0, calls = 0;
    double seconds = 0;
    int64_t rxCpuNs = 0, camCpuNs = 0;
};

void Report(benchmark::State& state, const Result& r) {
    state.counters["frames"] = static_cast<double>(r.frames);
    state.counters["lost"] = static_cast<double>(r.lost);
    state.counters["pkt_per_s"] = r.packets / r.seconds;
    state.counters["rx_cpu_pct"] = 100.0 * r.rxCpuNs / 1e9 / r.seconds;
    state.counters["rx_us_per_pkt"] = r.packets != 0 ? r.rxCpuNs / 1e3 / r.packets : 0;
    state.counters["pkts_per_call"] = r.calls != 0 ? double(r.packets) / r.calls : 0;
    state.counters["cam_cpu_pct"] = 100.0 * r.camCpuNs / 1e9 / r.seconds;
}

// The device with its receiver streaming at bitsPerSecond (0: as fast as the camera can).
Result RunDevice(int packetSize, double bitsPerSecond, unsigned lossPerMille) {
    Rig& rig = TheRig();
    qvsim::CSimGvspStreamer& streamer = rig.cam->Camera().Streamer();
    qv::gige::DISCOVERY_ACK_DATA ack;
    const auto answer = rig.cam->Firmware().DiscoveryAnswer();
    std::copy(answer.begin(), answer.end(), reinterpret_cast<uint8_t*>(&ack));
    CGigeCameraBySocket device("QVG0001", "QV-G2M-290", "v1.2",
                               rig.net.HostInterface(rig.link).c_str(), ack);
    Result r;
    if (device.Open(nullptr) != 0) return r;
    CFrameBucket bucket(6);
    CameraInitParam p{};
    p.packetSize = packetSize;
    p.mediaType = 0x01080000;
    p.resolution.iIndex = 255;
    p.resolution.iSensorWidth = kWidth;
    p.resolution.iSensorHeight = kHeight;
    p.resolution.uWidth = kWidth;
    p.resolution.uHeight = kHeight;
    if (device.OpenStream(bucket.GetProducer(), &p) != 0) {
        device.Close();
        return r;
    }
    qvsim::SimStreamConfig config;
    config.fps = 0;
    config.bitsPerSecond = bitsPerSecond;
    config.gated = true;
    streamer.SetConfig(config);
    streamer.SetLoss(lossPerMille);
    device.StartCapture();
    // Warm up, then measure whole frames from the gate.
    config.gated = false;
    streamer.SetConfig(config);
    std::this_thread::sleep_for(300ms);
    CGVSPReceiver::Stats s0;
    device.GetStreamStats(&s0);
    const auto cam0 = streamer.GetStats();
    tSdkFrameStatistic f0{};
    bucket.GetStatistic(&f0);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(kMeasure);
    CGVSPReceiver::Stats s1;
    device.GetStreamStats(&s1);
    const auto cam1 = streamer.GetStats();
    tSdkFrameStatistic f1{};
    bucket.GetStatistic(&f1);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    config.gated = true;
    streamer.SetConfig(config);
    streamer.WaitGateClosed(10s);
    streamer.SetLoss(0);
    device.StopCapture();
    device.CloseStream();
    device.Close();
    r.frames = f1.uGoodFrames - f0.uGoodFrames;
    r.lost = static_cast<uint64_t>(f1.iLostFrames - f0.iLostFrames);
    r.packets = s1.datagrams - s0.datagrams;
    r.calls = s1.receiveCalls - s0.receiveCalls;
    r.rxCpuNs = s1.threadCpuNs - s0.threadCpuNs;
    r.camCpuNs = cam1.threadCpuNs - cam0.threadCpuNs;
    return r;
}

void BM_Receiver(benchmark::State& state) {
    const int packetSize = static_cast<int>(state.range(0));
    const double rate = state.range(1) == 0 ? 0 : LineRate(packetSize) * state.range(1) / 100.0;
    const unsigned loss = static_cast<unsigned>(state.range(2));
    Result r;
    for (auto _ : state) r = RunDevice(packetSize, rate, loss);
    Report(state, r);
}

// A receive loop that does nothing else, batched as the receiver batches (drain with recvmmsg,
// nap after a batch that did not fill): the floor.
class FloorLoop {
  public:
    explicit FloorLoop(int fd) : m_fd(fd), m_thread([this] { Run(); }) {}
    ~FloorLoop() {
        m_stop = true;
        m_thread.join();
    }
    uint64_t Packets() const { return m_packets; }
    int64_t CpuNow() {
        clockid_t clock;
        pthread_getcpuclockid(m_thread.native_handle(), &clock);
        return CpuNs(clock);
    }

  private:
    void Run() {
        constexpr int kBatch = CGVSPReceiverBySocket::kBatchSize;
        std::vector<std::vector<uint8_t>> buffers(kBatch, std::vector<uint8_t>(9200));
        mmsghdr messages[kBatch];
        iovec vectors[kBatch];
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = {buffers[i].data(), buffers[i].size()};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        while (!m_stop) {
            const int n = recvmmsg(m_fd, messages, kBatch, MSG_DONTWAIT, nullptr);
            if (n > 0) {
                m_packets.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
                if (n < kBatch) {
                    const timespec nap{0, CGVSPReceiverBySocket::kBatchNapUs * 1000L};
                    nanosleep(&nap, nullptr);
                }
                continue;
            }
            pollfd p{m_fd, POLLIN, 0};
            poll(&p, 1, 30);
        }
    }

    const int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_packets{0};
    std::thread m_thread;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The receiver against the floor on the very same datagrams in the same windows: the camera sends
// each datagram twice, to the receiver's port and right behind it to the floor's (each socket
// gets datagrams of its own, so neither pays for the other's). Per window, each one's CPU per
// packet and their ratio; reported are the medians over the windows (and the ratio's spread),
// so that a burst of load on the machine moves one window, not the comparison.
void BM_ReceiverAgainstFloor(benchmark::State& state) {
    constexpr int kWindows = 9;
    constexpr auto kWindow = 500ms;
    const int packetSize = static_cast<int>(state.range(0));
    Rig& rig = TheRig();
    qvsim::CSimGvspStreamer& streamer = rig.cam->Camera().Streamer();
    qv::gige::DISCOVERY_ACK_DATA ack;
    const auto answer = rig.cam->Firmware().DiscoveryAnswer();
    std::copy(answer.begin(), answer.end(), reinterpret_cast<uint8_t*>(&ack));
    CGigeCameraBySocket device("QVG0001", "QV-G2M-290", "v1.2",
                               rig.net.HostInterface(rig.link).c_str(), ack);
    if (device.Open(nullptr) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    CFrameBucket bucket(6);
    CameraInitParam p{};
    p.packetSize = packetSize;
    p.mediaType = 0x01080000;
    p.resolution.iIndex = 255;
    p.resolution.iSensorWidth = kWidth;
    p.resolution.iSensorHeight = kHeight;
    p.resolution.uWidth = kWidth;
    p.resolution.uHeight = kHeight;
    if (device.OpenStream(bucket.GetProducer(), &p) != 0) {
        device.Close();
        state.SkipWithError("stream open failed");
        return;
    }
    qvsim::SimStreamConfig config;
    config.fps = 0;
    config.bitsPerSecond = LineRate(packetSize);
    config.gated = true;
    streamer.SetConfig(config);
    device.StartCapture();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int size = 0xA00000;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t len = sizeof any;
    bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
    getsockname(fd, reinterpret_cast<sockaddr*>(&any), &len);
    streamer.SetMirrorPort(ntohs(any.sin_port));
    std::vector<double> rxUs, floorUs, ratios;
    uint64_t rxPackets = 0, floorPackets = 0, lost = 0;
    {
        FloorLoop floor(fd);
        config.gated = false;
        streamer.SetConfig(config);
        std::this_thread::sleep_for(300ms);
        for (auto _ : state) {
            for (int w = 0; w < kWindows; ++w) {
                CGVSPReceiver::Stats s0;
                device.GetStreamStats(&s0);
                const uint64_t f0 = floor.Packets();
                const int64_t c0 = floor.CpuNow();
                std::this_thread::sleep_for(kWindow);
                CGVSPReceiver::Stats s1;
                device.GetStreamStats(&s1);
                const uint64_t f1 = floor.Packets();
                const int64_t c1 = floor.CpuNow();
                const uint64_t rn = s1.datagrams - s0.datagrams, fn = f1 - f0;
                if (rn == 0 || fn == 0) continue;
                rxPackets += rn;
                floorPackets += fn;
                lost += s1.framesLost - s0.framesLost;
                rxUs.push_back((s1.threadCpuNs - s0.threadCpuNs) / 1e3 / rn);
                floorUs.push_back((c1 - c0) / 1e3 / fn);
                ratios.push_back(rxUs.back() / floorUs.back());
            }
        }
        config.gated = true;
        streamer.SetConfig(config);
        streamer.WaitGateClosed(10s);
        streamer.SetMirrorPort(0);
    }
    close(fd);
    device.StopCapture();
    device.CloseStream();
    device.Close();
    state.counters["rx_us_per_pkt"] = Median(rxUs);
    state.counters["floor_us_per_pkt"] = Median(floorUs);
    state.counters["ratio"] = Median(ratios);
    state.counters["ratio_min"] =
        ratios.empty() ? 0 : *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] =
        ratios.empty() ? 0 : *std::max_element(ratios.begin(), ratios.end());
    state.counters["rx_pkts"] = static_cast<double>(rxPackets);
    state.counters["floor_pkts"] = static_cast<double>(floorPackets);
    state.counters["lost"] = static_cast<double>(lost);
}

// packet size, rate in % of line rate (0: as fast as the camera can), packet loss per mille
BENCHMARK(BM_Receiver)
    ->Args({1500, 100, 0})
    ->Args({9000, 100, 0})
    ->Args({1500, 100, 10})
    ->Args({9000, 100, 10})
    ->Args({1500, 0, 0})
    ->Args({9000, 0, 0})
    ->Args({1500, 200, 0})
    ->Args({1500, 300, 0})
    ->Args({1500, 400, 0})
    ->Args({9000, 300, 0})
    ->Args({9000, 600, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_ReceiverAgainstFloor)
    ->Arg(1500)
    ->Arg(9000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
