// CameraControl: the dead-pixel finder and the camera's dead-pixel table (storage/BadPixelTable.h
// has its layout).
//
// No controller lock: the position storage handed out is guarded by the device mutex, which
// also keeps a table being written or read whole against another on the same camera.
#include <cstring>
#include <new>
#include <vector>

#include "control/CameraControl.h"
#include "storage/BadPixelTable.h"

namespace {

// The finder stops where the table is full.
constexpr uint32_t kMaxPositions = kBadPixelMaxCount;
// Positions keep x and y in 16 bits each.
constexpr uint32_t kMaxSide = 0x10000;

constexpr uint32_t kMono16A = 0x01100005;
constexpr uint32_t kMono16B = 0x01100007;

template <typename Sample>
void MarkFrame(const BYTE* image, size_t pixels, int64_t reference, int64_t threshold,
               std::vector<uint8_t>& marks) {
    for (size_t i = 0; i < pixels; ++i) {
        Sample v;
        std::memcpy(&v, image + i * sizeof(Sample), sizeof v);
        const int64_t d = static_cast<int64_t>(v) - reference;
        marks[i] = (d < 0 ? -d : d) > threshold ? 1 : 0;
    }
}

}  // namespace

void CameraControl::PublishDeadPixels(const uint32_t* positions, uint32_t count,
                                      tSdkDeadPixelList* out) {
    out->count = count;
    out->positions = nullptr;
    if (count == 0) return;
    if (m_deadPixels.size() < count) m_deadPixels.resize(count);
    std::memcpy(m_deadPixels.data(), positions, size_t{count} * sizeof(uint32_t));
    out->positions = m_deadPixels.data();
}

int CameraControl::CameraFindDeadPixels(const BYTE* image, const stImageInfo* info, int reference,
                                        int threshold, tSdkDeadPixelList* out) {
    if (image == nullptr || info == nullptr || out == nullptr)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const uint32_t width = info->iWidth, height = info->iHeight;
    if (width > kMaxSide || height > kMaxSide) return CAMERA_STATUS_PARAMETER_INVALID;
    const size_t pixels = size_t{width} * height;

    std::vector<uint8_t> marks;
    std::vector<uint32_t> found;
    try {
        marks.resize(pixels);
        switch (info->uiMediaType) {
            case CAMERA_MEDIA_TYPE_MONO8:
                MarkFrame<uint8_t>(image, pixels, reference, threshold, marks);
                break;
            case kMono16A:
            case kMono16B:
                MarkFrame<uint16_t>(image, pixels, reference, threshold, marks);
                break;
            default:
                return CAMERA_STATUS_NOT_SUPPORTED;
        }
        // A pixel is listed when its 3 x 3 neighbourhood (itself included) holds two marked
        // pixels: a lone outlier is noise, a pair is a defect. Column sums of three rows make
        // each neighbourhood three additions.
        std::vector<uint8_t> column(width);
        for (uint32_t y = 1; y + 1 < height && found.size() < kMaxPositions; ++y) {
            const uint8_t* above = marks.data() + size_t{y - 1} * width;
            const uint8_t* row = above + width;
            const uint8_t* below = row + width;
            for (uint32_t x = 0; x < width; ++x)
                column[x] = static_cast<uint8_t>(above[x] + row[x] + below[x]);
            for (uint32_t x = 1; x + 1 < width; ++x) {
                if (column[x - 1] + column[x] + column[x + 1] < 2) continue;
                found.push_back(y << 16 | x);
                // The table holds no more: the scan ends here.
                if (found.size() == kMaxPositions) break;
            }
        }
    } catch (const std::bad_alloc&) {
        return CAMERA_STATUS_FAILED;
    }
    const DeviceHold hold = HoldDevice();
    PublishDeadPixels(found.data(), static_cast<uint32_t>(found.size()), out);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSaveDeadPixels(const tSdkDeadPixelList* list) {
    if (list == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    // An empty list or one longer than the table holds is refused before anything is written.
    return WriteBadPixelList(*this, list->positions, list->count);
}

int CameraControl::CameraLoadDeadPixels(tSdkDeadPixelList* out) {
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(out, 0, sizeof *out);
    const DeviceHold hold = HoldDevice();
    // A count the table area cannot hold is damage, not a list: nothing is read behind it.
    std::vector<uint32_t> positions;
    const int r = ReadBadPixelList(*this, positions);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    PublishDeadPixels(positions.data(), static_cast<uint32_t>(positions.size()), out);
    return CAMERA_STATUS_SUCCESS;
}
