// CGVSPReceiverBySocket: the stream receiver on its UDP socket, with one receive thread that
// assembles the blocks of the stream into frame-pool buffers, hands complete frames to the pool,
// counts lost images, gives up incomplete ones and asks the camera to resend missing packets.
//
// The thread takes datagrams in batches: one system call reads everything that is queued, up to
// kBatchSize datagrams, into the packet buffers, which are then dispatched in arrival order
// exactly as one datagram at a time would be. After a batch that did not fill, the thread naps
// kBatchNapUs so that the next one fills: at a gigabit a 2 ms nap gathers about 160 datagrams of
// 1500 bytes (26 of 9000) in the socket's buffer (10 MiB asked for: 85 ms of a gigabit), and
// frames reach the pool at most that much later. One datagram per wake-up would cost a wake-up
// and two system calls per datagram.
//
// A frame that completes while an older one still waits for packets it asked the camera to
// resend is held back, for at most the resend timeout, so that the older one can complete
// first: frames reach the pool in block order, and a newer frame that arrived whole before the
// repair of an older one (a lost trailer is only noticed when the next block begins) does not
// make the older one lost.
//
// Only datagrams from the camera's address are taken: the stream goes to a broadcast
// destination, where another camera's stream on the same port would mix in.
//
// Threads: Init, OpenStream, CloseStream, Uninit and SetFrameCount (refused while running) run
// on the camera's side while the thread is stopped; while it runs, the thread alone touches the
// frames, the packets and the lists. The resend parameters and the statistics are atomic.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "gige/GVSPFrame.h"
#include "gige/GVSPPacket.h"
#include "gige/GVSPReceiver.h"

class CGVSPReceiverBySocket : public CGVSPReceiver {
  public:
    static constexpr int kDefaultFrameCount = 6;
    static constexpr int kMaxFrameCount = 10;
    static constexpr int kBatchSize = 128;
    static constexpr int kBatchNapUs = 2000;

    // frameCount 0 (or less) means kDefaultFrameCount.
    CGVSPReceiverBySocket(CGigeCamera* camera, const LQComponent::Address& streamAddress,
                          int frameCount);
    ~CGVSPReceiverBySocket() override;

    // -6 for a payload size below 1 (no packet could carry image data).
    int Init(int payloadSize) override;
    int Uninit() override;
    int OpenStream(CFrameBucketProducer* producer) override;
    int CloseStream() override;
    int Start() override;
    void Stop() override;
    int SetFrameCount(int count) override;
    int GetFrameCount(int* count) override;

    bool IsRunning() const { return m_isRun.load(); }

    Stats GetStats() const override;

  private:
    void ReceiveThread();
    void DispatchPacket(CGVSPPacket& p, int64_t nowNs, const ResendParam& resend);
    CGVSPFrame* GetFrameForBlock(const CGVSPPacket& p, int64_t nowNs, const ResendParam& resend);
    void CompleteFrame(CGVSPFrame* frame, int64_t nowNs, const ResendParam& resend);
    // Hands the complete frames at the head of the assembly list to the pool, giving up older
    // incomplete ones that are not (or no longer) worth waiting for.
    void DeliverCompleted(int64_t nowNs, const ResendParam& resend);
    void Deliver(CGVSPFrame* frame, int64_t nowNs);
    // Takes the frame out of assembly, gives its buffer back and counts it lost once.
    void GiveUp(CGVSPFrame* frame, int64_t nowNs);
    void Release(CGVSPFrame* frame, int64_t nowNs);  // reset, back to the free frames
    void CheckResend(int64_t nowNs, const ResendParam& resend);
    void IdleActions(int64_t nowNs);

    CFrameBucketProducer* m_producer = nullptr;
    uint32_t m_payloadSize = 0;
    std::atomic<int> m_frameCount;
    std::vector<std::unique_ptr<CGVSPFrame>> m_frames;  // all of them
    std::deque<CGVSPFrame*> m_freeFrames;
    std::vector<CGVSPFrame*> m_assembling;  // oldest first
    std::vector<CGVSPPacket> m_packets;     // the batch
    uint32_t m_lastBlockId = 0;             // 0: none since Start
    uint32_t m_lostTotal = 0;
    int m_held = 0;                         // complete frames waiting behind older ones
    std::vector<uint32_t> m_givenUpBlocks;  // counted already; not again by the id gap
    std::chrono::steady_clock::time_point m_lastDummy;
    std::chrono::steady_clock::time_point m_lastHeartbeat;

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_isRun{false};
    std::unique_ptr<std::thread> m_thread;

    std::atomic<uint64_t> m_receiveCalls{0};
    std::atomic<uint64_t> m_datagrams{0};
    std::atomic<uint64_t> m_foreign{0};
    std::atomic<uint64_t> m_resent{0};
    std::atomic<uint64_t> m_completed{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<int64_t> m_endCpuNs{0};
};
