// The parts of the vector colour kernels (SSE2, SSSE3, SSE4.1): loading a row pair, sharpening
// it, and writing output rows. Groups are eight columns starting at an even column, one 16-bit
// lane per sample, so even lanes hold the G1 or B sites and odd lanes the R or G2 sites. Only
// sources compiled with -msse4.1 include this header.
#pragma once

#include <immintrin.h>
#include <smmintrin.h>

#include <cstdint>

#include "ColourKernelsInternal.h"
#include "IspVectorOps.h"
#include "SharpenVector.h"

// The group operations run once per group of the hot loops: always inlined there.
#define QV_GROUP_INLINE inline __attribute__((always_inline))

namespace qv::isp {

// The gains, matrix and compensation of a frame in the lanes ApplyGainsMatrix takes.
struct GainsMatrixRegs {
    __m128i gainsEven;  // 16-bit {green, red} pairs: the samples G1, R of a row pair's first row
    __m128i gainsOdd;   // 16-bit {blue, green} pairs: B, G2 of its second row
    bool wideGains;     // some gain above 257: products may leave 16 bits
    // The matrix as 16-bit pairs for pmaddwd on (G1, R), (B, G2) and (B, Gm) cell pairs.
    __m128i redFromEven, redFromBlueMean;    // (0, m0); (m2, m1)
    __m128i blueFromEven, blueFromBlueMean;  // (0, m6); (m8, m7)
    __m128i green1FromEven, green1FromOdd;   // (m4, m3); (m5, 0)
    __m128i green2FromEven, green2FromOdd;   // (0, m3); (m5, m4)
    __m128i m32[9];   // each entry in four 32-bit lanes, for matrices beyond 16-bit entries
    bool wideMatrix;  // some entry does not fit 16 bits
    __m128i factor;   // the compensation factor F in eight 16-bit lanes
    bool compensate;  // c >= 2
};

GainsMatrixRegs MakeGainsMatrixRegs(const colour::ColourFrameSetup& fs);

// The white-balance gain of eight 8-bit samples: round(sample x gain / 100) to the nearest
// integer, ties to even, at most 255 - the single-precision rule (the 32-bit product divided
// by 100.0f and rounded to nearest even). Multiplying by 0.01f in place of the division gives
// the same integer for every product up to 65535 (checked exhaustively): a quotient of an
// integer by 100 is never closer than 0.01 to a half, far more than the two roundings can move
// it, and its exact halves come out exact. Products from 25600 on all give 255, so products
// beyond 16 bits are held to 65535. The caller keeps the rounding mode at nearest.
QV_GROUP_INLINE __m128i GainOf(__m128i samples, __m128i gains, bool wideGains) {
    __m128i x = _mm_mullo_epi16(samples, gains);
    if (wideGains) {
        // Products of 65536 and more become 65535 (gains above 257 only).
        const __m128i narrow =
            _mm_cmpeq_epi16(_mm_mulhi_epu16(samples, gains), _mm_setzero_si128());
        x = _mm_or_si128(x, _mm_andnot_si128(narrow, _mm_set1_epi16(-1)));
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128 hundredth = _mm_set1_ps(0.01f);
    const __m128i lo =
        _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(x, zero)), hundredth));
    const __m128i hi =
        _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(x, zero)), hundredth));
    // At most 655: the signed pack keeps every value.
    return _mm_min_epi16(_mm_packs_epi32(lo, hi), _mm_set1_epi16(255));
}

QV_GROUP_INLINE __m128i ClampTo255(__m128i v) {
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255));
}

