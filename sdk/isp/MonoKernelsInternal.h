// Helpers shared by the scalar and the vector mono kernels.
#pragma once

#include <cstdint>
#include <cstring>

#include "IspRecords.h"
#include "MonoKernels.h"

namespace qv::isp::mono {

struct FrameSetup {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    int outputId = 0;
    stImageInfo outInfo{};
};

// What the vector mono kernels fix for a frame before its rows are walked.
struct VectorFrame {
    int width = 0;
    int height = 0;
    int sampleBytes = 1;  // 1: "Mono8", 2: "Mono12"
    int bytesPerPixel = 1;
    int outputId = 0;
    int d = 1;  // distance of the dead-pixel neighbours and step of the sharpening window
    bool deadPixel = false;
    bool sharpen = false;
    int strength = 0;  // (sharpness x 128) / 25, held to 16 bits
    bool contrast = false;
    float factor = 1.0f;      // single-precision contrast factor of the inner rows
    int redMean = 0;          // their pivot
    MonoRowParams borderRow;  // the first and the last row
    bool mirrorH = false;
    bool mirrorV = false;
    // Sample -> working value (0..255): none when the samples are taken as they are (8-bit)
    // or held to 4095 and shifted right by 4 (12-bit).
    bool identity = true;
    const uint16_t* map = nullptr;     // `mapSize` entries
    const uint8_t* byteMap = nullptr;  // 8-bit samples: the same map in bytes
    uint8_t* raw = nullptr;
    uint8_t* out = nullptr;
};

// The rows of a vector mono frame in the AVX2 family (MonoKernelsAvx2.cpp): the same bytes
// as the SSE4.1 walk. Only to be called where the processor runs AVX2.
void WalkMonoFrameAvx2(const VectorFrame& frame, IspWorkBuffers& work);

// Checks the frame record before anything is written; see MonoKernels.h for the codes.
int PrepareFrame(const IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                 uint32_t inputType, int sampleBytes, bool allowWideOutput, uint32_t lutSize,
                 FrameSetup* setup);

inline int GreenPivot(const IspFrameStatistics& stats) {
    return (stats.green1Mean + stats.green2Mean) / 2;
}

// Contrast factor 2 x contrast / 100, in the precision of the arithmetic that uses it.
inline double ContrastFactorDouble(int contrast) {
    return contrast * 2.0 / 100.0;
}
inline float ContrastFactorFloat(int contrast) {
    return static_cast<float>(static_cast<int64_t>(contrast) * 2) / 100.0f;
}

// k x (v - pivot) + pivot in double precision, truncated toward zero, clamped to 0..maxValue.
inline int ContrastDouble(int v, double k, int pivot, int maxValue) {
    const double y = k * (v - pivot) + pivot;
    if (y >= maxValue) return maxValue;
    if (y > 0.0) return static_cast<int>(y);
    return 0;
}

// The sharpening strength 128 x sharpness / 25.
inline int64_t SharpenStrength(int sharpness) {
    return static_cast<int64_t>(sharpness) * 128 / 25;
}

inline int LoadSample(const uint8_t* row, int x, int sampleBytes) {
    if (sampleBytes == 1) return row[x];
    uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    return v;
}

inline void StoreSample(uint8_t* row, int x, int sampleBytes, int value) {
    if (sampleBytes == 1) {
        row[x] = static_cast<uint8_t>(value);
    } else {
        const uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(row + 2 * x, &v, 2);
    }
}

// Writes one grey value g of the given working depth in the output layout.
inline void PackGrey(uint8_t* dst, int g, int depthBits, int bytesPerPixel, int outputId) {
    if (bytesPerPixel == 2) {
        if (outputId != 0) return;
        const uint16_t v = static_cast<uint16_t>(g);
        std::memcpy(dst, &v, 2);
        return;
    }
    const uint8_t b = static_cast<uint8_t>(depthBits == 12 ? g >> 4 : g);
    if (bytesPerPixel == 1) {
        if (outputId == 0) dst[0] = b;
    } else if (outputId == 20 || outputId == 21) {
        dst[0] = dst[1] = dst[2] = b;
        if (bytesPerPixel == 4) dst[3] = 255;
    }
}

// The row order of the kernels that keep rows in a ring: each row is loaded in frame order, and
// an interior row is written as soon as the row below it is in. The first row is a border row,
// written once the rows it reads are in (its neighbour for sharpening); the last row is written
// after the loop. A frame of one row (or two, sharpened) has its first row written there too.
template <class Load, class WriteBorder, class WriteInterior>
inline void ForEachRowInOrder(int H, bool sharpen, Load&& load, WriteBorder&& writeBorder,
                              WriteInterior&& writeInterior) {
    for (int y = 0; y < H; ++y) {
        load(y);
        if (y == (sharpen ? 2 : 1)) writeBorder(0);
        if (y >= 2) writeInterior(y - 1);
    }
    if (H == 1 || (sharpen && H == 2)) writeBorder(0);
    if (H >= 2) writeBorder(H - 1);
}

}  // namespace qv::isp::mono
