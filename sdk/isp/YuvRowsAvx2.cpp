// The packed YUV 4:2:2 conversion in AVX2: sixteen pixel pairs per step, each 128-bit lane
// doing the work of one step of the SSE4.1 rows, with the same exact integer forms.
//
// Everything below the target pragma is built for AVX2 and reached only where the processor
// runs it; the headers come first, so their inline functions stay built for the baseline.
#include <immintrin.h>

#include <cstddef>

#include "YuvRows.h"

#include "Avx2TargetBegin.h"

namespace qv::isp::yuv {

namespace {

// Sixteen pairs in 16-bit lanes, lane k of each register holding the pairs 8k to 8k + 7.
struct Pairs {
    __m256i u, v, y0, y1;
};

inline Pairs LoadPairs(const uint8_t* src) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    // Lane k of `first` holds the pairs 8k to 8k + 3, of `second` 8k + 4 to 8k + 7.
    const __m256i first = _mm256_permute2x128_si256(a, b, 0x20);
    const __m256i second = _mm256_permute2x128_si256(a, b, 0x31);
    // Per four pairs: U in bytes 0-3, V in 4-7, first lumas in 8-11, second lumas in 12-15.
    const __m256i gather = _mm256_setr_epi8(0, 4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15, 0,
                                            4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15);
    const __m256i p = _mm256_shuffle_epi8(first, gather);
    const __m256i q = _mm256_shuffle_epi8(second, gather);
    const __m256i uv = _mm256_unpacklo_epi32(p, q);  // per lane: eight U, eight V
    const __m256i yy = _mm256_unpackhi_epi32(p, q);  // per lane: eight first, eight second lumas
    const __m256i zero = _mm256_setzero_si256();
    return {_mm256_unpacklo_epi8(uv, zero), _mm256_unpackhi_epi8(uv, zero),
            _mm256_unpacklo_epi8(yy, zero), _mm256_unpackhi_epi8(yy, zero)};
}

// (coefficient x d) >> 8 of the integer form, exactly: (d << 7) x 2 coefficient >> 16.
inline __m256i IntegerTerm(__m256i d, int coefficient) {
    return _mm256_mulhi_epi16(_mm256_slli_epi16(d, 7),
                              _mm256_set1_epi16(static_cast<int16_t>(2 * coefficient)));
}

// trunc(c x d) of the floating form for |d| <= 128, exactly (see the SSE4.1 rows).
inline __m256i FloatingTerm(__m256i d, int whole, int multiplier) {
    const __m256i a = _mm256_abs_epi16(d);
    __m256i t = _mm256_mulhi_epu16(a, _mm256_set1_epi16(static_cast<int16_t>(multiplier)));
    if (whole != 0)
        t = _mm256_add_epi16(t,
                             _mm256_mullo_epi16(a, _mm256_set1_epi16(static_cast<int16_t>(whole))));
    return _mm256_sign_epi16(t, d);
}

// Thirty-two pixels in order from the pairs' first and second pixel values.
inline __m256i Interleave(__m256i first, __m256i second) {
    return _mm256_unpacklo_epi8(_mm256_packus_epi16(first, first),
                                _mm256_packus_epi16(second, second));
}

// Byte-shuffle masks that interleave three planes of sixteen bytes into 48 bytes of
// three-byte pixels, in both lanes: [chunk of 16 output bytes][plane].
struct Interleave3Masks {
    __m256i m[3][3];
    Interleave3Masks() {
        for (int k = 0; k < 3; ++k)
            for (int plane = 0; plane < 3; ++plane) {
                alignas(16) uint8_t bytes[16];
                for (int i = 0; i < 16; ++i) {
                    const int j = 16 * k + i;
                    bytes[i] = j % 3 == plane ? static_cast<uint8_t>(j / 3) : 0x80;
                }
                m[k][plane] = _mm256_broadcastsi128_si256(
                    _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
            }
    }
};

inline void Store(uint8_t* dst, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), v);
}

