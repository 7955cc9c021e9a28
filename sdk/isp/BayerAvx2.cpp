// The vector colour kernels in AVX2: loading, sharpening and the interior demosaic sixteen
// columns at a time. Each 128-bit lane of a register holds one group of eight columns of the
// SSE4.1 kernels and does that group's work, so the group rules (the green balance's test
// over the cells of a group) and every result stay those of the SSE4.1 kernels. The columns
// left at the end of a row go through the SSE4.1 code.
//
// Everything below the target pragma is built for AVX2 and reached only where the processor
// runs it; the headers come first, so their inline functions stay built for the baseline.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "BayerVector.h"
#include "IspVectorConstants.h"
#include "SharpenVector.h"

#include "Avx2TargetBegin.h"

#include "ByteLookupAvx2.h"
#include "SharpenAvx2.h"

namespace qv::isp::colour {

namespace {

#define QV_AVX2_INLINE inline __attribute__((always_inline))

QV_AVX2_INLINE __m256i Load(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QV_AVX2_INLINE void Store(uint16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

QV_AVX2_INLINE __m256i Both(__m128i v) {
    return _mm256_broadcastsi128_si256(v);
}

// Sixteen samples of a raw row from column x as 8-bit values in 16-bit lanes.
template <int kSampleBytes>
QV_AVX2_INLINE __m256i ReadBlock(const uint8_t* row, int x) {
    if constexpr (kSampleBytes == 1) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)));
    } else {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * x));
        return _mm256_srli_epi16(_mm256_min_epu16(v, _mm256_set1_epi16(4095)), 4);
    }
}

// |a - b| of 8-bit values in 16-bit lanes.
QV_AVX2_INLINE __m256i AbsDiff(__m256i a, __m256i b) {
    return _mm256_abs_epi16(_mm256_sub_epi16(a, b));
}

// BalanceGreens on two groups, one per lane, every cell present. The samples are 0..255, so
// the tests of the SSE4.1 kernels combine: x > a or x > b as x > max(a, b), three values
// above 200 as their minimum above 200.
QV_AVX2_INLINE void BalanceGreens(__m256i& even, __m256i& odd, __m256i bluePlus, __m256i cells) {
    const __m256i ten = _mm256_set1_epi16(10);
    const __m256i bright = _mm256_set1_epi16(200);
    const __m256i g1 = even;
    const __m256i g2 = _mm256_srli_si256(odd, 2);
    const __m256i r = _mm256_srli_si256(even, 2);
    const __m256i b = odd;
    const __m256i bp = _mm256_srli_si256(bluePlus, 2);
    const __m256i d = AbsDiff(g1, g2);
    __m256i equalise = _mm256_cmpgt_epi16(_mm256_max_epi16(ten, _mm256_srli_epi16(g1, 3)), d);
    const __m256i hot = _mm256_cmpgt_epi16(
        _mm256_min_epi16(_mm256_min_epi16(r, b), _mm256_max_epi16(g1, g2)), bright);
    equalise = _mm256_or_si256(equalise, hot);
    // Whether no cell of each lane's group has red and right blue closer than 10.
    const __m256i neutral = _mm256_and_si256(_mm256_cmpgt_epi16(ten, AbsDiff(r, bp)), cells);
    const __m256i noNeutral = _mm256_cmpeq_epi64(
        _mm256_or_si256(neutral, _mm256_srli_si256(neutral, 8)), _mm256_setzero_si256());
    const __m256i m = _mm256_avg_epu16(r, bp);
    const __m256i near = _mm256_cmpgt_epi16(ten, _mm256_min_epi16(AbsDiff(m, g1), AbsDiff(m, g2)));
    equalise = _mm256_or_si256(
        equalise, _mm256_andnot_si256(_mm256_unpacklo_epi64(noNeutral, noNeutral), near));
    equalise = _mm256_and_si256(equalise, cells);
    const __m256i mean = _mm256_avg_epu16(g1, g2);
    even = _mm256_blendv_epi8(even, mean, equalise);
    odd = _mm256_blendv_epi8(odd, _mm256_slli_si256(mean, 2), _mm256_slli_si256(equalise, 2));
}

