#include "SimGvspStreamer.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstring>

#include "SimGigeFirmware.h"

namespace qvsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kLeaderBytes = 44;
constexpr uint32_t kTrailerBytes = 16;
constexpr uint32_t kIpUdpBytes = 28;
constexpr uint32_t kStreamHeaderBytes = 36;  // IP, UDP and GVSP headers of a data packet
constexpr size_t kBatch = 64;
constexpr size_t kRecentFrames = 64;
constexpr uint32_t kMaxUnavailableAnswers = 64;
constexpr uint32_t kMono8 = 0x01080000;
constexpr uint32_t kStreamCapAcquisitionControl = 0x200000;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void Header(uint8_t* p, uint16_t status, uint32_t block, uint8_t format, uint32_t id) {
    Put16(p, status);
    Put16(p + 2, static_cast<uint16_t>(block));
    p[4] = format;
    p[5] = static_cast<uint8_t>(id >> 16);
    p[6] = static_cast<uint8_t>(id >> 8);
    p[7] = static_cast<uint8_t>(id);
}

// The pattern's bytes one after the other from any start: PatternByte(block, offset) is
// table[(offset + block * 131) % 251 + k] for the k-th byte of a run.
const std::vector<uint8_t>& PatternTable() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(251 + 9216);
        for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i % 251);
        return t;
    }();
    return table;
}

}  // namespace

CSimGvspStreamer::CSimGvspStreamer(CSimGigeFirmware& firmware, const std::atomic<int>& socket,
                                   const SimStreamConfig& config)
    : m_firmware(firmware), m_socket(socket), m_epoch(Clock::now()), m_config(config) {
    m_thread = std::thread([this] { Loop(); });
}

CSimGvspStreamer::~CSimGvspStreamer() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CSimGvspStreamer::SetConfig(const SimStreamConfig& config) {
    {
        std::lock_guard lock(m_mutex);
        m_config = config;
    }
    m_changed.notify_all();
}

SimStreamConfig CSimGvspStreamer::GetConfig() {
    std::lock_guard lock(m_mutex);
    return m_config;
}

void CSimGvspStreamer::GrantFrames(unsigned n) {
    {
        std::lock_guard lock(m_mutex);
        m_granted += n;
    }
    m_changed.notify_all();
}

bool CSimGvspStreamer::WaitGateClosed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_config.gated && m_atGate; });
}

bool CSimGvspStreamer::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_idle; });
}

bool CSimGvspStreamer::WaitFramesSent(uint64_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_stats.framesSent >= n; });
}

void CSimGvspStreamer::SetLoss(unsigned perMille) {
    std::lock_guard lock(m_mutex);
    m_loss = perMille;
}
void CSimGvspStreamer::SetResendLoss(unsigned perMille) {
    std::lock_guard lock(m_mutex);
    m_resendLoss = perMille;
}
void CSimGvspStreamer::SetReorder(unsigned perMille) {
    std::lock_guard lock(m_mutex);
    m_reorder = perMille;
}
void CSimGvspStreamer::SetDuplicates(unsigned perMille) {
    std::lock_guard lock(m_mutex);
    m_duplicates = perMille;
}
void CSimGvspStreamer::DropPackets(uint32_t blockId, uint32_t first, uint32_t last) {
    std::lock_guard lock(m_mutex);
    m_drops[blockId].push_back({first, last});
}
void CSimGvspStreamer::SetErrorPacket(uint32_t blockId, uint32_t packetId, uint16_t status) {
    std::lock_guard lock(m_mutex);
    m_errors[{blockId, packetId}] = status;
}
void CSimGvspStreamer::SetNextBlockId(uint32_t blockId) {
    std::lock_guard lock(m_mutex);
    m_nextBlock = blockId;
}
void CSimGvspStreamer::SetSeed(uint32_t seed) {
    std::lock_guard lock(m_mutex);
    m_random.seed(seed);
}

bool CSimGvspStreamer::Chance(unsigned perMille) {
    return perMille != 0 && m_random() % 1000 < perMille;
}

CSimGvspStreamer::Stats CSimGvspStreamer::GetStats() {
    std::lock_guard lock(m_mutex);
    Stats s = m_stats;
    if (m_cpuClockSet) {
        timespec t{};
        if (clock_gettime(m_cpuClock.load(), &t) == 0)
            s.threadCpuNs = static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
    }
    return s;
}

// ---- Frames ------------------------------------------------------------------------------------

bool CSimGvspStreamer::Streaming() {
    const bool acqControl = (m_firmware.Register(0x0D20) & kStreamCapAcquisitionControl) != 0;
    return m_firmware.StreamHostPort() != 0 && m_firmware.StreamDestination() != 0 &&
           (!acqControl || m_firmware.AcquisitionRunning());
}

