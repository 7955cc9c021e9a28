// Inline vector operations shared by the kernels (SSE2, SSSE3, SSE4.1). Only sources compiled
// with -msse4.1 include this header.
#pragma once

#include <smmintrin.h>

#include <cstdint>

namespace qv::isp {

// Single-precision contrast of eight 16-bit samples: lane i computes (v - p) x f + p with the
// pivot and factor of lane i mod 4, rounds to the nearest integer (ties to even, whatever the
// caller's rounding mode) and clamps to 0..255.
inline __m128i ApplyChannelContrast(__m128i v, __m128 pivots, __m128 factors) {
    const __m128i zero = _mm_setzero_si128();
    const __m128 low = _mm_setzero_ps();
    const __m128 high = _mm_set1_ps(255.0f);
    __m128 a = _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, zero));
    __m128 b = _mm_cvtepi32_ps(_mm_unpackhi_epi16(v, zero));
    a = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(a, pivots), factors), pivots);
    b = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(b, pivots), factors), pivots);
    a = _mm_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    b = _mm_round_ps(b, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    a = _mm_min_ps(_mm_max_ps(a, low), high);
    b = _mm_min_ps(_mm_max_ps(b, low), high);
    return _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
}

inline __m128i LoadConstant(const uint8_t* reg) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(reg));
}

}  // namespace qv::isp
