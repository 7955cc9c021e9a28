#include "frames/FrameBuffer.h"

#include <new>

bool CFrameBuffer::Reserve(int expectedSize, unsigned bufferSize) {
    if (m_capacity < bufferSize) {
        m_data.reset();
        m_capacity = 0;
        m_data.reset(new (std::nothrow) uint8_t[bufferSize]);
        if (!m_data) return false;
        m_capacity = bufferSize;
    }
    m_expectedSize = static_cast<uint32_t>(expectedSize);
    m_filledSize = 0;
    return true;
}

uint8_t* CFrameBuffer::GetBuffer(uint32_t* capacity, uint32_t* expectedSize) {
    if (capacity != nullptr) *capacity = m_capacity;
    if (expectedSize != nullptr) *expectedSize = m_expectedSize;
    return m_data.get();
}

void CFrameBuffer::SetImageInfo(const stImageInfo& info, uint64_t timestamp) {
    m_imageInfo = info;
    m_timestamp = timestamp;
}

uint8_t* CFrameBuffer::GetData(int* room) {
    if (room != nullptr) {
        *room = m_dataOffset <= m_capacity ? static_cast<int>(m_capacity - m_dataOffset) : 0;
    }
    return m_data ? m_data.get() + m_dataOffset : nullptr;
}

void CFrameBuffer::GetImageInfo(stImageInfo* info) const {
    if (info != nullptr) *info = m_imageInfo;
}

bool CFrameBuffer::RemoveReader() {
    // A handle released twice must not drive the count below zero and free a frame that
    // another reader still holds.
    int readers = m_readers.load(std::memory_order_acquire);
    while (readers > 0 &&
           !m_readers.compare_exchange_weak(readers, readers - 1, std::memory_order_acq_rel)) {
    }
    if (readers != 1) return false;
    SetState(kFree);
    return true;
}
