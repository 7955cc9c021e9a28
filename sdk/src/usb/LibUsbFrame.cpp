#include "usb/LibUsbFrame.h"

#include <utility>

#include "common/Log.h"

void CLibUsbFrame::PlanChunks(uint32_t frameSize) {
    m_frameSize = frameSize;
    if (frameSize < kMaxChunkSize) {
        m_chunkSize = frameSize;
        m_chunkCount = 1;
    } else {
        m_chunkSize = kMaxChunkSize;
        m_chunkCount = (frameSize + kMaxChunkSize - 1) / kMaxChunkSize;
    }
    m_chunkIndex = 0;
    m_received = 0;
    m_expectLen = 0;
    m_attached = true;
}

void CLibUsbFrame::AttachFrameBuf(CFrameBufferShared buffer) {
    QV_ASSERT(!m_frameBufShared);
    QV_ASSERT(!m_attached);
    QV_ASSERT(buffer);
    uint32_t expected = 0;
    buffer->GetBuffer(nullptr, &expected);
    m_frameBufShared = std::move(buffer);
    PlanChunks(expected);
}

void CLibUsbFrame::AttachDrain(uint32_t frameSize) {
    QV_ASSERT(!m_attached);
    PlanChunks(frameSize);
}

void CLibUsbFrame::DetachFrameBuf() {
    QV_ASSERT(m_attached);
    m_frameBufShared.reset();
    m_attached = false;
}
