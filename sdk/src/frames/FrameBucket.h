// The frame pool: the hand-over between a transport's receive thread (producer) and the
// camera controller (consumers). The producer never waits; a consumer always gets the newest
// complete frame it has not taken yet.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "frames/FrameBuffer.h"
#include "QVDeviceDef.h"

class CFrameBucket;

// The transport's handle on the pool, owned by the pool.
class CFrameBucketProducer {
  public:
    explicit CFrameBucketProducer(CFrameBucket* bucket) : m_bucket(bucket) {}

    // A buffer in the filling state, or an empty pointer when none may be used (drop the frame).
    CFrameBufferShared GetEmptyFrame();
    void PutFullFrame(const CFrameBufferShared& frame);
    // Gives back a buffer that was not filled (a broken frame).
    void PutEmptyFrame(const CFrameBufferShared& frame);
    void AddLostFrames(int n);
    // 0 when a stream opens, CAMERA_STATUS_DEVICE_LOST when the transport loses the camera.
    void SetStatus(int status);

  private:
    CFrameBucket* m_bucket;
};

// A consumer's handle, created and destroyed through the pool.
class CFrameBucketClient {
  public:
    // 0 with a frame (its reader count taken), the posted status at once, or
    // CAMERA_STATUS_TIMEOUT when no unseen frame came within timeoutMs.
    int GetFullFrame(CFrameBufferShared& frame, int timeoutMs);
    // False when nobody held the frame (a frame given back twice): nothing changes then.
    bool ReleaseFrame(CFrameBuffer* frame);
    bool ReleaseFrame(const CFrameBufferShared& frame) { return ReleaseFrame(frame.get()); }
    // Forget the last frame taken (stream close), so no frame of the old stream counts as new.
    void Reset();

  private:
    friend class CFrameBucket;
    explicit CFrameBucketClient(CFrameBucket* bucket);

    CFrameBucket* m_bucket;
    // Which frame the client took last, by the pool's count of completed frames rather than by
    // ring position: after the ring goes round, a new frame sits in the buffer taken last.
    uint64_t m_lastTaken = 0;        // guarded by the pool's mutex; 0: none
    CFrameBufferShared m_lastFrame;  // guarded by the pool's mutex
};

class CFrameBucket {
  public:
    static constexpr int kMaxFrames = 31;

    // frameNum buffers; 0 or less builds an empty pool, more than kMaxFrames is clamped.
    explicit CFrameBucket(int frameNum);
    ~CFrameBucket();
    CFrameBucket(const CFrameBucket&) = delete;
    CFrameBucket& operator=(const CFrameBucket&) = delete;

    CFrameBucketProducer* GetProducer() { return &m_producer; }
    CFrameBucketClient* CreateBucketClient();
    void DestroyBucketClient(CFrameBucketClient* client);
    // Stream close: no newest frame, and the producer's scan starts at the first buffer again.
    void Reset();
    int GetStatistic(tSdkFrameStatistic* statistic) const;
    int GetFrameCount() const { return static_cast<int>(m_frameList.size()); }
    // The buffer at a ring position (for diagnostics), or null.
    const CFrameBuffer* GetFrameAt(int pos) const {
        return pos >= 0 && pos < GetFrameCount() ? m_frameList[static_cast<size_t>(pos)].get()
                                                 : nullptr;
    }

    // Producer operations (see CFrameBucketProducer).
    CFrameBufferShared GetEmptyFrame();
    void PutFullFrame(const CFrameBufferShared& frame);
    void PutEmptyFrame(const CFrameBufferShared& frame);
    void AddLostFrames(int n) { m_lostCount.fetch_add(static_cast<uint32_t>(n)); }
    void SetStatus(int status);
    int GetStatus();

    bool ReleaseFrame(CFrameBuffer* frame);

  private:
    friend class CFrameBucketClient;
    static constexpr size_t kNone = SIZE_MAX;

    // Takes the newest frame when the client has not taken it yet. Called with m_mutex held.
    CFrameBufferShared TakeNewestLocked(CFrameBucketClient& client);
    int GetFullFrame(CFrameBucketClient& client, CFrameBufferShared& frame, int timeoutMs);
    size_t PositionOf(const CFrameBuffer* frame) const;

    mutable std::mutex m_mutex;  // guards the states, positions, clients, status and readers
    std::condition_variable m_newFrame;
    int m_status = 0;
    std::vector<CFrameBufferShared> m_frameList;  // ring order, fixed for the pool's life
    std::vector<std::unique_ptr<CFrameBucketClient>> m_clients;
    CFrameBucketProducer m_producer{this};
    size_t m_lastWritten = kNone;
    size_t m_newest = kNone;
    uint64_t m_completed = 0;  // frames completed in the pool's life; the newest one's number
    std::atomic<uint32_t> m_goodCount{0};
    std::atomic<uint32_t> m_lostCount{0};
};
