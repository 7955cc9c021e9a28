// The rows of the vector mono kernels in the AVX2 family: sixteen samples per register. The
// vector kernels work in 8 bits, so the rows wait in the ring as bytes, and an 8-bit frame
// taken as it is (no lookup table, no black offset) is read straight from the raw rows. The
// results are those of the SSE4.1 rows to the bit.
//
// Everything below the target pragma is built for AVX2 and reached only through
// WalkMonoFrameAvx2, which the kernels call where the processor runs AVX2. The headers come
// first, so their inline functions stay built for the library's baseline.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "IspVectorOps.h"
#include "MonoKernelsInternal.h"

#include "Avx2TargetBegin.h"

#include "ByteLookupAvx2.h"
#include "SharpenAvx2.h"

namespace qv::isp::mono {

namespace {

using avx2::ByteLookup;

inline __m256i Widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline __m256i Load16(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline void Store16(uint16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

void WidenRow(const uint8_t* __restrict src, uint16_t* __restrict dst, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16) Store16(dst + x, Widen(src + x));
    for (; x < width; ++x) dst[x] = src[x];
}

// The three rows of the sharpening window summed once per column.
void ColumnSums(const uint8_t* __restrict a, const uint8_t* __restrict b,
                const uint8_t* __restrict c, uint16_t* __restrict sums, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16)
        Store16(sums + x,
                _mm256_add_epi16(_mm256_add_epi16(Widen(a + x), Widen(b + x)), Widen(c + x)));
    for (; x < width; ++x) sums[x] = static_cast<uint16_t>(a[x] + b[x] + c[x]);
}

// Where a sharpened row goes: 16-bit working values for the output stage, or, for one-byte
// grey without contrast, straight into the output row (reversed under the mirror).
enum class SharpenTo { kValues, kBytes, kBytesMirrored };

// Row b sharpened from the column sums of the window's three rows, with the rules of
// SharpenRowVector: columns 2s up to the last complete group of eight from there, while the
// window stays in the row; every other column copied. kNarrow: |strength| <= 128, where every
// product of a difference and the strength fits 16 bits.
template <int s, bool kNarrow, SharpenTo kTo>
void SharpenRow(const uint8_t* __restrict b, const uint16_t* __restrict sums, void* __restrict out,
                int width, int strength) {
    uint16_t* values = static_cast<uint16_t*>(out);
    uint8_t* bytes = static_cast<uint8_t*>(out);
    auto put = [&](int x, int v) __attribute__((always_inline)) {
        if constexpr (kTo == SharpenTo::kValues)
            values[x] = static_cast<uint16_t>(v);
        else if constexpr (kTo == SharpenTo::kBytes)
            bytes[x] = static_cast<uint8_t>(v);
        else
            bytes[width - 1 - x] = static_cast<uint8_t>(v);
    };
    const int start = 2 * s;
    if (width < start) {
        for (int x = 0; x < width; ++x) put(x, b[x]);
        return;
    }
    const int end = avx2::SharpenEnd(width, s);
    for (int x = 0; x < start; ++x) put(x, b[x]);
    for (int x = end; x < width; ++x) put(x, b[x]);
    const __m256i t = _mm256_set1_epi16(static_cast<int16_t>(strength));
    const __m128i reverseBytes =
        _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    auto block = [&](int x) __attribute__((always_inline)) {
        const __m256i res = avx2::SharpenBlock<s, kNarrow>(Widen(b + x), sums, x, t);
        if constexpr (kTo == SharpenTo::kValues) {
            Store16(values + x, res);
        } else {
            __m128i g =
                _mm_packus_epi16(_mm256_castsi256_si128(res), _mm256_extracti128_si256(res, 1));
            if constexpr (kTo == SharpenTo::kBytes) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + x), g);
            } else {
                g = _mm_shuffle_epi8(g, reverseBytes);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + width - x - 16), g);
            }
        }
    };
    int x = start;
    for (; x + 16 <= end; x += 16) block(x);
    if (x < end && end - start >= 16) {
        // The last block overlaps the one before; its columns come out the same.
        block(end - 16);
        return;
    }
    for (; x < end; ++x) {
        int sum = 0;
        for (int o = -2; o <= 2; ++o) sum += sums[x + o * s];
        put(x, avx2::SharpenOne(b[x], sum, strength));
    }
}

