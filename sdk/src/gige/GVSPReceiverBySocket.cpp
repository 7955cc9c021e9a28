#include "gige/GVSPReceiverBySocket.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "common/Log.h"
#include "frames/FrameBucket.h"
#include "gige/GigeCamera.h"
#include "gige/SocketException.h"

namespace gige = qv::gige;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReceiveWaitMs = 30;
constexpr auto kDummyPeriod = std::chrono::seconds(60);
constexpr auto kHeartbeatPeriod = std::chrono::seconds(3);
// An older frame that got no packet for this long is given up when a new block starts.
constexpr int64_t kStaleFrameNs = 100 * 1000000LL;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

int64_t CpuNs(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return 0;
    return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Whether id comes after last in the cycle of block ids, within the wrap distance.
bool After(uint32_t last, uint32_t id) {
    return id != last && gige::BlocksBetween(last, id) < gige::kBlockWrapDistance;
}

}  // namespace

CGVSPReceiverBySocket::CGVSPReceiverBySocket(CGigeCamera* camera,
                                             const LQComponent::Address& streamAddress,
                                             int frameCount)
    : CGVSPReceiver(camera, streamAddress),
      m_frameCount(frameCount > 0 ? frameCount : kDefaultFrameCount) {}

CGVSPReceiverBySocket::~CGVSPReceiverBySocket() {
    Stop();
    Uninit();
}