// Gains, colour matrix and brightness compensation of the four cells of a group (`even`: G1, R
// of the first row; `odd`: B, G2 of the second). Gains as GainOf; the green mean is
// (G1' + G2' + 1) >> 1; each matrix row is a 32-bit sum shifted arithmetically by 8; with
// compensation each value is clamped to 0..255 and becomes (value x F) >> 7; the results are
// clamped to 0..255.
QV_GROUP_INLINE void ApplyGainsMatrix(__m128i& even, __m128i& odd, const GainsMatrixRegs& gm) {
    const __m128i e = GainOf(even, gm.gainsEven, gm.wideGains);
    const __m128i o = GainOf(odd, gm.gainsOdd, gm.wideGains);
    // Green mean of each cell in its odd lane, next to the cell's blue: (B, Gm) pairs.
    const __m128i mean = _mm_avg_epu16(_mm_slli_si128(e, 2), o);
    const __m128i blueMean = _mm_blend_epi16(o, mean, 0xAA);
    __m128i red, green1, green2, blue;
    if (!gm.wideMatrix) {
        red = _mm_add_epi32(_mm_madd_epi16(e, gm.redFromEven),
                            _mm_madd_epi16(blueMean, gm.redFromBlueMean));
        blue = _mm_add_epi32(_mm_madd_epi16(e, gm.blueFromEven),
                             _mm_madd_epi16(blueMean, gm.blueFromBlueMean));
        green1 = _mm_add_epi32(_mm_madd_epi16(e, gm.green1FromEven),
                               _mm_madd_epi16(o, gm.green1FromOdd));
        green2 = _mm_add_epi32(_mm_madd_epi16(e, gm.green2FromEven),
                               _mm_madd_epi16(o, gm.green2FromOdd));
    } else {
        // One cell per 32-bit lane: G1 and R from the first row, B and G2 from the second.
        const __m128i lowWords = _mm_set1_epi32(0xFFFF);
        const __m128i g1 = _mm_and_si128(e, lowWords);
        const __m128i r = _mm_srli_epi32(e, 16);
        const __m128i b = _mm_and_si128(o, lowWords);
        const __m128i g2 = _mm_srli_epi32(o, 16);
        const __m128i gmean = _mm_srli_epi32(mean, 16);
        auto dot = [](__m128i a, __m128i ma, __m128i bb, __m128i mb, __m128i c, __m128i mc) {
            return _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(a, ma), _mm_mullo_epi32(bb, mb)),
                                 _mm_mullo_epi32(c, mc));
        };
        red = dot(r, gm.m32[0], gmean, gm.m32[1], b, gm.m32[2]);
        green1 = dot(r, gm.m32[3], g1, gm.m32[4], b, gm.m32[5]);
        green2 = dot(r, gm.m32[3], g2, gm.m32[4], b, gm.m32[5]);
        blue = dot(r, gm.m32[6], gmean, gm.m32[7], b, gm.m32[8]);
    }
    red = _mm_srai_epi32(red, 8);
    green1 = _mm_srai_epi32(green1, 8);
    green2 = _mm_srai_epi32(green2, 8);
    blue = _mm_srai_epi32(blue, 8);
    // Back to the rows' order; signed saturation keeps every value's side of 0..255.
    even = _mm_packs_epi32(_mm_unpacklo_epi32(green1, red), _mm_unpackhi_epi32(green1, red));
    odd = _mm_packs_epi32(_mm_unpacklo_epi32(blue, green2), _mm_unpackhi_epi32(blue, green2));
    even = ClampTo255(even);
    odd = ClampTo255(odd);
    if (gm.compensate) {
        // At most 255 x 255: the product fits an unsigned 16-bit lane.
        even =
            _mm_min_epi16(_mm_srli_epi16(_mm_mullo_epi16(even, gm.factor), 7), _mm_set1_epi16(255));
        odd =
            _mm_min_epi16(_mm_srli_epi16(_mm_mullo_epi16(odd, gm.factor), 7), _mm_set1_epi16(255));
    }
}

// The constants of the green balance.
struct GreenBalanceRegs {
    __m128i ten;     // closeness threshold
    __m128i bright;  // 200
};

QV_GROUP_INLINE __m128i AbsDiff16(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a));
}

