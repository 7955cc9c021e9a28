// CameraControl: frames for the host. The frame descriptor with the optional software resize,
// timestamps and frame numbers, and processed frames: the per-frame auto-exposure and
// white-balance steps and the pipeline into the caller's buffer or one the controller owns.
#include <algorithm>
#include <limits>
#include <new>

#include "control/CameraControl.h"
#include "common/Log.h"

namespace {

// Owned frame buffers are described by 32-bit sizes (TotalBytes of the descriptor), so no
// buffer grows beyond what one can hold.
constexpr uint64_t kMaxFrameBufferBytes = std::numeric_limits<uint32_t>::max();
// The processed output is at most 4 bytes per pixel (RGBA8, BGRA8); one buffer of that size
// serves every output format.
constexpr uint64_t kMaxOutputBytesPerPixel = 4;

}  // namespace

// ---- Owned buffers -----------------------------------------------------------------------------

bool CameraControl::GrowBuffer(std::unique_ptr<BYTE[]>& buffer, size_t& capacity, uint64_t bytes) {
    if (bytes == 0) bytes = 1;
    if (buffer && bytes <= capacity) return true;
    if (bytes > kMaxFrameBufferBytes) return false;
    // The old contents are not kept: every user overwrites the whole frame.
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[bytes]);
    if (!grown) return false;
    buffer = std::move(grown);
    capacity = static_cast<size_t>(bytes);
    return true;
}

void CameraControl::FreeFrameBuffers() {
    if (m_pResizeBuffer) {
        qv::Log("del m_pResizeBuffer:%p\n", static_cast<void*>(m_pResizeBuffer.get()));
        m_pResizeBuffer.reset();
    }
    m_resizeBufferSize = 0;
    if (mpRGBFrame) {
        qv::Log("del mpRGBFrame:%p\n", static_cast<void*>(mpRGBFrame.get()));
        mpRGBFrame.reset();
    }
    m_rgbFrameSize = 0;
}

// ---- Frame handles -----------------------------------------------------------------------------

bool CameraControl::IsPoolFrame(CameraFrameHandle frame) const {
    if (frame == nullptr || !m_frameBucket) return false;
    for (int i = 0; i < m_frameBucket->GetFrameCount(); ++i)
        if (m_frameBucket->GetFrameAt(i) == frame) return true;
    return false;
}

BYTE* CameraControl::CameraGetImageInfo(CameraFrameHandle frame, stImageInfo* info) {
    if (info == nullptr || frame == nullptr) return nullptr;
    ApiLock lock(m_apiMutex);
    if (!IsPoolFrame(frame)) return nullptr;
    auto* buffer = static_cast<CFrameBuffer*>(frame);
    stImageInfo head;
    buffer->GetImageInfo(&head);
    int room = 0;
    BYTE* data = buffer->GetData(&room);
    const uint32_t width = m_curResolution.uResizeWidth;
    const uint32_t height = m_curResolution.uResizeHeight;
    if (width == 0 || height == 0) {
        *info = head;
        return data;
    }
    if (data == nullptr ||
        !GrowBuffer(m_pResizeBuffer, m_resizeBufferSize, uint64_t{width} * height))
        return nullptr;
    // The resizer reads no more than the descriptor's byte count; a descriptor claiming more
    // than the buffer holds is held to the buffer.
    stImageInfo source = head;
    if (source.TotalBytes > static_cast<uint32_t>(room)) source.TotalBytes = room;
    if (m_resizer.Resize(source, data, m_pResizeBuffer.get(), width, height) !=
        CAMERA_STATUS_SUCCESS)
        return nullptr;
    head.iWidth = width;
    head.iHeight = height;
    head.TotalBytes = width * height;
    *info = head;
    return m_pResizeBuffer.get();
}

