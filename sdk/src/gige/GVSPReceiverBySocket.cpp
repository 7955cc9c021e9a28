#include "gige/GVSPReceiverBySocket.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Log.h"
#include "frames/FrameBucket.h"
#include "gige/GigeCamera.h"
#include "gige/SocketException.h"

namespace gige = qv::gige;

namespace {

constexpr int kReceiveWaitMs = 30;
constexpr int64_t kNsPerSecond = 1000000000LL;
constexpr int64_t kDummyPeriodNs = 60 * kNsPerSecond;
constexpr int64_t kHeartbeatPeriodNs = 3 * kNsPerSecond;
// An older frame that got no packet for this long is given up when a new block starts.
constexpr int64_t kStaleFrameNs = 100 * 1000000LL;

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t CpuNs(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return 0;
    return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

// Whether id comes after last in the cycle of block ids. Up to kBlockWrapDistance ids behind is
// older (a late packet of a block passed); only the rest of the cycle, up to 4094 ids ahead, is
// newer. One relation for acceptance, assembly order and delivery keeps them consistent across
// the wrap (65535 then 1 is newer, 1 then 65535 older).
bool After(uint32_t last, uint32_t id) {
    return id != last &&
           gige::BlocksBetween(last, id) < gige::kBlockIds - gige::kBlockWrapDistance - 1;
}

// Datagrams read off the socket at a pause at most: a camera that goes on sending must not
// keep the pause waiting.
constexpr int kDrainBatches = 1024;

}  // namespace

// The stream socket: a batch is one recvmmsg, the wait a poll.
class CGVSPReceiverBySocket::SocketPort final : public Port {
  public:
    explicit SocketPort(CGVSPReceiverBySocket& receiver)
        : m_receiver(receiver),
          m_fd(receiver.m_socket.GetSocket()),
          m_filtered(receiver.m_senderFiltered),
          m_camera(receiver.m_streamAddress.raw()) {
        for (int i = 0; i < kBatchSize; ++i) {
            m_messages[i] = {};
            m_messages[i].msg_hdr.msg_iov = m_vectors[i];
            // Where the socket takes only the camera's datagrams, their sender is known.
            m_messages[i].msg_hdr.msg_name = m_filtered ? nullptr : &m_senders[i];
        }
    }

    int64_t NowNs() override { return SteadyNs(); }