// GainsMatrixRegs in both lanes.
struct GainsMatrix256 {
    __m256i gainsEven, gainsOdd;
    bool wideGains;
    __m256i redFromEven, redFromBlueMean, blueFromEven, blueFromBlueMean;
    __m256i green1FromEven, green1FromOdd, green2FromEven, green2FromOdd;
    __m256i m32[9];
    bool wideMatrix;
    __m256i factor;
    bool compensate;

    explicit GainsMatrix256(const GainsMatrixRegs& g)
        : gainsEven(Both(g.gainsEven)),
          gainsOdd(Both(g.gainsOdd)),
          wideGains(g.wideGains),
          redFromEven(Both(g.redFromEven)),
          redFromBlueMean(Both(g.redFromBlueMean)),
          blueFromEven(Both(g.blueFromEven)),
          blueFromBlueMean(Both(g.blueFromBlueMean)),
          green1FromEven(Both(g.green1FromEven)),
          green1FromOdd(Both(g.green1FromOdd)),
          green2FromEven(Both(g.green2FromEven)),
          green2FromOdd(Both(g.green2FromOdd)),
          wideMatrix(g.wideMatrix),
          factor(Both(g.factor)),
          compensate(g.compensate) {
        for (int i = 0; i < 9; ++i) m32[i] = Both(g.m32[i]);
    }
};

// GainOf on sixteen samples.
QV_AVX2_INLINE __m256i GainOf(__m256i samples, __m256i gains, bool wideGains) {
    __m256i x = _mm256_mullo_epi16(samples, gains);
    if (wideGains) {
        const __m256i narrow =
            _mm256_cmpeq_epi16(_mm256_mulhi_epu16(samples, gains), _mm256_setzero_si256());
        x = _mm256_or_si256(x, _mm256_andnot_si256(narrow, _mm256_set1_epi16(-1)));
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256 hundredth = _mm256_set1_ps(0.01f);
    const __m256i lo = _mm256_cvtps_epi32(
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(x, zero)), hundredth));
    const __m256i hi = _mm256_cvtps_epi32(
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(x, zero)), hundredth));
    return _mm256_min_epi16(_mm256_packs_epi32(lo, hi), _mm256_set1_epi16(255));
}

QV_AVX2_INLINE __m256i ClampTo255(__m256i v) {
    return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), _mm256_set1_epi16(255));
}

QV_AVX2_INLINE __m256i Dot(__m256i a, __m256i ma, __m256i b, __m256i mb, __m256i c, __m256i mc) {
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(a, ma), _mm256_mullo_epi32(b, mb)),
                            _mm256_mullo_epi32(c, mc));
}

// The four results of each cell of two groups, as 32-bit lanes in cell order: gains and
// matrix of ApplyGainsMatrix, shifted, not yet clamped.
struct Cells {
    __m256i red, green1, green2, blue;
};

