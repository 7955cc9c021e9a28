// The processed-raw kernels and the packed YUV 4:2:2 conversion: one pass over the frame, one
// 2 x 2 cell (or one pair of YUV pixels) at a time.
#include "RawYuvKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "IspVectorOps.h"
#include "KernelFamily.h"
#include "OutFormat.h"
#include "YuvRows.h"

namespace qv::isp {

namespace {

constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
constexpr uint32_t kYuv422 = 0x0210001Fu;

// Checks shared by the five kernels; fills the output descriptor into `out` (written to the
// caller only on success).
int CheckFrame(const IspFrame& frame, uint32_t ispOutFormat, uint32_t inputType, int sampleBytes,
               bool evenHeight, stImageInfo* out, int* bytesPerPixel, int* outputId) {
    if (!frame.inInfo || !frame.raw || !frame.outInfo || !frame.out)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const stImageInfo& in = *frame.inInfo;
    if (in.uiMediaType != inputType) return CAMERA_STATUS_NOT_SUPPORTED;
    if (GetOutFormatInfo(ispOutFormat, in, out, bytesPerPixel, outputId) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_NOT_SUPPORTED;
    if (in.iWidth == 0 || in.iHeight == 0 || in.iWidth % 2 != 0 ||
        (evenHeight && in.iHeight % 2 != 0))
        return CAMERA_STATUS_NOT_SUPPORTED;
    if (in.iWidth > 65535 || in.iHeight > 65535) return CAMERA_STATUS_DATA_INVALID;
    const uint64_t pixels = static_cast<uint64_t>(in.iWidth) * in.iHeight;
    if (pixels * static_cast<uint64_t>(sampleBytes) > in.TotalBytes ||
        pixels * static_cast<uint64_t>(*bytesPerPixel) > 0xFFFFFFFFull)
        return CAMERA_STATUS_DATA_INVALID;
    return CAMERA_STATUS_SUCCESS;
}

template <int kInBytes>
inline int ReadRaw(const uint8_t* raw, size_t i) {
    if constexpr (kInBytes == 1) {
        return raw[i];
    } else {
        uint16_t v;
        std::memcpy(&v, raw + 2 * i, 2);
        return std::min<int>(v, 4095);
    }
}

// The processed-raw kernel from kInBytes-byte samples to kOutBytes-byte ones.
template <int kInBytes, int kOutBytes>
int ProcessRaw(IspFrame& frame, const ColourSettings& s, const ColourLuts& luts, uint32_t inputType,
               uint32_t outputType) {
    const CScopedNearestRounding rounding;
    if (s.ispOutFormat != outputType) {
        if (!frame.inInfo || !frame.raw || !frame.outInfo || !frame.out)
            return CAMERA_STATUS_PARAMETER_INVALID;
        return CAMERA_STATUS_NOT_SUPPORTED;
    }
    stImageInfo outInfo{};
    int bpp = 0;
    int id = 0;
    const int rc =
        CheckFrame(frame, s.ispOutFormat, inputType, kInBytes, true, &outInfo, &bpp, &id);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;
    const int vmax = kInBytes == 1 ? 255 : 4095;
    const uint32_t tableSize = kInBytes == 1 ? 256 : 4096;
    const bool tableOn = luts.red.inEffect || luts.green.inEffect || luts.blue.inEffect;
    if (tableOn) {
        for (const LutView* t : {&luts.red, &luts.green, &luts.blue})
            if (t->table == nullptr || t->size != tableSize)
                return CAMERA_STATUS_PARAMETER_MISMATCH;
    }

    const int W = static_cast<int>(frame.inInfo->iWidth);
    const int H = static_cast<int>(frame.inInfo->iHeight);
    const int64_t k = static_cast<int64_t>(s.sharpness) * 128 / 25;
    int64_t m[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    const bool identity =
        s.monoCamera || s.monochrome || s.saturation == 0 || (kInBytes == 2 && kOutBytes == 1);
    if (!identity) {
        const int d = s.saturation - 128;
        const int u = -(d / 2);
        for (int i = 0; i < 9; ++i)
            m[i] = static_cast<int64_t>(s.colorMatrix[i]) + (i % 4 == 0 ? d : u);
    }
    // The weighted mean of the gains, signed: gains above unity make the difference negative.
    const int64_t L = 76 * static_cast<int64_t>(s.redGain) +
                      150 * static_cast<int64_t>(s.greenGain) +
                      29 * static_cast<int64_t>(s.blueGain);
    const int64_t comp =
        static_cast<int64_t>(std::trunc(static_cast<double>(25500 - L) * 100.0 / 25500.0)) + 100;
    const bool contrast = s.contrast != 50;
    const double F = s.contrast / 50.0;
    const int P = kInBytes == 1 ? 128 : 2048;
    const uint64_t gains[3] = {s.redGain, s.greenGain, s.blueGain};

    const uint8_t* in = frame.raw;
    uint8_t* out = frame.out;
    auto at = [&](int x, int y) { return ReadRaw<kInBytes>(in, static_cast<size_t>(y) * W + x); };
    auto store = [&](int x, int y, int v) {
        const size_t i = static_cast<size_t>(y) * W + x;
        if constexpr (kOutBytes == 1) {
            out[i] = static_cast<uint8_t>(kInBytes == 1 ? v : v >> 4);
        } else {
            const uint16_t w = static_cast<uint16_t>(kInBytes == 1 ? v << 4 : v);
            std::memcpy(out + 2 * i, &w, 2);
        }
    };
    // Same-colour sharpening from the unchanged input: the eight samples two away.
    auto sharpen = [&](int x, int y) -> int64_t {
        const int v = at(x, y);
        const int sum = at(x - 2, y) + at(x + 2, y) + at(x, y - 2) + at(x, y + 2) +
                        at(x - 2, y - 2) + at(x + 2, y - 2) + at(x - 2, y + 2) + at(x + 2, y + 2);
        const int64_t r = v + ((k * (v - (sum >> 3))) >> 7);
        return std::max<int64_t>(r, 0);
    };
    auto table = [&](const LutView& t, int v) {
        return tableOn ? std::min<int>(t.table[v], vmax) : v;
    };
    for (int y = 0; y < H; y += 2) {
        for (int x = 0; x < W; x += 2) {
            int64_t g1, r, b, g2;
            if (k > 0 && x >= 2 && x <= W - 4 && y >= 2 && y <= H - 4) {
                g1 = sharpen(x, y);
                r = sharpen(x + 1, y);
                b = sharpen(x, y + 1);
                g2 = sharpen(x + 1, y + 1);
            } else {
                g1 = at(x, y);
                r = at(x + 1, y);
                b = at(x, y + 1);
                g2 = at(x + 1, y + 1);
            }
            g1 = static_cast<int64_t>(static_cast<uint64_t>(g1) * gains[1] / 100);
            g2 = static_cast<int64_t>(static_cast<uint64_t>(g2) * gains[1] / 100);
            r = static_cast<int64_t>(static_cast<uint64_t>(r) * gains[0] / 100);
            b = static_cast<int64_t>(static_cast<uint64_t>(b) * gains[2] / 100);
            int64_t gm = (g1 + g2) >> 1;
            g1 = std::min<int64_t>(g1, vmax);
            g2 = std::min<int64_t>(g2, vmax);
            r = std::min<int64_t>(r, vmax);
            b = std::min<int64_t>(b, vmax);
            gm = std::min<int64_t>(gm, vmax);
            int64_t v[4] = {(m[3] * r + m[4] * g1 + m[5] * b) >> 8,   // G1
                            (m[0] * r + m[1] * gm + m[2] * b) >> 8,   // R
                            (m[6] * r + m[7] * gm + m[8] * b) >> 8,   // B
                            (m[3] * r + m[4] * g2 + m[5] * b) >> 8};  // G2
            int o[4];
            const LutView* tables[4] = {&luts.green, &luts.red, &luts.blue, &luts.green};
            for (int i = 0; i < 4; ++i) {
                if (comp > 100) v[i] = v[i] * comp / 100;
                int value = static_cast<int>(std::clamp<int64_t>(v[i], 0, vmax));
                value = table(*tables[i], value);
                if (contrast) {
                    const double c = std::trunc((value - P) * F + P);
                    value = static_cast<int>(std::clamp(c, 0.0, static_cast<double>(vmax)));
                }
                o[i] = value;
            }
            store(x, y, o[0]);
            store(x + 1, y, o[1]);
            store(x, y + 1, o[2]);
            store(x + 1, y + 1, o[3]);
        }
    }
    frame.demosaicKind = s.monoCamera ? 3 : 4;
    *frame.outInfo = outInfo;
    return CAMERA_STATUS_SUCCESS;
}

inline uint8_t Clamp255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// ---- The YUV conversion, eight pixel pairs at a time -------------------------------------------

using YuvForm = yuv::Form;

// Eight pairs of 32 input bytes in 16-bit lanes: U, V and the luma of the pairs' first and
// second pixels.
struct YuvPairs {
    __m128i u, v, y0, y1;
};

inline YuvPairs LoadPairs(const uint8_t* src) {
    // Per four pairs: U in bytes 0-3, V in 4-7, first lumas in 8-11, second lumas in 12-15.
    const __m128i gather = _mm_setr_epi8(0, 4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15);
    const __m128i a =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), gather);
    const __m128i b =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)), gather);
    const __m128i uv = _mm_unpacklo_epi32(a, b);  // U0-3, U4-7, V0-3, V4-7
    const __m128i yy = _mm_unpackhi_epi32(a, b);  // first lumas 0-7, second lumas 0-7
    return {_mm_cvtepu8_epi16(uv), _mm_cvtepu8_epi16(_mm_srli_si128(uv, 8)), _mm_cvtepu8_epi16(yy),
            _mm_cvtepu8_epi16(_mm_srli_si128(yy, 8))};
}