// Green balance of the cells of one group. `even` holds G1, R of the first row, `odd` B, G2 of
// the second, `bluePlus` the blue right of each cell in its odd lanes, `cells` the even lanes
// of the cells the group really has. The two greens of a cell become (G1 + G2 + 1) >> 1 when
// they differ by less than 10 or by less than G1 >> 3, when red, blue and one green are all
// above 200, or when some cell of the group has red and the blue right of it closer than 10
// and this cell's mean of the two, (R + B+ + 1) >> 1, lies closer than 10 to one of its
// greens. The tests use the samples as loaded.
QV_GROUP_INLINE void BalanceGreens(__m128i& even, __m128i& odd, __m128i bluePlus, __m128i cells,
                                   const GreenBalanceRegs& k) {
    // Every cell in its even lane: G1, G2, R, B and the blue right of it.
    const __m128i g1 = even;
    const __m128i g2 = _mm_srli_si128(odd, 2);
    const __m128i r = _mm_srli_si128(even, 2);
    const __m128i b = odd;
    const __m128i bp = _mm_srli_si128(bluePlus, 2);
    const __m128i d = AbsDiff16(g1, g2);
    __m128i equalise =
        _mm_or_si128(_mm_cmplt_epi16(d, k.ten), _mm_cmplt_epi16(d, _mm_srli_epi16(g1, 3)));
    const __m128i hot =
        _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi16(r, k.bright), _mm_cmpgt_epi16(b, k.bright)),
                      _mm_cmpgt_epi16(_mm_max_epi16(g1, g2), k.bright));
    equalise = _mm_or_si128(equalise, hot);
    // Cells whose red and right blue agree make the whole group's neutral test count. The
    // test is evaluated for every group rather than branched on: in real scenes whether a
    // group qualifies changes from group to group.
    const __m128i neutral = _mm_and_si128(_mm_cmplt_epi16(AbsDiff16(r, bp), k.ten), cells);
    const __m128i anyNeutral = _mm_xor_si128(
        _mm_cmpeq_epi64(_mm_or_si128(neutral, _mm_srli_si128(neutral, 8)), _mm_setzero_si128()),
        _mm_set1_epi32(-1));
    const __m128i m = _mm_avg_epu16(r, bp);
    const __m128i near = _mm_cmplt_epi16(_mm_min_epi16(AbsDiff16(m, g1), AbsDiff16(m, g2)), k.ten);
    equalise =
        _mm_or_si128(equalise, _mm_and_si128(near, _mm_unpacklo_epi64(anyNeutral, anyNeutral)));
    equalise = _mm_and_si128(equalise, cells);
    const __m128i mean = _mm_avg_epu16(g1, g2);
    even = _mm_blendv_epi8(even, mean, equalise);
    odd = _mm_blendv_epi8(odd, _mm_slli_si128(mean, 2), _mm_slli_si128(equalise, 2));
}

// Contrast on luma of eight interior pixels (red, green, blue in 16-bit lanes, 0..255): the
// luma Y = (76 R + 150 G + 29 B) >> 8 gets the single-precision contrast around `pivot`, the
// colour differences U = (-37 R - 74 G + 111 B) >> 8 and V = (157 R - 131 G - 26 B) >> 8 are
// kept, and the pixel is rebuilt as R = Y' + (292 V >> 8), G = Y' - ((101 U + 149 V) >> 8),
// B = Y' + (520 U >> 8), each clamped to 0..255. Shifts round toward minus infinity.
QV_GROUP_INLINE void ApplyLumaContrast(__m128i& red, __m128i& green, __m128i& blue, __m128 pivot,
                                       __m128 factor) {
    // Luma: the weights add up to 255, so the sum fits an unsigned 16-bit lane.
    const __m128i y =
        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(red, _mm_set1_epi16(76)),
                                                   _mm_mullo_epi16(green, _mm_set1_epi16(150))),
                                     _mm_mullo_epi16(blue, _mm_set1_epi16(29))),
                       8);
    const __m128i y2 = ApplyChannelContrast(y, pivot, factor);
    // U fits 16 bits; V and the way back need 32-bit sums of products (madd on pairs).
    const __m128i u =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(red, _mm_set1_epi16(-37)),
                                                   _mm_mullo_epi16(green, _mm_set1_epi16(-74))),
                                     _mm_mullo_epi16(blue, _mm_set1_epi16(111))),
                       8);
    const __m128i rg0 = _mm_unpacklo_epi16(red, green);
    const __m128i rg1 = _mm_unpackhi_epi16(red, green);
    const __m128i b0 = _mm_unpacklo_epi16(blue, _mm_setzero_si128());
    const __m128i b1 = _mm_unpackhi_epi16(blue, _mm_setzero_si128());
    const __m128i wRg = _mm_setr_epi16(157, -131, 157, -131, 157, -131, 157, -131);
    const __m128i wB = _mm_setr_epi16(-26, 0, -26, 0, -26, 0, -26, 0);
    const __m128i v0 =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rg0, wRg), _mm_madd_epi16(b0, wB)), 8);
    const __m128i v1 =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rg1, wRg), _mm_madd_epi16(b1, wB)), 8);
    const __m128i v = _mm_packs_epi32(v0, v1);
    // (U, V) pairs against the coefficients of the way back.
    const __m128i uv0 = _mm_unpacklo_epi16(u, v);
    const __m128i uv1 = _mm_unpackhi_epi16(u, v);
    auto term = [&](__m128i weights) {
        return _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(uv0, weights), 8),
                               _mm_srai_epi32(_mm_madd_epi16(uv1, weights), 8));
    };
    const __m128i toRed = term(_mm_setr_epi16(0, 292, 0, 292, 0, 292, 0, 292));
    const __m128i toGreen = term(_mm_setr_epi16(101, 149, 101, 149, 101, 149, 101, 149));
    const __m128i toBlue = term(_mm_setr_epi16(520, 0, 520, 0, 520, 0, 520, 0));
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi16(255);
    red = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(y2, toRed), zero), top);
    green = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(y2, toGreen), zero), top);
    blue = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(y2, toBlue), zero), top);
}

