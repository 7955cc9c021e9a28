// The vector mono kernels: eight samples per register in 16-bit lanes.
#include <algorithm>
#include <cstring>

#include "IspVectorConstants.h"
#include "IspVectorOps.h"
#include "KernelFamily.h"
#include "MonoKernels.h"
#include "MonoKernelsInternal.h"
#include "SharpenVector.h"

namespace qv::isp {

using namespace mono;

namespace {

// Raw row -> working values through the per-frame sample map (black offset, lookup table,
// and for 12-bit input the shift to 8 bits). `identity` skips the map when it would only
// widen (8-bit) or saturate and shift (12-bit).
template <int kSampleBytes>
void LoadRowVector(const uint8_t* __restrict src, uint16_t* __restrict dst, int width,
                   const uint16_t* __restrict map, bool identity) {
    int x = 0;
    if (identity) {
        const __m128i top = _mm_set1_epi16(4095);
        for (; x + 8 <= width; x += 8) {
            __m128i v = LoadGroup<kSampleBytes>(src, x);
            if constexpr (kSampleBytes == 2) v = _mm_srli_epi16(_mm_min_epu16(v, top), 4);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), v);
        }
        for (; x < width; ++x) {
            const int v = LoadSample(src, x, kSampleBytes);
            dst[x] = static_cast<uint16_t>(kSampleBytes == 2 ? std::min(v, 4095) >> 4 : v);
        }
        return;
    }
    if constexpr (kSampleBytes == 1) {
        for (; x + 16 <= width; x += 16) {
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i) dst[x + i] = map[src[x + i]];
        }
    }
    for (; x < width; ++x) {
        const int v = LoadSample(src, x, kSampleBytes);
        dst[x] = map[kSampleBytes == 2 ? std::min(v, 4095) : v];
    }
}

// Packs eight grey values (0..255, in output order) as eight output pixels. A 3-byte store
// carries four zero bytes past the eighth pixel; callers give it room for them.
inline void PackGroup(uint8_t* dst, __m128i v, int bpp, const __m128i& mask3) {
    const __m128i g8 = _mm_packus_epi16(v, v);
    if (bpp == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), g8);
        return;
    }
    const __m128i gg = _mm_unpacklo_epi8(g8, g8);
    const __m128i ga = _mm_unpacklo_epi8(g8, _mm_set1_epi8(static_cast<char>(0xFF)));
    const __m128i p0 = _mm_unpacklo_epi16(gg, ga);  // g g g 255, four pixels
    const __m128i p1 = _mm_unpackhi_epi16(gg, ga);
    if (bpp == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), p0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), p1);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(p0, mask3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12), _mm_shuffle_epi8(p1, mask3));
    }
}

struct EmitParams {
    int width;
    int bpp;
    bool mirror;
    bool contrast;
    __m128 pivots;
    __m128 factors;
    __m128i mask3;
    __m128i reverse;
};

// Contrast (single precision, every group including the last partial one), mirror and packing
// of one inner row.
void EmitRowVector(const uint16_t* src, uint8_t* dst, const EmitParams& params) {
    // A local copy: the byte stores below could otherwise alias the parameters and force the
    // compiler to read them again for every group.
    const EmitParams p = params;
    const int W = p.width;
    for (int j = 0; j < W; j += 8) {
        const int n = std::min(8, W - j);
        __m128i v;
        if (n == 8) {
            v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (p.mirror ? W - j - 8 : j)));
            if (p.mirror) v = _mm_shuffle_epi8(v, p.reverse);
        } else {
            alignas(16) uint16_t part[8] = {};
            for (int i = 0; i < n; ++i) part[i] = src[p.mirror ? W - 1 - j - i : j + i];
            v = _mm_load_si128(reinterpret_cast<const __m128i*>(part));
        }
        if (p.contrast) v = ApplyChannelContrast(v, p.pivots, p.factors);
        uint8_t* out = dst + static_cast<size_t>(j) * p.bpp;
        if (n == 8 && (p.bpp != 3 || j + 16 <= W)) {
            PackGroup(out, v, p.bpp, p.mask3);
        } else {
            alignas(16) uint8_t packed[32];
            PackGroup(packed, v, p.bpp, p.mask3);
            std::memcpy(out, packed, static_cast<size_t>(n) * p.bpp);
        }
    }
}

