#include "SimGigeCamera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "SimNetns.h"

namespace qvsim {

namespace {

constexpr uint16_t kDiscovery = 0x0002;
constexpr uint16_t kForceIp = 0x0004;
constexpr uint16_t kPacketResend = 0x0040;
constexpr uint16_t kReboot = 0x8000;
constexpr auto kTick = std::chrono::milliseconds(10);

int UdpSocket(uint32_t ip, uint16_t port, bool reuse) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    if (reuse) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int e = errno;
        close(fd);
        throw std::runtime_error("bind " + IpText(ip) + ":" + std::to_string(port) + ": " +
                                 std::strerror(e));
    }
    return fd;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace

CSimGigeCamera::CSimGigeCamera(const Config& config)
    : m_config(config), m_firmware(config.firmware) {
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) throw std::runtime_error("eventfd");
    OpenSockets();
    m_streamer = std::make_unique<CSimGvspStreamer>(m_firmware, m_stream, config.stream);
    StartThread();
}

CSimGigeCamera::~CSimGigeCamera() {
    StopThread();
    m_streamer.reset();
    CloseSockets();
    close(m_wake);
}

// ---- Plug, sockets, thread -----------------------------------------------------------------

void CSimGigeCamera::OpenSockets() {
    const uint32_t ip = m_firmware.CurrentIp();
    CSimNetns::RunIn(m_config.netnsFd, [&] {
        m_control = UdpSocket(ip, m_config.gvcpPort, true);
        if (m_config.listenBroadcast) m_broadcast = UdpSocket(INADDR_ANY, m_config.gvcpPort, true);
        m_stream = UdpSocket(ip, 0, false);
        // Room for a whole frame's burst of datagrams on the link.
        const int buffer = 4 << 20;
        setsockopt(m_stream, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    });
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(m_stream, reinterpret_cast<sockaddr*>(&a), &len);
    m_firmware.SetStreamSourcePort(ntohs(a.sin_port));
    std::lock_guard lock(m_mutex);
    m_plugged = true;
}

void CSimGigeCamera::CloseSockets() {
    for (int* fd : {&m_control, &m_broadcast}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    {
        std::unique_lock<std::mutex> sends;
        if (m_streamer) sends = m_streamer->HoldSends();
        const int stream = m_stream.exchange(-1);
        if (stream >= 0) close(stream);
    }
    std::lock_guard lock(m_mutex);
    m_plugged = false;
    m_outgoing.clear();
}

void CSimGigeCamera::StartThread() {
    m_stop = false;
    m_thread = std::thread([this] {
        // A camera answers in microseconds however busy the host is. Its model gets a real-time
        // slot where the system grants one (it sleeps in poll between datagrams); where not, it
        // runs as it is, and the tests tolerate retried commands.
        sched_param param{};
        param.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_RR, &param);
        Loop();
    });
}

void CSimGigeCamera::StopThread() {
    m_stop = true;
    Wake();
    if (m_thread.joinable()) m_thread.join();
}

void CSimGigeCamera::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wake, &one, sizeof one);
}

void CSimGigeCamera::Unplug() {
    StopThread();
    CloseSockets();
}

void CSimGigeCamera::Plug() {
    if (Plugged()) return;
    m_firmware.PowerCycle();
    OpenSockets();
    StartThread();
}

bool CSimGigeCamera::Plugged() {
    std::lock_guard lock(m_mutex);
    return m_plugged;
}

void CSimGigeCamera::Mute(bool on) {
    m_muted = on;
}

void CSimGigeCamera::Loop() {
    std::vector<uint8_t> drain(16);
    while (!m_stop) {
        auto timeout = kTick;
        {
            std::lock_guard lock(m_mutex);
            if (!m_outgoing.empty()) {
                const auto rest = std::chrono::ceil<std::chrono::milliseconds>(
                    m_outgoing.front().due - Clock::now());
                timeout = std::clamp(rest, std::chrono::milliseconds(0), kTick);
            }
        }
        pollfd set[4] = {{m_wake, POLLIN, 0},
                         {m_control, POLLIN, 0},
                         {m_broadcast, POLLIN, 0},
                         {m_stream, POLLIN, 0}};
        poll(set, 4, static_cast<int>(timeout.count()));
        if (set[0].revents != 0) {
            uint64_t v;
            [[maybe_unused]] const ssize_t n = read(m_wake, &v, sizeof v);
        }
        if (m_stop) break;
        if (set[1].revents != 0) Handle(m_control, false);
        if (set[2].revents != 0) Handle(m_broadcast, true);
        if (set[3].revents != 0) {
            // Dummies that open the host's firewall path towards the stream: counted only.
            while (recv(m_stream, drain.data(), drain.size(), 0) >= 0) ++m_dummies;
        }
        for (;;) {
            Outgoing out;
            {
                std::lock_guard lock(m_mutex);
                if (m_outgoing.empty() || m_outgoing.front().due > Clock::now()) break;
                out = std::move(m_outgoing.front());
                m_outgoing.pop_front();
            }
            Send(out);
            if (out.powerCycle) m_firmware.PowerCycle();
        }
        m_firmware.Tick(Clock::now());
    }
}

