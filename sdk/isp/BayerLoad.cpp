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

// Gains from 25600 on give every sample above 0 the value 255, like 25600 itself.
constexpr uint32_t kGainCeiling = 25600;

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

// The even lanes of the first `count` cells of a group.
inline __m128i CellLanes(int count) {
    alignas(16) uint16_t lanes[8] = {};
    for (int c = 0; c < std::min(count, 4); ++c) lanes[2 * c] = 0xFFFF;
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
}

GreenBalanceRegs MakeGreenBalanceRegs() {
    const IspVectorConstants& k = VectorConstants();
    return {LoadConstant(k.closenessThreshold), LoadConstant(k.brightThreshold)};
}

inline __m128i Pairs(int a, int b) {
    return _mm_set_epi16(static_cast<int16_t>(b), static_cast<int16_t>(a), static_cast<int16_t>(b),
                         static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(a),
                         static_cast<int16_t>(b), static_cast<int16_t>(a));
}

// Puts the samples of one row of the ring through the site maps, in place: `first` for the
// even columns, `second` for the odd ones. A pass of its own over the row just written (still
// in L1) rather than lookups inside the vector loop: there each looked-up sample cost a lane
// extraction and the shifts that put the bytes back together, here only two loads and a store.
void LookUpRow(uint16_t* __restrict row, int width, const uint8_t* __restrict first,
               const uint8_t* __restrict second) {
    int x = 0;
#pragma GCC unroll 4
    for (; x + 2 <= width; x += 2) {
        row[x] = first[row[x]];
        row[x + 1] = second[row[x + 1]];
    }
    if (x < width) row[x] = first[row[x]];
}

}  // namespace

GainsMatrixRegs MakeGainsMatrixRegs(const ColourFrameSetup& fs) {
    GainsMatrixRegs gm;
    const int red = static_cast<int>(std::min(fs.gains[0], kGainCeiling));
    const int green = static_cast<int>(std::min(fs.gains[1], kGainCeiling));
    const int blue = static_cast<int>(std::min(fs.gains[2], kGainCeiling));
    gm.gainsEven = Pairs(green, red);
    gm.gainsOdd = Pairs(blue, green);
    gm.wideGains = std::max({red, green, blue}) > 257;
    const int* m = fs.matrix;
    gm.wideMatrix = std::any_of(m, m + 9, [](int v) { return v < -32768 || v > 32767; });
    gm.redFromEven = Pairs(0, m[0]);
    gm.redFromBlueMean = Pairs(m[2], m[1]);
    gm.blueFromEven = Pairs(0, m[6]);
    gm.blueFromBlueMean = Pairs(m[8], m[7]);
    gm.green1FromEven = Pairs(m[4], m[3]);
    gm.green1FromOdd = Pairs(m[5], 0);
    gm.green2FromEven = Pairs(0, m[3]);
    gm.green2FromOdd = Pairs(m[5], m[4]);
    for (int i = 0; i < 9; ++i) gm.m32[i] = _mm_set1_epi32(m[i]);
    gm.factor = _mm_set1_epi16(static_cast<int16_t>(fs.compFactor));
    gm.compensate = fs.compExponent >= 2;
    return gm;
}

// Green balance with the blue right of each cell read from a raw row of bytes.
void BalanceGreens8(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                    int cells) {
    BalanceGreens(even, odd, ReadBluePlus<1>(rawOddRow, x0, width), CellLanes(cells),
                  MakeGreenBalanceRegs());
}

// Green balance with the blue right of each cell read from a raw row of 12-bit words.
void BalanceGreens16(__m128i& even, __m128i& odd, const uint8_t* rawOddRow, int x0, int width,
                     int cells) {
    BalanceGreens(even, odd, ReadBluePlus<2>(rawOddRow, x0, width), CellLanes(cells),
                  MakeGreenBalanceRegs());
}

