// Vector sharpening of one row (SSE2, eight samples per register).
#include "SharpenVector.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace qv::isp {

namespace {

// The sharpening of one value from its centre and the sum of its fifteen window samples.
inline int SharpenOne(int v, int sum15, int strength) {
    const int m = (v + sum15) >> 4;
    const int diff = std::clamp(v - m, -255, 255);
    return std::clamp(v + ((diff * strength) >> 7), 0, 255);
}

// kNarrow: |strength| <= 128, so every product of a difference (at most 255 either way) and
// the strength fits 16 bits, and the 16-bit product shifted gives the same value as the 32-bit
// one with fewer steps.
template <int s, bool kNarrow>
void SharpenRow(const uint16_t* __restrict a, const uint16_t* __restrict b,
                const uint16_t* __restrict c, uint16_t* __restrict dst,
                uint16_t* __restrict columnSums, int width, int strength) {
    const int start = 2 * s;
    if (width < start) {
        std::memcpy(dst, b, static_cast<size_t>(width) * sizeof(uint16_t));
        return;
    }
    const int groups = (width - start) / 8;
    const int end = std::max(std::min(start + 8 * groups, width - 2 * s), start);
    // Only the columns left unsharpened are copied: a copy of the whole row first would be one
    // more pass over it.
    std::memcpy(dst, b, static_cast<size_t>(start) * sizeof(uint16_t));
    std::memcpy(dst + end, b + end, static_cast<size_t>(width - end) * sizeof(uint16_t));
    const int offsets[5] = {-2 * s, -s, 0, s, 2 * s};
    // The window is three rows by five columns: sum the three rows once per column.
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i sum =
            _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x))),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columnSums + x), sum);
    }
    for (; x < width; ++x) columnSums[x] = static_cast<uint16_t>(a[x] + b[x] + c[x]);
    const __m128i t = _mm_set1_epi16(static_cast<int16_t>(strength));
    const __m128i lowLimit = _mm_set1_epi16(-255);
    const __m128i highLimit = _mm_set1_epi16(255);
    const __m128i zero = _mm_setzero_si128();
    x = start;
    for (; x + 8 <= end; x += 8) {
        __m128i sum = _mm_setzero_si128();
        for (int o : offsets)
            sum = _mm_add_epi16(
                sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnSums + x + o)));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i m = _mm_srli_epi16(_mm_add_epi16(v, sum), 4);
        const __m128i diff = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(v, m), lowLimit), highLimit);
        __m128i res;
        if constexpr (kNarrow) {
            res = _mm_adds_epi16(v, _mm_srai_epi16(_mm_mullo_epi16(diff, t), 7));
        } else {
            const __m128i lo = _mm_mullo_epi16(diff, t);
            const __m128i hi = _mm_mulhi_epi16(diff, t);
            const __m128i p0 = _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 7);
            const __m128i p1 = _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 7);
            res = _mm_adds_epi16(v, _mm_packs_epi32(p0, p1));
        }
        res = _mm_min_epi16(_mm_max_epi16(res, zero), highLimit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), res);
    }
    for (; x < end; ++x) {
        int sum = 0;
        for (int o : offsets) sum += columnSums[x + o];
        dst[x] = static_cast<uint16_t>(SharpenOne(b[x], sum, strength));
    }
}

}  // namespace

void SharpenRowVector(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* dst,
                      uint16_t* columnSums, int width, int s, int strength) {
    const bool narrow = strength >= -128 && strength <= 128;
    if (s == 2 && narrow)
        SharpenRow<2, true>(a, b, c, dst, columnSums, width, strength);
    else if (s == 2)
        SharpenRow<2, false>(a, b, c, dst, columnSums, width, strength);
    else if (narrow)
        SharpenRow<1, true>(a, b, c, dst, columnSums, width, strength);
    else
        SharpenRow<1, false>(a, b, c, dst, columnSums, width, strength);
}

}  // namespace qv::isp
