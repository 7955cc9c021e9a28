// CGVSPFrame: one block (image) of the stream being assembled into a frame-pool buffer, with the
// bookkeeping of its packets and of the resend requests for the missing ones. Used by the
// receive thread only.
//
// Packet ids: 0 the leader, 1..N-2 the data packets, N-1 the trailer, where N is ceil(image
// bytes / payload size) + 2 once the leader is known. States of the status table: 0 missing,
// 1 received, 2 given up, 100 + k - 1 asked for k times (k = 1..R).
//
// Times are the steady clock in nanoseconds, passed in by the caller (the receive thread reads
// the clock once per batch of datagrams; tests step it by hand).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "QVDeviceDef.h"
#include "frames/FrameBuffer.h"
#include "gige/GVSPPacket.h"

class CGigeCamera;

class CGVSPFrame {
  public:
    static constexpr uint32_t kFlagLeader = 1u << 0;
    static constexpr uint32_t kFlagPayload = 1u << 1;
    static constexpr uint32_t kFlagTrailer = 1u << 2;
    static constexpr uint32_t kFlagResendGivenUp = 1u << 7;
    // Complete, waiting behind an older frame whose resent packets are on their way.
    static constexpr uint32_t kFlagHeld = 1u << 8;
    static constexpr uint32_t kAllParts = kFlagLeader | kFlagPayload | kFlagTrailer;

    static constexpr int32_t kMissing = 0;
    static constexpr int32_t kReceived = 1;
    static constexpr int32_t kGivenUp = 2;
    static constexpr int32_t kRequested = 100;

    // A table made before the leader starts with this many entries. The table grows to the
    // packet count of the camera's image and no further: packets before the leader are kept
    // only with the ids that image has.
    static constexpr uint32_t kFirstTableEntries = 1024;

    struct Entry {
        int32_t state = kMissing;
        uint64_t timeMs = 0;
    };

    CGVSPFrame(CGigeCamera* camera, uint32_t payloadSize);

    // For block b (0: the frame is free): counts, flags and pending packets cleared, the table
    // zeroed, the buffer detached, the last packet time now.
    void Reset(uint32_t blockId, int64_t nowNs);
    void Attach(const CFrameBufferShared& buffer) { m_buffer = buffer; }
    CFrameBufferShared Detach();
    const CFrameBufferShared& Buffer() const { return m_buffer; }

    // What a packet did to the frame. kOtherSize: a leader ignored because its image size is
    // not the camera's.
    enum class Fill { kTaken, kIgnored, kFailed, kOtherSize };
    // The leader: image information from the camera, the buffer reserved and the status table
    // sized for the image, the pending packets replayed. kFailed when the memory for them is
    // not available.
    Fill FillByLeaderPacket(const CGVSPPacket& p, int64_t nowNs);
    // Before the leader, payload and trailer packets are kept as copies, as far as the camera's
    // image can use them: ids below its packet count N, at most N - 1 copies.
    Fill FillByPayloadPacket(const CGVSPPacket& p, int64_t nowNs);
    Fill FillByTrailerPacket(const CGVSPPacket& p, int64_t nowNs);
    // An all-in packet: the three part flags, nothing copied.
    void SetAllIn() { m_flags = (m_flags & ~kAllParts) | kAllParts; }
    bool IsComplete() const;

    // The resend bookkeeping for this frame (percent P, timeout T ms, retries R). blockEnded: a
    // newer block has begun, so this block's packets have stopped: a tail never asked for is
    // asked for at once instead of T ms after the last packet.
    void RequestResend(int percent, int timeoutMs, int retries, int64_t nowNs,
                       bool blockEnded = false);
    void MarkResendRequested(uint32_t first, uint32_t last, uint64_t nowMs, int retries);
    // An error answer to a packet asked for again (the camera no longer has it): true when the
    // packet had been asked for; it is then given up and nothing more is asked for this frame.
    bool GiveUpRequestedPacket(uint32_t packetId);

    void SetHeld() { m_flags |= kFlagHeld; }
    // When a newer frame is complete, an older one still waiting for resent packets gets until
    // this time (0: not set yet).
    int64_t HoldDeadlineNs() const { return m_holdDeadlineNs; }
    void SetHoldDeadline(int64_t ns) { m_holdDeadlineNs = ns; }

    uint32_t BlockId() const { return m_blockId; }
    uint32_t Flags() const { return m_flags; }
    uint32_t ExpectedPackets() const { return m_expected; }
    uint32_t ReceivedPackets() const { return m_received; }
    uint32_t HighestPacketId() const { return m_highest; }
    uint32_t RequestedPackets() const { return m_requested; }
    uint32_t BytesCopied() const { return m_copied; }
    int64_t LastPacketNs() const { return m_lastPacketNs; }
    uint64_t Timestamp() const { return m_timestamp; }
    uint32_t SizeX() const { return m_sizeX; }  // of the last leader
    uint32_t SizeY() const { return m_sizeY; }
    size_t PendingPackets() const { return m_pending.size(); }
    size_t TableEntries() const { return m_table.size(); }
    const Entry& State(uint32_t packetId) const { return m_table.at(packetId); }

  private:
    // False when the memory is not available.
    bool GrowTable(size_t entries);
    Fill KeepPending(const CGVSPPacket& p);
    void Received(uint32_t packetId, int64_t nowNs);
    // True when the request went out.
    bool SendResend(uint32_t first, uint32_t last, bool markAlways, uint64_t nowMs, int retries);

    CGigeCamera* m_camera;
    uint32_t m_payloadSize;
    uint32_t m_blockId = 0;
    uint32_t m_copied = 0;
    uint32_t m_flags = 0;
    uint32_t m_expected = 0;
    uint32_t m_received = 0;
    uint32_t m_highest = 0;
    uint32_t m_requested = 0;
    // Every id below it is received: the gap scan starts here.
    uint32_t m_firstMissing = 0;
    // Ids below it were scanned since the last whole scan (at m_lastWholeScanMs; -1: none yet).
    uint32_t m_scannedUpTo = 0;
    int64_t m_lastWholeScanMs = -1;
    int64_t m_lastPacketNs = 0;
    int64_t m_holdDeadlineNs = 0;
    std::deque<CGVSPPacket> m_pending;
    uint32_t m_pendingLimit = 0;  // N of the camera's image; 0: not read yet for this block
    uint16_t m_paddingY = 0;
    uint64_t m_timestamp = 0;
    uint32_t m_pixelFormat = 0;
    uint32_t m_sizeX = 0;
    uint32_t m_sizeY = 0;
    uint32_t m_offsetX = 0;
    uint32_t m_offsetY = 0;
    uint16_t m_paddingX = 0;
    CFrameBufferShared m_buffer;
    std::vector<Entry> m_table;
};