CSimGvspStreamer::Shape CSimGvspStreamer::CurrentShape() {
    Shape s{};
    SimStreamConfig config;
    {
        std::lock_guard lock(m_mutex);
        config = m_config;
    }
    s.width = m_firmware.FpgaRegister(6);
    s.height = m_firmware.FpgaRegister(7);
    if (s.width == 0 || s.height == 0) {
        s.width = config.width;
        s.height = config.height;
    }
    s.totalBytes = m_firmware.FpgaRegister(14);
    if (s.totalBytes == 0) s.totalBytes = s.width * s.height;
    s.pixelFormat = m_firmware.FpgaRegister(8);
    if (s.pixelFormat == 0) s.pixelFormat = kMono8;
    s.packetSize = m_firmware.StreamPacketSize();
    if (s.packetSize <= kStreamHeaderBytes) s.packetSize = 1500;
    const uint32_t payload = s.packetSize - kStreamHeaderBytes;
    s.packets = (s.totalBytes + payload - 1) / payload + 2;
    s.timestamp = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_epoch).count());
    return s;
}

void CSimGvspStreamer::BuildPacket(const Shape& s, uint32_t block, uint32_t id, uint16_t status,
                                   std::vector<uint8_t>& out) {
    const uint32_t payload = s.packetSize - kStreamHeaderBytes;
    if (id == 0) {
        out.assign(kLeaderBytes, 0);
        Header(out.data(), status, block, 1, 0);
        Put16(&out[10], 0x0001);
        Put32(&out[12], static_cast<uint32_t>(s.timestamp >> 32));
        Put32(&out[16], static_cast<uint32_t>(s.timestamp));
        Put32(&out[20], s.pixelFormat);
        Put32(&out[24], s.width);
        Put32(&out[28], s.height);
    } else if (id == s.packets - 1) {
        out.assign(kTrailerBytes, 0);
        Header(out.data(), status, block, 2, id);
        Put16(&out[10], 0x0001);
        Put32(&out[12], s.height);
    } else {
        const uint64_t offset = uint64_t{id - 1} * payload;
        const uint32_t n =
            static_cast<uint32_t>(std::min<uint64_t>(payload, s.totalBytes - offset));
        out.resize(kHeaderBytes + n);
        Header(out.data(), status, block, 3, id);
        const auto& table = PatternTable();
        std::memcpy(out.data() + kHeaderBytes,
                    table.data() + (offset + uint64_t{block} * 131) % 251, n);
    }
}

void CSimGvspStreamer::SetMirrorPort(uint16_t port) {
    m_mirrorPort = port;
}

void CSimGvspStreamer::Flush(std::vector<std::vector<uint8_t>>& queue) {
    if (queue.empty()) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_firmware.StreamHostPort());
    to.sin_addr.s_addr = m_firmware.StreamDestination();
    sockaddr_in mirror = to;
    mirror.sin_port = htons(m_mirrorPort.load());
    const size_t copies = mirror.sin_port != 0 ? 2 : 1;
    std::vector<mmsghdr> messages(queue.size() * copies);
    std::vector<iovec> vectors(queue.size());
    for (size_t i = 0; i < queue.size(); ++i) {
        vectors[i] = {queue[i].data(), queue[i].size()};
        for (size_t c = 0; c < copies; ++c) {
            mmsghdr& m = messages[i * copies + c];
            m = {};
            m.msg_hdr.msg_iov = &vectors[i];
            m.msg_hdr.msg_iovlen = 1;
            m.msg_hdr.msg_name = c == 0 ? &to : &mirror;
            m.msg_hdr.msg_namelen = sizeof to;
        }
    }
    size_t done = 0;
    std::unique_lock sending(m_sendMutex);
    while (done < messages.size()) {
        const int n = sendmmsg(m_socket.load(), messages.data() + done,
                               static_cast<unsigned>(messages.size() - done), 0);
        if (n <= 0) break;  // the camera's link went away: the rest is lost
        done += static_cast<size_t>(n);
    }
    sending.unlock();
    std::lock_guard lock(m_mutex);
    m_stats.packetsSent += done / copies;
}

