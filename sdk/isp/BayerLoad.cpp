// Loading of a row pair by the vector colour kernels: dead-pixel correction, reading, green
// balance, white-balance gains with colour matrix and brightness compensation, and the lookup
// table by Bayer site.
#include <algorithm>
#include <cstring>

#include "BayerVector.h"
#include "IspVectorConstants.h"
#include "IspVectorOps.h"

namespace qv::isp {

using colour::ColourFrameSetup;

namespace {

// Eight samples of a raw row from column x as 8-bit values in 16-bit lanes: bytes as they
// are, 12-bit words held to 4095 and reduced to their top 8 bits.
template <int kSampleBytes>
inline __m128i ReadGroup(const uint8_t* row, int x) {
    if constexpr (kSampleBytes == 1) {
        return _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)));
    } else {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x));
        return _mm_srli_epi16(_mm_min_epu16(v, _mm_set1_epi16(4095)), 4);
    }
}

// The same for the columns x to x + n - 1 only (n < 8); the other lanes are 0.
template <int kSampleBytes>
inline __m128i ReadPartialGroup(const uint8_t* row, int x, int n) {
    alignas(16) uint16_t lanes[8] = {};
    for (int i = 0; i < n; ++i)
        lanes[i] = static_cast<uint16_t>(colour::ReadSample8<kSampleBytes>(row, x + i));
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
}

// The blue samples right of the group's cells, lane 2c + 1 holding the blue of the cell after
// cell c (column x0 + 2c + 2 of the pair's second row). The last cell of a row has none; it
// takes its own blue instead, so nothing past the row is read.
template <int kSampleBytes>
inline __m128i ReadBluePlus(const uint8_t* rowOdd, int x0, int width) {
    if (x0 + 9 <= width) return ReadGroup<kSampleBytes>(rowOdd, x0 + 1);
    alignas(16) uint16_t lanes[8] = {};
    for (int c = 0; c < 4; ++c) {
        const int col = x0 + 2 * c + 2;
        if (col - 2 >= width) break;
        lanes[2 * c + 1] = static_cast<uint16_t>(
            colour::ReadSample8<kSampleBytes>(rowOdd, col < width ? col : col - 2));
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
}

inline __m128i AbsDiff(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a));
}

// Green balance of the cells of one group. `even` holds G1, R of the first row, `odd` B, G2 of
// the second, `bluePlus` the blue right of each cell in its odd lanes, `cells` the even lanes
// of the cells the group really has. The two greens of a cell become (G1 + G2 + 1) >> 1 when
// they differ by less than 10 or by less than G1 >> 3, when red, blue and one green are all
// above 200, or when some cell of the group has red and the blue right of it closer than 10
// and this cell's mean of the two, (R + B+ + 1) >> 1, lies closer than 10 to one of its
// greens. The tests use the samples as loaded.
inline void BalanceGreens(__m128i& even, __m128i& odd, __m128i bluePlus, __m128i cells) {
    const IspVectorConstants& k = VectorConstants();
    const __m128i ten = LoadConstant(k.closenessThreshold);
    const __m128i bright = LoadConstant(k.brightThreshold);
    // Every cell in its even lane: G1, G2, R, B and the blue right of it.
    const __m128i g1 = even;
    const __m128i g2 = _mm_srli_si128(odd, 2);
    const __m128i r = _mm_srli_si128(even, 2);
    const __m128i b = odd;
    const __m128i bp = _mm_srli_si128(bluePlus, 2);
    const __m128i d = AbsDiff(g1, g2);
    __m128i equalise =
        _mm_or_si128(_mm_cmplt_epi16(d, ten), _mm_cmplt_epi16(d, _mm_srli_epi16(g1, 3)));
    const __m128i hot =
        _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi16(r, bright), _mm_cmpgt_epi16(b, bright)),
                      _mm_or_si128(_mm_cmpgt_epi16(g1, bright), _mm_cmpgt_epi16(g2, bright)));
    equalise = _mm_or_si128(equalise, hot);
    const __m128i neutral = _mm_and_si128(_mm_cmplt_epi16(AbsDiff(r, bp), ten), cells);
    if (_mm_movemask_epi8(neutral) != 0) {
        const __m128i m = _mm_avg_epu16(r, bp);
        equalise = _mm_or_si128(equalise, _mm_or_si128(_mm_cmplt_epi16(AbsDiff(m, g1), ten),
                                                       _mm_cmplt_epi16(AbsDiff(m, g2), ten)));
    }
    equalise = _mm_and_si128(equalise, cells);
    if (_mm_movemask_epi8(equalise) == 0) return;
    const __m128i mean = _mm_avg_epu16(g1, g2);
    even = _mm_blendv_epi8(even, mean, equalise);
    odd = _mm_blendv_epi8(odd, _mm_slli_si128(mean, 2), _mm_slli_si128(equalise, 2));
}

