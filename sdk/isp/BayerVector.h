// The parts of the vector colour kernels (SSE2, SSSE3, SSE4.1): loading a row pair, sharpening
// it, and writing output rows. Groups are eight columns starting at an even column, one 16-bit
// lane per sample, so even lanes hold the G1 or B sites and odd lanes the R or G2 sites. Only
// sources compiled with -msse4.1 include this header.
#pragma once

#include <smmintrin.h>

#include <cstdint>

#include "ColourKernelsInternal.h"

namespace qv::isp {

// The gains, matrix and compensation of a frame in the lanes ApplyGainsMatrix takes.
struct GainsMatrixRegs {
    __m128i gainsEven;  // {green, red, green, red}: the samples G1, R of a row pair's first row
    __m128i gainsOdd;   // {blue, green, blue, green}: B, G2 of its second row
    __m128i m[9];       // each matrix entry in four 32-bit lanes
    __m128i factor;     // the compensation factor F in four lanes
    bool compensate;    // c >= 2
};

GainsMatrixRegs MakeGainsMatrixRegs(const colour::ColourFrameSetup& fs);

// Gains, colour matrix and brightness compensation of the four cells of a group (`even`: G1, R
// of the first row; `odd`: B, G2 of the second). Each gain is the 32-bit product divided by
// 100.0 in single precision, rounded to nearest (ties to even), at most 255; the green mean is
// (G1' + G2' + 1) >> 1; the matrix rows shift arithmetically by 8; with compensation each value
// is clamped to 0..255 and becomes (value x F) >> 7; the results are clamped to 0..255.
void ApplyGainsMatrix(__m128i& even, __m128i& odd, const GainsMatrixRegs& gm);

// Green balance of the first `cells` cells of a group, with the blue right of each cell read
// from the raw frame's row `rawOddRow` (bytes, or 12-bit words reduced to 8 bits). The last
// cell of a row takes its own blue in place of the one right of it.
void BalanceGreens8(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                    int cells);
void BalanceGreens16(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                     int cells);

// Contrast on luma of eight interior pixels (red, green, blue in 16-bit lanes, 0..255): the
// luma Y = (76 R + 150 G + 29 B) >> 8 gets the single-precision contrast around `pivot`, the
// colour differences U = (-37 R - 74 G + 111 B) >> 8 and V = (157 R - 131 G - 26 B) >> 8 are
// kept, and the pixel is rebuilt as R = Y' + (292 V >> 8), G = Y' - ((101 U + 149 V) >> 8),
// B = Y' + (520 U >> 8), each clamped to 0..255. Shifts round toward minus infinity.
void ApplyLumaContrast(__m128i& red, __m128i& green, __m128i& blue, __m128 pivot, __m128 factor);

// Packs eight pixels into two registers of four pixels, each pixel the bytes B, G, R, 255;
// with `mirror` the two registers are exchanged (a mirrored packing mask then reverses the
// pixels within each).
void PackBgraPixels(__m128i red, __m128i green, __m128i blue, bool mirror, __m128i* first,
                    __m128i* second);

namespace colour {

// Loads row pair j of the raw frame into `pair` (two rows of the ring): dead-pixel correction
// in place, reading, green balance, gains with matrix and compensation, and the site maps.
void LoadRowPair8(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, uint8_t* raw, int j,
                  uint16_t* pair);
void LoadRowPair16(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, uint8_t* raw, int j,
                   uint16_t* pair);

// Sharpens a row pair from the row pairs above and below into `dst`.
void SharpenRowPair(const ColourFrameSetup& fs, const uint16_t* above, const uint16_t* pair,
                    const uint16_t* below, uint16_t* dst);

// Writes the two output rows of inner row pair j: the border cells at both ends, the interior
// demosaic in between.
void DemosaicRowPair(const ColourFrameSetup& fs, int j, const uint16_t* above, const uint16_t* pair,
                     const uint16_t* below, uint8_t* out);

// Writes the two output rows of the first or the last row pair j from its own cells.
void WriteBorderRows(const ColourFrameSetup& fs, int j, const uint16_t* pair, uint8_t* out);

}  // namespace colour

}  // namespace qv::isp