void CSimGvspStreamer::SendFrame(uint32_t block, const Shape& s) {
    unsigned loss, reorder, duplicates;
    std::vector<std::pair<uint32_t, uint32_t>> drops;
    std::map<uint32_t, uint16_t> errors;
    double bps;
    {
        std::lock_guard lock(m_mutex);
        loss = m_loss;
        reorder = m_reorder;
        duplicates = m_duplicates;
        if (auto it = m_drops.find(block); it != m_drops.end()) {
            drops = it->second;
            m_drops.erase(it);
        }
        for (auto it = m_errors.begin(); it != m_errors.end();) {
            if (it->first.first == block) {
                errors[it->first.second] = it->second;
                it = m_errors.erase(it);
            } else {
                ++it;
            }
        }
        bps = m_config.bitsPerSecond;
        m_recent[block] = s;
        m_recentOrder.push_back(block);
        if (m_recentOrder.size() > kRecentFrames) {
            m_recent.erase(m_recentOrder.front());
            m_recentOrder.erase(m_recentOrder.begin());
        }
    }
    auto dropped = [&](uint32_t id) {
        for (const auto& [first, last] : drops)
            if (id >= first && id <= std::min(last, s.packets - 1)) return true;
        return false;
    };
    std::vector<std::vector<uint8_t>> queue;
    queue.reserve(kBatch + 2);
    auto departure = Clock::now();
    const auto perByte =
        bps > 0 ? std::chrono::duration<double>(8.0 / bps) : std::chrono::duration<double>(0);
    uint64_t droppedCount = 0;
    for (uint32_t id = 0; id < s.packets && !m_stop; ++id) {
        bool lose, reordered, twice;
        {
            std::lock_guard lock(m_mutex);
            lose = Chance(loss);
            reordered = Chance(reorder);
            twice = Chance(duplicates);
        }
        if (dropped(id) || lose) {
            ++droppedCount;
            continue;
        }
        std::vector<uint8_t> bytes;
        const auto error = errors.find(id);
        if (error != errors.end()) {
            bytes.assign(kHeaderBytes, 0);
            Header(bytes.data(), error->second, block, id == 0 ? 1 : 3, id);
        } else {
            BuildPacket(s, block, id, 0, bytes);
        }
        if (bps > 0)
            departure +=
                std::chrono::duration_cast<Clock::duration>(perByte * (bytes.size() + kIpUdpBytes));
        queue.push_back(bytes);
        if (twice) queue.push_back(std::move(bytes));
        if (reordered && queue.size() >= 2)
            std::swap(queue[queue.size() - 1], queue[queue.size() - 2]);
        if (queue.size() >= kBatch) {
            if (bps > 0) std::this_thread::sleep_until(departure);
            Flush(queue);
            queue.clear();
        }
    }
    if (bps > 0) std::this_thread::sleep_until(departure);
    Flush(queue);
    std::lock_guard lock(m_mutex);
    m_stats.packetsDropped += droppedCount;
}

void CSimGvspStreamer::Loop() {
    clockid_t clock;
    if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
        m_cpuClock = clock;
        m_cpuClockSet = true;
    }
    auto nextFrame = Clock::now();
    while (!m_stop) {
        if (!Streaming()) {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(5),
                               [this] { return m_stop.load(); });
            if ((m_config.gated && !m_atGate) || !m_idle) {
                m_atGate = m_config.gated;
                m_idle = true;
                m_changed.notify_all();
            }
            nextFrame = Clock::now();
            continue;
        }
        uint32_t block;
        double fps;
        {
            std::unique_lock lock(m_mutex);
            m_idle = false;
            if (m_config.gated) {
                if (m_granted == 0) {
                    m_atGate = true;
                    m_changed.notify_all();
                    m_changed.wait_for(lock, std::chrono::milliseconds(5));
                    continue;
                }
                --m_granted;
            }
            m_atGate = false;
            fps = m_config.gated ? 0 : m_config.fps;
        }
        if (fps > 0) {
            std::this_thread::sleep_until(nextFrame);
            nextFrame += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(1.0 / fps));
            // A streamer that fell behind does not send a burst to catch up.
            if (nextFrame < Clock::now()) nextFrame = Clock::now();
            // A stop during the wait: the frame is not begun, and the next start numbers on
            // from where the stop left off (or from the id a test set meanwhile).
            if (!Streaming()) continue;
        }
        {
            std::lock_guard lock(m_mutex);
            block = m_nextBlock;
            m_nextBlock = m_nextBlock >= 65535 ? 1 : m_nextBlock + 1;
        }
        SendFrame(block, CurrentShape());
        {
            std::lock_guard lock(m_mutex);
            ++m_stats.framesSent;
            m_stats.lastBlockId = block;
        }
        m_changed.notify_all();
    }
}

// ---- Resend
// --------------------------------------------------------------------------------------

void CSimGvspStreamer::Resend(uint32_t blockId, uint32_t first, uint32_t last) {
    std::vector<std::vector<uint8_t>> queue;
    {
        std::lock_guard lock(m_mutex);
        ++m_stats.resendRequests;
        const auto it = m_recent.find(blockId);
        uint32_t unavailable = 0;
        for (uint64_t id = first; id <= last; ++id) {
            std::vector<uint8_t> bytes;
            if (it != m_recent.end() && id < it->second.packets) {
                if (Chance(m_resendLoss)) continue;
                BuildPacket(it->second, blockId, static_cast<uint32_t>(id), kStatusResent, bytes);
                ++m_stats.packetsResent;
            } else {
                // Not a packet of a frame it still has: the packet is unavailable.
                if (++unavailable > kMaxUnavailableAnswers) break;
                bytes.assign(kHeaderBytes, 0);
                Header(bytes.data(), kStatusUnavailable, blockId, 3, static_cast<uint32_t>(id));
                ++m_stats.unavailable;
            }
            queue.push_back(std::move(bytes));
        }
    }
    Flush(queue);
}

}  // namespace qvsim
