// BMP image files: uncompressed, rows top to bottom (negative height), each row padded with
// zero bytes to a multiple of 4. Mono frames become 8-bit files with a grey palette, 24- and
// 32-bit colour frames 24- and 32-bit files in B, G, R(, A) order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::imagefile {

constexpr size_t kBmpHeaderBytes = 54;     // file header 14, info header 40
constexpr size_t kBmpPaletteBytes = 1024;  // 256 x {b, g, r, 0}
constexpr size_t kBmpGreyHeaderBytes = kBmpHeaderBytes + kBmpPaletteBytes;  // 1078

}  // namespace qv::imagefile

// Writes the width x height frame image of mediaType to fileName (complete or not at all).
// 0; -6 for a null pointer, a width or height that is not positive or a file that would pass
// 4 GiB; -4 for a media type without a BMP form (nothing is created); -13 when the file cannot
// be created or a write or the close fails.
int SaveBmpImage(const BYTE* image, const char* fileName, int width, int height,
                 uint32_t mediaType);