// Writes 32 pixels of the planes c0, c1, c2 (in byte order) as 3 or 4 bytes each.
inline void StorePixels(uint8_t* dst, __m256i c0, __m256i c1, __m256i c2, int bpp,
                        const Interleave3Masks& masks) {
    if (bpp == 4) {
        const __m256i alpha = _mm256_set1_epi8(static_cast<char>(0xFF));
        const __m256i lo01 = _mm256_unpacklo_epi8(c0, c1), hi01 = _mm256_unpackhi_epi8(c0, c1);
        const __m256i lo2a = _mm256_unpacklo_epi8(c2, alpha),
                      hi2a = _mm256_unpackhi_epi8(c2, alpha);
        // Pixels 0-3 | 16-19, 4-7 | 20-23, 8-11 | 24-27, 12-15 | 28-31.
        const __m256i q0 = _mm256_unpacklo_epi16(lo01, lo2a);
        const __m256i q1 = _mm256_unpackhi_epi16(lo01, lo2a);
        const __m256i q2 = _mm256_unpacklo_epi16(hi01, hi2a);
        const __m256i q3 = _mm256_unpackhi_epi16(hi01, hi2a);
        Store(dst, _mm256_permute2x128_si256(q0, q1, 0x20));
        Store(dst + 32, _mm256_permute2x128_si256(q2, q3, 0x20));
        Store(dst + 64, _mm256_permute2x128_si256(q0, q1, 0x31));
        Store(dst + 96, _mm256_permute2x128_si256(q2, q3, 0x31));
        return;
    }
    __m256i v[3];
    for (int k = 0; k < 3; ++k)
        v[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(c0, masks.m[k][0]),
                                               _mm256_shuffle_epi8(c1, masks.m[k][1])),
                               _mm256_shuffle_epi8(c2, masks.m[k][2]));
    // Lane 0 of v holds the 48 bytes of pixels 0-15, lane 1 those of pixels 16-31.
    Store(dst, _mm256_permute2x128_si256(v[0], v[1], 0x20));
    Store(dst + 32, _mm256_permute2x128_si256(v[2], v[0], 0x30));
    Store(dst + 64, _mm256_permute2x128_si256(v[1], v[2], 0x31));
}

}  // namespace

int ConvertRowAvx2(const uint8_t* src, uint8_t* dst, int pairs, Form form, bool lumaOnly,
                   bool rgbOrder, int bpp) {
    static const Interleave3Masks masks;
    const __m256i bias = _mm256_set1_epi16(128);
    int p = 0;
    for (; p + 16 <= pairs; p += 16, src += 64) {
        const Pairs in = LoadPairs(src);
        if (form == Form::kGrey) {
            Store(dst + 2 * p, Interleave(in.y0, in.y1));
            continue;
        }
        __m256i dr = _mm256_setzero_si256(), dg = dr, db = dr;
        if (!lumaOnly) {
            const __m256i du = _mm256_sub_epi16(in.u, bias);
            const __m256i dv = _mm256_sub_epi16(in.v, bias);
            if (form == Form::kInteger) {
                dr = IntegerTerm(dv, 360);
                dg = _mm256_add_epi16(IntegerTerm(du, 88), IntegerTerm(dv, 184));
                db = IntegerTerm(du, 455);
            } else {
                dr = FloatingTerm(dv, 1, 26375);
                dg = _mm256_add_epi16(FloatingTerm(du, 0, 22562), FloatingTerm(dv, 0, 46815));
                db = FloatingTerm(du, 1, 50656);
            }
        }
        const __m256i r = Interleave(_mm256_add_epi16(in.y0, dr), _mm256_add_epi16(in.y1, dr));
        const __m256i g = Interleave(_mm256_sub_epi16(in.y0, dg), _mm256_sub_epi16(in.y1, dg));
        const __m256i b = Interleave(_mm256_add_epi16(in.y0, db), _mm256_add_epi16(in.y1, db));
        uint8_t* out = dst + static_cast<size_t>(2 * p) * bpp;
        if (rgbOrder)
            StorePixels(out, r, g, b, bpp, masks);
        else
            StorePixels(out, b, g, r, bpp, masks);
    }
    return p;
}

}  // namespace qv::isp::yuv

#include "Avx2TargetEnd.h"