// (coefficient x d) >> 8 of the integer form, exactly: (d << 7) x 2 coefficient >> 16.
inline __m128i IntegerTerm(__m128i d, int coefficient) {
    return _mm_mulhi_epi16(_mm_slli_epi16(d, 7),
                           _mm_set1_epi16(static_cast<int16_t>(2 * coefficient)));
}

// trunc(c x d) of the floating form for |d| <= 128, exactly: c = whole + fraction with the
// fraction as a 16-bit multiplier chosen so that floor(|d| x c) = whole |d| + (|d| M) >> 16 for
// every |d| up to 128, and the sign of d put back.
inline __m128i FloatingTerm(__m128i d, int whole, int multiplier) {
    const __m128i a = _mm_abs_epi16(d);
    __m128i t = _mm_mulhi_epu16(a, _mm_set1_epi16(static_cast<int16_t>(multiplier)));
    if (whole != 0)
        t = _mm_add_epi16(t, _mm_mullo_epi16(a, _mm_set1_epi16(static_cast<int16_t>(whole))));
    return _mm_sign_epi16(t, d);
}

// Sixteen pixels in order from the pairs' first and second pixel values (16-bit lanes).
inline __m128i Interleave(__m128i first, __m128i second) {
    return _mm_unpacklo_epi8(_mm_packus_epi16(first, first), _mm_packus_epi16(second, second));
}