using SharpenFn = void (*)(const uint8_t*, const uint16_t*, void*, int, int);

template <SharpenTo kTo>
SharpenFn ChooseSharpenTo(int s, bool narrow) {
    if (s == 2) return narrow ? &SharpenRow<2, true, kTo> : &SharpenRow<2, false, kTo>;
    return narrow ? &SharpenRow<1, true, kTo> : &SharpenRow<1, false, kTo>;
}

SharpenFn ChooseSharpen(int s, int strength, SharpenTo to) {
    const bool narrow = strength >= -128 && strength <= 128;
    if (to == SharpenTo::kBytes) return ChooseSharpenTo<SharpenTo::kBytes>(s, narrow);
    if (to == SharpenTo::kBytesMirrored)
        return ChooseSharpenTo<SharpenTo::kBytesMirrored>(s, narrow);
    return ChooseSharpenTo<SharpenTo::kValues>(s, narrow);
}

// A row of bytes reversed.
void ReverseBytes(const uint8_t* __restrict src, uint8_t* __restrict dst, int width) {
    const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                             15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i v =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + width - x - 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x),
                            _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0x4E), reverse));
    }
    for (; x < width; ++x) dst[x] = src[width - 1 - x];
}

// Output masks of grey values replicated into pixels, from sixteen grey bytes held in both
// 128-bit lanes: three bytes per pixel (48 bytes: a 32-byte and a 16-byte store) and four
// (64 bytes: two 32-byte stores, alpha added after).
struct alignas(32) PackMasks {
    uint8_t rgb[48];
    uint8_t rgba[64];
    uint8_t alpha[32];
    uint8_t reverseWords[32];
    PackMasks() {
        for (int i = 0; i < 48; ++i) rgb[i] = static_cast<uint8_t>(i / 3);
        for (int i = 0; i < 64; ++i) rgba[i] = i % 4 == 3 ? 0x80 : static_cast<uint8_t>(i / 4);
        for (int i = 0; i < 32; ++i) alpha[i] = i % 4 == 3 ? 0xFF : 0;
        for (int i = 0; i < 32; ++i) {
            const int word = 7 - (i % 16) / 2;
            reverseWords[i] = static_cast<uint8_t>(2 * word + i % 2);
        }
    }
};

const PackMasks& Masks() {
    static const PackMasks masks;
    return masks;
}

inline __m256i LoadMask(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

struct EmitParams {
    __m256 pivot;
    __m256 factor;
    __m256i rgb0, rgba0, rgba1, alpha, reverse;
    __m128i rgb1;
};

// Single-precision contrast of sixteen samples, lane by lane as ApplyChannelContrast.
inline __m256i Contrast(__m256i v, const EmitParams& p) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256 low = _mm256_setzero_ps();
    const __m256 high = _mm256_set1_ps(255.0f);
    __m256 a = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(v, zero));
    __m256 b = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(v, zero));
    a = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(a, p.pivot), p.factor), p.pivot);
    b = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(b, p.pivot), p.factor), p.pivot);
    a = _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    b = _mm256_round_ps(b, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    a = _mm256_min_ps(_mm256_max_ps(a, low), high);
    b = _mm256_min_ps(_mm256_max_ps(b, low), high);
    return _mm256_packs_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b));
}

// Sixteen working values (0..255) from src[x..x+15] (mirrored: the sixteen ending at
// width - x, reversed) written as output pixels x to x + 15.
template <int kBpp, bool kMirror, bool kContrast>
inline void EmitBlock(const uint16_t* src, uint8_t* dst, int width, int x, const EmitParams& p) {
    __m256i v = Load16(src + (kMirror ? width - x - 16 : x));
    if constexpr (kMirror) v = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0x4E), p.reverse);
    if constexpr (kContrast) v = Contrast(v, p);
    const __m128i g = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    uint8_t* out = dst + static_cast<size_t>(x) * kBpp;
    if constexpr (kBpp == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), g);
    } else {
        const __m256i gg = _mm256_broadcastsi128_si256(g);
        if constexpr (kBpp == 3) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_shuffle_epi8(gg, p.rgb0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(g, p.rgb1));
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                _mm256_or_si256(_mm256_shuffle_epi8(gg, p.rgba0), p.alpha));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                                _mm256_or_si256(_mm256_shuffle_epi8(gg, p.rgba1), p.alpha));
        }
    }
}