// The even lanes of the first `count` cells of a group.
inline __m128i CellLanes(int count) {
    const IspVectorConstants& k = VectorConstants();
    const __m128i all = LoadConstant(k.evenLaneMask);
    if (count >= 4) return all;
    alignas(16) uint16_t lanes[8] = {};
    for (int c = 0; c < count; ++c) lanes[2 * c] = 0xFFFF;
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
}

// The gain of four samples: the 32-bit product divided by 100.0 in single precision, rounded
// to the nearest integer (ties to even, whatever the caller's rounding mode), at most 255.
inline __m128i GainOf(__m128i samples, __m128i gains) {
    const __m128 product = _mm_cvtepi32_ps(_mm_mullo_epi32(samples, gains));
    const __m128 rounded = _mm_round_ps(_mm_div_ps(product, _mm_set1_ps(100.0f)),
                                        _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return _mm_min_epi32(_mm_cvttps_epi32(rounded), _mm_set1_epi32(255));
}

inline __m128i Dot3(__m128i a, __m128i ma, __m128i b, __m128i mb, __m128i c, __m128i mc) {
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(a, ma), _mm_mullo_epi32(b, mb)),
                                      _mm_mullo_epi32(c, mc));
    return _mm_srai_epi32(sum, 8);
}

inline __m128i Clamp255(__m128i v) {
    return _mm_min_epi32(_mm_max_epi32(v, _mm_setzero_si128()), _mm_set1_epi32(255));
}

}  // namespace

GainsMatrixRegs MakeGainsMatrixRegs(const ColourFrameSetup& fs) {
    GainsMatrixRegs gm;
    const int red = static_cast<int>(fs.gains[0]);
    const int green = static_cast<int>(fs.gains[1]);
    const int blue = static_cast<int>(fs.gains[2]);
    gm.gainsEven = _mm_setr_epi32(green, red, green, red);
    gm.gainsOdd = _mm_setr_epi32(blue, green, blue, green);
    for (int i = 0; i < 9; ++i) gm.m[i] = _mm_set1_epi32(fs.matrix[i]);
    gm.factor = _mm_set1_epi32(fs.compFactor);
    gm.compensate = fs.compExponent >= 2;
    return gm;
}

