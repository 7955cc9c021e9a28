// The scalar mono kernels, the row writer and the checks shared with the vector kernels.
#include "MonoKernels.h"

#include <algorithm>

#include "MonoKernelsInternal.h"
#include "OutFormat.h"

namespace qv::isp {

namespace mono {

int PrepareFrame(const IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                 uint32_t inputType, int sampleBytes, bool allowWideOutput, uint32_t lutSize,
                 FrameSetup* setup) {
    if (!frame.inInfo || !frame.raw || !frame.outInfo || !frame.out)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const stImageInfo& in = *frame.inInfo;
    if (in.uiMediaType != inputType) return CAMERA_STATUS_NOT_SUPPORTED;
    int bpp = 0;
    int id = 0;
    stImageInfo out{};
    if (GetOutFormatInfo(settings.ispOutFormat, in, &out, &bpp, &id) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_NOT_SUPPORTED;
    const bool colourLayout = id == kOutputRgb || id == kOutputBgr;
    const bool writable = (id == kOutputMono && bpp == 1) ||
                          (id == kOutputMono && bpp == 2 && allowWideOutput) ||
                          (colourLayout && (bpp == 3 || bpp == 4));
    if (!writable) return CAMERA_STATUS_NOT_SUPPORTED;
    if (in.iWidth == 0 || in.iHeight == 0) return CAMERA_STATUS_DATA_INVALID;
    // Width and height stay far below these limits on every sensor; beyond them the sizes
    // would no longer fit the 32-bit byte counts of the frame descriptor.
    if (in.iWidth > 65535 || in.iHeight > 65535) return CAMERA_STATUS_DATA_INVALID;
    const uint64_t pixels = static_cast<uint64_t>(in.iWidth) * in.iHeight;
    if (pixels * static_cast<uint64_t>(sampleBytes) > in.TotalBytes ||
        pixels * static_cast<uint64_t>(bpp) > 0xFFFFFFFFull)
        return CAMERA_STATUS_DATA_INVALID;
    if (lut.inEffect && (lut.table == nullptr || lut.size != lutSize))
        return CAMERA_STATUS_PARAMETER_MISMATCH;
    setup->width = static_cast<int>(in.iWidth);
    setup->height = static_cast<int>(in.iHeight);
    setup->bytesPerPixel = bpp;
    setup->outputId = id;
    setup->outInfo = out;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace mono

using namespace mono;

void WriteMonoRow(const uint16_t* row, uint8_t* outRow, int width, int bytesPerPixel, int outputId,
                  const MonoRowParams& params) {
    const bool contrast = params.contrast != 50;
    const double k = ContrastFactorDouble(params.contrast);
    const int maxValue = (params.depthBits == 12 || bytesPerPixel == 2) ? 4095 : 255;
    for (int j = 0; j < width; ++j) {
        int g = row[params.mirrorH ? width - 1 - j : j];
        if (contrast) g = ContrastDouble(g, k, params.pivot, maxValue);
        PackGrey(outRow + static_cast<size_t>(j) * bytesPerPixel, g, params.depthBits,
                 bytesPerPixel, outputId);
    }
}

namespace {

// Scalar kernels: dead-pixel threshold 29 over every sample whose four neighbours lie inside
// the frame, 3x3 mean sharpening, contrast in double precision around the green pivot.
template <int kSampleBytes, int kDepth>
int ProcessMonoScalar(IspFrame& frame, const MonoSettings& s, const LutView& lut,
                      IspFrameStatistics& stats, IspWorkBuffers& work, uint32_t inputType) {
    FrameSetup fs;
    const int rc = PrepareFrame(frame, s, lut, inputType, kSampleBytes, kSampleBytes == 2,
                                kDepth == 12 ? 4096 : 256, &fs);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;

    const int W = fs.width;
    const int H = fs.height;
    const int bpp = fs.bytesPerPixel;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const size_t outRowBytes = static_cast<size_t>(W) * bpp;
    const int maxValue = (1 << kDepth) - 1;
    const int d = s.monoCamera ? 1 : 2;
    const int offset = std::max(0, s.blackOffset);
    const bool sharpen = s.sharpness != 0;
    const int64_t strength = SharpenStrength(s.sharpness);
    const bool contrast = s.contrast != 50;
    const double k = ContrastFactorDouble(s.contrast);

    stats.greenPivot = GreenPivot(stats);
    const int pivot = stats.greenPivot;

    const int ringRows = sharpen ? 4 : 3;
    work.Grow(static_cast<size_t>(ringRows) * W, 3 * static_cast<size_t>(W), 0);
    uint16_t* ring = work.rowRing.data();
    uint16_t* finished = work.finishedRows.data();
    auto ringRow = [&](int y) { return ring + static_cast<size_t>(y % ringRows) * W; };
    auto outRow = [&](int y) {
        return frame.out + static_cast<size_t>(s.mirrorV ? H - 1 - y : y) * outRowBytes;
    };
    const MonoRowParams rowParams{s.contrast, pivot, s.mirrorH, kDepth};

    auto correctRow = [&](int y) {
        // Neighbours at distance d; only samples whose neighbours all lie inside the frame.
        uint8_t* up = frame.raw + static_cast<size_t>(y - d) * rowBytes;
        uint8_t* mid = frame.raw + static_cast<size_t>(y) * rowBytes;
        uint8_t* down = frame.raw + static_cast<size_t>(y + d) * rowBytes;
        for (int x = d; x <= W - 1 - d; ++x) {
            const int v = LoadSample(mid, x, kSampleBytes);
            if (v <= 29) continue;
            const int u = LoadSample(up, x, kSampleBytes);
            const int dn = LoadSample(down, x, kSampleBytes);
            const int l = LoadSample(mid, x - d, kSampleBytes);
            const int r = LoadSample(mid, x + d, kSampleBytes);
            if (v - u > 29 && v - dn > 29 && v - l > 29 && v - r > 29)
                StoreSample(mid, x, kSampleBytes, std::min(std::max(u, dn), std::max(l, r)));
        }
    };

    auto loadRow = [&](int y) {
        const uint8_t* src = frame.raw + static_cast<size_t>(y) * rowBytes;
        uint16_t* dst = ringRow(y);
        for (int x = 0; x < W; ++x) {
            int v = LoadSample(src, x, kSampleBytes);
            if (kDepth == 12) v = std::min(v, 4095);
            v = std::max(0, v - offset);
            if (lut.inEffect) v = std::min<int>(lut.table[v], maxValue);
            dst[x] = static_cast<uint16_t>(v);
        }
    };

    auto emitInterior = [&](int c) {
        const uint16_t* src = ringRow(c);
        if (sharpen) {
            const uint16_t* a = ringRow(c - 1);
            const uint16_t* b = ringRow(c + 1);
            finished[0] = src[0];
            finished[W - 1] = src[W - 1];
            for (int x = 1; x <= W - 2; ++x) {
                const int sum = a[x - 1] + a[x] + a[x + 1] + src[x - 1] + src[x] + src[x + 1] +
                                b[x - 1] + b[x] + b[x + 1];
                const int v = src[x];
                const int64_t sharpened = v + strength * (v - sum / 9) / 100;
                finished[x] = static_cast<uint16_t>(std::clamp<int64_t>(sharpened, 0, maxValue));
            }
            src = finished;
        }
        uint8_t* out = outRow(c);
        for (int j = 0; j < W; ++j) {
            int g = src[s.mirrorH ? W - 1 - j : j];
            if (contrast) g = ContrastDouble(g, k, pivot, maxValue);
            PackGrey(out + static_cast<size_t>(j) * bpp, g, kDepth, bpp, fs.outputId);
        }
    };

    auto writeBorder = [&](int y) {
        WriteMonoRow(ringRow(y), outRow(y), W, bpp, fs.outputId, rowParams);
    };

    ForEachRowInOrder(
        H, sharpen,
        [&](int y) {
            if (s.deadPixel && y >= d && y <= H - 1 - d) correctRow(y);
            loadRow(y);
        },
        writeBorder, emitInterior);

    *frame.outInfo = fs.outInfo;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace

int ProcessMono8Scalar(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                       IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessMonoScalar<1, 8>(frame, settings, lut, stats, work, CAMERA_MEDIA_TYPE_MONO8);
}

int ProcessMono12Scalar(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                        IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessMonoScalar<2, 12>(frame, settings, lut, stats, work, CAMERA_MEDIA_TYPE_MONO12_16);
}

}  // namespace qv::isp