// Contrast, mirror and packing of one inner row of working values.
template <int kBpp, bool kMirror, bool kContrast>
void EmitRow(const uint16_t* __restrict src, uint8_t* __restrict dst, int width,
             const EmitParams& params) {
    const EmitParams p = params;
    if (width >= 16) {
        int x = 0;
        for (; x + 16 <= width; x += 16) EmitBlock<kBpp, kMirror, kContrast>(src, dst, width, x, p);
        // The last block overlaps the one before; its pixels come out the same.
        if (x < width) EmitBlock<kBpp, kMirror, kContrast>(src, dst, width, width - 16, p);
        return;
    }
    alignas(32) uint16_t part[16] = {};
    for (int i = 0; i < width; ++i) part[i] = src[kMirror ? width - 1 - i : i];
    alignas(32) uint8_t packed[64];
    EmitBlock<kBpp, false, kContrast>(part, packed, 16, 0, p);
    std::memcpy(dst, packed, static_cast<size_t>(width) * kBpp);
}

using EmitFn = void (*)(const uint16_t*, uint8_t*, int, const EmitParams&);

template <int kBpp>
EmitFn ChooseEmitFor(bool mirror, bool contrast) {
    if (mirror) return contrast ? &EmitRow<kBpp, true, true> : &EmitRow<kBpp, true, false>;
    return contrast ? &EmitRow<kBpp, false, true> : &EmitRow<kBpp, false, false>;
}

EmitFn ChooseEmit(int bpp, bool mirror, bool contrast) {
    if (bpp == 1) return ChooseEmitFor<1>(mirror, contrast);
    if (bpp == 3) return ChooseEmitFor<3>(mirror, contrast);
    return ChooseEmitFor<4>(mirror, contrast);
}

// A row of bytes through the table, read backwards under the mirror.
template <bool kMirror>
void LookUpBytes(const uint8_t* __restrict src, uint8_t* __restrict dst, int width,
                 const uint8_t* __restrict table, const ByteLookup& lookup) {
    const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                             15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i v = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(src + (kMirror ? width - x - 32 : x)));
        v = lookup(v);
        if constexpr (kMirror) v = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0x4E), reverse);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), v);
    }
    for (; x < width; ++x) dst[x] = table[src[kMirror ? width - 1 - x : x]];
}

// A raw row into the ring as working bytes: through the byte map (8-bit samples) or the sample
// map (12-bit words held to 4095), or, for 12-bit words without a map, held to 4095 and
// shifted right by 4.
void LoadRow(const VectorFrame& f, const ByteLookup& lookup, const uint8_t* __restrict src,
             uint8_t* __restrict dst) {
    const int W = f.width;
    int x = 0;
    if (f.sampleBytes == 1) {
        LookUpBytes<false>(src, dst, W, f.byteMap, lookup);
        return;
    }
    const auto word = [&](int i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        return std::min<int>(v, 4095);
    };
    if (!f.identity) {
        for (; x < W; ++x) dst[x] = static_cast<uint8_t>(f.map[word(x)]);
        return;
    }
    const __m256i top = _mm256_set1_epi16(4095);
    for (; x + 16 <= W; x += 16) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x));
        v = _mm256_srli_epi16(_mm256_min_epu16(v, top), 4);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(dst + x),
            _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    }
    for (; x < W; ++x) dst[x] = static_cast<uint8_t>(word(x) >> 4);
}

// Row y and the row below, just before row y is read; the row below only where its
// neighbours d rows away still lie inside the frame.
void CorrectRows(const VectorFrame& f, size_t rowBytes, int y) {
    if (!f.deadPixel || y < 2 || y > f.height - 3) return;
    const bool below = y + 1 + f.d <= f.height - 1;
    if (f.sampleBytes == 1) {
        CorrectRowVector<1>(f.raw, rowBytes, f.width, y, f.d);
        if (below) CorrectRowVector<1>(f.raw, rowBytes, f.width, y + 1, f.d);
    } else {
        CorrectRowVector<2>(f.raw, rowBytes, f.width, y, f.d);
        if (below) CorrectRowVector<2>(f.raw, rowBytes, f.width, y + 1, f.d);
    }
}

}  // namespace

