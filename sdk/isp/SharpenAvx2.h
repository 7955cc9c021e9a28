// The sharpening of sixteen samples in AVX2, shared by the AVX2 mono and colour kernels, with
// the rules of SharpenRowVector. Included only by AVX2 sources, after their target pragma and
// after <immintrin.h>, <algorithm> and <cstdint>, so that nothing but these functions is built
// for AVX2.
#pragma once

namespace qv::isp::avx2 {

// One value from its centre and the sum of its fifteen window samples.
inline int SharpenOne(int v, int sum15, int strength) {
    const int m = (v + sum15) >> 4;
    const int diff = std::clamp(v - m, -255, 255);
    return std::clamp(v + ((diff * strength) >> 7), 0, 255);
}

// The end of the sharpened columns of a row: from 2s, the last complete group of eight from
// there, while the window's last column x + 2s stays inside the row.
inline int SharpenEnd(int width, int s) {
    const int start = 2 * s;
    const int groups = (width - start) / 8;
    return std::max(std::min(start + 8 * groups, width - 2 * s), start);
}

// Sixteen samples v (0..255) at column x sharpened from the column sums of the window's three
// rows, with the strength t in every lane; the results are 0..255. kNarrow: |strength| <= 128,
// where every product of a difference and the strength fits 16 bits.
template <int s, bool kNarrow>
inline __attribute__((always_inline)) __m256i SharpenBlock(__m256i v, const uint16_t* sums, int x,
                                                           __m256i t) {
    auto load = [&](int i) __attribute__((always_inline)) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + i));
    };
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(load(x - 2 * s), load(x - s)),
                                          _mm256_add_epi16(load(x + s), load(x + 2 * s))),
                         load(x));
    const __m256i highLimit = _mm256_set1_epi16(255);
    const __m256i m = _mm256_srli_epi16(_mm256_add_epi16(v, sum), 4);
    const __m256i diff = _mm256_min_epi16(
        _mm256_max_epi16(_mm256_sub_epi16(v, m), _mm256_set1_epi16(-255)), highLimit);
    __m256i res;
    if constexpr (kNarrow) {
        res = _mm256_adds_epi16(v, _mm256_srai_epi16(_mm256_mullo_epi16(diff, t), 7));
    } else {
        const __m256i lo = _mm256_mullo_epi16(diff, t);
        const __m256i hi = _mm256_mulhi_epi16(diff, t);
        const __m256i p0 = _mm256_srai_epi32(_mm256_unpacklo_epi16(lo, hi), 7);
        const __m256i p1 = _mm256_srai_epi32(_mm256_unpackhi_epi16(lo, hi), 7);
        res = _mm256_adds_epi16(v, _mm256_packs_epi32(p0, p1));
    }
    return _mm256_min_epi16(_mm256_max_epi16(res, _mm256_setzero_si256()), highLimit);
}

}  // namespace qv::isp::avx2
