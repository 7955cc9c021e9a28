// CLibUsbFrameReceiver: turns a USB camera's bulk IN endpoint into whole frames in the
// controller's frame pool. It keeps one bulk transfer in flight while running and reads each
// frame straight into a pool buffer, in chunks of at most 5 MiB; a chunk that comes back short
// ends the frame (the camera ends every frame with a short packet), so reading finds the next
// frame boundary by itself.
//
// Completions run on the libusb event thread; everything else on the caller's thread. The camera
// creates the receiver at stream open, starts and stops it through the capture operations and
// destroys it at stream close (Stop, CloseStream, Close, delete).
//
// What a frame that cannot be delivered does to the stream:
//   - no free pool buffer: the frame is still read, into a scratch block, and counted lost, so a
//     transfer stays in flight and frames flow again as soon as the host gives a buffer back;
//   - a short chunk with data, or a frame whose next chunk cannot be submitted: counted lost;
//   - a failed or cancelled transfer, or one that ends after Stop: dropped without counting.
//
// Locking: m_mutex guards both slot lists and every slot, the counters, m_isRun, m_inFlight,
// m_stale and the producer pointer; it is the only lock taken around the transfer. The caller's
// thread and the event thread both take it; nothing that waits for the event thread runs while
// it is held, and CloseStream lets it go during each wait. The pool's own lock and the camera's
// frame-description lock are taken inside it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "usb/LibUsbFrame.h"

struct libusb_device_handle;
struct libusb_transfer;
class CFrameBucketProducer;
class CLibUsbCamera;

class CLibUsbFrameReceiver {
  public:
    static constexpr uint32_t kDefaultFrameCount = 6;
    static constexpr uint32_t kMaxFrameCount = 10;

    // frameSize: bytes per frame (image and header); bufferSize: capacity asked of each pool
    // buffer; headerSize: 16 or 0; frameCount 0 means kDefaultFrameCount. The camera, handle and
    // transfer are the camera's and must outlive the receiver.
    CLibUsbFrameReceiver(CLibUsbCamera* camera, libusb_device_handle* handle,
                         libusb_transfer* transfer, uint32_t frameSize, uint32_t bufferSize,
                         uint32_t headerSize, uint32_t frameCount);
    // Close must have run (nothing in flight).
    ~CLibUsbFrameReceiver();
    CLibUsbFrameReceiver(const CLibUsbFrameReceiver&) = delete;
    CLibUsbFrameReceiver& operator=(const CLibUsbFrameReceiver&) = delete;

    // The frame slots and the scratch block; CAMERA_STATUS_FAILED for an empty frame or when the
    // memory is not there.
    int CreateFramePool();
    // Posts status 0 into the pool (the stream is up) and keeps the producer; null: frames are
    // read and dropped.
    void SetProducer(CFrameBucketProducer* producer);

    // Begins reading (the frame counter restarts at 0); 0.
    int Start();
    // Ends reading: a transfer in flight completes (or is cancelled at CloseStream) and its
    // frame is dropped.
    void Stop();
    // Pool slots, 1 to 10: CAMERA_STATUS_PARAMETER_INVALID outside, CAMERA_STATUS_BUSY while
    // running.
    int SetFrameCount(unsigned count);
    int GetFrameCount(int* count);
    // After Stop: cancels the transfer in flight and waits until it has completed.
    void CloseStream();
    // After CloseStream: frees the slots.
    void Close();

    // ---- Observed by tests ----
    bool IsRunning();
    bool TransferInFlight();
    size_t SlotCount();

  private:
    // All below with m_mutex held.
    // Submits the next chunk of the frame in filling, or begins a frame; 0 when a transfer is
    // (or already was) in flight.
    int ReadNext();
    int BeginFrame();
    // Submits the chunk of f at m_chunkIndex.
    int Read(CLibUsbFrame* f);
    // Gives the filling frame's buffer back and returns its slot to the free list.
    void EndFillingFrame();
    void DeliverFrame(CLibUsbFrame* f);
    void ReceiveFrameCb(CLibUsbFrame* f, libusb_transfer* transfer);
    static void TransferCallback(libusb_transfer* transfer);

    CLibUsbCamera* const m_camera;
    libusb_device_handle* const m_handle;
    libusb_transfer* const m_transfer;  // touched only with m_mutex held
    CFrameBucketProducer* m_producer = nullptr;

    std::mutex m_mutex;              // see the header comment
    std::condition_variable m_idle;  // m_inFlight went false
    // Slots are moved between the lists with splice, so a frame allocates nothing.
    std::list<std::unique_ptr<CLibUsbFrame>> m_freeList;
    std::list<std::unique_ptr<CLibUsbFrame>> m_fillingList;  // at most one
    bool m_isRun = false;
    bool m_inFlight = false;  // the transfer is submitted and its callback has not run
    // The transfer in flight was submitted before the last Stop: its frame is dropped.
    bool m_stale = false;
    uint32_t m_frameCounter = 0;  // frames begun since Start
    const uint32_t m_frameSize;
    const uint32_t m_bufferSize;
    const uint32_t m_headerSize;
    uint32_t m_frameCount;
    // Where the chunks of a frame without a pool buffer go: one chunk's worth, reused.
    std::unique_ptr<uint8_t[]> m_scratch;
};
