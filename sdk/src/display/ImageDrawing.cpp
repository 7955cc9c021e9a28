#include "display/ImageDrawing.h"

#include <algorithm>

namespace qv::display {

namespace {

constexpr uint32_t kRgbOrderCode = 0x14;
constexpr uint32_t kBgrOrderCode = 0x15;

}  // namespace

bool OverlayTarget(uint8_t* image, const stImageInfo& head, DrawTarget* t) {
    const uint32_t bits = CAMERA_MEDIA_TYPE_BITS(head.uiMediaType);
    const uint32_t order = head.uiMediaType & 0xFF;
    if (image == nullptr || (bits != 24 && bits != 32) ||
        (order != kRgbOrderCode && order != kBgrOrderCode))
        return false;
    if (head.iWidth == 0 || head.iHeight == 0 || head.iWidth > INT32_MAX ||
        head.iHeight > INT32_MAX)
        return false;
    *t = DrawTarget{image,
                    static_cast<int>(head.iWidth),
                    static_cast<int>(head.iHeight),
                    bits / 8,
                    3,
                    order == kRgbOrderCode,
                    false};
    return true;
}

bool TextTarget(uint8_t* image, const stImageInfo& head, DrawTarget* t) {
    if (image == nullptr || head.iWidth == 0 || head.iHeight == 0 || head.iWidth > INT32_MAX ||
        head.iHeight > INT32_MAX)
        return false;
    const uint32_t bits = CAMERA_MEDIA_TYPE_BITS(head.uiMediaType);
    const uint32_t order = head.uiMediaType & 0xFF;
    const unsigned pixelBytes = std::max(1u, bits / 8);
    const bool ordered = pixelBytes >= 3 && (order == kRgbOrderCode || order == kBgrOrderCode);
    *t = DrawTarget{image,      static_cast<int>(head.iWidth), static_cast<int>(head.iHeight),
                    pixelBytes, std::min(3u, pixelBytes),      order == kRgbOrderCode,
                    !ordered};
    return true;
}

void PutPixel(const DrawTarget& t, int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= t.width || y >= t.height) return;
    uint8_t* p =
        t.data + (static_cast<size_t>(y) * static_cast<size_t>(t.width) + static_cast<size_t>(x)) *
                     t.pixelBytes;
    if (t.black) {
        for (unsigned i = 0; i < t.colourBytes; ++i) p[i] = 0;
        return;
    }
    const uint8_t r = static_cast<uint8_t>(colour);
    const uint8_t g = static_cast<uint8_t>(colour >> 8);
    const uint8_t b = static_cast<uint8_t>(colour >> 16);
    p[0] = t.rgbOrder ? r : b;
    p[1] = g;
    p[2] = t.rgbOrder ? b : r;
}

void DrawRow(const DrawTarget& t, int y, int x0, int x1, uint32_t colour) {
    if (y < 0 || y >= t.height) return;
    for (int x = std::max(x0, 0); x <= std::min(x1, t.width - 1); ++x) PutPixel(t, x, y, colour);
}

void DrawColumn(const DrawTarget& t, int x, int y0, int y1, uint32_t colour) {
    if (x < 0 || x >= t.width) return;
    for (int y = std::max(y0, 0); y <= std::min(y1, t.height - 1); ++y) PutPixel(t, x, y, colour);
}

void DrawRectangle(const DrawTarget& t, int left, int top, int right, int bottom, uint32_t colour) {
    DrawRow(t, top, left, right, colour);
    DrawRow(t, bottom, left, right, colour);
    DrawColumn(t, left, top, bottom, colour);
    DrawColumn(t, right, top, bottom, colour);
}

void PaintMask(const DrawTarget& t, const unsigned char* mask, int width, int height, int x, int y,
               uint32_t colour) {
    if (mask == nullptr || width <= 0 || height <= 0) return;
    // Only the part of the mask that falls on the image.
    const int64_t i0 = std::max<int64_t>(0, -static_cast<int64_t>(y));
    const int64_t i1 = std::min<int64_t>(height, static_cast<int64_t>(t.height) - y);
    const int64_t j0 = std::max<int64_t>(0, -static_cast<int64_t>(x));
    const int64_t j1 = std::min<int64_t>(width, static_cast<int64_t>(t.width) - x);
    for (int64_t i = i0; i < i1; ++i)
        for (int64_t j = j0; j < j1; ++j)
            if (mask[i * width + j] != 0)
                PutPixel(t, static_cast<int>(x + j), static_cast<int>(y + i), colour);
}

}  // namespace qv::display
