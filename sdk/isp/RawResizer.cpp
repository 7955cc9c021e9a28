#include "RawResizer.h"

namespace qv::isp {

namespace {
constexpr int64_t kOne = 4096;  // 1.0 in the weights' fixed point
}

int CRawResizer::Resize(const stImageInfo& srcInfo, const uint8_t* src, uint8_t* dst,
                        uint32_t dstWidth, uint32_t dstHeight) {
    if (!src || !dst) return CAMERA_STATUS_PARAMETER_INVALID;
    if (CAMERA_MEDIA_TYPE_BITS(srcInfo.uiMediaType) != 8) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint32_t W = srcInfo.iWidth;
    const uint32_t H = srcInfo.iHeight;
    if (W < 2 || H < 2 || dstWidth < 2 || dstHeight < 2) return CAMERA_STATUS_PARAMETER_INVALID;
    if (static_cast<uint64_t>(W) * H > srcInfo.TotalBytes) return CAMERA_STATUS_DATA_INVALID;

    const uint32_t cellsX = dstWidth / 2;
    const uint32_t cellsY = dstHeight / 2;
    const int64_t lastX = (W - 2) / 2;
    const int64_t lastY = (H - 2) / 2;
    const double scaleX = static_cast<double>(W) / dstWidth;
    const double scaleY = static_cast<double>(H) / dstHeight;

    if (m_cellX.size() < cellsX) {
        m_cellX.resize(cellsX);
        m_weightX.resize(cellsX);
    }
    for (uint32_t j = 0; j < cellsX; ++j) {
        const double x = scaleX * j;
        const int64_t cx = static_cast<int64_t>(x);
        if (cx < lastX) {
            m_cellX[j] = static_cast<int32_t>(cx);
            m_weightX[j] = static_cast<int32_t>((1.0 - (x - cx)) * kOne);
        } else {
            m_cellX[j] = static_cast<int32_t>(lastX);
            m_weightX[j] = static_cast<int32_t>(kOne);
        }
    }

    for (uint32_t i = 0; i < cellsY; ++i) {
        const double y = scaleY * i;
        int64_t cy = static_cast<int64_t>(y);
        int64_t top;
        if (cy < lastY) {
            top = static_cast<int64_t>((1.0 - (y - cy)) * kOne);
        } else {
            cy = lastY;
            top = kOne;
        }
        const int64_t bottom = kOne - top;
        for (int dy = 0; dy < 2; ++dy) {
            const uint8_t* row0 = src + static_cast<size_t>(2 * cy + dy) * W;
            // The row below carries weight only inside the frame; at the last cell it is 0 and
            // never read.
            const uint8_t* row1 = bottom ? row0 + 2 * static_cast<size_t>(W) : nullptr;
            uint8_t* out = dst + static_cast<size_t>(2 * i + dy) * dstWidth;
            for (uint32_t j = 0; j < cellsX; ++j) {
                const int64_t a = m_weightX[j];
                const size_t col = 2 * static_cast<size_t>(m_cellX[j]);
                for (int dx = 0; dx < 2; ++dx) {
                    const size_t c0 = col + dx;
                    // Up to 4096 x 4096 x 255: beyond 32-bit signed range, so 64-bit throughout.
                    int64_t left = top * row0[c0];
                    if (row1) left += bottom * row1[c0];
                    int64_t sum = a * left;
                    if (a != kOne) {
                        int64_t right = top * row0[c0 + 2];
                        if (row1) right += bottom * row1[c0 + 2];
                        sum += (kOne - a) * right;
                    }
                    out[2 * j + dx] = static_cast<uint8_t>(sum >> 24);
                }
            }
        }
    }
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qv::isp
