// What the scalar and the vector colour kernels share: the per-frame set-up, the walk over the
// row pairs, and the per-pixel helpers of the border cells.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "IspRecords.h"

namespace qv::isp::colour {

// Everything a colour kernel fixes at the start of a frame.
struct ColourFrameSetup {
    int width = 0;
    int height = 0;
    int pairs = 0;  // row pairs: height / 2
    int bytesPerPixel = 0;
    int outputId = 0;
    stImageInfo outInfo{};

    bool monoCamera = false;
    // The colour matrix adjusted by saturation is in use; otherwise the matrix is the identity
    // and a colour camera's output is grey.
    bool matrixInUse = false;
    int matrix[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    // Red, green and blue gains in percent. Gains above kGainLimit are held there: from about
    // 25600 on every sample above 0 saturates at 255 alike, so no result changes.
    uint32_t gains[3] = {100, 100, 100};
    // The gains, matrix and compensation stage would change no sample (gains of 100, identity
    // matrix, no compensation): the vector kernels skip it.
    bool gainsStageIsIdentity = true;
    // Brightness compensation from the gains: exponent c and factor F = min(128 + c, 255) of
    // the vector kernels (applied when c >= 2), and the percentage of the scalar kernels
    // (applied above 100).
    int compExponent = 0;
    int compFactor = 128;
    int compPercent = 100;

    bool tableOn = false;
    const uint8_t* redMap = nullptr;  // 8-bit sample -> value after the table, per site
    const uint8_t* greenMap = nullptr;
    const uint8_t* blueMap = nullptr;

    bool deadPixel = false;
    int blackOffset = 0;
    bool sharpen = false;
    int strength = 0;  // (sharpness x 128) / 25, held to the 16-bit range (see the setup)
    int64_t strengthExact = 0;
    bool contrast = false;
    float factor = 1.0f;        // (contrast x 2) / 100 in single precision
    double factorDouble = 1.0;  // the same in double precision (scalar kernels)
    int redMean = 0;
    int greenPivot = 0;
    int blueMean = 0;
    bool mirrorH = false;
    bool mirrorV = false;

    // Work memory: rows of `rowStride` samples (the width rounded up to whole groups of
    // eight), two per row pair.
    size_t rowStride = 0;
    int ringPairs = 3;  // 3, or 4 with sharpening
    uint16_t* ring = nullptr;
    uint16_t* finished = nullptr;
    uint16_t* scratch = nullptr;  // one row

    size_t PairStride() const { return 2 * rowStride; }
    uint16_t* RingPair(int j) const {
        return ring + static_cast<size_t>(j % ringPairs) * PairStride();
    }
    uint16_t* FinishedPair(int j) const {
        return finished + static_cast<size_t>(j % 3) * PairStride();
    }
    size_t OutRowBytes() const { return static_cast<size_t>(width) * bytesPerPixel; }
    // Start of output row y (vertical mirror applied).
    uint8_t* OutRow(uint8_t* out, int y) const {
        return out + static_cast<size_t>(mirrorV ? height - 1 - y : y) * OutRowBytes();
    }
};

// Checks the frame record and fixes the per-frame values; on success also builds the site
// maps, grows the work buffers and stores the green pivot into `stats`. Nothing is written
// when it fails (codes in ColourKernels.h).
int PrepareColourFrame(const IspFrame& frame, const ColourSettings& settings,
                       const ColourLuts& luts, uint32_t inputType, int sampleBytes,
                       IspFrameStatistics& stats, IspWorkBuffers& work, ColourFrameSetup* setup);

// The walk over the frame: row pairs 0 to K - 2 are loaded, the first row pair is written as a
// border, then each further row pair j is loaded and the row pair behind it is demosaiced:
// j - 1 without sharpening; with sharpening, row pair j - 1 is sharpened from the loaded pairs
// j - 2, j - 1, j into the finished rows, and j - 2 is demosaiced from finished pairs (the first
// step also copies row pair 0 there and sharpens row pair 1; the last step also demosaics row
// pair P - 2 against the loaded, unsharpened last pair). The last row pair is written as a
// border. So the first and the last row pair are never sharpened.
//   load(j, pair)                      row pair j into `pair`
//   border(j, pair)                    border row pair j (0 or P - 1)
//   sharpen(above, pair, below, dst)   one row pair into `dst`
//   demosaic(j, above, pair, below)    inner row pair j
template <class Load, class Border, class Sharpen, class Demosaic>
void WalkFrame(const ColourFrameSetup& fs, Load&& load, Border&& border, Sharpen&& sharpen,
               Demosaic&& demosaic) {
    const int P = fs.pairs;
    const int K = fs.ringPairs;
    for (int j = 0; j <= K - 2 && j < P; ++j) load(j, fs.RingPair(j));
    border(0, fs.RingPair(0));
    for (int j = K - 1; j < P; ++j) {
        load(j, fs.RingPair(j));
        if (!fs.sharpen) {
            demosaic(j - 1, fs.RingPair(j - 2), fs.RingPair(j - 1), fs.RingPair(j));
            continue;
        }
        if (j == 3) {
            std::memcpy(fs.FinishedPair(0), fs.RingPair(0), fs.PairStride() * sizeof(uint16_t));
            sharpen(fs.RingPair(0), fs.RingPair(1), fs.RingPair(2), fs.FinishedPair(1));
        }
        sharpen(fs.RingPair(j - 2), fs.RingPair(j - 1), fs.RingPair(j), fs.FinishedPair(j - 1));
        demosaic(j - 2, fs.FinishedPair(j - 3), fs.FinishedPair(j - 2), fs.FinishedPair(j - 1));
        if (j == P - 1)
            demosaic(P - 2, fs.FinishedPair(P - 3), fs.FinishedPair(P - 2), fs.RingPair(P - 1));
    }
    border(P - 1, fs.RingPair(P - 1));
}

// Grey value of a pixel: (76 R + 150 G + 29 B) >> 8.
inline int Luma(int r, int g, int b) {
    return (76 * r + 150 * g + 29 * b) >> 8;
}

// The border cells' contrast: (v - p) x f + p in double precision from the single-precision
// factor, truncated toward zero, clamped to 0..255.
inline int ContrastBorderCell(int v, int pivot, float factor) {
    const double y = (static_cast<double>(v) - pivot) * static_cast<double>(factor) + pivot;
    if (y >= 255.0) return 255;
    if (y > 0.0) return static_cast<int>(y);
    return 0;
}

// Writes one pixel in the output layout (bytes per pixel 1, 3 or 4; output id 20 or 21 for the
// colour layouts). A one-byte pixel is `r`, which the callers have made grey.
inline void PackPixel(uint8_t* dst, int r, int g, int b, int bytesPerPixel, int outputId) {
    if (bytesPerPixel == 1) {
        dst[0] = static_cast<uint8_t>(r);
        return;
    }
    if (outputId == 20) {
        dst[0] = static_cast<uint8_t>(r);
        dst[2] = static_cast<uint8_t>(b);
    } else {
        dst[0] = static_cast<uint8_t>(b);
        dst[2] = static_cast<uint8_t>(r);
    }
    dst[1] = static_cast<uint8_t>(g);
    if (bytesPerPixel == 4) dst[3] = 255;
}

// Output position of processed pixel x in a row (horizontal mirror applied).
inline int OutColumn(const ColourFrameSetup& fs, int x) {
    return fs.mirrorH ? fs.width - 1 - x : x;
}

// The two pixels of one row of a border cell (columns x and x + 1, x = 0 or width - 2) from the
// cell's samples G1, R, B, G2: the even row gets (R, G1, B) and (R, (G1 + G2) >> 1, B), the odd
// row (R, (G1 + G2) >> 1, B) and (R, G2, B); a mono camera gives each pixel its own sample.
// Contrast in double precision from the single-precision factor, grey conversion with the
// green the pixel got.
inline void WriteBorderCellPixels(const ColourFrameSetup& fs, int g1, int r, int b, int g2,
                                  int rowInPair, int x, uint8_t* outRow) {
    const int gm = (g1 + g2) >> 1;
    for (int i = 0; i < 2; ++i) {
        int pr, pg, pb;
        if (fs.monoCamera) {
            const int own = rowInPair == 0 ? (i == 0 ? g1 : r) : (i == 0 ? b : g2);
            pr = pg = pb = fs.contrast ? ContrastBorderCell(own, fs.redMean, fs.factor) : own;
        } else {
            pr = r;
            pb = b;
            pg = rowInPair == 0 ? (i == 0 ? g1 : gm) : (i == 0 ? gm : g2);
            if (fs.contrast) {
                pr = ContrastBorderCell(pr, fs.redMean, fs.factor);
                pg = ContrastBorderCell(pg, fs.greenPivot, fs.factor);
                pb = ContrastBorderCell(pb, fs.blueMean, fs.factor);
            }
            if (!fs.matrixInUse) pr = pg = pb = Luma(pr, pg, pb);
        }
        PackPixel(outRow + static_cast<size_t>(OutColumn(fs, x + i)) * fs.bytesPerPixel, pr, pg, pb,
                  fs.bytesPerPixel, fs.outputId);
    }
}

// Reads sample x of a raw row: a byte, or a 16-bit word holding a 12-bit sample, which is held
// to 4095 and reduced to its top 8 bits.
template <int kSampleBytes>
inline int ReadSample8(const uint8_t* row, int x) {
    if constexpr (kSampleBytes == 1) {
        return row[x];
    } else {
        uint16_t v;
        std::memcpy(&v, row + 2 * x, 2);
        return std::min<int>(v, 4095) >> 4;
    }
}

}  // namespace qv::isp::colour