// Byte-shuffle masks that interleave three planes of sixteen bytes into 48 bytes of
// three-byte pixels: [output register][plane].
struct Interleave3Masks {
    __m128i m[3][3];
    Interleave3Masks() {
        for (int k = 0; k < 3; ++k)
            for (int plane = 0; plane < 3; ++plane) {
                alignas(16) uint8_t bytes[16];
                for (int i = 0; i < 16; ++i) {
                    const int j = 16 * k + i;
                    bytes[i] = j % 3 == plane ? static_cast<uint8_t>(j / 3) : 0x80;
                }
                m[k][plane] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
            }
    }
};

// Writes sixteen pixels of the planes c0, c1, c2 (in byte order) as 3 or 4 bytes each.
inline void StorePixels(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2, int bpp,
                        const Interleave3Masks& masks) {
    if (bpp == 4) {
        const __m128i lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
        const __m128i alpha = _mm_set1_epi8(static_cast<char>(0xFF));
        const __m128i lo2a = _mm_unpacklo_epi8(c2, alpha), hi2a = _mm_unpackhi_epi8(c2, alpha);
        __m128i* out = reinterpret_cast<__m128i*>(dst);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(lo01, lo2a));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(lo01, lo2a));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(hi01, hi2a));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(hi01, hi2a));
        return;
    }
    for (int k = 0; k < 3; ++k) {
        const __m128i v = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(c0, masks.m[k][0]), _mm_shuffle_epi8(c1, masks.m[k][1])),
            _mm_shuffle_epi8(c2, masks.m[k][2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * k), v);
    }
}