QV_AVX2_INLINE Cells GainsMatrixCells(__m256i even, __m256i odd, const GainsMatrix256& gm) {
    const __m256i e = GainOf(even, gm.gainsEven, gm.wideGains);
    const __m256i o = GainOf(odd, gm.gainsOdd, gm.wideGains);
    const __m256i mean = _mm256_avg_epu16(_mm256_slli_si256(e, 2), o);
    const __m256i blueMean = _mm256_blend_epi16(o, mean, 0xAA);
    Cells c;
    if (!gm.wideMatrix) {
        c.red = _mm256_add_epi32(_mm256_madd_epi16(e, gm.redFromEven),
                                 _mm256_madd_epi16(blueMean, gm.redFromBlueMean));
        c.blue = _mm256_add_epi32(_mm256_madd_epi16(e, gm.blueFromEven),
                                  _mm256_madd_epi16(blueMean, gm.blueFromBlueMean));
        c.green1 = _mm256_add_epi32(_mm256_madd_epi16(e, gm.green1FromEven),
                                    _mm256_madd_epi16(o, gm.green1FromOdd));
        c.green2 = _mm256_add_epi32(_mm256_madd_epi16(e, gm.green2FromEven),
                                    _mm256_madd_epi16(o, gm.green2FromOdd));
    } else {
        const __m256i lowWords = _mm256_set1_epi32(0xFFFF);
        const __m256i g1 = _mm256_and_si256(e, lowWords);
        const __m256i r = _mm256_srli_epi32(e, 16);
        const __m256i b = _mm256_and_si256(o, lowWords);
        const __m256i g2 = _mm256_srli_epi32(o, 16);
        const __m256i gmean = _mm256_srli_epi32(mean, 16);
        c.red = Dot(r, gm.m32[0], gmean, gm.m32[1], b, gm.m32[2]);
        c.green1 = Dot(r, gm.m32[3], g1, gm.m32[4], b, gm.m32[5]);
        c.green2 = Dot(r, gm.m32[3], g2, gm.m32[4], b, gm.m32[5]);
        c.blue = Dot(r, gm.m32[6], gmean, gm.m32[7], b, gm.m32[8]);
    }
    c.red = _mm256_srai_epi32(c.red, 8);
    c.green1 = _mm256_srai_epi32(c.green1, 8);
    c.green2 = _mm256_srai_epi32(c.green2, 8);
    c.blue = _mm256_srai_epi32(c.blue, 8);
    return c;
}

// The brightness compensation of sixteen values already clamped to 0..255.
QV_AVX2_INLINE __m256i Compensate(__m256i v, const GainsMatrix256& gm) {
    return _mm256_min_epi16(_mm256_srli_epi16(_mm256_mullo_epi16(v, gm.factor), 7),
                            _mm256_set1_epi16(255));
}

// ApplyGainsMatrix on two groups.
QV_AVX2_INLINE void ApplyGainsMatrix(__m256i& even, __m256i& odd, const GainsMatrix256& gm) {
    const Cells c = GainsMatrixCells(even, odd, gm);
    even = _mm256_packs_epi32(_mm256_unpacklo_epi32(c.green1, c.red),
                              _mm256_unpackhi_epi32(c.green1, c.red));
    odd = _mm256_packs_epi32(_mm256_unpacklo_epi32(c.blue, c.green2),
                             _mm256_unpackhi_epi32(c.blue, c.green2));
    even = ClampTo255(even);
    odd = ClampTo255(odd);
    if (gm.compensate) {
        even = Compensate(even, gm);
        odd = Compensate(odd, gm);
    }
}

// Bytes of one row's two blocks a and b held in each lane as a's even columns, b's even
// columns, a's odd columns and b's odd columns (four each), rearranged for the site lookup:
// the even columns' bytes of both lanes into the low lane, the odd columns' into the high one.
QV_AVX2_INLINE __m256i FromLanes(__m256i v) {
    return _mm256_permute4x64_epi64(v, 0xD8);
}

// Looked-up bytes in the order of FromLanes back to the two blocks of 16-bit samples in
// column order.
QV_AVX2_INLINE void ToBlocks(__m256i v, __m256i& a, __m256i& b) {
    const __m256i merge = Both(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15));
    v = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0xD8), merge);
    a = _mm256_unpacklo_epi8(v, _mm256_setzero_si256());
    b = _mm256_unpackhi_epi8(v, _mm256_setzero_si256());
}

// The site maps of one row on two blocks of sixteen samples (0..255), in place: the row's
// bytes are split into its even and odd columns, one kind per 128-bit lane, looked up there
// with the lane's map and put back in order.
QV_AVX2_INLINE void LookUpSites(__m256i& a, __m256i& b, const avx2::ByteLookup& sites) {
    // Within each lane: a's even columns, b's even columns, a's odd columns, b's odd columns.
    const __m256i split = Both(_mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15));
    ToBlocks(sites(FromLanes(_mm256_shuffle_epi8(_mm256_packus_epi16(a, b), split))), a, b);
}