// One-byte grey without sharpening or contrast: every row is the byte map applied to the raw
// row, read backwards under the horizontal mirror. The map is applied byte by byte, sixteen
// at a time: on the processors measured this beats assembling the bytes in registers.
// The output row must not overlap the raw row.
void MapRowBytes(const uint8_t* __restrict src, uint8_t* __restrict dst, int width,
                 const uint8_t* __restrict map, bool mirror, bool identity,
                 const __m128i& reverseBytes) {
    int j = 0;
    if (identity) {
        if (!mirror) {
            std::memcpy(dst, src, static_cast<size_t>(width));
            return;
        }
        for (; j + 16 <= width; j += 16) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + width - j - 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j),
                             _mm_shuffle_epi8(v, reverseBytes));
        }
        for (; j < width; ++j) dst[j] = src[width - 1 - j];
        return;
    }
    if (mirror) {
        for (; j + 16 <= width; j += 16) {
            const uint8_t* s = src + width - 16 - j;
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i) dst[j + i] = map[s[15 - i]];
        }
        for (; j < width; ++j) dst[j] = map[src[width - 1 - j]];
    } else {
        for (; j + 16 <= width; j += 16) {
            const uint8_t* s = src + j;
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i) dst[j + i] = map[s[i]];
        }
        for (; j < width; ++j) dst[j] = map[src[j]];
    }
}

