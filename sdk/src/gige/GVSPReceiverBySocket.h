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
// The image bytes are received in place: before each batch the thread plans where the next data
// packets of the newest frame go in its pool buffer, and the socket writes each datagram's
// header into its packet buffer and the rest straight there. A datagram that is not the packet
// planned for its place (a loss, a reorder, another block, a leader) has its bytes copied back
// behind its header and takes the ordinary path; the place it used belongs to a packet still
// missing, which overwrites it when it comes (so does a foreign datagram's, which is then dropped).
//
// A frame that completes while an older one still waits for packets it asked the camera to
// resend is held back, for at most the resend timeout, so that the older one can complete
// first: frames reach the pool in block order, and a newer frame that arrived whole before the
// repair of an older one (a lost trailer is only noticed when the next block begins) does not
// make the older one lost. Whether a frame is held is its own flag; nothing else counts them.
//
// Stop (a pause) ends the waits: the resent packets would arrive after it, when Start has begun
// the block ids afresh. Held frames go to the pool and the older ones they waited for are given
// up, as their wait would have ended; frames still incomplete after the last complete one go
// back to the pool unfilled and uncounted (the stop cut them short, as a stream close does).
// What the socket still holds is read and dropped, at Stop and again at Start: the camera is
// told to stream only after Start, so whatever reached the socket during the pause, whole blocks
// included, is gone before the first new datagram. Start then begins with no frame in assembly,
// no given-up block and a new run of block ids: the first block delivered counts no gap, and
// until then a block starts a frame only with its own leader (not a resent one), so that the tail
// of a block the pause cut, arriving later still, neither asks for a resend nor holds the new
// frames back, whether the camera goes on with its ids or numbers afresh from 1. A new block
// whose leader is lost before that first delivery cannot be told from such a tail: it is dropped
// and, the first delivery counting no gap, not counted lost.
//
// Frames assemble in block order and leave from the front; a complete frame whose block does
// not come after the last one delivered is given up rather than delivered.
//
// A block that was given up (an error status, no free frame, too old, or a newer frame
// completed) is remembered until a delivered block passes it: its late packets start no frame,
// and the gap in block ids does not count it lost again.
//
// Only datagrams from the camera's address are taken: the stream goes to a broadcast
// destination, where another camera's stream on the same port would mix in. A socket filter
// drops the others in the kernel, so the receive loop neither reads nor checks senders (where
// the system refuses the filter, it checks each datagram's).
//
// Threads: Init, OpenStream, CloseStream, Uninit and SetFrameCount (refused while running) run
// on the camera's side while the thread is stopped; while it runs, the thread alone touches the
// frames, the packets and the lists; Stop settles the frames after the thread has ended. The
// resend parameters and the statistics are atomic.
#pragma once

