#include "imagefile/PixelRows.h"

#include <cstring>

#include "QVDeviceDef.h"

namespace qv::imagefile {

PixelLayout LayoutOf(uint32_t mediaType) {
    switch (mediaType) {
        case CAMERA_MEDIA_TYPE_MONO8:
            return PixelLayout::kMono8;
        case CAMERA_MEDIA_TYPE_MONO12_16:
            return PixelLayout::kMono12;
        case CAMERA_MEDIA_TYPE_RGB8:
            return PixelLayout::kRgb8;
        case CAMERA_MEDIA_TYPE_BGR8:
            return PixelLayout::kBgr8;
        case CAMERA_MEDIA_TYPE_RGBA8:
            return PixelLayout::kRgba8;
        case CAMERA_MEDIA_TYPE_BGRA8:
            return PixelLayout::kBgra8;
        default:
            return PixelLayout::kUnknown;
    }
}

unsigned InputBytesPerPixel(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::kMono8:
            return 1;
        case PixelLayout::kMono12:
            return 2;
        case PixelLayout::kRgb8:
        case PixelLayout::kBgr8:
            return 3;
        case PixelLayout::kRgba8:
        case PixelLayout::kBgra8:
            return 4;
        case PixelLayout::kUnknown:
            break;
    }
    return 0;
}

unsigned EncoderBytesPerPixel(PixelLayout layout) {
    return layout == PixelLayout::kMono8 || layout == PixelLayout::kMono12 ? 1 : 3;
}

unsigned BmpBytesPerPixel(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::kRgb8:
        case PixelLayout::kBgr8:
            return 3;
        case PixelLayout::kRgba8:
        case PixelLayout::kBgra8:
            return 4;
        default:
            return 1;
    }
}

bool BmpRowIsInput(PixelLayout layout) {
    return layout == PixelLayout::kMono8 || layout == PixelLayout::kBgr8 ||
           layout == PixelLayout::kBgra8;
}

namespace {

// The 12 significant bits of a little-endian word, reduced to 8.
inline uint8_t Mono12ToGrey(const uint8_t* p) {
    return static_cast<uint8_t>((p[0] | p[1] << 8) >> 4);
}

// dst[i] = src[i * step + a], src[.. + b], src[.. + c] for every pixel: the 3-byte reorders.
template <unsigned step, unsigned a, unsigned b, unsigned c>
void Pick3(const uint8_t* src, size_t width, uint8_t* dst) {
    for (size_t i = 0; i < width; ++i, src += step, dst += 3) {
        dst[0] = src[a];
        dst[1] = src[b];
        dst[2] = src[c];
    }
}

void GreyRow(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst) {
    if (layout == PixelLayout::kMono8) {
        std::memcpy(dst, src, width);
        return;
    }
    for (size_t i = 0; i < width; ++i) dst[i] = Mono12ToGrey(src + 2 * i);
}

}  // namespace

void RowToEncoderInput(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst) {
    switch (layout) {
        case PixelLayout::kMono8:
        case PixelLayout::kMono12:
            GreyRow(layout, src, width, dst);
            break;
        case PixelLayout::kRgb8:
            std::memcpy(dst, src, width * 3);
            break;
        case PixelLayout::kBgr8:
            Pick3<3, 2, 1, 0>(src, width, dst);
            break;
        case PixelLayout::kRgba8:
            Pick3<4, 0, 1, 2>(src, width, dst);
            break;
        case PixelLayout::kBgra8:
            Pick3<4, 2, 1, 0>(src, width, dst);
            break;
        case PixelLayout::kUnknown:
            break;
    }
}

void RowToBmp(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst) {
    switch (layout) {
        case PixelLayout::kMono8:
        case PixelLayout::kMono12:
            GreyRow(layout, src, width, dst);
            break;
        case PixelLayout::kRgb8:
            Pick3<3, 2, 1, 0>(src, width, dst);
            break;
        case PixelLayout::kBgr8:
            std::memcpy(dst, src, width * 3);
            break;
        case PixelLayout::kRgba8:
            for (size_t i = 0; i < width; ++i, src += 4, dst += 4) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                dst[3] = src[3];
            }
            break;
        case PixelLayout::kBgra8:
            std::memcpy(dst, src, width * 4);
            break;
        case PixelLayout::kUnknown:
            break;
    }
}

void RowToBgr24(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst) {
    switch (layout) {
        case PixelLayout::kMono8:
            for (size_t i = 0; i < width; ++i, dst += 3) dst[0] = dst[1] = dst[2] = src[i];
            break;
        case PixelLayout::kMono12:
            for (size_t i = 0; i < width; ++i, dst += 3)
                dst[0] = dst[1] = dst[2] = Mono12ToGrey(src + 2 * i);
            break;
        case PixelLayout::kRgb8:
            Pick3<3, 2, 1, 0>(src, width, dst);
            break;
        case PixelLayout::kBgr8:
            std::memcpy(dst, src, width * 3);
            break;
        case PixelLayout::kRgba8:
            Pick3<4, 2, 1, 0>(src, width, dst);
            break;
        case PixelLayout::kBgra8:
            Pick3<4, 0, 1, 2>(src, width, dst);
            break;
        case PixelLayout::kUnknown:
            break;
    }
}

bool ImageBytes(int64_t width, int64_t height, uint64_t bytesPerPixel, uint64_t* bytes) {
    if (width <= 0 || height <= 0) return false;
    uint64_t pixels = 0;
    return !__builtin_mul_overflow(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                                   &pixels) &&
           !__builtin_mul_overflow(pixels, bytesPerPixel, bytes);
}

}  // namespace qv::imagefile
