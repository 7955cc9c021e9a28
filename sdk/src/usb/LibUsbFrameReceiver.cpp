#include "usb/LibUsbFrameReceiver.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "frames/FrameBucket.h"
#include "common/Log.h"
#include "usb/LibUsbCamera.h"
#include "usb/UsbFrameHeader.h"

namespace {

// How often CloseStream asks libusb again to cancel while it waits for the completion.
constexpr auto kCancelRetry = std::chrono::milliseconds(10);

uint64_t SteadyMicroseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

CLibUsbFrameReceiver::CLibUsbFrameReceiver(CLibUsbCamera* camera, libusb_device_handle* handle,
                                           libusb_transfer* transfer, uint32_t frameSize,
                                           uint32_t bufferSize, uint32_t headerSize,
                                           uint32_t frameCount)
    : m_camera(camera),
      m_handle(handle),
      m_transfer(transfer),
      m_frameSize(frameSize),
      m_bufferSize(bufferSize),
      m_headerSize(headerSize),
      m_frameCount(frameCount != 0 ? frameCount : kDefaultFrameCount) {}

CLibUsbFrameReceiver::~CLibUsbFrameReceiver() {
    std::lock_guard lock(m_mutex);
    QV_ASSERT(!m_inFlight);
}

int CLibUsbFrameReceiver::CreateFramePool() {
    std::lock_guard lock(m_mutex);
    if (m_frameSize == 0 || m_bufferSize < m_frameSize) return CAMERA_STATUS_FAILED;
    m_scratch.reset(new (std::nothrow) uint8_t[std::min(m_frameSize, CLibUsbFrame::kMaxChunkSize)]);
    if (!m_scratch) return CAMERA_STATUS_FAILED;
    for (uint32_t i = 0; i < m_frameCount; ++i)
        m_freeList.push_back(std::make_unique<CLibUsbFrame>(this));
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbFrameReceiver::SetProducer(CFrameBucketProducer* producer) {
    std::lock_guard lock(m_mutex);
    if (producer != nullptr) producer->SetStatus(CAMERA_STATUS_SUCCESS);
    m_producer = producer;
}

// ---- Start, stop, pool size ------------------------------------------------------------------

int CLibUsbFrameReceiver::Start() {
    std::lock_guard lock(m_mutex);
    m_frameCounter = 0;
    m_isRun = true;
    // A transfer from before the last Stop may still be in flight: libusb forbids touching it,
    // and its completion submits the next read.
    ReadNext();
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbFrameReceiver::Stop() {
    std::lock_guard lock(m_mutex);
    if (!m_isRun) return;
    m_isRun = false;
    if (m_inFlight) m_stale = true;
    qv::Log("Stop usb stream\r\n");
}

int CLibUsbFrameReceiver::SetFrameCount(unsigned count) {
    std::lock_guard lock(m_mutex);
    if (m_isRun) return CAMERA_STATUS_BUSY;
    if (count < 1 || count > kMaxFrameCount) return CAMERA_STATUS_PARAMETER_INVALID;
    m_frameCount = count;
    while (m_freeList.size() > count) m_freeList.pop_back();
    while (m_freeList.size() < count) m_freeList.push_back(std::make_unique<CLibUsbFrame>(this));
    return CAMERA_STATUS_SUCCESS;
}

int CLibUsbFrameReceiver::GetFrameCount(int* count) {
    if (count == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mutex);
    *count = static_cast<int>(m_frameCount);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Close ---------------------------------------------------------------------------------

void CLibUsbFrameReceiver::CloseStream() {
    std::unique_lock lock(m_mutex);
    QV_ASSERT(m_isRun == false);
    // The wait ends with the completion, not with the fill state: a frame whose next chunk could
    // not be submitted has no transfer left to wait for.
    while (m_inFlight) {
        libusb_cancel_transfer(m_transfer);
        m_idle.wait_for(lock, kCancelRetry, [this] { return !m_inFlight; });
    }
    if (!m_fillingList.empty()) EndFillingFrame();
    m_stale = false;
    qv::Log("LibUsbFrameReceiver close stream\n");
}

void CLibUsbFrameReceiver::Close() {
    std::lock_guard lock(m_mutex);
    QV_ASSERT(m_fillingList.empty());
    m_freeList.clear();
    m_scratch.reset();
}

bool CLibUsbFrameReceiver::IsRunning() {
    std::lock_guard lock(m_mutex);
    return m_isRun;
}

bool CLibUsbFrameReceiver::TransferInFlight() {
    std::lock_guard lock(m_mutex);
    return m_inFlight;
}

size_t CLibUsbFrameReceiver::SlotCount() {
    std::lock_guard lock(m_mutex);
    return m_freeList.size() + m_fillingList.size();
}

// ---- Reading -------------------------------------------------------------------------------

int CLibUsbFrameReceiver::Read(CLibUsbFrame* f) {
    const uint32_t offset = f->m_chunkSize * f->m_chunkIndex;
    const uint32_t length = std::min(f->m_chunkSize, f->FrameSize() - offset);
    uint8_t* data = nullptr;
    if (f->IsDraining()) {
        data = m_scratch.get();  // every chunk over the last: the data is not kept
    } else {
        uint32_t capacity = 0;
        uint8_t* base = f->GetFrameBuf()->GetBuffer(&capacity);
        QV_ASSERT(base != nullptr && capacity > 0);
        QV_ASSERT(offset + length <= capacity);
        data = base + offset;
    }
    f->m_expectLen = length;
    libusb_fill_bulk_transfer(m_transfer, m_handle, qv::usb::kBulkInEndpoint, data,
                              static_cast<int>(length), &CLibUsbFrameReceiver::TransferCallback, f,
                              0);
    if (libusb_submit_transfer(m_transfer) != LIBUSB_SUCCESS) return CAMERA_STATUS_FAILED;
    m_inFlight = true;
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbFrameReceiver::EndFillingFrame() {
    CLibUsbFrame* f = m_fillingList.front().get();
    if (f->GetFrameBuf() && m_producer != nullptr) m_producer->PutEmptyFrame(f->GetFrameBuf());
    f->DetachFrameBuf();
    m_freeList.splice(m_freeList.end(), m_fillingList, m_fillingList.begin());
}

int CLibUsbFrameReceiver::ReadNext() {
    if (m_inFlight) return CAMERA_STATUS_SUCCESS;
    if (!m_fillingList.empty()) {
        CLibUsbFrame* f = m_fillingList.front().get();
        if (f->m_chunkIndex < f->m_chunkCount && Read(f) == CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_SUCCESS;
        // The rest of the frame cannot be asked for (the camera may be gone, or usbfs out of
        // memory): the frame is lost, and nothing would ever complete for it.
        qv::Log("Prepare to read usb frame failed\n");
        if (m_producer != nullptr && f->m_received > 0) m_producer->AddLostFrames(1);
        EndFillingFrame();
    }
    return BeginFrame();
}

int CLibUsbFrameReceiver::BeginFrame() {
    if (m_freeList.empty()) return CAMERA_STATUS_FAILED;
    CLibUsbFrame* f = m_freeList.front().get();
    CFrameBufferShared buffer = m_producer != nullptr ? m_producer->GetEmptyFrame() : nullptr;
    if (buffer && !buffer->Reserve(static_cast<int>(m_frameSize), m_bufferSize)) {
        m_producer->PutEmptyFrame(buffer);
        buffer.reset();
    }
    f->m_frameNo = m_frameCounter;
    if (buffer) {
        buffer->SetFrameNo(static_cast<int>(m_frameCounter));
        f->AttachFrameBuf(std::move(buffer));
    } else {
        f->AttachDrain(m_frameSize);
    }
    ++m_frameCounter;
    if (Read(f) != CAMERA_STATUS_SUCCESS) {
        qv::Log("Prepare to read usb frame failed\n");
        if (f->GetFrameBuf() && m_producer != nullptr) m_producer->PutEmptyFrame(f->GetFrameBuf());
        f->DetachFrameBuf();
        m_freeList.splice(m_freeList.end(), m_freeList, m_freeList.begin());
        return CAMERA_STATUS_FAILED;
    }
    m_fillingList.splice(m_fillingList.end(), m_freeList, m_freeList.begin());
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbFrameReceiver::DeliverFrame(CLibUsbFrame* f) {
    const CFrameBufferShared& buffer = f->GetFrameBuf();
    stImageInfo info{};
    m_camera->GetFrameInfo(&info);
    uint64_t timestamp = 0;
    uint32_t frameNo = 0;
    if (m_headerSize == qv::usb::kFrameHeaderSize) {
        qv::usb::FrameHeader header;
        const bool parsed = qv::usb::ParseFrameHeader(buffer->GetBuffer(), f->m_received, &header);
        QV_ASSERT(parsed);  // a whole frame holds at least its header
        timestamp = header.timestamp;
        frameNo = header.FrameNo32();
        buffer->SetDataOffset(static_cast<int>(m_headerSize));
    } else {
        // The camera numbers nothing: frames are counted from Start, this one included.
        timestamp = SteadyMicroseconds();
        frameNo = m_frameCounter;
        buffer->SetDataOffset(0);
    }
    buffer->SetFilledSize(static_cast<int>(f->m_received));
    buffer->SetImageInfo(info, timestamp);
    buffer->SetFrameNo(static_cast<int>(frameNo));
    m_producer->PutFullFrame(buffer);
}

void CLibUsbFrameReceiver::TransferCallback(libusb_transfer* transfer) {
    auto* f = static_cast<CLibUsbFrame*>(transfer->user_data);
    f->receiver->ReceiveFrameCb(f, transfer);
}

void CLibUsbFrameReceiver::ReceiveFrameCb(CLibUsbFrame* f, libusb_transfer* transfer) {
    std::lock_guard lock(m_mutex);
    QV_ASSERT(!m_fillingList.empty());
    QV_ASSERT(m_fillingList.front().get() == f);
    QV_ASSERT(f->IsDraining() || f->GetFrameBuf()->GetFrameNo() == f->m_frameNo);
    m_inFlight = false;
    const bool stale = m_stale;
    m_stale = false;

    const uint32_t actual =
        transfer->actual_length > 0 ? static_cast<uint32_t>(transfer->actual_length) : 0;
    if (transfer->status != LIBUSB_TRANSFER_COMPLETED || !m_isRun || stale) {
        // Cancelled, failed, or asked for before a Stop: nothing of it makes a frame.
        EndFillingFrame();
    } else if (actual == f->m_expectLen) {
        f->m_received += actual;
        if (f->m_received < f->FrameSize()) {
            ++f->m_chunkIndex;  // the frame stays in filling
        } else if (f->IsDraining()) {
            // Read whole, but there was no pool buffer to put it in.
            if (m_producer != nullptr) m_producer->AddLostFrames(1);
            EndFillingFrame();
        } else {
            DeliverFrame(f);
            f->DetachFrameBuf();
            m_freeList.splice(m_freeList.end(), m_fillingList, m_fillingList.begin());
        }
    } else {
        // Cut short: the camera ended the frame early, or this read began inside a frame whose
        // start was lost. A read that brought nothing lost nothing.
        if (actual > 0 && m_producer != nullptr) m_producer->AddLostFrames(1);
        EndFillingFrame();
    }
    if (m_isRun) ReadNext();
    // With the lock held: once CloseStream sees the transfer idle it may destroy the receiver.
    if (!m_inFlight) m_idle.notify_all();
}
