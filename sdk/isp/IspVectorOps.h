// Inline vector operations shared by the kernels (SSE2, SSSE3, SSE4.1). Only sources compiled
// with -msse4.1 include this header.
#pragma once

#include <smmintrin.h>

#include <cstddef>
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

// A sample is dead when it and each of its four differences to the neighbours exceed 30.
inline constexpr int kVectorDeadThreshold = 30;

template <int kSampleBytes>
inline __m128i LoadGroup(const uint8_t* row, int x) {
    if constexpr (kSampleBytes == 1)
        return _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)));
    else
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x));
}

template <int kSampleBytes>
inline void StoreGroup(uint8_t* row, int x, __m128i v) {
    if constexpr (kSampleBytes == 1)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row + x), _mm_packus_epi16(v, v));
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * x), v);
}

// Dead-pixel correction of one raw row, in groups of eight from column 8 up to the last
// complete group but one. The eight samples of a group are tested against the neighbours as
// they were before any of them was replaced; a replacement is seen by the next group and by
// later rows. Callers keep the row d rows away from the frame's top and bottom.
template <int kSampleBytes>
inline void CorrectRowVector(uint8_t* raw, size_t rowBytes, int width, int y, int d) {
    uint8_t* up = raw + static_cast<size_t>(y - d) * rowBytes;
    uint8_t* mid = raw + static_cast<size_t>(y) * rowBytes;
    uint8_t* down = raw + static_cast<size_t>(y + d) * rowBytes;
    const __m128i threshold = _mm_set1_epi16(kVectorDeadThreshold);
    const __m128i threshold1 = _mm_set1_epi16(kVectorDeadThreshold + 1);
    const __m128i zero = _mm_setzero_si128();
    const int groups = width / 8;
    for (int g = 1; g <= groups - 2; ++g) {
        const int x = 8 * g;
        const __m128i v = LoadGroup<kSampleBytes>(mid, x);
        // Unsigned 16-bit tests: v > 30, and neighbour <= v - 31.
        const __m128i bright = _mm_cmpeq_epi16(_mm_subs_epu16(v, threshold), zero);
        if (_mm_movemask_epi8(bright) == 0xFFFF) continue;
        const __m128i limit = _mm_subs_epu16(v, threshold1);
        const __m128i u = LoadGroup<kSampleBytes>(up, x);
        const __m128i dn = LoadGroup<kSampleBytes>(down, x);
        const __m128i l = LoadGroup<kSampleBytes>(mid, x - d);
        const __m128i r = LoadGroup<kSampleBytes>(mid, x + d);
        auto below = [&](__m128i n) { return _mm_cmpeq_epi16(_mm_min_epu16(n, limit), n); };
        __m128i dead = _mm_andnot_si128(bright, below(u));
        dead = _mm_and_si128(dead, below(dn));
        dead = _mm_and_si128(dead, below(l));
        dead = _mm_and_si128(dead, below(r));
        if (_mm_movemask_epi8(dead) == 0) continue;
        const __m128i repl = _mm_min_epu16(_mm_max_epu16(u, dn), _mm_max_epu16(l, r));
        StoreGroup<kSampleBytes>(mid, x, _mm_blendv_epi8(v, repl, dead));
    }
}

// Holds the SSE rounding of the calling thread at round-to-nearest (ties to even), without
// flush-to-zero or denormals-are-zero, while a frame is processed, and puts the caller's mode
// back afterwards: the single- and double-precision steps of the kernels are defined for that
// mode, and a host that changed its own must not change our pixels.
class CScopedNearestRounding {
  public:
    CScopedNearestRounding() : m_saved(_mm_getcsr()) {
        constexpr unsigned kRoundingAndFlushBits = 0xE040u;  // RC (13-14), FTZ (15), DAZ (6)
        if ((m_saved & kRoundingAndFlushBits) != 0) _mm_setcsr(m_saved & ~kRoundingAndFlushBits);
    }
    ~CScopedNearestRounding() {
        if (_mm_getcsr() != m_saved) _mm_setcsr(m_saved);
    }
    CScopedNearestRounding(const CScopedNearestRounding&) = delete;
    CScopedNearestRounding& operator=(const CScopedNearestRounding&) = delete;

  private:
    unsigned m_saved;
};

inline __m128i LoadConstant(const uint8_t* reg) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(reg));
}

}  // namespace qv::isp