// Converts the row's pairs in groups of eight; returns the pairs done (the rest is left to the
// caller).
int ConvertYuvRowVector(const uint8_t* src, uint8_t* dst, int pairs, YuvForm form, bool lumaOnly,
                        bool rgbOrder, int bpp, const Interleave3Masks& masks) {
    const __m128i bias = _mm_set1_epi16(128);
    int p = 0;
    for (; p + 8 <= pairs; p += 8, src += 32) {
        const YuvPairs in = LoadPairs(src);
        if (form == YuvForm::kGrey) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * p), Interleave(in.y0, in.y1));
            continue;
        }
        __m128i dr = _mm_setzero_si128(), dg = dr, db = dr;
        if (!lumaOnly) {
            const __m128i du = _mm_sub_epi16(in.u, bias);
            const __m128i dv = _mm_sub_epi16(in.v, bias);
            if (form == YuvForm::kInteger) {
                dr = IntegerTerm(dv, 360);
                dg = _mm_add_epi16(IntegerTerm(du, 88), IntegerTerm(dv, 184));
                db = IntegerTerm(du, 455);
            } else {
                dr = FloatingTerm(dv, 1, 26375);
                dg = _mm_add_epi16(FloatingTerm(du, 0, 22562), FloatingTerm(dv, 0, 46815));
                db = FloatingTerm(du, 1, 50656);
            }
        }
        const __m128i r = Interleave(_mm_add_epi16(in.y0, dr), _mm_add_epi16(in.y1, dr));
        const __m128i g = Interleave(_mm_sub_epi16(in.y0, dg), _mm_sub_epi16(in.y1, dg));
        const __m128i b = Interleave(_mm_add_epi16(in.y0, db), _mm_add_epi16(in.y1, db));
        uint8_t* out = dst + static_cast<size_t>(2 * p) * bpp;
        if (rgbOrder)
            StorePixels(out, r, g, b, bpp, masks);
        else
            StorePixels(out, b, g, r, bpp, masks);
    }
    return p;
}

}  // namespace

int ProcessRaw8ToRaw8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts) {
    return ProcessRaw<1, 1>(frame, settings, luts, kBayer8, kBayer8);
}

int ProcessRaw8ToRaw16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts) {
    return ProcessRaw<1, 2>(frame, settings, luts, kBayer8, kBayer12);
}

int ProcessRaw16ToRaw16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts) {
    return ProcessRaw<2, 2>(frame, settings, luts, kBayer12, kBayer12);
}

int ProcessRaw16ToRaw8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts) {
    return ProcessRaw<2, 1>(frame, settings, luts, kBayer12, kBayer8);
}

