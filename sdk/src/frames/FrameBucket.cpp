#include "frames/FrameBucket.h"

#include <algorithm>
#include <chrono>

#include "common/Log.h"

// ---- CFrameBucketProducer ----------------------------------------------------------------

CFrameBufferShared CFrameBucketProducer::GetEmptyFrame() {
    return m_bucket->GetEmptyFrame();
}
void CFrameBucketProducer::PutFullFrame(const CFrameBufferShared& frame) {
    m_bucket->PutFullFrame(frame);
}
void CFrameBucketProducer::PutEmptyFrame(const CFrameBufferShared& frame) {
    m_bucket->PutEmptyFrame(frame);
}
void CFrameBucketProducer::AddLostFrames(int n) {
    m_bucket->AddLostFrames(n);
}
void CFrameBucketProducer::SetStatus(int status) {
    m_bucket->SetStatus(status);
}

// ---- CFrameBucketClient ------------------------------------------------------------------

CFrameBucketClient::CFrameBucketClient(CFrameBucket* bucket) : m_bucket(bucket) {}

int CFrameBucketClient::GetFullFrame(CFrameBufferShared& frame, int timeoutMs) {
    return m_bucket->GetFullFrame(*this, frame, timeoutMs);
}

bool CFrameBucketClient::ReleaseFrame(CFrameBuffer* frame) {
    return m_bucket->ReleaseFrame(frame);
}

void CFrameBucketClient::Reset() {
    std::lock_guard lock(m_bucket->m_mutex);
    m_lastTaken = 0;
}

// ---- CFrameBucket ------------------------------------------------------------------------

CFrameBucket::CFrameBucket(int frameNum) {
    if (frameNum > kMaxFrames) {
        qv::Log("frame bucket: %d frames asked, %d used\n", frameNum, kMaxFrames);
        frameNum = kMaxFrames;
    }
    for (int i = 0; i < frameNum; ++i) m_frameList.push_back(std::make_shared<CFrameBuffer>());
}

CFrameBucket::~CFrameBucket() = default;

CFrameBucketClient* CFrameBucket::CreateBucketClient() {
    std::lock_guard lock(m_mutex);
    m_clients.push_back(std::unique_ptr<CFrameBucketClient>(new CFrameBucketClient(this)));
    return m_clients.back().get();
}

void CFrameBucket::DestroyBucketClient(CFrameBucketClient* client) {
    QV_ASSERT(client != NULL);
    std::unique_ptr<CFrameBucketClient> owned;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_clients.begin(), m_clients.end(),
                               [client](const auto& c) { return c.get() == client; });
        if (it == m_clients.end()) return;
        owned = std::move(*it);
        m_clients.erase(it);
        owned->m_lastFrame.reset();
    }
}

void CFrameBucket::Reset() {
    std::lock_guard lock(m_mutex);
    m_lastWritten = kNone;
    m_newest = kNone;
}

int CFrameBucket::GetStatistic(tSdkFrameStatistic* statistic) const {
    const uint32_t good = m_goodCount.load();
    const uint32_t lost = m_lostCount.load();
    statistic->uTotalFrames = good + lost;
    statistic->uGoodFrames = good;
    statistic->iLostFrames = static_cast<int>(lost);
    return CAMERA_STATUS_SUCCESS;
}

size_t CFrameBucket::PositionOf(const CFrameBuffer* frame) const {
    for (size_t i = 0; i < m_frameList.size(); ++i) {
        if (m_frameList[i].get() == frame) return i;
    }
    return kNone;
}

CFrameBufferShared CFrameBucket::GetEmptyFrame() {
    std::lock_guard lock(m_mutex);
    const size_t n = m_frameList.size();
    if (n == 0) return {};
    // Examine every buffer once in ring order, starting after the one written last and ending
    // with it: a buffer handed back unfilled must become usable again, or a two-buffer pool
    // would stall for good after one broken frame.
    const size_t start = m_lastWritten == kNone ? 0 : (m_lastWritten + 1) % n;
    for (size_t i = 0; i < n; ++i) {
        const size_t pos = (start + i) % n;
        CFrameBuffer& buffer = *m_frameList[pos];
        if (pos == m_newest || buffer.GetState() == CFrameBuffer::kFilling || buffer.HasReaders())
            continue;
        m_lastWritten = pos;
        buffer.ClearFill();
        buffer.SetState(CFrameBuffer::kFilling);
        return m_frameList[pos];
    }
    return {};
}

void CFrameBucket::PutFullFrame(const CFrameBufferShared& frame) {
    m_goodCount.fetch_add(1);
    {
        std::lock_guard lock(m_mutex);
        const size_t pos = PositionOf(frame.get());
        QV_ASSERT(pos != kNone);
        frame->SetState(CFrameBuffer::kFull);
        m_newest = pos;
        ++m_completed;
    }
    m_newFrame.notify_all();
}

void CFrameBucket::PutEmptyFrame(const CFrameBufferShared& frame) {
    if (!frame) return;
    std::lock_guard lock(m_mutex);
    frame->SetState(CFrameBuffer::kFree);
}

void CFrameBucket::SetStatus(int status) {
    std::lock_guard lock(m_mutex);
    m_status = status;
}

int CFrameBucket::GetStatus() {
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool CFrameBucket::ReleaseFrame(CFrameBuffer* frame) {
    if (frame == nullptr) return false;
    std::lock_guard lock(m_mutex);
    if (!frame->HasReaders()) return false;
    frame->RemoveReader();
    return true;
}

CFrameBufferShared CFrameBucket::TakeNewestLocked(CFrameBucketClient& client) {
    if (m_newest == kNone || m_completed == client.m_lastTaken) return {};
    client.m_lastTaken = m_completed;
    const CFrameBufferShared& frame = m_frameList[m_newest];
    frame->AddReader();
    return frame;
}

int CFrameBucket::GetFullFrame(CFrameBucketClient& client, CFrameBufferShared& frame,
                               int timeoutMs) {
    std::unique_lock lock(m_mutex);
    if (m_status != 0) return m_status;

    CFrameBufferShared taken = TakeNewestLocked(client);
    if (!taken && timeoutMs > 0) {
        // A steady deadline and a predicate: neither a spurious wake-up nor a wall-clock step
        // may end the wait early.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        m_newFrame.wait_until(
            lock, deadline, [&] { return m_newest != kNone && m_completed != client.m_lastTaken; });
        taken = TakeNewestLocked(client);
    }
    frame = taken;
    if (!taken) return CAMERA_STATUS_TIMEOUT;
    client.m_lastFrame = std::move(taken);
    return CAMERA_STATUS_SUCCESS;
}
