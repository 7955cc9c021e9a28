// Vector sharpening of one row, shared by the mono and the colour kernels (SSE2).
#pragma once

#include <cstdint>

namespace qv::isp {

// Sharpens row b from the rows a (above) and c (below) into dst, with the same-colour step s
// (1 on a mono camera, 2 in a Bayer mosaic) and the strength (sharpness x 128) / 25 held to
// the 16-bit range. The window of a sample is the fifteen samples of the three rows at the
// columns x - 2s, x - s, x, x + s, x + 2s; the blur is (sample + window sum) >> 4 and the
// result sample + ((sample - blur) x strength >> 7), clamped to 0..255. Columns 2s up to the
// last complete group of eight from there are sharpened, and only while the window's last
// column x + 2s stays inside the row; every other column is copied. `columnSums` is scratch
// memory of `width` elements. Values are 0..255.
void SharpenRowVector(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* dst,
                      uint16_t* columnSums, int width, int s, int strength);

// The same in AVX2, sixteen samples at a time (BayerAvx2.cpp). Only where the processor runs
// AVX2.
void SharpenRowVectorAvx2(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* dst,
                          uint16_t* columnSums, int width, int s, int strength);

using SharpenRowFn = void (*)(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*,
                              uint16_t*, int, int, int);

}  // namespace qv::isp
