// One raw frame buffer of the frame pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "QVDeviceDef.h"

class CFrameBuffer {
  public:
    enum State : int { kFree = 0, kFilling = 1, kFull = 2 };

    CFrameBuffer() = default;
    CFrameBuffer(const CFrameBuffer&) = delete;
    CFrameBuffer& operator=(const CFrameBuffer&) = delete;

    // Producer side: called by the transport on its receive thread while the buffer is in the
    // filling state, without the pool's lock.

    // Grows the data block to bufferSize when it is smaller (old contents are not kept, it never
    // shrinks) and starts a frame of expectedSize bytes. False when the memory is not available;
    // the producer then gives the buffer back and drops the frame.
    bool Reserve(int expectedSize, unsigned bufferSize);
    uint8_t* GetBuffer(uint32_t* capacity = nullptr, uint32_t* expectedSize = nullptr);
    void SetFilledSize(int size) { m_filledSize = static_cast<uint32_t>(size); }
    void SetDataOffset(int offset) { m_dataOffset = static_cast<uint32_t>(offset); }
    void SetFrameNo(int frameNo) { m_frameNo = static_cast<uint32_t>(frameNo); }
    void SetState(int state) { m_state.store(state, std::memory_order_release); }
    // A buffer that expects nothing (none reserved since the pool handed it out) holds no frame.
    bool IsComplete() const { return m_expectedSize != 0 && m_filledSize == m_expectedSize; }
    // The pool, handing the buffer out: nothing expected and nothing filled, whatever frame it
    // held before.
    void ClearFill() {
        m_expectedSize = 0;
        m_filledSize = 0;
    }
    void SetImageInfo(const stImageInfo& info, uint64_t timestamp);

    // Consumer side.
    uint8_t* GetData(int* room = nullptr);
    void GetImageInfo(stImageInfo* info) const;
    uint64_t GetTimestamp() const { return m_timestamp; }
    uint32_t GetFrameNo() const { return m_frameNo; }
    int GetState() const { return m_state.load(std::memory_order_acquire); }
    uint32_t GetFilledSize() const { return m_filledSize; }

    void AddReader() { m_readers.fetch_add(1, std::memory_order_acq_rel); }
    // True when the last reader left; the buffer is then free.
    bool RemoveReader();
    bool HasReaders() const { return m_readers.load(std::memory_order_acquire) > 0; }

  private:
    std::atomic<int> m_state{kFree};
    uint32_t m_frameNo = 0;
    std::unique_ptr<uint8_t[]> m_data;
    uint32_t m_capacity = 0;
    uint32_t m_expectedSize = 0;
    uint32_t m_filledSize = 0;
    uint32_t m_dataOffset = 0;
    stImageInfo m_imageInfo{};
    std::atomic<int> m_readers{0};
    uint64_t m_timestamp = 0;
};

using CFrameBufferShared = std::shared_ptr<CFrameBuffer>;
