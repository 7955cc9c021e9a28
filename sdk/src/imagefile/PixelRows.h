// The frame formats image files and recordings accept, and the row conversions into what each
// file format stores. Input rows are tightly packed (width x bytes per pixel), top row first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::imagefile {

enum class PixelLayout {
    kUnknown,
    kMono8,   // one grey byte
    kMono12,  // a 16-bit little-endian word holding 12 bits; stored as word >> 4
    kRgb8,
    kBgr8,
    kRgba8,
    kBgra8,
};

PixelLayout LayoutOf(uint32_t mediaType);
// Bytes per input pixel (0 for kUnknown).
unsigned InputBytesPerPixel(PixelLayout layout);
// Bytes per pixel in the encoders' input: 1 grey, 3 R, G, B.
unsigned EncoderBytesPerPixel(PixelLayout layout);
// Bytes per pixel in a BMP: 1 (grey palette), 3 (B, G, R) or 4 (B, G, R, A).
unsigned BmpBytesPerPixel(PixelLayout layout);
// Whether a BMP row is the input row unchanged.
bool BmpRowIsInput(PixelLayout layout);

// One row of width pixels into the encoders' input (grey, or R, G, B without alpha).
void RowToEncoderInput(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst);
// One row into a BMP's pixel order (grey, B, G, R or B, G, R, A), without padding.
void RowToBmp(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst);
// One row into B, G, R as a recording stores it.
void RowToBgr24(PixelLayout layout, const uint8_t* src, size_t width, uint8_t* dst);

// The rows an encoder takes (grey, or R, G, B): the frame's own rows when it holds those
// already (convert kUnknown), else each row converted into row (width pixels) when asked for.
struct EncoderRows {
    const uint8_t* image;
    size_t inRowBytes;
    PixelLayout convert;
    size_t width;
    uint8_t* row;

    const uint8_t* Row(size_t r) const {
        const uint8_t* src = image + r * inRowBytes;
        if (convert == PixelLayout::kUnknown) return src;
        RowToEncoderInput(convert, src, width, row);
        return row;
    }
};

// width x height x bytesPerPixel in 64 bits; false when width or height is not positive or the
// product does not fit in 64 bits.
bool ImageBytes(int64_t width, int64_t height, uint64_t bytesPerPixel, uint64_t* bytes);

}  // namespace qv::imagefile