void WalkMonoFrameAvx2(const VectorFrame& frame, IspWorkBuffers& work) {
    const VectorFrame f = frame;
    const int W = f.width;
    const int H = f.height;
    const size_t rowBytes = static_cast<size_t>(W) * f.sampleBytes;
    const size_t outRowBytes = static_cast<size_t>(W) * f.bytesPerPixel;
    const int ringRows = f.sharpen ? 4 : 3;
    // An 8-bit frame without a map needs no ring: its raw rows are final once read.
    const bool direct = f.sampleBytes == 1 && f.identity;
    if (!direct) work.GrowByteRows(static_cast<size_t>(ringRows) * W);
    uint8_t* ring = work.byteRows.data();
    uint16_t* finished = work.finishedRows.data();  // 3 rows: values, column sums, border row
    uint16_t* sums = finished + W;
    uint16_t* border = finished + 2 * static_cast<size_t>(W);

    auto outRow = [&](int y) {
        return f.out + static_cast<size_t>(f.mirrorV ? H - 1 - y : y) * outRowBytes;
    };
    const PackMasks& masks = Masks();
    EmitParams ep;
    ep.pivot = _mm256_set1_ps(static_cast<float>(f.redMean));
    ep.factor = _mm256_set1_ps(f.factor);
    ep.rgb0 = LoadMask(masks.rgb);
    ep.rgb1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks.rgb + 32));
    ep.rgba0 = LoadMask(masks.rgba);
    ep.rgba1 = LoadMask(masks.rgba + 32);
    ep.alpha = LoadMask(masks.alpha);
    ep.reverse = LoadMask(masks.reverseWords);
    const EmitFn emit = ChooseEmit(f.bytesPerPixel, f.mirrorH, f.contrast);
    // One-byte grey without contrast takes the sharpened rows straight into the output.
    const bool straight = f.bytesPerPixel == 1 && !f.contrast;
    const SharpenFn sharpenRow =
        ChooseSharpen(f.d, f.strength,
                      !straight ? SharpenTo::kValues
                                : (f.mirrorH ? SharpenTo::kBytesMirrored : SharpenTo::kBytes));

    const ByteLookup lookup(f.byteMap);
    if (f.sampleBytes == 1 && !f.sharpen && !f.contrast && f.bytesPerPixel == 1) {
        // One-byte grey without sharpening or contrast: every row is the map of its raw row.
        for (int y = 0; y < H; ++y) {
            CorrectRows(f, rowBytes, y);
            const uint8_t* src = f.raw + static_cast<size_t>(y) * rowBytes;
            uint8_t* dst = outRow(y);
            if (f.identity && !f.mirrorH)
                std::memcpy(dst, src, static_cast<size_t>(W));
            else if (f.identity)
                ReverseBytes(src, dst, W);
            else if (f.mirrorH)
                LookUpBytes<true>(src, dst, W, f.byteMap, lookup);
            else
                LookUpBytes<false>(src, dst, W, f.byteMap, lookup);
        }
        return;
    }
    auto ringRow = [&](int y) -> const uint8_t* {
        if (direct) return f.raw + static_cast<size_t>(y) * rowBytes;
        return ring + static_cast<size_t>(y % ringRows) * W;
    };
    auto load = [&](int y) {
        CorrectRows(f, rowBytes, y);
        if (!direct)
            LoadRow(f, lookup, f.raw + static_cast<size_t>(y) * rowBytes,
                    ring + static_cast<size_t>(y % ringRows) * W);
    };
    auto writeBorder = [&](int y) {
        WidenRow(ringRow(y), border, W);
        WriteMonoRow(border, outRow(y), W, f.bytesPerPixel, f.outputId, f.borderRow);
    };
    auto writeInterior = [&](int c) {
        if (f.sharpen) {
            ColumnSums(ringRow(c - 1), ringRow(c), ringRow(c + 1), sums, W);
            if (straight) {
                sharpenRow(ringRow(c), sums, outRow(c), W, f.strength);
                return;
            }
            sharpenRow(ringRow(c), sums, finished, W, f.strength);
        } else {
            WidenRow(ringRow(c), finished, W);
        }
        emit(finished, outRow(c), W, ep);
    };
    ForEachRowInOrder(H, f.sharpen, load, writeBorder, writeInterior);
}

}  // namespace qv::isp::mono

#include "Avx2TargetEnd.h"
