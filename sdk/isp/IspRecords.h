// Records the pipeline kernels take: everything a kernel reads or writes is passed explicitly,
// so the kernels depend on nothing but these records and the public frame descriptor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "QVDeviceDef.h"

namespace qv::isp {

// One per-channel lookup table as a kernel sees it. `inEffect` says whether the kernel applies
// it at all (the LUT enabled flag and the "not the identity" test of the lookup-table settings).
struct LutView {
    const uint16_t* table = nullptr;
    uint32_t size = 0;  // entries: 256, 1024, 4096 or 65536
    bool inEffect = false;
};

// Per-frame statistics handed over by auto exposure, each 0 to 255. The kernels derive and
// store `greenPivot` themselves: (green1Mean + green2Mean) / 2, truncated toward zero.
struct IspFrameStatistics {
    int redMean = 0;
    int greenPivot = 0;
    int green1Mean = 0;
    int green2Mean = 0;
    int blueMean = 0;
};

// The active settings a mono kernel reads.
struct MonoSettings {
    int sharpness = 0;  // 0: off
    int contrast = 50;  // 50: neutral
    bool mirrorH = false;
    bool mirrorV = false;
    int blackOffset = 0;  // subtracted from each sample before the lookup; below 0 counts as 0
    bool deadPixel = false;
    bool monoCamera = true;  // false: neighbours at 2 samples / 2 rows (a Bayer mosaic's)
    uint32_t ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
};

// The active settings a colour (Bayer) kernel reads, with the white-balance gains of the frame.
struct ColourSettings {
    int sharpness = 0;     // 0: off
    int saturation = 128;  // 128: neutral; 0 gives grey output
    int contrast = 50;     // 50: neutral
    bool mirrorH = false;
    bool mirrorV = false;
    bool monochrome = false;  // grey output from a colour camera
    int blackOffset = 0;      // scalar kernels only; below 0 counts as 0
    bool deadPixel = false;
    bool monoCamera = false;  // the sensor is monochrome: no green balance, gains or demosaic
    uint32_t ispOutFormat = CAMERA_MEDIA_TYPE_BGR8;
    int colorMatrix[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};  // row by row, 256 = unity
    uint32_t redGain = 100;  // white-balance gains in percent, 100 = unity
    uint32_t greenGain = 100;
    uint32_t blueGain = 100;
};

// The red, green and blue per-channel tables of a colour kernel.
struct ColourLuts {
    LutView red;
    LutView green;
    LutView blue;
};

// One frame through a kernel. `raw` is written in place by dead-pixel correction. `out` must
// hold iWidth x iHeight x (bytes per pixel of the output format) bytes and must not overlap
// `raw`. On success `*outInfo` describes the output; on failure neither `*outInfo` nor `out`
// is touched.
struct IspFrame {
    const stImageInfo* inInfo = nullptr;
    uint8_t* raw = nullptr;
    stImageInfo* outInfo = nullptr;
    uint8_t* out = nullptr;
    int demosaicKind = 0;  // set by the vector kernels: 3 on a mono camera, else 4
};

// Work memory of the kernels, owned by the pipeline object of one camera. Grown to a frame's
// needs and never shrunk, so frames of a steady size allocate nothing.
struct IspWorkBuffers {
    std::vector<uint16_t> rowRing;       // rows of the frame after the lookup, in frame order
    std::vector<uint16_t> finishedRows;  // sharpened rows waiting to be written
    std::vector<uint16_t> sampleMap;     // per-frame sample -> working value (offset, LUT)
    std::vector<uint8_t> byteRows;       // rows of 8-bit working values (AVX2 mono kernels)
    std::array<uint8_t, 256> byteMap{};  // the same for 8-bit samples written as one byte
    // The colour kernels' per-frame tables: 8-bit sample -> value after the lookup table, for
    // the red, green and blue sites.
    std::array<uint8_t, 3 * 256> siteMaps{};

    void Grow(size_t ringElements, size_t finishedElements, size_t mapElements) {
        if (rowRing.size() < ringElements) rowRing.resize(ringElements);
        if (finishedRows.size() < finishedElements) finishedRows.resize(finishedElements);
        if (sampleMap.size() < mapElements) sampleMap.resize(mapElements);
    }
    void GrowByteRows(size_t bytes) {
        if (byteRows.size() < bytes) byteRows.resize(bytes);
    }
};

}  // namespace qv::isp