#include <atomic>
#include <cstdint>
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
    // Given-up blocks remembered by id. More given up before a delivery passes them are only
    // counted, so that the gap in block ids still counts each of them once.
    static constexpr size_t kGivenUpKept = 64;

    // What the receive loop needs of the outside world: the stream's datagrams, a wait for the
    // next one, the keep-alive dummy and the clock. The receiver's own port is its socket and the
    // steady clock; a test may put its own in place (SetPortForTest).
    class Port {
      public:
        struct Arrival {
            uint32_t sender = 0;     // IPv4 address in network order
            bool truncated = false;  // longer than the packet buffer
        };
        virtual ~Port() = default;
        // Steady clock, nanoseconds.
        virtual int64_t NowNs() = 0;
        // The datagrams queued now, up to count, without waiting: their bytes and lengths into
        // packets, where they came from into arrivals. 0 when none is queued. Throws
        // LQComponent::SocketException when the socket fails.
        virtual int Receive(CGVSPPacket* packets, Arrival* arrivals, int count) = 0;
        // Waits up to ms for a datagram; false when none came. Throws as Receive does.
        virtual bool Wait(int ms) = 0;
        // The pause after a batch that did not fill, so that the next one gathers more.
        virtual void Nap() = 0;
        // One zero byte to the camera's stream source port. Throws as Receive does.
        virtual void SendDummy() = 0;
    };

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

    // ---- Test seam (internal) ----
    // With a port set while stopped, Start and Stop start and end no thread: the caller turns
    // the receive loop itself, one Step at a time, on the port's datagrams and clock. The port
    // is not owned; nullptr gives the socket back.
    void SetPortForTest(Port* port) { m_testPort = port; }
    // One turn of the receive loop on the test port: a batch dispatched, or a wait and the
    // idle actions. Only between Start and Stop.
    void Step() { Step(*m_testPort); }
    size_t GivenUpBlocksKept() const { return m_givenUpBlocks.size(); }

  private:
    class SocketPort;

    void ReceiveThread();
    void Step(Port& port);
    void DispatchPacket(CGVSPPacket& p, int64_t nowNs, const ResendParam& resend);
    CGVSPFrame* GetFrameForBlock(const CGVSPPacket& p, int64_t nowNs, const ResendParam& resend);
    void CompleteFrame(CGVSPFrame* frame, int64_t nowNs, const ResendParam& resend);
    bool AnyHeld() const;
    // Hands the complete frames at the head of the assembly list to the pool, giving up older
    // incomplete ones that are not (or no longer) worth waiting for; with mayWait false none is.
    void DeliverCompleted(int64_t nowNs, const ResendParam& resend, bool mayWait = true);
    void Deliver(CGVSPFrame* frame, int64_t nowNs);
    // Takes the frame out of assembly, gives its buffer back and counts it lost once.
    void GiveUp(CGVSPFrame* frame, int64_t nowNs);
    void Release(CGVSPFrame* frame, int64_t nowNs);  // reset, back to the free frames
    // Every frame still in assembly back to the pool unfilled, none counted lost.
    void GiveBackAssembling(int64_t nowNs);
    void RememberGivenUp(uint32_t blockId);
    bool WasGivenUp(uint32_t blockId) const;
    void CheckResend(int64_t nowNs, const ResendParam& resend);
    // Where the next batch's datagrams would go if they are the next data packets of the newest
    // frame: the socket receives their bytes there, and only those that turn out otherwise are
    // copied back to their packet buffers.
    void PlanInPlace();
    void IdleActions(Port& port, int64_t nowNs);
    // A datagram whole, of a stream packet's size at least and from the camera; anything else is
    // counted foreign.
    bool FromCamera(const CGVSPPacket& p, const Port::Arrival& from, uint32_t camera);
    // Reads and drops what the socket holds; whether any of it was a block of the camera's.
    bool Drain(Port& port);
    bool DrainSocket();  // the same through the stream socket (or the test's port)
    int64_t NowNs();

    CFrameBucketProducer* m_producer = nullptr;
    uint32_t m_payloadSize = 0;
    std::atomic<int> m_frameCount;
    std::vector<std::unique_ptr<CGVSPFrame>> m_frames;  // all of them
    // Taken from the front, given back at the back. A vector of at most a few frames: a deque
    // would allocate a block every 64 frames that pass through it.
    std::vector<CGVSPFrame*> m_freeFrames;
    std::vector<CGVSPFrame*> m_assembling;  // oldest first
    std::vector<CGVSPPacket> m_packets;     // the batch
    std::vector<Port::Arrival> m_arrivals;  // of the batch's datagrams
    struct Slot {
        uint8_t* dest = nullptr;
        uint32_t length = 0;
        uint32_t blockId = 0;
        uint32_t packetId = 0;
    };
    Slot m_slots[kBatchSize];
    int m_slotCount = 0;         // the first m_slotCount datagrams of the next batch have one
    uint32_t m_lastBlockId = 0;  // 0: none since Start
    uint32_t m_lostTotal = 0;
    // Given up and counted, not yet passed by a delivered block; oldest first, at most
    // kGivenUpKept. m_givenUpForgotten: those pushed out since, still to be taken off a gap.
    std::vector<uint32_t> m_givenUpBlocks;
    uint32_t m_givenUpForgotten = 0;
    bool m_otherSizeLogged = false;  // a leader of another size, since Start
    // m_pauseCut: a pause came after the camera's blocks were seen (or read off the socket), with
    // no delivery since. m_fenced: from a Start after such a pause, or one that read the camera's
    // datagrams off the socket, until the first delivery; while set, only leaders start frames.
    bool m_pauseCut = false;
    bool m_fenced = false;
    int64_t m_lastDummyNs = 0;
    int64_t m_lastHeartbeatNs = 0;
    Port* m_testPort = nullptr;

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
