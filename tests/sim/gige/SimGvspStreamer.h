// The stream side of the simulated GigE camera: while the host has set the stream channel up
// (host port, destination, and acquisition started where the camera announces acquisition
// control), it sends each frame as a 44-byte leader, data packets of packet size - 36 image bytes
// (the last one short) and a trailer, block ids 1..65535 then 1, to the destination from its
// stream socket, paced to a bit rate or as fast as it can. It keeps its recent frames' shapes for
// PACKETRESEND: resent packets carry status 0x0100; ids a frame never had, or frames it no longer
// knows, are answered with an error status.
//
// The image is a pattern the test can check byte for byte: PatternByte(block id, offset).
//
// Knobs: random loss of sent and of resent packets, reordering, duplicates, chosen packets of
// chosen blocks dropped (leader = 0, trailer = the last id), block-id jumps, error-status
// packets; a gate that lets frames go only as the test grants them.
//
// Thread safety: every public member may be called from any thread.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace qvsim {

class CSimGigeFirmware;

struct SimStreamConfig {
    double bitsPerSecond = 0;  // datagram bytes (IP and UDP headers counted); 0: as fast as it can
    double fps = 30;           // frames per second at most; 0: back to back
    bool gated = false;        // frames go only as GrantFrames allows
    uint32_t width = 64;       // when the FPGA window registers are unset
    uint32_t height = 48;
};

class CSimGvspStreamer {
  public:
    static constexpr uint16_t kStatusResent = 0x0100;
    static constexpr uint16_t kStatusUnavailable = 0x800C;
    static constexpr uint32_t kThroughTrailer = 0xFFFFFFFF;

    static uint8_t PatternByte(uint32_t blockId, uint64_t offset) {
        return static_cast<uint8_t>((offset + uint64_t{blockId} * 131) % 251);
    }

    // socket: the camera's stream socket (its source port); it must outlive the streamer.
    CSimGvspStreamer(CSimGigeFirmware& firmware, const std::atomic<int>& socket,
                     const SimStreamConfig& config);
    ~CSimGvspStreamer();
    CSimGvspStreamer(const CSimGvspStreamer&) = delete;
    CSimGvspStreamer& operator=(const CSimGvspStreamer&) = delete;

    void SetConfig(const SimStreamConfig& config);
    SimStreamConfig GetConfig();
    void GrantFrames(unsigned n);
    // Waits until n frames in all have been sent since construction.
    bool WaitFramesSent(uint64_t n, std::chrono::milliseconds timeout);
    // In gated mode: waits until no frame is on its way (the streamer waits for a grant).
    bool WaitGateClosed(std::chrono::milliseconds timeout);
    // After the host stopped the stream: waits until no frame is on its way; a frame begun
    // from then on takes the block id set after this returns.
    bool WaitIdle(std::chrono::milliseconds timeout);

    // ---- Knobs ----
    void SetLoss(unsigned perMille);
    // Every datagram sent twice, the copy to this port of the same destination right behind it
    // (0: none): a second receiver gets a stream of its own, the same datagrams at the same time.
    void SetMirrorPort(uint16_t port);
    void SetResendLoss(unsigned perMille);
    void SetReorder(unsigned perMille);
    void SetDuplicates(unsigned perMille);
    // Packets first..last of the block with that id are not sent (the first time).
    void DropPackets(uint32_t blockId, uint32_t first, uint32_t last);
    void SetErrorPacket(uint32_t blockId, uint32_t packetId, uint16_t status);
    void SetNextBlockId(uint32_t blockId);  // the id of the next frame (1..65535)
    void SetSeed(uint32_t seed);

    // PACKETRESEND from the host (the camera's control thread calls it).
    void Resend(uint32_t blockId, uint32_t first, uint32_t last);

    struct Stats {
        uint64_t framesSent = 0;
        uint64_t packetsSent = 0;
        uint64_t packetsDropped = 0;  // by the loss knobs and chosen drops
        uint64_t resendRequests = 0;
        uint64_t packetsResent = 0;
        uint64_t unavailable = 0;  // error answers to resends
        uint32_t lastBlockId = 0;
        int64_t threadCpuNs = 0;
    };
    Stats GetStats();

    // Holds off sends while the camera closes or replaces its stream socket: a descriptor closed
    // under a send in flight could be reused by another socket of the process before the send.
    [[nodiscard]] std::unique_lock<std::mutex> HoldSends() { return std::unique_lock(m_sendMutex); }

  private:
    struct Shape {
        uint32_t packetSize;
        uint32_t totalBytes;
        uint32_t width;
        uint32_t height;
        uint32_t pixelFormat;
        uint64_t timestamp;
        uint32_t packets;  // N
    };
    struct Datagram {
        std::vector<uint8_t> bytes;
    };

    void Loop();
    bool Streaming();
    Shape CurrentShape();
    void BuildPacket(const Shape& s, uint32_t block, uint32_t id, uint16_t status,
                     std::vector<uint8_t>& out);
    void SendFrame(uint32_t block, const Shape& s);
    void Flush(std::vector<std::vector<uint8_t>>& queue);
    bool Chance(unsigned perMille);  // with m_mutex held

    CSimGigeFirmware& m_firmware;
    const std::atomic<int>& m_socket;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<clockid_t> m_cpuClock{};
    std::atomic<bool> m_cpuClockSet{false};
    std::chrono::steady_clock::time_point m_epoch;

    std::mutex m_sendMutex;  // held while the stream socket is in use by a send
    std::mutex m_mutex;      // guards everything below
    std::condition_variable m_changed;
    SimStreamConfig m_config;
    unsigned m_granted = 0;
    bool m_atGate = false;  // waiting for a grant
    bool m_idle = true;     // the stream is stopped and no frame is on its way
    unsigned m_loss = 0, m_resendLoss = 0, m_reorder = 0, m_duplicates = 0;
    std::atomic<uint16_t> m_mirrorPort{0};
    std::map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> m_drops;
    std::map<std::pair<uint32_t, uint32_t>, uint16_t> m_errors;
    uint32_t m_nextBlock = 1;
    std::mt19937 m_random{12345};
    std::map<uint32_t, Shape> m_recent;  // block id -> shape, the last frames sent
    std::vector<uint32_t> m_recentOrder;
    Stats m_stats;
};

}  // namespace qvsim