namespace colour {

namespace {

template <int kSampleBytes>
void LoadRowPair(const ColourFrameSetup& setup, const GainsMatrixRegs& gains, const uint8_t* raw,
                 int j, uint16_t* pair, int from) {
    // Local copies: the stores below could otherwise alias them.
    const ColourFrameSetup fs = setup;
    const GainsMatrixRegs gm = gains;
    const GreenBalanceRegs gb = MakeGreenBalanceRegs();
    const __m128i allCells = LoadConstant(VectorConstants().evenLaneMask);
    const int W = fs.width;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const int y = 2 * j;
    const uint8_t* rowEven = raw + static_cast<size_t>(y) * rowBytes;
    const uint8_t* rowOdd = rowEven + rowBytes;
    uint16_t* dstEven = pair;
    uint16_t* dstOdd = pair + fs.rowStride;
    const bool colourCamera = !fs.monoCamera;
    const bool gainsStage = colourCamera && !fs.gainsStageIsIdentity;
    const bool tableOn = fs.tableOn;
    const uint8_t* redMap = fs.redMap;
    const uint8_t* greenMap = fs.greenMap;
    const uint8_t* blueMap = fs.blueMap;
    auto process = [&](__m128i e, __m128i o, __m128i bluePlus, __m128i cells, int x0)
        __attribute__((always_inline)) {
        if (colourCamera) BalanceGreens(e, o, bluePlus, cells, gb);
        // The ring's rows have room for whole groups.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dstEven + x0), e);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dstOdd + x0), o);
    };
    // Whole groups whose blue samples right of the cells lie inside the row.
    int x0 = from;
    for (; x0 + 9 <= W; x0 += 8) {
        const __m128i e = ReadGroup<kSampleBytes>(rowEven, x0);
        const __m128i o = ReadGroup<kSampleBytes>(rowOdd, x0);
        const __m128i bluePlus =
            colourCamera ? ReadGroup<kSampleBytes>(rowOdd, x0 + 1) : _mm_setzero_si128();
        process(e, o, bluePlus, allCells, x0);
    }
    // The last group or two: the row's last cell, a partial group.
    for (; x0 < W; x0 += 8) {
        const int n = std::min(8, W - x0);
        const __m128i e = n == 8 ? ReadGroup<kSampleBytes>(rowEven, x0)
                                 : ReadPartialGroup<kSampleBytes>(rowEven, x0, n);
        const __m128i o = n == 8 ? ReadGroup<kSampleBytes>(rowOdd, x0)
                                 : ReadPartialGroup<kSampleBytes>(rowOdd, x0, n);
        process(e, o, ReadBluePlus<kSampleBytes>(rowOdd, x0, W), CellLanes(n / 2), x0);
    }
    // The gains and matrix as a pass of their own over the row pair just stored (still in L1):
    // fused into the loop above, each group's chain of dependent steps grew too long for the
    // processor to overlap enough groups. The table lookups of the group before ride along:
    // they keep the load and store units busy while the vector units do the arithmetic.
    int looked = from;  // samples of each row looked up so far
    if (gainsStage) {
        for (int x = from; x < static_cast<int>(fs.rowStride); x += 8) {
            __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dstEven + x));
            __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dstOdd + x));
            ApplyGainsMatrix(e, o, gm);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dstEven + x), e);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dstOdd + x), o);
            if (tableOn && x > from) {
                LookUpRow(dstEven + looked, 8, greenMap, redMap);
                LookUpRow(dstOdd + looked, 8, blueMap, greenMap);
                looked += 8;
            }
        }
    }
    if (tableOn) {
        LookUpRow(dstEven + looked, W - looked, greenMap, redMap);
        LookUpRow(dstOdd + looked, W - looked, blueMap, greenMap);
    }
}

}  // namespace

void CorrectRowPair(const ColourFrameSetup& fs, uint8_t* raw, int j, int sampleBytes) {
    // Both rows are corrected before any sample of the pair is read, so the blue right of a
    // group's last cell is read corrected like every other sample.
    if (!fs.deadPixel || j == 0 || j >= fs.pairs - 1) return;
    const int W = fs.width;
    const int d = fs.monoCamera ? 1 : 2;
    const size_t rowBytes = static_cast<size_t>(W) * sampleBytes;
    if (sampleBytes == 1) {
        CorrectRowVector<1>(raw, rowBytes, W, 2 * j, d);
        CorrectRowVector<1>(raw, rowBytes, W, 2 * j + 1, d);
    } else {
        CorrectRowVector<2>(raw, rowBytes, W, 2 * j, d);
        CorrectRowVector<2>(raw, rowBytes, W, 2 * j + 1, d);
    }
}

void LoadRowPair8(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, const uint8_t* raw, int j,
                  uint16_t* pair, int from) {
    LoadRowPair<1>(fs, gm, raw, j, pair, from);
}

void LoadRowPair16(const ColourFrameSetup& fs, const GainsMatrixRegs& gm, const uint8_t* raw, int j,
                   uint16_t* pair, int from) {
    LoadRowPair<2>(fs, gm, raw, j, pair, from);
}

}  // namespace colour

}  // namespace qv::isp