// Gains, colour matrix and brightness compensation of the four cells of a group. The cells are
// taken apart into one 32-bit lane each (G1, R from the first row, B, G2 from the second), the
// green mean is (G1' + G2' + 1) >> 1, and the results are put back in the rows' order.
void ApplyGainsMatrix(__m128i& even, __m128i& odd, const GainsMatrixRegs& gm) {
    const __m128i eLo = GainOf(_mm_cvtepu16_epi32(even), gm.gainsEven);
    const __m128i eHi = GainOf(_mm_cvtepu16_epi32(_mm_srli_si128(even, 8)), gm.gainsEven);
    const __m128i oLo = GainOf(_mm_cvtepu16_epi32(odd), gm.gainsOdd);
    const __m128i oHi = GainOf(_mm_cvtepu16_epi32(_mm_srli_si128(odd, 8)), gm.gainsOdd);
    // Lanes 0, 2, 1, 3: the two cells' first samples, then their second ones.
    const __m128i e0 = _mm_shuffle_epi32(eLo, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i e1 = _mm_shuffle_epi32(eHi, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i o0 = _mm_shuffle_epi32(oLo, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i o1 = _mm_shuffle_epi32(oHi, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i g1 = _mm_unpacklo_epi64(e0, e1);
    const __m128i r = _mm_unpackhi_epi64(e0, e1);
    const __m128i b = _mm_unpacklo_epi64(o0, o1);
    const __m128i g2 = _mm_unpackhi_epi64(o0, o1);
    const __m128i gm32 = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(g1, g2), _mm_set1_epi32(1)), 1);

    __m128i red = Dot3(r, gm.m[0], gm32, gm.m[1], b, gm.m[2]);
    const __m128i greenBase =
        _mm_add_epi32(_mm_mullo_epi32(r, gm.m[3]), _mm_mullo_epi32(b, gm.m[5]));
    __m128i green1 = _mm_srai_epi32(_mm_add_epi32(greenBase, _mm_mullo_epi32(g1, gm.m[4])), 8);
    __m128i green2 = _mm_srai_epi32(_mm_add_epi32(greenBase, _mm_mullo_epi32(g2, gm.m[4])), 8);
    __m128i blue = Dot3(r, gm.m[6], gm32, gm.m[7], b, gm.m[8]);
    if (gm.compensate) {
        red = _mm_srai_epi32(_mm_mullo_epi32(Clamp255(red), gm.factor), 7);
        green1 = _mm_srai_epi32(_mm_mullo_epi32(Clamp255(green1), gm.factor), 7);
        green2 = _mm_srai_epi32(_mm_mullo_epi32(Clamp255(green2), gm.factor), 7);
        blue = _mm_srai_epi32(_mm_mullo_epi32(Clamp255(blue), gm.factor), 7);
    }
    red = Clamp255(red);
    green1 = Clamp255(green1);
    green2 = Clamp255(green2);
    blue = Clamp255(blue);
    even = _mm_packus_epi32(_mm_unpacklo_epi32(green1, red), _mm_unpackhi_epi32(green1, red));
    odd = _mm_packus_epi32(_mm_unpacklo_epi32(blue, green2), _mm_unpackhi_epi32(blue, green2));
}

// Green balance with the blue right of each cell read from a raw row of bytes.
void BalanceGreens8(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                    int cells) {
    BalanceGreens(even, odd, ReadBluePlus<1>(rawOddRow, x0, width), CellLanes(cells));
}

// Green balance with the blue right of each cell read from a raw row of 12-bit words.
void BalanceGreens16(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                     int cells) {
    BalanceGreens(even, odd, ReadBluePlus<2>(rawOddRow, x0, width), CellLanes(cells));
}

namespace colour {

namespace {

template <int kSampleBytes>
void LoadRowPair(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, uint8_t* raw, int j,
                 uint16_t* pair) {
    const int W = fs.width;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const int y = 2 * j;
    // Both rows are corrected before any sample of the pair is read, so the blue right of a
    // group's last cell is read corrected like every other sample.
    if (fs.deadPixel && j > 0 && j < fs.pairs - 1) {
        const int d = fs.monoCamera ? 1 : 2;
        CorrectRowVector<kSampleBytes>(raw, rowBytes, W, y, d);
        CorrectRowVector<kSampleBytes>(raw, rowBytes, W, y + 1, d);
    }
    const uint8_t* rowEven = raw + static_cast<size_t>(y) * rowBytes;
    const uint8_t* rowOdd = rowEven + rowBytes;
    uint16_t* dstEven = pair;
    uint16_t* dstOdd = pair + fs.rowStride;
    const uint8_t* red = fs.redMap;
    const uint8_t* green = fs.greenMap;
    const uint8_t* blue = fs.blueMap;
    for (int x0 = 0; x0 < W; x0 += 8) {
        const int n = std::min(8, W - x0);
        __m128i e, o;
        if (n == 8) {
            e = ReadGroup<kSampleBytes>(rowEven, x0);
            o = ReadGroup<kSampleBytes>(rowOdd, x0);
        } else {
            e = ReadPartialGroup<kSampleBytes>(rowEven, x0, n);
            o = ReadPartialGroup<kSampleBytes>(rowOdd, x0, n);
        }
        if (!fs.monoCamera) {
            if constexpr (kSampleBytes == 1)
                BalanceGreens8(e, o, rowOdd, x0, W, n / 2);
            else
                BalanceGreens16(e, o, rowOdd, x0, W, n / 2);
            if (!fs.gainsStageIsIdentity) ApplyGainsMatrix(e, o, gm);
        }
        // The ring's rows have room for whole groups.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dstEven + x0), e);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dstOdd + x0), o);
        if (fs.tableOn) {
            uint16_t* a = dstEven + x0;
            uint16_t* b = dstOdd + x0;
            for (int i = 0; i < n; i += 2) {
                a[i] = green[a[i]];
                a[i + 1] = red[a[i + 1]];
                b[i] = blue[b[i]];
                b[i + 1] = green[b[i + 1]];
            }
        }
    }
}

}  // namespace

void LoadRowPair8(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, uint8_t* raw, int j,
                  uint16_t* pair) {
    LoadRowPair<1>(fs, gm, raw, j, pair);
}

void LoadRowPair16(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, uint8_t* raw, int j,
                   uint16_t* pair) {
    LoadRowPair<2>(fs, gm, raw, j, pair);
}

}  // namespace colour

}  // namespace qv::isp