// Gains, matrix and compensation of two blocks of both rows, with the first row's site maps:
// its cells' results go to bytes straight from their 32-bit lanes, already apart by site, so
// they need no interleaving before the lookup (the unsigned byte pack clamps to 0..255 like
// the clamp). The second row comes back in column order, for its lookups by scalar code.
QV_AVX2_INLINE void GainsMatrixSites(__m256i& e0, __m256i& o0, __m256i& e1, __m256i& o1,
                                     const GainsMatrix256& gm, const avx2::ByteLookup& firstRow) {
    const Cells c0 = GainsMatrixCells(e0, o0, gm);
    const Cells c1 = GainsMatrixCells(e1, o1, gm);
    // Per lane: the lane's four cells of block 0, then of block 1.
    __m256i green1 = _mm256_packs_epi32(c0.green1, c1.green1);
    __m256i red = _mm256_packs_epi32(c0.red, c1.red);
    if (gm.compensate) {
        green1 = Compensate(ClampTo255(green1), gm);
        red = Compensate(ClampTo255(red), gm);
    }
    ToBlocks(firstRow(FromLanes(_mm256_packus_epi16(green1, red))), e0, e1);
    auto second = [&](const Cells& c) __attribute__((always_inline)) {
        const __m256i o = ClampTo255(_mm256_packs_epi32(_mm256_unpacklo_epi32(c.blue, c.green2),
                                                        _mm256_unpackhi_epi32(c.blue, c.green2)));
        return gm.compensate ? Compensate(o, gm) : o;
    };
    o0 = second(c0);
    o1 = second(c1);
}

// The site maps on the samples from an even column up to column `end` of a row, in place.
QV_AVX2_INLINE void LookUpScalar(uint16_t* __restrict row, int end, const uint8_t* __restrict first,
                                 const uint8_t* __restrict second) {
#pragma GCC unroll 4
    for (int x = 0; x < end; x += 2) {
        row[x] = first[row[x]];
        row[x + 1] = second[row[x + 1]];
    }
}

// The blue samples right of the cells of the block ending the row, from the block's second
// row `o` as read: those inside the row, and for the row's last cell its own blue (as
// ReadBluePlus), so that nothing past the row is read.
QV_AVX2_INLINE __m256i LastBluePlus(__m256i o) {
    // Every sample one column to the left, across the lanes; the last lane's odd word, left
    // empty, takes the last cell's blue.
    const __m256i left = _mm256_alignr_epi8(_mm256_permute2x128_si256(o, o, 0x81), o, 2);
    return _mm256_blend_epi32(left, _mm256_bslli_epi128(o, 2), 0x80);
}

// Row pair j's whole blocks of sixteen columns into `pair`: reading, green balance, and with kGains
// the gains with matrix and compensation, with kSites the site maps. One pass, two blocks at a time
// as the lookups take them; a block left over goes beside a copy of itself. Of the site maps, the
// first row's are looked up in vectors and the second row's by scalar code on the blocks stored
// before, which keeps the load and store units busy while the vector units work: either way alone
// takes longer. Returns the columns done.
template <int kSampleBytes, bool kGains, bool kSites>
int LoadBlocks(const ColourFrameSetup& fs, const GainsMatrixRegs& gains,
               const avx2::ByteLookup* firstRow, const uint8_t* raw, int j, uint16_t* pair) {
    const int W = fs.width;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const uint8_t* rowEven = raw + static_cast<size_t>(2 * j) * rowBytes;
    const uint8_t* rowOdd = rowEven + rowBytes;
    uint16_t* dstEven = pair;
    uint16_t* dstOdd = pair + fs.rowStride;
    const uint8_t* blueMap = fs.blueMap;
    const uint8_t* greenMap = fs.greenMap;
    const bool colourCamera = !fs.monoCamera;
    const GainsMatrix256 gm(gains);
    const __m256i cells = _mm256_set1_epi32(0xFFFF);
    auto read = [&](int x, __m256i& e, __m256i& o) __attribute__((always_inline)) {
        e = ReadBlock<kSampleBytes>(rowEven, x);
        o = ReadBlock<kSampleBytes>(rowOdd, x);
        if (colourCamera)
            BalanceGreens(e, o,
                          x + 17 <= W ? ReadBlock<kSampleBytes>(rowOdd, x + 1) : LastBluePlus(o),
                          cells);
    };
    int x = 0;
    for (; x + 16 <= W; x += 32) {
        const int x1 = x + 32 <= W ? x + 16 : x;
        __m256i e0, o0, e1, o1;
        read(x, e0, o0);
        read(x1, e1, o1);
        if constexpr (kGains && kSites) {
            GainsMatrixSites(e0, o0, e1, o1, gm, *firstRow);
        } else if constexpr (kGains) {
            ApplyGainsMatrix(e0, o0, gm);
            ApplyGainsMatrix(e1, o1, gm);
        } else if constexpr (kSites) {
            LookUpSites(e0, e1, *firstRow);
        }
        Store(dstEven + x, e0);
        Store(dstOdd + x, o0);
        Store(dstEven + x1, e1);
        Store(dstOdd + x1, o1);
        if constexpr (kSites) {
            if (x > 0) LookUpScalar(dstOdd + x - 32, 32, blueMap, greenMap);
        }
    }
    const int done = W / 16 * 16;
    if constexpr (kSites) {
        const int looked = std::max(0, x - 32);  // the start of the last two blocks
        LookUpScalar(dstOdd + looked, done - looked, blueMap, greenMap);
    }
    return done;
}