int CGVSPReceiverBySocket::Init(int payloadSize) {
    if (payloadSize < 1) return CAMERA_STATUS_PARAMETER_INVALID;
    m_payloadSize = static_cast<uint32_t>(payloadSize);
    m_packets.assign(kBatchSize, CGVSPPacket());
    m_frames.clear();
    m_freeFrames.clear();
    m_assembling.clear();
    for (int i = 0; i < m_frameCount; ++i) {
        m_frames.push_back(std::make_unique<CGVSPFrame>(m_camera, m_payloadSize));
        m_freeFrames.push_back(m_frames.back().get());
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Uninit() {
    m_packets.clear();
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
    const int64_t now = NowNs();
    // Frames still assembling go back to the pool empty; none of them counts as lost.
    for (CGVSPFrame* frame : m_assembling) {
        CFrameBufferShared buffer = frame->Detach();
        if (buffer != nullptr && m_producer != nullptr) m_producer->PutEmptyFrame(buffer);
        frame->Reset(0, now);
        m_freeFrames.push_back(frame);
    }
    m_assembling.clear();
    m_held = 0;
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Start() {
    if (m_isRun) return CAMERA_STATUS_SUCCESS;
    m_stop = false;
    m_lastBlockId = 0;
    m_lostTotal = 0;
    m_held = 0;
    m_givenUpBlocks.clear();
    m_isRun = true;
    m_thread = std::make_unique<std::thread>([this] { ReceiveThread(); });
    return CAMERA_STATUS_SUCCESS;
}

void CGVSPReceiverBySocket::Stop() {
    if (!m_isRun) return;
    m_isRun = false;
    m_stop = true;
    if (m_thread != nullptr && m_thread->joinable()) m_thread->join();
    m_thread.reset();
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

// ---- The receive thread ------------------------------------------------------------------------

void CGVSPReceiverBySocket::ReceiveThread() {
    m_lastDummy = m_lastHeartbeat = Clock::now();
    mmsghdr messages[kBatchSize];
    iovec vectors[kBatchSize];
    sockaddr_in senders[kBatchSize];
    for (int i = 0; i < kBatchSize; ++i) {
        vectors[i] = {m_packets[static_cast<size_t>(i)].Data(), CGVSPPacket::kCapacity};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
    }
    const int fd = m_socket.GetSocket();
    const uint32_t camera = m_streamAddress.raw();
    try {
        while (!m_stop) {
            for (auto& m : messages) m.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            const int n = recvmmsg(fd, messages, kBatchSize, MSG_DONTWAIT, nullptr);
            if (n > 0) {
                m_receiveCalls.fetch_add(1, std::memory_order_relaxed);
                const int64_t now = NowNs();
                const ResendParam resend = GetResendParam();
                for (int i = 0; i < n; ++i) {
                    CGVSPPacket& p = m_packets[static_cast<size_t>(i)];
                    const msghdr& h = messages[i].msg_hdr;
                    p.length = messages[i].msg_len;
                    if ((h.msg_flags & MSG_TRUNC) != 0 || p.length < gige::kGvspHeaderSize ||
                        senders[i].sin_addr.s_addr != camera) {
                        m_foreign.fetch_add(1, std::memory_order_relaxed);
                        continue;
                    }
                    DispatchPacket(p, now, resend);
                    // Counted once handled: whoever sees the count sees what it did.
                    m_datagrams.fetch_add(1, std::memory_order_release);
                }
                if (m_held > 0) DeliverCompleted(now, resend);
                if (n < kBatchSize && !m_stop) {
                    const timespec nap{0, kBatchNapUs * 1000L};
                    nanosleep(&nap, nullptr);
                }
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                throw LQComponent::SocketException("[receive_timeout] Cannot receive");
            pollfd wait{fd, POLLIN, 0};
            const int ready = poll(&wait, 1, kReceiveWaitMs);
            if (ready < 0 && errno != EINTR)
                throw LQComponent::SocketException(
                    "[receive_timeout] select() return SOCKET_ERROR");
            if (ready == 0) IdleActions(NowNs());
        }
    } catch (const LQComponent::SocketException&) {
        qv::Log("gvsp receive error\r\n");
    }
    m_endCpuNs = CpuNs(CLOCK_THREAD_CPUTIME_ID);
}

void CGVSPReceiverBySocket::IdleActions(int64_t nowNs) {
    const ResendParam resend = GetResendParam();
    CheckResend(nowNs, resend);
    if (m_held > 0) DeliverCompleted(nowNs, resend);
    const auto now = Clock::now();
    if (now - m_lastDummy >= kDummyPeriod) {
        SendDummy();
        m_lastDummy = now;
    }
    if (now - m_lastHeartbeat >= kHeartbeatPeriod) {
        m_camera->HeartbeatCheck(0);
        m_lastHeartbeat = now;
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

void CGVSPReceiverBySocket::GiveUp(CGVSPFrame* frame, int64_t nowNs) {
    if ((frame->Flags() & CGVSPFrame::kFlagHeld) != 0) --m_held;
    std::erase(m_assembling, frame);
    CFrameBufferShared buffer = frame->Detach();
    if (buffer != nullptr) m_producer->PutEmptyFrame(buffer);
    m_producer->AddLostFrames(1);
    m_lost.fetch_add(1, std::memory_order_relaxed);
    m_givenUpBlocks.push_back(frame->BlockId());
    Release(frame, nowNs);
}

CGVSPFrame* CGVSPReceiverBySocket::GetFrameForBlock(const CGVSPPacket& p, int64_t nowNs,
                                                    const ResendParam& resend) {
    const uint32_t b = p.blockId;
    const uint32_t last = m_lastBlockId;
    // The first block after Start is taken whatever its id; later ones only when newer (or
    // beyond the wrap).
    if (last != 0 && !(b > last || b + gige::kBlockWrapDistance < last)) return nullptr;
    for (auto it = m_assembling.rbegin(); it != m_assembling.rend(); ++it)
        if ((*it)->BlockId() == b) return *it;
    if (gige::IsErrorStatus(p.status) || b == 0) return nullptr;
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
        if (m_held > 0) DeliverCompleted(nowNs, resend);
        buffer = m_producer->GetEmptyFrame();
    }
    if (buffer == nullptr) return nullptr;
    buffer->SetFrameNo(static_cast<int>(b));
    CGVSPFrame* frame = m_freeFrames.front();
    m_freeFrames.pop_front();
    frame->Reset(b, nowNs);
    frame->Attach(buffer);
    m_assembling.push_back(frame);
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
    ++m_held;
    DeliverCompleted(nowNs, resend);
}

void CGVSPReceiverBySocket::DeliverCompleted(int64_t nowNs, const ResendParam& resend) {
    const bool waitForResend = resend.enable && resend.retries > 0 && m_camera->IsResendSupported();
    while (m_held > 0 && !m_assembling.empty()) {
        CGVSPFrame* oldest = m_assembling.front();
        if ((oldest->Flags() & CGVSPFrame::kFlagHeld) != 0) {
            --m_held;
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
        if (lost != 0) {
            m_lostTotal += lost;
            m_producer->AddLostFrames(static_cast<int>(lost));
            m_lost.fetch_add(lost, std::memory_order_relaxed);
            qv::Log(
                ">>>>>>>>>>>>>>>>>>>>>> last block id %u, cur block id %u, lost frame num %u\r\n",
                last, c, m_lostTotal);
        }
    }
    // Given-up blocks up to this one are settled.
    std::erase_if(m_givenUpBlocks, [c](uint32_t id) { return !After(c, id); });
    m_lastBlockId = c;
    Release(frame, nowNs);
}