// Packs eight pixels into two registers of four pixels, each pixel the bytes B, G, R, 255;
// with `mirror` the two registers are exchanged (a mirrored packing mask then reverses the
// pixels within each).
QV_GROUP_INLINE void PackBgraPixels(__m128i red, __m128i green, __m128i blue, bool mirror,
                                    __m128i* first, __m128i* second) {
    // Each pixel as two words: B | G << 8 and R | 0xFF << 8.
    const __m128i bg = _mm_or_si128(blue, _mm_slli_epi16(green, 8));
    const __m128i ra = _mm_or_si128(red, _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
    const __m128i lo = _mm_unpacklo_epi16(bg, ra);
    const __m128i hi = _mm_unpackhi_epi16(bg, ra);
    *first = mirror ? hi : lo;
    *second = mirror ? lo : hi;
}

// Green balance of the first `cells` cells of a group, with the blue right of each cell read
// from the raw frame's row `rawOddRow` (bytes, or 12-bit words reduced to 8 bits). The last
// cell of a row takes its own blue in place of the one right of it.
void BalanceGreens8(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                    int cells);
void BalanceGreens16(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                     int cells);

namespace colour {

// Dead-pixel correction of row pair j of the raw frame, in place, before the pair is read.
void CorrectRowPair(const ColourFrameSetup& fs, uint8_t* raw, int j, int sampleBytes);

// Loads row pair j of the raw frame into `pair` (two rows of the ring): reading, green balance,
// gains with matrix and compensation, and the site maps, for the columns from `from` (a
// multiple of 8; the columns before it were loaded by the caller).
void LoadRowPair8(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, const uint8_t* raw, int j,
                  uint16_t* pair, int from = 0);
void LoadRowPair16(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, const uint8_t* raw, int j,
                   uint16_t* pair, int from = 0);

// The site maps of a row pair's first row as the AVX2 loader looks them up: the byte-shuffle
// rows of the green map (even columns) in the low 128-bit lane and of the red map in the high
// lane. Built once per frame by PrepareSiteLookupsAvx2, only where the processor runs AVX2;
// the AVX2 loader reads them only with the table stage on.
struct SiteLookupsAvx2 {
    __m256i firstRow[16];
};
void PrepareSiteLookupsAvx2(const ColourFrameSetup& fs, SiteLookupsAvx2* lookups);

// The same in AVX2 (BayerAvx2.cpp), sixteen columns at a time, the last columns through the
// SSE4.1 loader; the same bytes. Only where the processor runs AVX2.
void LoadRowPair8Avx2(const ColourFrameSetup& fs, const GainsMatrixRegs& gm,
                      const SiteLookupsAvx2& lookups, const uint8_t* raw, int j, uint16_t* pair);
void LoadRowPair16Avx2(const ColourFrameSetup& fs, const GainsMatrixRegs& gm,
                       const SiteLookupsAvx2& lookups, const uint8_t* raw, int j, uint16_t* pair);
void DemosaicRowPairAvx2(const ColourFrameSetup& fs, int j, const uint16_t* above,
                         const uint16_t* pair, const uint16_t* below, uint8_t* out);

// Sharpens a row pair from the row pairs above and below into `dst`, row by row with
// `sharpenRow` (SharpenRowVector or its AVX2 version).
void SharpenRowPair(const ColourFrameSetup& fs, const uint16_t* above, const uint16_t* pair,
                    const uint16_t* below, uint16_t* dst, SharpenRowFn sharpenRow);

// Writes the two output rows of inner row pair j: the border cells at both ends, the interior
// demosaic in between.
void DemosaicRowPair(const ColourFrameSetup& fs, int j, const uint16_t* above, const uint16_t* pair,
                     const uint16_t* below, uint8_t* out);

// Writes the two output rows of the first or the last row pair j from its own cells.
void WriteBorderRows(const ColourFrameSetup& fs, int j, const uint16_t* pair, uint8_t* out);

}  // namespace colour

}  // namespace qv::isp