template <int kSampleBytes>
void LoadRowPairAvx2(const ColourFrameSetup& setup, const GainsMatrixRegs& gains,
                     const SiteLookupsAvx2& lookups, const uint8_t* raw, int j, uint16_t* pair) {
    const ColourFrameSetup fs = setup;
    const bool gainsStage = !fs.monoCamera && !fs.gainsStageIsIdentity;
    int done;
    if (fs.tableOn) {
        const avx2::ByteLookup firstRow(lookups.firstRow);
        done = gainsStage
                   ? LoadBlocks<kSampleBytes, true, true>(fs, gains, &firstRow, raw, j, pair)
                   : LoadBlocks<kSampleBytes, false, true>(fs, gains, &firstRow, raw, j, pair);
    } else {
        done = gainsStage
                   ? LoadBlocks<kSampleBytes, true, false>(fs, gains, nullptr, raw, j, pair)
                   : LoadBlocks<kSampleBytes, false, false>(fs, gains, nullptr, raw, j, pair);
    }
    // The columns past the last whole block, a partial group (none at widths of whole blocks).
    if constexpr (kSampleBytes == 1)
        LoadRowPair8(fs, gains, raw, j, pair, done);
    else
        LoadRowPair16(fs, gains, raw, j, pair, done);
}

// SharpenRowVector sixteen samples at a time: the same columns and values.
template <int s, bool kNarrow>
void SharpenRow(const uint16_t* __restrict a, const uint16_t* __restrict b,
                const uint16_t* __restrict c, uint16_t* __restrict dst, uint16_t* __restrict sums,
                int width, int strength) {
    const int start = 2 * s;
    if (width < start) {
        std::memcpy(dst, b, static_cast<size_t>(width) * sizeof(uint16_t));
        return;
    }
    const int end = avx2::SharpenEnd(width, s);
    std::memcpy(dst, b, static_cast<size_t>(start) * sizeof(uint16_t));
    std::memcpy(dst + end, b + end, static_cast<size_t>(width - end) * sizeof(uint16_t));
    int x = 0;
    for (; x + 16 <= width; x += 16)
        Store(sums + x, _mm256_add_epi16(_mm256_add_epi16(Load(a + x), Load(b + x)), Load(c + x)));
    for (; x < width; ++x) sums[x] = static_cast<uint16_t>(a[x] + b[x] + c[x]);
    const __m256i t = _mm256_set1_epi16(static_cast<int16_t>(strength));
    auto block = [&](int x) __attribute__((always_inline)) {
        Store(dst + x, avx2::SharpenBlock<s, kNarrow>(Load(b + x), sums, x, t));
    };
    x = start;
    for (; x + 16 <= end; x += 16) block(x);
    if (x < end && end - start >= 16) {
        block(end - 16);  // overlaps the block before; the same values
        return;
    }
    for (; x < end; ++x) {
        int sum = 0;
        for (int o = -2; o <= 2; ++o) sum += sums[x + o * s];
        dst[x] = static_cast<uint16_t>(avx2::SharpenOne(b[x], sum, strength));
    }
}