template <int kSampleBytes>
int ProcessMonoVector(IspFrame& frame, const MonoSettings& s, const LutView& lut,
                      IspFrameStatistics& stats, IspWorkBuffers& work, uint32_t inputType) {
    FrameSetup fs;
    const int rc = PrepareFrame(frame, s, lut, inputType, kSampleBytes, false,
                                kSampleBytes == 2 ? 4096 : 256, &fs);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;

    const int W = fs.width;
    const int H = fs.height;
    const int bpp = fs.bytesPerPixel;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const size_t outRowBytes = static_cast<size_t>(W) * bpp;
    const int d = s.monoCamera ? 1 : 2;
    const int offset = std::max(0, s.blackOffset);
    const bool sharpen = s.sharpness != 0;
    // Products beyond 16 bits saturate every result to 0 or 255 alike, so the strength can be
    // held in a 16-bit lane without changing any result.
    const int strength =
        static_cast<int>(std::clamp<int64_t>(SharpenStrength(s.sharpness), -32768, 32767));
    const bool contrast = s.contrast != 50;

    stats.greenPivot = GreenPivot(stats);
    frame.demosaicKind = s.monoCamera ? 3 : 4;

    // Per-frame sample map: 256 entries for 8-bit samples, 4096 for 12-bit ones (saturated).
    const int mapSize = kSampleBytes == 2 ? 4096 : 256;
    const bool identity = !lut.inEffect && offset == 0;
    const int ringRows = sharpen ? 4 : 3;
    work.Grow(static_cast<size_t>(ringRows) * W, 3 * static_cast<size_t>(W),
              static_cast<size_t>(mapSize));
    uint16_t* map = work.sampleMap.data();
    if (!identity) {
        for (int v = 0; v < mapSize; ++v) {
            int u = std::max(0, v - offset);
            if (lut.inEffect) u = std::min<int>(lut.table[u], mapSize - 1);
            map[v] = static_cast<uint16_t>(kSampleBytes == 2 ? u >> 4 : u);
        }
    }

    const IspVectorConstants& k = VectorConstants();
    auto outRow = [&](int y) {
        return frame.out + static_cast<size_t>(s.mirrorV ? H - 1 - y : y) * outRowBytes;
    };
    auto correctRows = [&](int y) {
        // Row y and the row below, just before row y is read; the row below only where its
        // neighbours d rows away still lie inside the frame.
        if (!s.deadPixel || y < 2 || y > H - 3) return;
        CorrectRowVector<kSampleBytes>(frame.raw, rowBytes, W, y, d);
        if (y + 1 + d <= H - 1) CorrectRowVector<kSampleBytes>(frame.raw, rowBytes, W, y + 1, d);
    };

    if (ActiveKernelFamily() == KernelFamily::kAvx2) {
        VectorFrame vf;
        vf.width = W;
        vf.height = H;
        vf.sampleBytes = kSampleBytes;
        vf.bytesPerPixel = bpp;
        vf.outputId = fs.outputId;
        vf.d = d;
        vf.deadPixel = s.deadPixel;
        vf.sharpen = sharpen;
        vf.strength = strength;
        vf.contrast = contrast;
        vf.factor = ContrastFactorFloat(s.contrast);
        vf.redMean = stats.redMean;
        vf.borderRow = MonoRowParams{s.contrast, stats.greenPivot, s.mirrorH, 8};
        vf.mirrorH = s.mirrorH;
        vf.mirrorV = s.mirrorV;
        vf.identity = identity;
        vf.map = map;
        for (int v = 0; v < 256; ++v)
            work.byteMap[v] = static_cast<uint8_t>(identity || kSampleBytes == 2 ? v : map[v]);
        vf.byteMap = work.byteMap.data();
        vf.raw = frame.raw;
        vf.out = frame.out;
        WalkMonoFrameAvx2(vf, work);
        *frame.outInfo = fs.outInfo;
        return CAMERA_STATUS_SUCCESS;
    }

    if (kSampleBytes == 1 && !sharpen && !contrast && bpp == 1) {
        uint8_t* byteMap = work.byteMap.data();
        for (int v = 0; v < 256; ++v) byteMap[v] = static_cast<uint8_t>(identity ? v : map[v]);
        __m128i reverseBytes = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        for (int y = 0; y < H; ++y) {
            correctRows(y);
            MapRowBytes(frame.raw + static_cast<size_t>(y) * rowBytes, outRow(y), W, byteMap,
                        s.mirrorH, identity, reverseBytes);
        }
        *frame.outInfo = fs.outInfo;
        return CAMERA_STATUS_SUCCESS;
    }

    const MonoRowParams rowParams{s.contrast, stats.greenPivot, s.mirrorH, 8};
    uint16_t* ring = work.rowRing.data();
    uint16_t* finished = work.finishedRows.data();
    auto ringRow = [&](int y) { return ring + static_cast<size_t>(y % ringRows) * W; };

    EmitParams ep;
    ep.width = W;
    ep.bpp = bpp;
    ep.mirror = s.mirrorH;
    ep.contrast = contrast;
    ep.pivots = _mm_set1_ps(static_cast<float>(stats.redMean));
    ep.factors = _mm_set1_ps(ContrastFactorFloat(s.contrast));
    ep.mask3 = LoadConstant(fs.outputId == 20 ? GetPackMaskRgb8(false) : GetPackMaskBgr8(false));
    ep.reverse = LoadConstant(k.reverseWords);

    auto writeBorder = [&](int y) {
        WriteMonoRow(ringRow(y), outRow(y), W, bpp, fs.outputId, rowParams);
    };
    auto emitInterior = [&](int c) {
        const uint16_t* src = ringRow(c);
        if (sharpen) {
            SharpenRowVector(ringRow(c - 1), src, ringRow(c + 1), finished, finished + W, W, d,
                             strength);
            src = finished;
        }
        EmitRowVector(src, outRow(c), ep);
    };

    ForEachRowInOrder(
        H, sharpen,
        [&](int y) {
            correctRows(y);
            LoadRowVector<kSampleBytes>(frame.raw + static_cast<size_t>(y) * rowBytes, ringRow(y),
                                        W, map, identity);
        },
        writeBorder, emitInterior);

    *frame.outInfo = fs.outInfo;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace

int ProcessMono8(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                 IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessMonoVector<1>(frame, settings, lut, stats, work, CAMERA_MEDIA_TYPE_MONO8);
}

int ProcessMono12(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                  IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessMonoVector<2>(frame, settings, lut, stats, work, CAMERA_MEDIA_TYPE_MONO12_16);
}

}  // namespace qv::isp
