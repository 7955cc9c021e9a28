#include "gige/GVSPFrame.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/Log.h"
#include "gige/GigeCamera.h"

namespace gige = qv::gige;

namespace {

constexpr int64_t kNsPerMs = 1000000;

// The data packets and the leader and trailer around them (no more than ids can number).
uint32_t PacketsFor(uint32_t bytes, uint32_t payload) {
    const uint64_t n = (uint64_t{bytes} + payload - 1) / payload + 2;
    return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

}  // namespace

CGVSPFrame::CGVSPFrame(CGigeCamera* camera, uint32_t payloadSize)
    : m_camera(camera), m_payloadSize(payloadSize) {}

void CGVSPFrame::Reset(uint32_t blockId, int64_t nowNs) {
    m_blockId = blockId;
    m_copied = m_flags = m_expected = m_received = m_highest = m_requested = 0;
    m_firstMissing = 0;
    m_scannedUpTo = 0;
    m_lastWholeScanMs = -1;
    m_holdDeadlineNs = 0;
    m_pending.clear();
    m_pendingLimit = 0;
    m_lastPacketNs = nowNs;
    std::fill(m_table.begin(), m_table.end(), Entry{});
    m_buffer.reset();
}

CFrameBufferShared CGVSPFrame::Detach() {
    CFrameBufferShared buffer;
    buffer.swap(m_buffer);
    return buffer;
}

bool CGVSPFrame::GrowTable(size_t entries) {
    if (m_table.size() >= entries) return true;
    try {
        m_table.resize(entries);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CGVSPFrame::Received(uint32_t packetId, int64_t nowNs) {
    m_table[packetId].state = kReceived;
    m_highest = std::max(m_highest, packetId);
    ++m_received;
    m_lastPacketNs = nowNs;
}

bool CGVSPFrame::IsComplete() const {
    return m_buffer != nullptr && (m_flags & kAllParts) == kAllParts && m_buffer->IsComplete();
}

// ---- Packets -----------------------------------------------------------------------------------

CGVSPFrame::Fill CGVSPFrame::FillByLeaderPacket(const CGVSPPacket& p, int64_t nowNs) {
    if (p.length < gige::kGvspLeaderSize) return Fill::kIgnored;
    const gige::GvspLeader leader = gige::DecodeGvspLeader(p.Data());
    if ((leader.payloadType & ~gige::kPayloadTypeExtendedChunk) != gige::kPayloadTypeImage) {
        qv::Log("The payload type is not a image payload\r\n");
        return Fill::kIgnored;
    }
    if (gige::IsErrorStatus(p.status) || (m_flags & kFlagLeader) != 0) return Fill::kIgnored;
    m_sizeX = leader.sizeX;
    m_sizeY = leader.sizeY;
    stImageInfo info{};
    m_camera->GetFrameInfo(&info);
    // An image of another size than the camera's settings describe would not fit the frame
    // the pool hands out for them: the block cannot be taken.
    if (info.iWidth != leader.sizeX || info.iHeight != leader.sizeY) return Fill::kOtherSize;
    if (info.TotalBytes == 0 || m_payloadSize == 0 || m_buffer == nullptr) return Fill::kIgnored;
    m_flags |= kFlagLeader;
    m_timestamp = m_camera->GetHardwareType() == 205 ? leader.timestamp : leader.timestamp * 1000;
    m_pixelFormat = leader.pixelFormat;
    m_offsetX = leader.offsetX;
    m_offsetY = leader.offsetY;
    m_paddingX = leader.paddingX;
    m_paddingY = leader.paddingY;
    if (!m_buffer->Reserve(static_cast<int>(info.TotalBytes), info.TotalBytes))
        return Fill::kFailed;
    m_buffer->SetImageInfo(info, m_timestamp);
    m_expected = PacketsFor(info.TotalBytes, m_payloadSize);
    // Every id below N has its entry: the checks against N keep packets inside the table.
    if (!GrowTable(m_expected)) return Fill::kFailed;
    if (p.packetId < m_table.size()) Received(p.packetId, nowNs);
    std::deque<CGVSPPacket> pending;
    pending.swap(m_pending);
    for (const CGVSPPacket& q : pending) {
        if (q.format == gige::kFormatTrailer)
            FillByTrailerPacket(q, nowNs);
        else
            FillByPayloadPacket(q, nowNs);
    }
    return Fill::kTaken;
}

CGVSPFrame::Fill CGVSPFrame::FillByPayloadPacket(const CGVSPPacket& p, int64_t nowNs) {
    // Packet 0 is the leader's: a data packet with it is no data packet.
    if (gige::IsErrorStatus(p.status) || p.packetId == 0) return Fill::kIgnored;
    if ((m_flags & kFlagLeader) == 0) return KeepPending(p);
    // Data packets are 1..N-2.
    if (p.packetId + 1 >= m_expected || m_table[p.packetId].state == kReceived)
        return Fill::kIgnored;
    m_flags |= kFlagPayload;
    uint32_t capacity = 0, expected = 0;
    uint8_t* data = m_buffer->GetBuffer(&capacity, &expected);
    const uint64_t offset = uint64_t{p.packetId - 1} * m_payloadSize;
    uint32_t count = p.length - gige::kGvspHeaderSize;
    // Bytes past the image (a padded last packet) are neither copied nor counted.
    const uint32_t room = offset < expected ? static_cast<uint32_t>(expected - offset) : 0;
    count = std::min(count, room);
    // A packet received in place is where it belongs already.
    if (count > 0 && p.Payload() != data + offset) std::memmove(data + offset, p.Payload(), count);
    m_copied += count;
    m_buffer->SetFilledSize(static_cast<int>(m_copied));
    Received(p.packetId, nowNs);
    return Fill::kTaken;
}

CGVSPFrame::Fill CGVSPFrame::FillByTrailerPacket(const CGVSPPacket& p, int64_t nowNs) {
    if (gige::IsErrorStatus(p.status) || p.packetId == 0) return Fill::kIgnored;
    if ((m_flags & kFlagLeader) == 0) return KeepPending(p);
    if ((m_flags & kFlagTrailer) != 0 || p.packetId >= m_expected) return Fill::kIgnored;
    m_flags |= kFlagTrailer;
    Received(p.packetId, nowNs);
    return Fill::kTaken;
}

CGVSPFrame::Fill CGVSPFrame::KeepPending(const CGVSPPacket& p) {
    if (m_pendingLimit == 0) {
        // Once per block that begins without its leader.
        stImageInfo info{};
        m_camera->GetFrameInfo(&info);
        m_pendingLimit = info.TotalBytes != 0 ? PacketsFor(info.TotalBytes, m_payloadSize) : 1;
    }
    // The leader takes none beyond N - 1 ids; copies of more would only hold memory (a
    // hostile stream could make them about 9 KB each, for every id of 24 bits).
    if (p.packetId >= m_pendingLimit || m_pending.size() + 1 >= m_pendingLimit)
        return Fill::kIgnored;
    m_pending.push_back(CGVSPPacket::CopyOf(p));
    return Fill::kTaken;
}

// ---- Resend ------------------------------------------------------------------------------------

void CGVSPFrame::MarkResendRequested(uint32_t first, uint32_t last, uint64_t nowMs, int retries) {
    const int32_t lastStep = kRequested + retries - 2;  // asked R - 1 times
    for (uint64_t id = first; id <= last && id < m_table.size(); ++id) {
        Entry& e = m_table[id];
        if (e.state == kMissing) {
            e.state = kRequested;
            e.timeMs = nowMs;
        } else if (e.state >= kRequested && e.state <= lastStep) {
            ++e.state;
            e.timeMs = nowMs;
        }
    }
    if (first <= last) m_requested += last - first + 1;
}

bool CGVSPFrame::SendResend(uint32_t first, uint32_t last, bool markAlways, uint64_t nowMs,
                            int retries) {
    const int r = m_camera->SendPacketResend(static_cast<int>(m_blockId), static_cast<int>(first),
                                             static_cast<int>(last));
    if (r == CAMERA_STATUS_SUCCESS || markAlways) MarkResendRequested(first, last, nowMs, retries);
    return r == CAMERA_STATUS_SUCCESS;
}

void CGVSPFrame::RequestResend(int percent, int timeoutMs, int retries, int64_t nowNs,
                               bool blockEnded) {
    if (retries <= 0 || !m_camera->IsResendSupported() || (m_flags & kFlagResendGivenUp) != 0)
        return;
    if (percent != 0 && m_expected != 0) {
        const uint32_t limit =
            m_expected * static_cast<uint32_t>(percent) * static_cast<uint32_t>(retries) / 100;
        if (m_requested > limit) return;
    }
    const uint64_t nowMs = static_cast<uint64_t>(nowNs / kNsPerMs);
    const uint64_t timeout = static_cast<uint64_t>(timeoutMs);
    const int32_t askedAll = kRequested + retries - 1;  // asked R times
    auto due = [&](const Entry& e) { return nowMs - e.timeMs >= timeout; };

    if ((m_flags & kFlagLeader) == 0) {
        if (m_pending.empty()) return;
        uint32_t earliest = UINT32_MAX;
        for (const CGVSPPacket& q : m_pending) earliest = std::min(earliest, q.packetId);
        if (m_table.empty() && !GrowTable(kFirstTableEntries)) return;
        // The range must lie in the table (the earliest id is below the image's N).
        if (!GrowTable(earliest)) return;
        const Entry& leader = m_table[0];
        const bool ask = leader.state == kMissing ||
                         (leader.state >= kRequested && leader.state < askedAll && due(leader));
        if (!ask) return;
        const uint32_t last =
            std::min<uint32_t>(earliest, static_cast<uint32_t>(m_table.size())) - 1;
        SendResend(0, last, true, nowMs, retries);
        return;
    }

    const uint32_t end = std::min<uint32_t>(m_expected, static_cast<uint32_t>(m_table.size()));
    // The gap scan, below the highest id received. Ids scanned before can only have become due
    // for another request as time passed: they are looked at again once T ms after the last
    // whole scan; in between only the ids the newest packets have passed are new. A scan per
    // packet over every id would cost N x N visits for a frame of N packets.
    if (m_highest + 1 != m_received && m_highest != 0 && !m_table.empty()) {
        if (m_received == 0) return;
        while (m_firstMissing < m_highest && m_table[m_firstMissing].state == kReceived)
            ++m_firstMissing;
        const bool whole =
            m_lastWholeScanMs < 0 || nowMs - static_cast<uint64_t>(m_lastWholeScanMs) >= timeout;
        uint32_t i = whole ? m_firstMissing : std::max(m_firstMissing, m_scannedUpTo);
        bool allSent = true;
        while (i < m_highest && i < end) {
            Entry& e = m_table[i];
            if (e.state >= askedAll && due(e)) {
                e.state = kGivenUp;
                m_flags |= kFlagResendGivenUp;
                return;
            }
            if (e.state == kReceived || (e.state >= kRequested && e.state <= askedAll && !due(e))) {
                ++i;
                continue;
            }
            uint32_t j = i + 1;
            while (j < m_highest && m_table[j].state != kReceived) ++j;
            allSent &= SendResend(i, j - 1, false, nowMs, retries);
            i = j + 1;
        }
        // A request that did not go out is tried again at the next scan.
        if (allSent) {
            m_scannedUpTo = m_highest;
            if (whole) m_lastWholeScanMs = static_cast<int64_t>(nowMs);
        }
    }
    // The tail, above the highest id, once the packets have stopped for the timeout, or at once
    // when a newer block shows they have stopped and the tail was never asked for. Waiting for
    // the timeout there would let the newer frame complete first, which gives this one up.
    const bool tailNew = m_highest + 1 < end && m_table[m_highest + 1].state == kMissing;
    if (!(blockEnded && tailNew) &&
        nowNs - m_lastPacketNs <= static_cast<int64_t>(timeout) * kNsPerMs)
        return;
    uint32_t i = m_highest + 1;
    for (; i < end; ++i) {
        Entry& e = m_table[i];
        if (e.state >= askedAll && due(e)) {
            e.state = kGivenUp;
            m_flags |= kFlagResendGivenUp;
            return;
        }
        if (e.state != kReceived && e.state != kGivenUp) break;
    }
    // The tail ends at the trailer: the camera has no packets beyond it.
    if (i < end) SendResend(i, end - 1, false, nowMs, retries);
    m_lastPacketNs = nowNs;
}

bool CGVSPFrame::GiveUpRequestedPacket(uint32_t packetId) {
    if (packetId >= m_table.size() || m_table[packetId].state < kRequested) return false;
    m_table[packetId].state = kGivenUp;
    m_flags |= kFlagResendGivenUp;
    return true;
}