// ApplyChannelContrast on sixteen samples with one pivot and factor.
QV_AVX2_INLINE __m256i ChannelContrast(__m256i v, __m256 pivot, __m256 factor) {
    const __m256i zero = _mm256_setzero_si256();
    __m256 a = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(v, zero));
    __m256 b = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(v, zero));
    a = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(a, pivot), factor), pivot);
    b = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(b, pivot), factor), pivot);
    a = _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    b = _mm256_round_ps(b, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256 high = _mm256_set1_ps(255.0f);
    a = _mm256_min_ps(_mm256_max_ps(a, _mm256_setzero_ps()), high);
    b = _mm256_min_ps(_mm256_max_ps(b, _mm256_setzero_ps()), high);
    return _mm256_packs_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b));
}

QV_AVX2_INLINE __m256i LumaOf(__m256i r, __m256i g, __m256i b) {
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(76)),
                                          _mm256_mullo_epi16(g, _mm256_set1_epi16(150))),
                         _mm256_mullo_epi16(b, _mm256_set1_epi16(29))),
        8);
}

// ApplyLumaContrast on sixteen pixels.
QV_AVX2_INLINE void LumaContrast(__m256i& red, __m256i& green, __m256i& blue, __m256 pivot,
                                 __m256 factor) {
    const __m256i y2 = ChannelContrast(LumaOf(red, green, blue), pivot, factor);
    const __m256i u = _mm256_srai_epi16(
        _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(red, _mm256_set1_epi16(-37)),
                                          _mm256_mullo_epi16(green, _mm256_set1_epi16(-74))),
                         _mm256_mullo_epi16(blue, _mm256_set1_epi16(111))),
        8);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rg0 = _mm256_unpacklo_epi16(red, green);
    const __m256i rg1 = _mm256_unpackhi_epi16(red, green);
    const __m256i b0 = _mm256_unpacklo_epi16(blue, zero);
    const __m256i b1 = _mm256_unpackhi_epi16(blue, zero);
    const __m256i wRg = _mm256_set1_epi32(
        static_cast<int>((static_cast<uint32_t>(-131) << 16) | static_cast<uint16_t>(157)));
    const __m256i wB = _mm256_set1_epi32(static_cast<uint16_t>(-26));
    const __m256i v0 = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(rg0, wRg), _mm256_madd_epi16(b0, wB)), 8);
    const __m256i v1 = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(rg1, wRg), _mm256_madd_epi16(b1, wB)), 8);
    const __m256i v = _mm256_packs_epi32(v0, v1);
    const __m256i uv0 = _mm256_unpacklo_epi16(u, v);
    const __m256i uv1 = _mm256_unpackhi_epi16(u, v);
    auto term = [&](int wu, int wv) {
        const __m256i w = _mm256_set1_epi32(
            static_cast<int>((static_cast<uint32_t>(wv) << 16) | static_cast<uint16_t>(wu)));
        return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(uv0, w), 8),
                                  _mm256_srai_epi32(_mm256_madd_epi16(uv1, w), 8));
    };
    const __m256i top = _mm256_set1_epi16(255);
    red = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y2, term(0, 292)), zero), top);
    green = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(y2, term(101, 149)), zero), top);
    blue = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y2, term(520, 0)), zero), top);
}

// What the output stage of a frame needs in registers.
struct OutputRegs {
    __m256i packMask;  // plain packing mask of the 3- and 4-byte layouts, in both lanes
    __m256i reverse;   // reverses the words within each lane
    __m256 redPivot;
    __m256 factor;
};