// ---- Commands ------------------------------------------------------------------------------

void CSimGigeCamera::Handle(int fd, bool viaBroadcast) {
    uint8_t buf[9216];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return;
        if (m_muted) continue;
        if (n < 8 || buf[0] != 0x42) continue;  // not GVCP
        CSimGigeFirmware::Request r;
        r.flags = buf[1];
        r.command = static_cast<uint16_t>(buf[2] << 8 | buf[3]);
        const size_t announced = static_cast<size_t>(buf[4] << 8 | buf[5]);
        r.reqId = static_cast<uint16_t>(buf[6] << 8 | buf[7]);
        r.payload.assign(buf + 8, buf + std::min<size_t>(static_cast<size_t>(n), 8 + announced));
        r.fromIp = from.sin_addr.s_addr;
        r.fromPort = ntohs(from.sin_port);
        {
            std::lock_guard lock(m_mutex);
            m_commands.push_back(Command{Clock::now(), r.flags, r.command, r.reqId, r.payload,
                                         r.fromIp, r.fromPort, viaBroadcast});
        }
        m_commandAdded.notify_all();
        Answer(r, viaBroadcast);
    }
}

bool CSimGigeCamera::TakeRule(uint16_t command, SimGvcpRule* rule) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        if (it->command != 0 && it->command != command) continue;
        if (it->count == 0) continue;
        *rule = *it;
        if (it->count > 0 && --it->count == 0) m_rules.erase(it);
        return true;
    }
    return false;
}

void CSimGigeCamera::Answer(const CSimGigeFirmware::Request& r, bool viaBroadcast) {
    (void)viaBroadcast;
    SimGvcpRule rule;
    const bool faulty = TakeRule(r.command, &rule);
    if (faulty && rule.fault == SimGvcpFault::kDropCommand) return;

    CSimGigeFirmware::Answer a;
    if (r.command == kDiscovery) {
        a.ackCode = kDiscovery + 1;
        a.payload = m_firmware.DiscoveryAnswer();
    } else if (r.command == kPacketResend) {
        if (r.payload.size() == 12)
            m_streamer->Resend(static_cast<uint32_t>(r.payload[2] << 8 | r.payload[3]),
                               static_cast<uint32_t>(r.payload[4]) << 24 | r.payload[5] << 16 |
                                   r.payload[6] << 8 | r.payload[7],
                               static_cast<uint32_t>(r.payload[8]) << 24 | r.payload[9] << 16 |
                                   r.payload[10] << 8 | r.payload[11]);
        return;  // never acknowledged
    } else if (r.command == kForceIp) {
        const auto moved = m_firmware.ForceIp(r.payload);
        if (!moved.forThisCamera) return;  // for another camera
        if (moved.newIp != moved.oldIp) {
            try {
                MoveSockets(moved);
            } catch (const std::exception& e) {
                // The camera has lost its network; the test sees it answer no more.
                std::fprintf(stderr, "simulated camera cannot move: %s\n", e.what());
                return;
            }
        }
        a.ackCode = kForceIp + 1;
    } else {
        a = m_firmware.Execute(r, Clock::now());
        SendTestPacket();
    }
    if ((r.flags & 0x01) == 0 || !a.reply) return;
    if (faulty && rule.fault == SimGvcpFault::kDropAnswer) return;

    unsigned delayMs = a.delayMs;
    int copies = 1;
    std::vector<uint8_t> d(8);
    uint16_t length = static_cast<uint16_t>(a.payload.size());
    uint16_t id = r.reqId;
    if (faulty) {
        switch (rule.fault) {
            case SimGvcpFault::kDelay:
                delayMs += static_cast<unsigned>(rule.value);
                break;
            case SimGvcpFault::kDuplicate:
                copies = 2;
                break;
            case SimGvcpFault::kLong:
                a.payload.insert(a.payload.end(), static_cast<size_t>(rule.value), 0xEE);
                length = static_cast<uint16_t>(a.payload.size());
                break;
            case SimGvcpFault::kLengthBeyond:
                length = static_cast<uint16_t>(length + rule.value);
                break;
            case SimGvcpFault::kErrorStatus:
                a.status = static_cast<uint16_t>(rule.value);
                break;
            case SimGvcpFault::kWrongId:
                id = static_cast<uint16_t>(id + (rule.value != 0 ? rule.value : 1));
                break;
            case SimGvcpFault::kWrongCode:
                a.ackCode ^= 1;
                break;
            default:
                break;
        }
    }
    Put16(&d[0], a.status);
    Put16(&d[2], a.ackCode);
    Put16(&d[4], length);
    Put16(&d[6], id);
    d.insert(d.end(), a.payload.begin(), a.payload.end());
    if (faulty && rule.fault == SimGvcpFault::kShort)
        d.resize(std::min(d.size(), static_cast<size_t>(rule.value)));
    {
        std::lock_guard lock(m_mutex);
        if (m_editor) m_editor(r.command, d);
    }
    const bool reboot = r.command == kReboot && a.status == 0;
    std::vector<uint32_t> targets{r.fromIp};
    if (r.command == kDiscovery || r.command == kForceIp) {
        targets = {RouteTo(r.fromIp)};
        if (m_config.discoveryRoute == AnswerRoute::kBoth && targets[0] != INADDR_BROADCAST)
            targets.push_back(INADDR_BROADCAST);
    }
    for (int i = 0; i < copies * static_cast<int>(targets.size()); ++i) {
        const uint32_t target = targets[static_cast<size_t>(i) % targets.size()];
        Outgoing out{Clock::now() + std::chrono::milliseconds(delayMs), target, r.fromPort, d,
                     reboot && i == copies - 1};
        if (delayMs == 0 && !out.powerCycle) {
            Send(out);
            continue;
        }
        std::lock_guard lock(m_mutex);
        const auto at =
            std::upper_bound(m_outgoing.begin(), m_outgoing.end(), out.due,
                             [](Clock::time_point due, const Outgoing& o) { return due < o.due; });
        m_outgoing.insert(at, std::move(out));
    }
}