    int Receive(CGVSPPacket* packets, Arrival* arrivals, int count) override {
        count = std::min(count, kBatchSize);
        const int planned = std::min(count, m_receiver.m_slotCount);
        for (int i = 0; i < count; ++i) {
            uint8_t* data = packets[i].Data();
            const uint32_t capacity = packets[i].Capacity();
            msghdr& h = m_messages[i].msg_hdr;
            h.msg_namelen = m_filtered ? 0 : sizeof(sockaddr_in);
            if (i < planned) {
                // Header into the packet, the image bytes into the frame, anything longer back
                // into the packet behind the header: as much room as the packet alone.
                const Slot& slot = m_receiver.m_slots[i];
                const uint32_t head = gige::kGvspHeaderSize;
                m_vectors[i][0] = {data, head};
                m_vectors[i][1] = {slot.dest, slot.length};
                m_vectors[i][2] = {data + head + slot.length, capacity - head - slot.length};
                h.msg_iovlen = 3;
            } else {
                m_vectors[i][0] = {data, capacity};
                h.msg_iovlen = 1;
            }
        }
        const int n =
            recvmmsg(m_fd, m_messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            throw LQComponent::SocketException("[receive_timeout] Cannot receive");
        }
        for (int i = 0; i < n; ++i) {
            CGVSPPacket& p = packets[i];
            p.length = m_messages[i].msg_len;
            p.payload = nullptr;
            arrivals[i].sender = m_filtered ? m_camera : m_senders[i].sin_addr.s_addr;
            arrivals[i].truncated = (m_messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
            if (i < planned) Settle(p, m_receiver.m_slots[i]);
        }
        return n;
    }

    bool Wait(int ms) override {
        pollfd wait{m_fd, POLLIN, 0};
        const int ready = poll(&wait, 1, ms);
        if (ready < 0 && errno != EINTR)
            throw LQComponent::SocketException("[receive_timeout] select() return SOCKET_ERROR");
        return ready != 0;
    }

    void Nap() override {
        const timespec nap{0, kBatchNapUs * 1000L};
        nanosleep(&nap, nullptr);
    }

    void SendDummy() override { m_receiver.SendDummy(); }

  private:
    // A datagram received in place stays there when it is the data packet it was placed for;
    // any other has its bytes copied back behind its header (the frame's bytes there are of a
    // packet still missing, which overwrites them when it comes).
    static void Settle(CGVSPPacket& p, const Slot& slot) {
        const uint32_t head = gige::kGvspHeaderSize;
        if (p.length <= head) return;
        const uint32_t body = p.length - head;
        const gige::GvspHeader h = gige::DecodeGvspHeader(p.Data());
        if (h.format == gige::kFormatPayload && h.blockId == slot.blockId &&
            h.packetId == slot.packetId && !gige::IsErrorStatus(h.status) && body <= slot.length) {
            p.payload = slot.dest;
            return;
        }
        std::memcpy(p.Data() + head, slot.dest, std::min(body, slot.length));
    }

    CGVSPReceiverBySocket& m_receiver;
    const int m_fd;
    const bool m_filtered;
    const uint32_t m_camera;
    mmsghdr m_messages[kBatchSize];
    iovec m_vectors[kBatchSize][3];
    sockaddr_in m_senders[kBatchSize];
};

CGVSPReceiverBySocket::CGVSPReceiverBySocket(CGigeCamera* camera,
                                             const LQComponent::Address& streamAddress,
                                             int frameCount)
    : CGVSPReceiver(camera, streamAddress),
      m_frameCount(frameCount > 0 ? frameCount : kDefaultFrameCount) {
    m_givenUpBlocks.reserve(kGivenUpKept);
}

CGVSPReceiverBySocket::~CGVSPReceiverBySocket() {
    Stop();
    Uninit();
}

int64_t CGVSPReceiverBySocket::NowNs() {
    return m_testPort != nullptr ? m_testPort->NowNs() : SteadyNs();
}

int CGVSPReceiverBySocket::Init(int payloadSize) {
    if (payloadSize < 1) return CAMERA_STATUS_PARAMETER_INVALID;
    m_payloadSize = static_cast<uint32_t>(payloadSize);
    m_packets.assign(kBatchSize, CGVSPPacket());
    m_arrivals.assign(kBatchSize, Port::Arrival());
    m_frames.clear();
    m_freeFrames.clear();
    m_assembling.clear();
    m_freeFrames.reserve(kMaxFrameCount);
    m_assembling.reserve(kMaxFrameCount);
    for (int i = 0; i < m_frameCount; ++i) {
        m_frames.push_back(std::make_unique<CGVSPFrame>(m_camera, m_payloadSize));
        m_freeFrames.push_back(m_frames.back().get());
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Uninit() {
    m_packets.clear();
    m_arrivals.clear();
    m_freeFrames.clear();
    m_assembling.clear();
    m_frames.clear();
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::OpenStream(CFrameBucketProducer* producer) {
    int r;
    try {
        r = OpenSocket();
    } catch (const LQComponent::SocketException& e) {
        qv::Log("GVSP socket failed: %s\r\n", e.what());
        CloseSocket();
        r = CAMERA_STATUS_FAILED;
    }
    if (r != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    m_producer = producer;
    if (m_producer != nullptr) m_producer->SetStatus(CAMERA_STATUS_SUCCESS);
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::CloseStream() {
    QV_ASSERT(!m_isRun);
    CloseSocket();
    GiveBackAssembling(NowNs());
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Start() {
    if (m_isRun) return CAMERA_STATUS_SUCCESS;
    m_stop = false;
    m_lastBlockId = 0;
    m_lostTotal = 0;
    m_givenUpBlocks.clear();
    m_givenUpForgotten = 0;
    m_otherSizeLogged = false;
    // Whatever the socket holds now was sent before the camera is told to stream again (the
    // camera starts only after this): blocks of the pause, which the new run must not meet.
    const bool queued = DrainSocket();
    m_fenced = m_pauseCut || queued;
    m_lastDummyNs = m_lastHeartbeatNs = NowNs();
    m_isRun = true;
    if (m_testPort == nullptr)
        m_thread = std::make_unique<std::thread>([this] { ReceiveThread(); });
    return CAMERA_STATUS_SUCCESS;
}

void CGVSPReceiverBySocket::Stop() {
    if (!m_isRun) return;
    m_isRun = false;
    m_stop = true;
    if (m_thread != nullptr && m_thread->joinable()) m_thread->join();
    m_thread.reset();
    // No resent packet is taken from here on, and Start begins the block ids afresh: nothing
    // waits any longer.
    const int64_t now = NowNs();
    DeliverCompleted(now, GetResendParam(), false);
    // Whatever was sent before the pause belongs to blocks up to the newest one seen: the play
    // lets none of them start a frame without its own leader (see GetFrameForBlock).
    const bool seen = m_lastBlockId != 0 || !m_assembling.empty() || !m_givenUpBlocks.empty();
    GiveBackAssembling(now);
    m_slotCount = 0;  // the frames planned for are gone
    const bool queued = DrainSocket();
    m_pauseCut = m_pauseCut || seen || queued;
}

bool CGVSPReceiverBySocket::DrainSocket() {
    if (m_testPort != nullptr) return Drain(*m_testPort);
    if (m_packets.empty()) return false;
    SocketPort port(*this);
    return Drain(port);
}

bool CGVSPReceiverBySocket::FromCamera(const CGVSPPacket& p, const Port::Arrival& from,
                                       uint32_t camera) {
    if (!from.truncated && p.length >= gige::kGvspHeaderSize && from.sender == camera) return true;
    m_foreign.fetch_add(1, std::memory_order_relaxed);
    return false;
}

bool CGVSPReceiverBySocket::Drain(Port& port) {
    bool any = false;
    const uint32_t camera = m_streamAddress.raw();
    const int capacity = static_cast<int>(m_packets.size());
    try {
        for (int batch = 0; batch < kDrainBatches; ++batch) {
            const int n = port.Receive(m_packets.data(), m_arrivals.data(), capacity);
            for (int i = 0; i < n; ++i) {
                CGVSPPacket& p = m_packets[static_cast<size_t>(i)];
                const Port::Arrival& from = m_arrivals[static_cast<size_t>(i)];
                if (!FromCamera(p, from, camera)) continue;
                p.Decode();
                any = any || p.blockId != 0;
                m_datagrams.fetch_add(1, std::memory_order_release);
            }
            if (n < capacity) break;
        }
    } catch (const LQComponent::SocketException&) {
        // A socket that fails now fails the next Start's thread too, which says so.
    }
    return any;
}

int CGVSPReceiverBySocket::SetFrameCount(int count) {
    if (m_isRun) return CAMERA_STATUS_BUSY;
    if (count < 1 || count > kMaxFrameCount) return CAMERA_STATUS_PARAMETER_INVALID;
    m_frameCount = count;
    if (m_payloadSize == 0) return CAMERA_STATUS_SUCCESS;  // made at Init
    while (m_freeFrames.size() < static_cast<size_t>(count)) {
        m_frames.push_back(std::make_unique<CGVSPFrame>(m_camera, m_payloadSize));
        m_freeFrames.push_back(m_frames.back().get());
    }
    while (m_freeFrames.size() > static_cast<size_t>(count)) {
        CGVSPFrame* gone = m_freeFrames.back();
        m_freeFrames.pop_back();
        std::erase_if(m_frames, [gone](const auto& f) { return f.get() == gone; });
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::GetFrameCount(int* count) {
    if (count == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *count = m_frameCount;
    return CAMERA_STATUS_SUCCESS;
}

CGVSPReceiverBySocket::Stats CGVSPReceiverBySocket::GetStats() const {
    Stats s;
    s.receiveCalls = m_receiveCalls.load();
    s.datagrams = m_datagrams.load();
    s.foreign = m_foreign.load();
    s.resent = m_resent.load();
    s.framesCompleted = m_completed.load();
    s.framesLost = m_lost.load();
    s.threadCpuNs = m_endCpuNs.load();
    if (m_isRun && m_thread != nullptr) {
        clockid_t clock;
        if (pthread_getcpuclockid(m_thread->native_handle(), &clock) == 0) {
            const int64_t ns = CpuNs(clock);
            if (ns != 0) s.threadCpuNs = ns;
        }
    }
    return s;
}

// ---- The receive loop --------------------------------------------------------------------------

void CGVSPReceiverBySocket::ReceiveThread() {
    SocketPort port(*this);
    try {
        while (!m_stop) Step(port);
    } catch (const LQComponent::SocketException&) {
        qv::Log("gvsp receive error\r\n");
    }
    m_endCpuNs = CpuNs(CLOCK_THREAD_CPUTIME_ID);
}

void CGVSPReceiverBySocket::PlanInPlace() {
    m_slotCount = 0;
    // The packet buffer must hold the header and whatever a datagram brings beyond the slot.
    if (m_assembling.empty() || m_payloadSize > CGVSPPacket::kCapacity - gige::kGvspHeaderSize)
        return;
    CGVSPFrame* frame = m_assembling.back();
    if ((frame->Flags() & (CGVSPFrame::kFlagLeader | CGVSPFrame::kFlagHeld)) !=
            CGVSPFrame::kFlagLeader ||
        frame->Buffer() == nullptr)
        return;
    uint32_t capacity = 0, expected = 0;
    uint8_t* data = frame->Buffer()->GetBuffer(&capacity, &expected);
    expected = std::min(expected, capacity);
    const uint32_t packets = frame->ExpectedPackets();  // data packets are 1 .. packets - 2
    const int batch = static_cast<int>(m_packets.size());
    for (uint32_t id = frame->HighestPacketId() + 1; m_slotCount < batch && id + 1 < packets;
         ++id) {
        const uint64_t offset = uint64_t{id - 1} * m_payloadSize;
        if (offset >= expected) break;
        Slot& slot = m_slots[m_slotCount++];
        slot.dest = data + offset;
        slot.length = static_cast<uint32_t>(std::min<uint64_t>(m_payloadSize, expected - offset));
        slot.blockId = frame->BlockId();
        slot.packetId = id;
    }
}

void CGVSPReceiverBySocket::Step(Port& port) {
    const int capacity = static_cast<int>(m_packets.size());
    PlanInPlace();
    const int n = port.Receive(m_packets.data(), m_arrivals.data(), capacity);
    if (n > 0) {
        m_receiveCalls.fetch_add(1, std::memory_order_relaxed);
        const int64_t now = port.NowNs();
        const ResendParam resend = GetResendParam();
        const uint32_t camera = m_streamAddress.raw();
        for (int i = 0; i < n; ++i) {
            CGVSPPacket& p = m_packets[static_cast<size_t>(i)];
            const Port::Arrival& from = m_arrivals[static_cast<size_t>(i)];
            if (!FromCamera(p, from, camera)) continue;
            DispatchPacket(p, now, resend);
            // Counted once handled: whoever sees the count sees what it did.
            m_datagrams.fetch_add(1, std::memory_order_release);
        }
        DeliverCompleted(now, resend);
        if (n < capacity && !m_stop) port.Nap();
        return;
    }
    if (!port.Wait(kReceiveWaitMs)) IdleActions(port, port.NowNs());
}

void CGVSPReceiverBySocket::IdleActions(Port& port, int64_t nowNs) {
    const ResendParam resend = GetResendParam();
    CheckResend(nowNs, resend);
    DeliverCompleted(nowNs, resend);
    if (nowNs - m_lastDummyNs >= kDummyPeriodNs) {
        port.SendDummy();
        m_lastDummyNs = nowNs;
    }
    if (nowNs - m_lastHeartbeatNs >= kHeartbeatPeriodNs) {
        m_camera->HeartbeatCheck(0);
        m_lastHeartbeatNs = nowNs;
    }
}

void CGVSPReceiverBySocket::CheckResend(int64_t nowNs, const ResendParam& resend) {
    if (!resend.enable) return;
    for (CGVSPFrame* frame : m_assembling)
        frame->RequestResend(resend.percent, resend.timeoutMs, resend.retries, nowNs);
}

// ---- Frames ------------------------------------------------------------------------------------

void CGVSPReceiverBySocket::Release(CGVSPFrame* frame, int64_t nowNs) {
    frame->Reset(0, nowNs);
    m_freeFrames.push_back(frame);
}

void CGVSPReceiverBySocket::GiveBackAssembling(int64_t nowNs) {
    for (CGVSPFrame* frame : m_assembling) {
        CFrameBufferShared buffer = frame->Detach();
        if (buffer != nullptr && m_producer != nullptr) m_producer->PutEmptyFrame(buffer);
        Release(frame, nowNs);
    }
    m_assembling.clear();
}

void CGVSPReceiverBySocket::RememberGivenUp(uint32_t blockId) {
    if (m_givenUpBlocks.size() == kGivenUpKept) {
        m_givenUpBlocks.erase(m_givenUpBlocks.begin());
        ++m_givenUpForgotten;
    }
    m_givenUpBlocks.push_back(blockId);
}

bool CGVSPReceiverBySocket::WasGivenUp(uint32_t blockId) const {
    return std::find(m_givenUpBlocks.begin(), m_givenUpBlocks.end(), blockId) !=
           m_givenUpBlocks.end();
}

void CGVSPReceiverBySocket::GiveUp(CGVSPFrame* frame, int64_t nowNs) {
    std::erase(m_assembling, frame);
    CFrameBufferShared buffer = frame->Detach();
    if (buffer != nullptr) m_producer->PutEmptyFrame(buffer);
    m_producer->AddLostFrames(1);
    m_lost.fetch_add(1, std::memory_order_relaxed);
    RememberGivenUp(frame->BlockId());
    Release(frame, nowNs);
}

CGVSPFrame* CGVSPReceiverBySocket::GetFrameForBlock(const CGVSPPacket& p, int64_t nowNs,
                                                    const ResendParam& resend) {
    const uint32_t b = p.blockId;
    const uint32_t last = m_lastBlockId;
    // The first block after Start is taken whatever its id; later ones only when newer in the
    // cycle of ids (65535 is not newer than 1).
    if (last != 0 && !After(last, b)) return nullptr;
    for (auto it = m_assembling.rbegin(); it != m_assembling.rend(); ++it)
        if ((*it)->BlockId() == b) return *it;
    // The rest of a block given up (after an error status, say) would start a frame without its
    // leader that asks for it again and holds the next complete frame back.
    if (gige::IsErrorStatus(p.status) || b == 0 || WasGivenUp(b)) return nullptr;
    // Until the first delivery after a play, only a block's own leader starts a frame. What
    // comes without one is the rest of a block the pause cut, still arriving (with any id: the
    // camera may number afresh at each start, and the cut block's leader may never have been
    // read); it would ask for its leader again and hold the new frames behind it.
    if (m_fenced && (p.format != gige::kFormatLeader || p.status == gige::kStatusResent))
        return nullptr;
    if (m_assembling.size() >= 2) {
        CGVSPFrame* oldest = m_assembling.front();
        if (m_freeFrames.empty() || nowNs - oldest->LastPacketNs() > kStaleFrameNs) {
            qv::Log("Get a frame from reading map11111, previous block id %u, block id %u\r\n",
                    oldest->BlockId(), b);
            GiveUp(oldest, nowNs);
        }
    }
    // A new block: the older ones have been sent whole, whatever is missing of them is lost.
    if (resend.enable)
        for (CGVSPFrame* older : m_assembling)
            older->RequestResend(resend.percent, resend.timeoutMs, resend.retries, nowNs, true);
    if (m_freeFrames.empty()) {
        qv::Log("Can't get a gvsp frame buffer from queue.");
        return nullptr;
    }
    CFrameBufferShared buffer = m_producer->GetEmptyFrame();
    if (buffer == nullptr && !m_assembling.empty()) {
        // Every buffer of the pool is taken, most by frames still assembling: the oldest goes,
        // as it would for want of a free frame, and the frames held behind it with it.
        CGVSPFrame* oldest = m_assembling.front();
        qv::Log("Get a frame from reading map11111, previous block id %u, block id %u\r\n",
                oldest->BlockId(), b);
        GiveUp(oldest, nowNs);
        DeliverCompleted(nowNs, resend);
        buffer = m_producer->GetEmptyFrame();
    }
    if (buffer == nullptr) return nullptr;
    buffer->SetFrameNo(static_cast<int>(b));
    CGVSPFrame* frame = m_freeFrames.front();
    m_freeFrames.erase(m_freeFrames.begin());
    frame->Reset(b, nowNs);
    frame->Attach(buffer);
    // In block order, whatever order their first packets came in: frames leave from the front.
    auto at = m_assembling.end();
    while (at != m_assembling.begin() && After(b, (*(at - 1))->BlockId())) --at;
    m_assembling.insert(at, frame);
    return frame;
}

void CGVSPReceiverBySocket::DispatchPacket(CGVSPPacket& p, int64_t nowNs,
                                           const ResendParam& resend) {
    p.Decode();
    if (p.status == gige::kStatusResent) m_resent.fetch_add(1, std::memory_order_relaxed);
    CGVSPFrame* frame = GetFrameForBlock(p, nowNs, resend);
    if (frame == nullptr) {
        qv::Log("Can't get a frame.\r\n");
        return;
    }
    // A complete frame waiting for an older one takes nothing more (late duplicates, answers
    // to requests that crossed its last packets).
    if ((frame->Flags() & CGVSPFrame::kFlagHeld) != 0) return;
    if (gige::IsErrorStatus(p.status)) {
        // The camera's answer that a packet asked for again is gone: that packet is given up,
        // the frame waits for its end like any frame that cannot complete.
        if (frame->GiveUpRequestedPacket(p.packetId)) return;
        qv::Log("frame packet status error\n");
        GiveUp(frame, nowNs);
        return;
    }
    CGVSPFrame::Fill fill = CGVSPFrame::Fill::kIgnored;
    switch (p.format) {
        case gige::kFormatLeader:
            fill = frame->FillByLeaderPacket(p, nowNs);
            if (fill == CGVSPFrame::Fill::kOtherSize && !m_otherSizeLogged) {
                // Once per start: a camera streaming another size than its settings describe
                // would otherwise only show as frames that never come.
                stImageInfo info{};
                m_camera->GetFrameInfo(&info);
                qv::Log(
                    "GVSP leader of %u x %u does not match the camera's image of %u x %u, "
                    "block dropped\r\n",
                    frame->SizeX(), frame->SizeY(), info.iWidth, info.iHeight);
                m_otherSizeLogged = true;
            }
            break;
        case gige::kFormatTrailer:
            fill = frame->FillByTrailerPacket(p, nowNs);
            break;
        case gige::kFormatPayload:
            fill = frame->FillByPayloadPacket(p, nowNs);
            break;
        case gige::kFormatAllIn:
            frame->SetAllIn();
            if (frame->IsComplete()) CompleteFrame(frame, nowNs, resend);
            return;
        case gige::kFormatH264:
            qv::Log("GVSP format 264\r\n");
            return;
        case gige::kFormatMultiZone:
            qv::Log("GVSP format MI\r\n");
            return;
        default:
            qv::Log("GVSP default\r\n");
            CheckResend(nowNs, resend);
            return;
    }
    if (fill == CGVSPFrame::Fill::kFailed) {
        GiveUp(frame, nowNs);
        return;
    }
    if (frame->IsComplete())
        CompleteFrame(frame, nowNs, resend);
    else if (resend.enable)
        frame->RequestResend(resend.percent, resend.timeoutMs, resend.retries, nowNs);
}

void CGVSPReceiverBySocket::CompleteFrame(CGVSPFrame* frame, int64_t nowNs,
                                          const ResendParam& resend) {
    if ((frame->Flags() & CGVSPFrame::kFlagHeld) != 0) return;
    frame->SetHeld();
    DeliverCompleted(nowNs, resend);
}

bool CGVSPReceiverBySocket::AnyHeld() const {
    return std::any_of(m_assembling.begin(), m_assembling.end(), [](const CGVSPFrame* f) {
        return (f->Flags() & CGVSPFrame::kFlagHeld) != 0;
    });
}

void CGVSPReceiverBySocket::DeliverCompleted(int64_t nowNs, const ResendParam& resend,
                                             bool mayWait) {
    const bool waitForResend =
        mayWait && resend.enable && resend.retries > 0 && m_camera->IsResendSupported();
    while (AnyHeld()) {
        CGVSPFrame* oldest = m_assembling.front();
        if ((oldest->Flags() & CGVSPFrame::kFlagHeld) != 0) {
            // A block that does not come after the last one delivered would move the last id
            // back and count the whole cycle of ids lost.
            if (m_lastBlockId != 0 && !After(m_lastBlockId, oldest->BlockId()))
                GiveUp(oldest, nowNs);
            else
                Deliver(oldest, nowNs);
            continue;
        }
        // An older frame is incomplete while a newer one is complete. It is worth waiting for
        // as long as it has asked for packets and not given any up, at most the resend
        // timeout from now.
        const bool asked = oldest->RequestedPackets() != 0 &&
                           (oldest->Flags() & CGVSPFrame::kFlagResendGivenUp) == 0;
        if (waitForResend && asked) {
            if (oldest->HoldDeadlineNs() == 0)
                oldest->SetHoldDeadline(nowNs + static_cast<int64_t>(resend.timeoutMs) * 1000000);
            if (nowNs < oldest->HoldDeadlineNs()) return;
        }
        CGVSPFrame* newest = m_assembling.back();
        qv::Log("Get a frame from reading map11111, previous block id %u, block id %u\r\n",
                oldest->BlockId(), newest->BlockId());
        GiveUp(oldest, nowNs);
    }
}

void CGVSPReceiverBySocket::Deliver(CGVSPFrame* frame, int64_t nowNs) {
    const uint32_t c = frame->BlockId();
    std::erase(m_assembling, frame);
    m_producer->PutFullFrame(frame->Detach());
    m_completed.fetch_add(1, std::memory_order_relaxed);

    const uint32_t last = m_lastBlockId;
    if (last != 0) {
        // Blocks skipped, except those counted already when they were given up.
        uint32_t lost = gige::BlocksBetween(last, c);
        for (uint32_t id : m_givenUpBlocks)
            if (lost > 0 && After(last, id) && After(id, c)) --lost;
        const uint32_t forgotten = std::min(lost, m_givenUpForgotten);
        lost -= forgotten;
        m_givenUpForgotten -= forgotten;
        if (lost != 0) {
            m_lostTotal += lost;
            m_producer->AddLostFrames(static_cast<int>(lost));
            m_lost.fetch_add(lost, std::memory_order_relaxed);
            qv::Log(
                ">>>>>>>>>>>>>>>>>>>>>> last block id %u, cur block id %u, lost frame num %u\r\n",
                last, c, m_lostTotal);
        }
    } else {
        // The first block since Start counts no gap: it begins a new run of numbering.
        m_givenUpForgotten = 0;
    }
    // Given-up blocks up to this one are settled. Those of the pause went at Start; what is
    // left belongs to this run, whatever its numbering.
    std::erase_if(m_givenUpBlocks, [c](uint32_t id) { return !After(c, id); });
    m_fenced = false;
    m_pauseCut = false;
    m_lastBlockId = c;
    Release(frame, nowNs);
}