int CameraControl::CameraGetImageTimestamp(CameraFrameHandle frame, uint64_t* timestamp) {
    if (frame == nullptr || timestamp == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    if (!IsPoolFrame(frame)) return CAMERA_STATUS_PARAMETER_INVALID;
    *timestamp = static_cast<const CFrameBuffer*>(frame)->GetTimestamp();
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetImageFrameNo(CameraFrameHandle frame, uint64_t* frameNo) {
    if (frame == nullptr || frameNo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    if (!IsPoolFrame(frame)) return CAMERA_STATUS_PARAMETER_INVALID;
    *frameNo = static_cast<const CFrameBuffer*>(frame)->GetFrameNo();
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraResetTimestamp() {
    ApiLock lock(m_apiMutex);
    return ResetTimestamp();
}

int CameraControl::CameraGetFrameHead(stImageInfo* pImgInfo, int width, int height) {
    QV_ASSERT(pImgInfo);
    ApiLock lock(m_apiMutex);
    const int r = GetImageInfo(pImgInfo);
    if (width != 0 && height != 0) {
        pImgInfo->iWidth = static_cast<UINT>(width);
        pImgInfo->iHeight = static_cast<UINT>(height);
        pImgInfo->TotalBytes = static_cast<UINT>(width) * static_cast<UINT>(height);
    }
    return r;
}

// ---- Per-frame steps ---------------------------------------------------------------------------

// The settings these steps read and write are changed by the setters without the API mutex:
// each step copies them under the device mutex, measures without it, and stores its result
// under it again, unless a setter has taken the value over meanwhile.

void CameraControl::ProcessAe(const stImageInfo& info, const BYTE* raw) {
    if (FeatureWord(kSoftwareAeWord) == 0) return;
    uint32_t gains[3];
    uint32_t gain = 0;
    int32_t statistics = 0;
    {
        const DeviceHold hold = HoldDevice();
        const CameraSettings& s = m_param.settings;
        std::copy(s.rgbGain, s.rgbGain + 3, gains);
        gain = s.analogGain;
        statistics = m_param.aeProcessArg;
    }
    mExposure.SetWbGains(gains[0], gains[1], gains[2]);
    uint32_t lines = 0;
    mExposure.ProcessFrame(&info, raw, statistics, &lines, &gain);
    {
        // Only auto exposure owns the stored gain: with it off, the gain is the host's and a
        // frame taken before the host's last change must not take it back. The device gets
        // the result in the same hold, so a gain the host sets after it stays on the device.
        const DeviceHold hold = HoldDevice();
        CameraSettings& s = m_param.settings;
        if (s.aeState == 1) {
            s.analogGain = gain;
            if (lines != CameraExposure::ExposureLinesOf(info)) SetExposureLines(lines);
            if (gain != info.Gain) SetAnalogGain(gain);
        }
    }
    mExposure.GetBrightness(&m_brightness);
}

void CameraControl::ProcessAwb(const stImageInfo& info, const BYTE* raw) {
    uint32_t before[3];
    int32_t statistics = 0;
    {
        const DeviceHold hold = HoldDevice();
        std::copy(m_param.settings.rgbGain, m_param.settings.rgbGain + 3, before);
        statistics = m_param.awbProcessArg;
    }
    uint32_t gains[3] = {before[0], before[1], before[2]};
    mWb.ProcessFrame(raw, &info, &gains[0], &gains[1], &gains[2], statistics, m_brightness);
    // Gains the host set while this frame was measured are newer than its result.
    const DeviceHold hold = HoldDevice();
    uint32_t* stored = m_param.settings.rgbGain;
    if (std::equal(before, before + 3, stored)) std::copy(gains, gains + 3, stored);
}

void CameraControl::ProcessAeAwb(const stImageInfo& info, const BYTE* raw) {
    ProcessAe(info, raw);
    ProcessAwb(info, raw);
    // Through the one-push mutex: a one-push request made before this frame is waiting by now.
    { std::lock_guard once(m_onceWbMutex); }
    m_aeAwbDone.notify_all();
}

int CameraControl::ProcessIsp(const stImageInfo& in, BYTE* raw, stImageInfo* out, BYTE* outBuffer) {
    uint8_t red = 0, green1 = 0, green2 = 0, blue = 0;
    mExposure.GetFrameStatistics(&red, &green1, &green2, &blue);
    mIsp.SetFrameStatistics(red, green1, green2, blue);
    uint32_t gains[3];
    {
        const DeviceHold hold = HoldDevice();
        std::copy(m_param.settings.rgbGain, m_param.settings.rgbGain + 3, gains);
    }
    return mIsp.ProcessFrame(&in, raw, out, outBuffer, gains[0], gains[1], gains[2]);
}

int CameraControl::CameraGetOutImageBuffer(stImageInfo* info, BYTE* raw, BYTE* out) {
    if (info == nullptr || raw == nullptr || out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    const stImageInfo in = *info;
    ProcessAeAwb(in, raw);
    stImageInfo processed = in;
    const int r = ProcessIsp(in, raw, &processed, out);
    // A frame the pipeline did not write is reported as such; the caller's descriptor keeps
    // describing its raw frame.
    if (r == CAMERA_STATUS_SUCCESS) *info = processed;
    return r;
}

// ---- Processed frames --------------------------------------------------------------------------

BYTE* CameraControl::GetProcessedFrame(BYTE* out, stImageInfo* info, uint64_t* timestamp,
                                       int timeoutMs) {
    // In callback mode the capture thread takes the frames.
    if (m_callbackSet) return nullptr;
    CameraFrameHandle frame = nullptr;
    if (CameraGetRawImageBuffer(&frame, timeoutMs) != CAMERA_STATUS_SUCCESS) return nullptr;

    // One hold from the descriptor to the release: the resized frame and the owned output
    // belong to this call until it returns.
    ApiLock lock(m_apiMutex);
    stImageInfo head{};
    BYTE* data = CameraGetImageInfo(frame, &head);
    BYTE* target = out;
    if (data != nullptr && target == nullptr) {
        const uint64_t pixels = uint64_t{head.iWidth} * head.iHeight;
        if (pixels <= kMaxFrameBufferBytes / kMaxOutputBytesPerPixel &&
            GrowBuffer(mpRGBFrame, m_rgbFrameSize, pixels * kMaxOutputBytesPerPixel))
            target = mpRGBFrame.get();
    }
    const uint64_t stamp = static_cast<const CFrameBuffer*>(frame)->GetTimestamp();
    const int r = data != nullptr && target != nullptr
                      ? CameraGetOutImageBuffer(&head, data, target)
                      : CAMERA_STATUS_FAILED;
    CameraReleaseFrameHandle(frame);
    if (r != CAMERA_STATUS_SUCCESS) return nullptr;
    if (info != nullptr) *info = head;
    if (timestamp != nullptr) *timestamp = stamp;
    return target;
}

int CameraControl::CameraGetImageBufferEx2(BYTE* out, stImageInfo* info, uint64_t* timestamp,
                                           int timeoutMs) {
    if (m_callbackSet) return CAMERA_STATUS_FAILED;
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return GetProcessedFrame(out, info, timestamp, timeoutMs) != nullptr ? CAMERA_STATUS_SUCCESS
                                                                         : CAMERA_STATUS_FAILED;
}

int CameraControl::CameraGetImageBufferEx1(BYTE* out, stImageInfo* info, int timeoutMs) {
    return CameraGetImageBufferEx2(out, info, nullptr, timeoutMs);
}

BYTE* CameraControl::CameraGetImageBufferEx3(stImageInfo* info, uint64_t* timestamp,
                                             int timeoutMs) {
    return GetProcessedFrame(nullptr, info, timestamp, timeoutMs);
}

BYTE* CameraControl::CameraGetImageBufferEx(stImageInfo* info, int timeoutMs) {
    return GetProcessedFrame(nullptr, info, nullptr, timeoutMs);
}
