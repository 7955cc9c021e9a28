// CLibUsbFrame: one frame slot of a USB frame receiver. It carries the frame being read from the
// bulk endpoint: the pool buffer the data lands in (or none, when the pool had no free buffer and
// the frame is only drained to keep the stream moving), and how far the chunked read has got.
//
// Every member is guarded by the owning receiver's mutex.
#pragma once

#include <cstdint>

#include "frames/FrameBuffer.h"

class CLibUsbFrameReceiver;

class CLibUsbFrame {
  public:
    // Bytes asked of one bulk transfer at most. A frame up to one byte less is read in a single
    // transfer; a 20 MP sensor at 12 bits (about 30 MB) takes six.
    static constexpr uint32_t kMaxChunkSize = 0x500000;

    explicit CLibUsbFrame(CLibUsbFrameReceiver* owner) : receiver(owner) {}
    ~CLibUsbFrame() = default;
    CLibUsbFrame(const CLibUsbFrame&) = delete;
    CLibUsbFrame& operator=(const CLibUsbFrame&) = delete;

    // Starts a frame into buffer, whose expected size (set by Reserve) is the frame's. The slot
    // must be idle.
    void AttachFrameBuf(CFrameBufferShared buffer);
    // Starts a frame of frameSize bytes that goes to no buffer: each chunk is read into the
    // receiver's scratch block and the frame is dropped when complete. The slot must be idle.
    void AttachDrain(uint32_t frameSize);
    // Ends the frame (the slot becomes idle); the buffer, if any, is released.
    void DetachFrameBuf();
    const CFrameBufferShared& GetFrameBuf() const { return m_frameBufShared; }
    bool IsAttached() const { return m_attached; }
    bool IsDraining() const { return m_attached && !m_frameBufShared; }
    // Bytes of the frame.
    uint32_t FrameSize() const { return m_frameSize; }

    CLibUsbFrameReceiver* const receiver;
    uint32_t m_frameNo = 0;               // the receiver's frame counter when it began
    CFrameBufferShared m_frameBufShared;  // empty while idle or draining
    uint32_t m_chunkSize = 0;             // bytes asked per transfer
    uint32_t m_chunkCount = 0;            // transfers the frame takes
    uint32_t m_chunkIndex = 0;            // transfers completed whole so far
    uint32_t m_expectLen = 0;             // bytes asked by the transfer in flight
    uint32_t m_received = 0;              // bytes of the frame received so far

  private:
    void PlanChunks(uint32_t frameSize);

    bool m_attached = false;
    uint32_t m_frameSize = 0;
};
