// Image files and AVI recording of frames the host holds.
#include <climits>
#include <cstdio>
#include <new>

#include "common/Log.h"
#include "control/CameraControl.h"
#include "control/ImageHeadRules.h"
#include "imagefile/AviWriter.h"
#include "imagefile/BmpImageFile.h"
#include "imagefile/JpegImageFile.h"
#include "imagefile/PixelRows.h"
#include "imagefile/PngImageFile.h"
#include "imagefile/RawImageFile.h"

namespace {

// The file name: the caller's path with the extension, in a buffer of this size.
constexpr size_t kFileNameBytes = 264;
// A recording stops before its file would pass this size.
constexpr uint64_t kRecordLimitBytes = 0x80000000;

constexpr int kTypeJpeg = 1;
constexpr int kTypeBmp = 2;
constexpr int kTypeRaw = 4;
constexpr int kTypePng = 8;

// A frame size the writers can take: both sides positive as ints.
bool ValidSize(const stImageInfo& head) {
    return head.iWidth > 0 && head.iHeight > 0 && head.iWidth <= INT_MAX && head.iHeight <= INT_MAX;
}

}  // namespace

int CameraControl::CameraSaveImage(const char* path, const BYTE* image, const stImageInfo* head,
                                   int type, int quality) {
    // An empty name would write a hidden file named after the extension in the working folder.
    if (image == nullptr || head == nullptr || path == nullptr || path[0] == '\0')
        return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    const char* extension = nullptr;
    switch (type) {
        case kTypeRaw:
            // Raw and mono codes only (top byte 1): a colour frame has no raw form.
            if ((head->uiMediaType & CAMERA_MEDIA_TYPE_MONO_FLAG) == 0)
                return CAMERA_STATUS_PARAMETER_INVALID;
            extension = "raw";
            break;
        case kTypeBmp:
            extension = "bmp";
            break;
        case kTypePng:
            extension = "png";
            break;
        case kTypeJpeg:
            extension = "jpg";
            break;
        default:
            return CAMERA_STATUS_PARAMETER_INVALID;
    }
    if (!ValidSize(*head)) return CAMERA_STATUS_PARAMETER_INVALID;
    char name[kFileNameBytes];
    const int length = std::snprintf(name, sizeof name, "%s.%s", path, extension);
    if (length < 0 || static_cast<size_t>(length) >= sizeof name)
        return CAMERA_STATUS_PARAMETER_INVALID;

    // A raw file is the head's bytes as they are; the other writers read width x height pixels.
    if (type != kTypeRaw) {
        const qv::imagefile::PixelLayout layout = qv::imagefile::LayoutOf(head->uiMediaType);
        if (layout != qv::imagefile::PixelLayout::kUnknown &&
            !qv::control::HeadHoldsItsImage(*head, qv::imagefile::InputBytesPerPixel(layout)))
            return CAMERA_STATUS_PARAMETER_INVALID;
    }
    const int width = static_cast<int>(head->iWidth);
    const int height = static_cast<int>(head->iHeight);
    switch (type) {
        case kTypeRaw:
            return SaveRawImage(image, name, head->TotalBytes);
        case kTypeBmp:
            return SaveBmpImage(image, name, width, height, head->uiMediaType);
        case kTypePng:
            return SavePngImage(image, name, width, height, head->uiMediaType);
        default:
            return SaveJpegImage(image, name, width, height, head->uiMediaType, quality);
    }
}

int CameraControl::CameraStartRecord(const char* path, int format, int quality, int frameRate) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    // One recording per camera: an earlier one is finished so that its file plays.
    FinishRecording();
    m_aviFormat = format;
    m_aviQuality = quality;
    m_aviFrameRate = frameRate;
    m_pAviFile = AviWriter::Open(path);
    if (!m_pAviFile) {
        qv::Log("open avi file failed\n");
        return CAMERA_STATUS_FILE_OPEN_FAILED;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraPushOneFrame(const BYTE* image, const stImageInfo* head) {
    using namespace qv::imagefile;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (!m_pAviFile) {
        qv::Log("the record is not start, push frame to record file failed\n");
        return CAMERA_STATUS_FAILED;
    }
    if (image == nullptr || head == nullptr || !ValidSize(*head))
        return CAMERA_STATUS_PARAMETER_INVALID;
    // Checked before the stream is stated, so a refused frame leaves the recording as it was.
    const PixelLayout layout = LayoutOf(head->uiMediaType);
    if (layout != PixelLayout::kUnknown &&
        !qv::control::HeadHoldsItsImage(*head, InputBytesPerPixel(layout)))
        return CAMERA_STATUS_PARAMETER_INVALID;
    const int width = static_cast<int>(head->iWidth);
    const int height = static_cast<int>(head->iHeight);
    // Until a frame is in the file, each frame (re)states the stream.
    if (m_pAviFile->VideoFrames() == 0 &&
        m_pAviFile->SetVideo(width, height, m_aviFrameRate, "RGB") != 0) {
        qv::Log("write frame to avi file failed\n");
        return CAMERA_STATUS_FILE_IO_FAILED;
    }
    if (width != m_pAviFile->VideoWidth() || height != m_pAviFile->VideoHeight()) {
        qv::Log("frame size error, the width or height of frame is changed.\n");
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    if (layout == PixelLayout::kUnknown) return CAMERA_STATUS_NOT_SUPPORTED;
    uint64_t bytes = 0;
    if (!ImageBytes(width, height, 3, &bytes) ||
        bytes + static_cast<uint64_t>(m_pAviFile->WritePosition()) > kRecordLimitBytes)
        return CAMERA_STATUS_FILE_TOO_LARGE;

    if (m_aviFrameBufferSize != bytes) {
        m_pAviFrameBuffer.reset(new (std::nothrow) BYTE[bytes]);
        m_aviFrameBufferSize = m_pAviFrameBuffer ? bytes : 0;
        if (!m_pAviFrameBuffer) return CAMERA_STATUS_FAILED;
    }
    // The file stores rows bottom to top.
    const size_t inRow = static_cast<size_t>(width) * InputBytesPerPixel(layout);
    const size_t outRow = static_cast<size_t>(width) * 3;
    for (size_t r = 0; r < static_cast<size_t>(height); ++r)
        RowToBgr24(layout, image + r * inRow, static_cast<size_t>(width),
                   m_pAviFrameBuffer.get() + (static_cast<size_t>(height) - 1 - r) * outRow);

    if (m_pAviFile->WriteFrame(m_pAviFrameBuffer.get(), static_cast<uint32_t>(bytes), true) != 0) {
        qv::Log("write frame to avi file failed\n");
        return CAMERA_STATUS_FILE_IO_FAILED;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraStopRecord() {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (!m_pAviFile) {
        qv::Log("the record is not start, push frame to record file failed\n");
        return CAMERA_STATUS_FAILED;
    }
    return FinishRecording() == 0 ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FILE_IO_FAILED;
}

int CameraControl::FinishRecording() {
    m_pAviFrameBuffer.reset();
    m_aviFrameBufferSize = 0;
    if (!m_pAviFile) return 0;
    const int r = m_pAviFile->Close();
    m_pAviFile.reset();
    return r;
}