uint32_t CSimGigeCamera::RouteTo(uint32_t askerIp) {
    const uint32_t mask = m_firmware.CurrentMask();
    return (askerIp & mask) == (m_firmware.CurrentIp() & mask) ? askerIp : INADDR_BROADCAST;
}

void CSimGigeCamera::MoveSockets(const CSimGigeFirmware::ForceIpResult& moved) {
    if (m_config.onAddressChange)
        m_config.onAddressChange(moved.oldIp, moved.oldMask, moved.newIp, moved.newMask);
    const uint32_t ip = ParseIp(moved.newIp);
    close(m_control);
    close(m_stream.exchange(-1));
    CSimNetns::RunIn(m_config.netnsFd, [&] {
        m_control = UdpSocket(ip, m_config.gvcpPort, true);
        m_stream = UdpSocket(ip, 0, false);
    });
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(m_stream, reinterpret_cast<sockaddr*>(&a), &len);
    m_firmware.SetStreamSourcePort(ntohs(a.sin_port));
}

void CSimGigeCamera::Send(const Outgoing& out) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(out.port);
    to.sin_addr.s_addr = out.ip;
    sendto(m_control, out.bytes.data(), out.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
}

void CSimGigeCamera::SendTestPacket() {
    const auto test = m_firmware.TakeTestPacket();
    if (!test) return;
    const uint16_t port = m_firmware.StreamHostPort();
    if (port == 0 || test->size <= 28) return;
    if (m_config.testPacketLimit != 0 && test->size > m_config.testPacketLimit) return;
    const int pmtu = test->dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(m_stream, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    std::vector<uint8_t> bytes(test->size - 28, 0);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = m_firmware.StreamDestination();
    // A packet larger than the link takes fails with EMSGSIZE when it may not be fragmented:
    // that is what the host's negotiation finds out.
    sendto(m_stream, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// ---- Records and knobs ---------------------------------------------------------------------

std::vector<CSimGigeCamera::Command> CSimGigeCamera::Commands() {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

void CSimGigeCamera::ClearCommands() {
    std::lock_guard lock(m_mutex);
    m_commands.clear();
}

size_t CSimGigeCamera::Count(uint16_t command) {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_commands.begin(), m_commands.end(),
                      [&](const Command& c) { return c.command == command; }));
}

bool CSimGigeCamera::WaitFor(const std::function<bool(const std::vector<Command>&)>& pred,
                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_commandAdded.wait_for(lock, timeout, [&] { return pred(m_commands); });
}

unsigned CSimGigeCamera::DummiesReceived() {
    return m_dummies.load();
}

void CSimGigeCamera::AddRule(const SimGvcpRule& rule) {
    std::lock_guard lock(m_mutex);
    m_rules.push_back(rule);
}

void CSimGigeCamera::ClearRules() {
    std::lock_guard lock(m_mutex);
    m_rules.clear();
}

void CSimGigeCamera::SetAnswerEditor(
    std::function<void(uint16_t command, std::vector<uint8_t>& datagram)> e) {
    std::lock_guard lock(m_mutex);
    m_editor = std::move(e);
}

void CSimGigeCamera::SendRaw(uint32_t ipNetworkOrder, uint16_t port,
                             const std::vector<uint8_t>& bytes) {
    {
        std::lock_guard lock(m_mutex);
        m_outgoing.push_front(Outgoing{Clock::now(), ipNetworkOrder, port, bytes, false});
    }
    Wake();
}

uint16_t CSimGigeCamera::StreamSourcePort() {
    return static_cast<uint16_t>(m_firmware.Register(0x0D1C));
}

}  // namespace qvsim