// Sixteen words reversed.
QV_AVX2_INLINE __m256i Reverse(__m256i v, const OutputRegs& o) {
    return _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0x4E), o.reverse);
}

// Writes sixteen processed pixels at output pixel outX of a row (reversed under the mirror);
// nothing outside those sixteen pixels is written.
QV_AVX2_INLINE void EmitBlock(const ColourFrameSetup& fs, const OutputRegs& o, __m256i r, __m256i g,
                              __m256i b, uint8_t* outRow, int outX) {
    uint8_t* dst = outRow + static_cast<size_t>(outX) * fs.bytesPerPixel;
    if (fs.mirrorH) {
        r = Reverse(r, o);
        if (fs.bytesPerPixel != 1) {
            g = Reverse(g, o);
            b = Reverse(b, o);
        }
    }
    if (fs.bytesPerPixel == 1) {
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(dst),
            _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1)));
        return;
    }
    // Each pixel as B, G, R, 255; lane k of `lo` holds pixels 8k to 8k + 3, of `hi` 8k + 4 to
    // 8k + 7.
    const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
    const __m256i ra = _mm256_or_si256(r, _mm256_set1_epi16(static_cast<int16_t>(0xFF00)));
    const __m256i lo = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bg, ra), o.packMask);
    const __m256i hi = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bg, ra), o.packMask);
    if (fs.bytesPerPixel == 4) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
        return;
    }
    // Twelve bytes per four pixels, the top four bytes of each quarter zero: the quarters are
    // closed up into the 48 bytes of the block, stored in two parts.
    const __m256i x = _mm256_or_si256(lo, _mm256_bslli_epi128(hi, 12));  // bytes 0-15, 24-39
    const __m256i y = _mm256_bsrli_epi128(hi, 4);                        // 16-23, 40-47
    const __m256i first = _mm256_blend_epi32(_mm256_permute4x64_epi64(x, 0x94),
                                             _mm256_permute4x64_epi64(y, 0x00), 0x30);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32),
                     _mm256_extracti128_si256(_mm256_alignr_epi8(y, x, 8), 1));
}

// The interior demosaic of sixteen pixels from column x0 of a row.
QV_AVX2_INLINE void DemosaicBlock(const ColourFrameSetup& fs, const OutputRegs& o,
                                  const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                  bool oddRow, int x0, uint8_t* outRow) {
    const __m256i c = Load(row + x0);
    __m256i r, g, b;
    if (fs.monoCamera) {
        r = fs.contrast ? ChannelContrast(c, o.redPivot, o.factor) : c;
        g = b = r;
    } else {
        const __m256i ha =
            _mm256_srli_epi16(_mm256_add_epi16(Load(row + x0 - 1), Load(row + x0 + 1)), 1);
        const __m256i va = _mm256_srli_epi16(_mm256_add_epi16(Load(up + x0), Load(down + x0)), 1);
        const __m256i xa = _mm256_srli_epi16(_mm256_add_epi16(ha, va), 1);
        const __m256i da = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(Load(up + x0 - 1), Load(up + x0 + 1)),
                             _mm256_add_epi16(Load(down + x0 - 1), Load(down + x0 + 1))),
            2);
        const __m256i gs = _mm256_srli_epi16(_mm256_add_epi16(c, da), 1);
        if (!oddRow) {
            r = _mm256_blend_epi16(ha, c, 0xAA);
            g = _mm256_blend_epi16(gs, xa, 0xAA);
            b = _mm256_blend_epi16(va, da, 0xAA);
        } else {
            r = _mm256_blend_epi16(da, va, 0xAA);
            g = _mm256_blend_epi16(xa, gs, 0xAA);
            b = _mm256_blend_epi16(c, ha, 0xAA);
        }
        if (fs.contrast) LumaContrast(r, g, b, o.redPivot, o.factor);
        if (!fs.matrixInUse) r = g = b = LumaOf(r, g, b);
    }
    EmitBlock(fs, o, r, g, b, outRow, fs.mirrorH ? fs.width - 16 - x0 : x0);
}

}  // namespace

