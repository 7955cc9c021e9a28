// Conversion of an output image of the pipeline into the 32-bit pixels a display takes: B, G,
// R and a fourth byte, row after row (width x 4 bytes per row).
//
//   24-bit BGR  (b, g, r)    -> (b, g, r, 0)
//   24-bit RGB  (r, g, b)    -> (b, g, r, 0)   (any 24-bit type other than BGR counts as RGB)
//   32-bit BGRA              -> copied as it is
//   32-bit RGBA (r, g, b, a) -> (b, g, r, a)   (other 32-bit types: nothing is written)
//   mono (0x01xxxxxx, one byte per pixel) g -> (g, g, g, 0)
//   anything else: nothing is written.
//
// The vector path (SSSE3 byte shuffles, four pixels per step) and the scalar path give the same
// bytes. Neither reads a byte beyond the source image of width x height pixels, whatever the
// width: the pixels a whole 16-byte load cannot reach are finished on the scalar path.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::display {

// The processing level from which the vector path runs.
constexpr int kVectorLevel = 4;

// Bytes per pixel the conversion reads from an image of this type (0: it reads nothing).
unsigned SourceBytesPerPixel(uint32_t mediaType);

// Both paths; dst must hold width x height x 4 bytes.
void ConvertToDisplayScalar(uint8_t* dst, const uint8_t* image, uint32_t width, uint32_t height,
                            uint32_t mediaType);
void ConvertToDisplayVector(uint8_t* dst, const uint8_t* image, uint32_t width, uint32_t height,
                            uint32_t mediaType);
// The path of the processing level.
void ConvertToDisplay(uint8_t* dst, const uint8_t* image, const stImageInfo& head, int level);

}  // namespace qv::display
