// The processed-raw kernels and the packed YUV 4:2:2 conversion: one pass over the frame, one
// 2 x 2 cell (or one pair of YUV pixels) at a time.
#include "RawYuvKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "IspVectorOps.h"
#include "OutFormat.h"

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
    enum Form { kGrey, kInteger, kFloating };
    Form form;
    bool rgbOrder = false;
    switch (format) {
        case CAMERA_MEDIA_TYPE_MONO8:
            form = kGrey;
            break;
        case CAMERA_MEDIA_TYPE_RGB8:
            form = kInteger;
            rgbOrder = true;
            break;
        case CAMERA_MEDIA_TYPE_BGR8:
            form = kFloating;
            break;
        case CAMERA_MEDIA_TYPE_RGBA8:
            form = kFloating;
            rgbOrder = true;
            break;
        case CAMERA_MEDIA_TYPE_BGRA8:
            form = kInteger;
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
    // Each chroma term depends on U or V alone: the terms of every value, in the form of the
    // output format (all 0 for luma only).
    int redOfV[256], greenOfU[256], greenOfV[256], blueOfU[256];
    for (int c = 0; c < 256; ++c) {
        const int d = c - 128;
        if (settings.monochrome || form == kGrey) {
            redOfV[c] = greenOfU[c] = greenOfV[c] = blueOfU[c] = 0;
        } else if (form == kInteger) {
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
    const int first = rgbOrder ? 0 : 2;  // byte of red
    const int third = 2 - first;         // byte of blue
    for (int y = 0; y < H; ++y) {
        const uint8_t* __restrict src = frame.raw + static_cast<size_t>(y) * W * 2;
        uint8_t* __restrict dst = frame.out + static_cast<size_t>(y) * W * bpp;
        if (form == kGrey) {
            for (int x = 0; x < W; ++x) dst[x] = src[2 * x + 1];
            continue;
        }
        for (int x = 0; x < W; x += 2, src += 4) {
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