void PrepareSiteLookupsAvx2(const ColourFrameSetup& fs, SiteLookupsAvx2* lookups) {
    const avx2::ByteLookup firstRow(fs.greenMap, fs.redMap);
    std::copy(std::begin(firstRow.rows), std::end(firstRow.rows), lookups->firstRow);
}

void LoadRowPair8Avx2(const ColourFrameSetup& fs, const GainsMatrixRegs& gm,
                      const SiteLookupsAvx2& lookups, const uint8_t* raw, int j, uint16_t* pair) {
    LoadRowPairAvx2<1>(fs, gm, lookups, raw, j, pair);
}

void LoadRowPair16Avx2(const ColourFrameSetup& fs, const GainsMatrixRegs& gm,
                       const SiteLookupsAvx2& lookups, const uint8_t* raw, int j, uint16_t* pair) {
    LoadRowPairAvx2<2>(fs, gm, lookups, raw, j, pair);
}

void DemosaicRowPairAvx2(const ColourFrameSetup& setup, int j, const uint16_t* above,
                         const uint16_t* pair, const uint16_t* below, uint8_t* out) {
    const ColourFrameSetup fs = setup;
    const int W = fs.width;
    if (W < 20) {
        // Too narrow for a block of sixteen between the border cells: the block must start at
        // column 2 or later (it reads one column to its left) and end at column W - 3.
        DemosaicRowPair(fs, j, above, pair, below, out);
        return;
    }
    const bool rgb = fs.outputId == 20;
    OutputRegs o;
    const uint8_t* pack =
        fs.bytesPerPixel == 3   ? (rgb ? GetPackMaskRgb8(false) : GetPackMaskBgr8(false))
        : fs.bytesPerPixel == 4 ? (rgb ? GetPackMaskRgba8(false) : GetPackMaskBgra8(false))
                                : GetPackMaskMono8(false);
    o.packMask = Both(_mm_load_si128(reinterpret_cast<const __m128i*>(pack)));
    o.reverse =
        Both(_mm_load_si128(reinterpret_cast<const __m128i*>(VectorConstants().reverseWords)));
    o.redPivot = _mm256_set1_ps(static_cast<float>(fs.redMean));
    o.factor = _mm256_set1_ps(fs.factor);
    const size_t S = fs.rowStride;
    for (int r = 0; r < 2; ++r) {
        const uint16_t* row = pair + r * S;
        const uint16_t* up = r == 0 ? above + S : pair;
        const uint16_t* down = r == 0 ? pair + S : below;
        uint8_t* outRow = fs.OutRow(out, 2 * j + r);
        WriteBorderCellPixels(fs, pair[0], pair[1], pair[S], pair[S + 1], r, 0, outRow);
        // Blocks from column 2; the last one ends at column W - 3, overlapping the one before
        // when the interior is not a whole number of blocks (its pixels come out the same).
        for (int x0 = 2;; x0 += 16) {
            const int g = std::min(x0, W - 18);
            DemosaicBlock(fs, o, up, row, down, r == 1, g, outRow);
            if (g + 16 >= W - 2) break;
        }
        WriteBorderCellPixels(fs, pair[W - 2], pair[W - 1], pair[S + W - 2], pair[S + W - 1], r,
                              W - 2, outRow);
    }
}

}  // namespace qv::isp::colour

namespace qv::isp {

void SharpenRowVectorAvx2(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* dst,
                          uint16_t* sums, int width, int s, int strength) {
    const bool narrow = strength >= -128 && strength <= 128;
    if (s == 2 && narrow)
        colour::SharpenRow<2, true>(a, b, c, dst, sums, width, strength);
    else if (s == 2)
        colour::SharpenRow<2, false>(a, b, c, dst, sums, width, strength);
    else if (narrow)
        colour::SharpenRow<1, true>(a, b, c, dst, sums, width, strength);
    else
        colour::SharpenRow<1, false>(a, b, c, dst, sums, width, strength);
}

}  // namespace qv::isp

#include "Avx2TargetEnd.h"