int ProcessYuv422(IspFrame& frame, const ColourSettings& settings) {
    const CScopedNearestRounding rounding;
    const uint32_t format = settings.ispOutFormat;
    YuvForm form;
    bool rgbOrder = false;
    switch (format) {
        case CAMERA_MEDIA_TYPE_MONO8:
            form = YuvForm::kGrey;
            break;
        case CAMERA_MEDIA_TYPE_RGB8:
            form = YuvForm::kInteger;
            rgbOrder = true;
            break;
        case CAMERA_MEDIA_TYPE_BGR8:
            form = YuvForm::kFloating;
            break;
        case CAMERA_MEDIA_TYPE_RGBA8:
            form = YuvForm::kFloating;
            rgbOrder = true;
            break;
        case CAMERA_MEDIA_TYPE_BGRA8:
            form = YuvForm::kInteger;
            break;
        default:
            // No conversion to any other format: refused before anything is written.
            if (!frame.inInfo || !frame.raw || !frame.outInfo || !frame.out)
                return CAMERA_STATUS_PARAMETER_INVALID;
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
    stImageInfo outInfo{};
    int bpp = 0;
    int id = 0;
    const int rc = CheckFrame(frame, format, kYuv422, 2, false, &outInfo, &bpp, &id);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;
    const int W = static_cast<int>(frame.inInfo->iWidth);
    const int H = static_cast<int>(frame.inInfo->iHeight);
    const bool lumaOnly = settings.monochrome || form == YuvForm::kGrey;
    // Each chroma term depends on U or V alone: the terms of every value, in the form of the
    // output format (all 0 for luma only), for the pairs after the last group of eight.
    int redOfV[256], greenOfU[256], greenOfV[256], blueOfU[256];
    for (int c = 0; c < 256; ++c) {
        const int d = c - 128;
        if (lumaOnly) {
            redOfV[c] = greenOfU[c] = greenOfV[c] = blueOfU[c] = 0;
        } else if (form == YuvForm::kInteger) {
            redOfV[c] = (360 * d) >> 8;
            greenOfU[c] = (88 * d) >> 8;
            greenOfV[c] = (184 * d) >> 8;
            blueOfU[c] = (455 * d) >> 8;
        } else {
            redOfV[c] = static_cast<int>(std::trunc(1.4025 * d));
            greenOfU[c] = static_cast<int>(std::trunc(0.3443 * d));
            greenOfV[c] = static_cast<int>(std::trunc(0.7144 * d));
            blueOfU[c] = static_cast<int>(std::trunc(1.773 * d));
        }
    }
    static const Interleave3Masks masks;
    const int first = rgbOrder ? 0 : 2;  // byte of red
    const int third = 2 - first;         // byte of blue
    const bool avx2 = ActiveKernelFamily() == KernelFamily::kAvx2;
    for (int y = 0; y < H; ++y) {
        const uint8_t* __restrict src = frame.raw + static_cast<size_t>(y) * W * 2;
        uint8_t* __restrict dst = frame.out + static_cast<size_t>(y) * W * bpp;
        int done = avx2 ? yuv::ConvertRowAvx2(src, dst, W / 2, form, lumaOnly, rgbOrder, bpp) : 0;
        done += ConvertYuvRowVector(src + 4 * done, dst + static_cast<size_t>(2 * done) * bpp,
                                    W / 2 - done, form, lumaOnly, rgbOrder, bpp, masks);
        src += 4 * done;
        dst += static_cast<size_t>(2 * done) * bpp;
        for (int x = 2 * done; x < W; x += 2, src += 4) {
            if (form == YuvForm::kGrey) {
                dst[0] = src[1];
                dst[1] = src[3];
                dst += 2;
                continue;
            }
            const int dr = redOfV[src[2]];
            const int dg = greenOfU[src[0]] + greenOfV[src[2]];
            const int db = blueOfU[src[0]];
            for (int i = 0; i < 2; ++i) {
                const int yv = src[1 + 2 * i];
                dst[first] = Clamp255(yv + dr);
                dst[1] = Clamp255(yv - dg);
                dst[third] = Clamp255(yv + db);
                if (bpp == 4) dst[3] = 255;
                dst += bpp;
            }
        }
    }
    *frame.outInfo = outInfo;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qv::isp
