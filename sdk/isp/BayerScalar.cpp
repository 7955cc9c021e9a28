// The scalar colour kernels: the stages of the vector kernels one cell at a time, with their own
// rules: no green balance, dead-pixel threshold 29, gains truncated, brightness compensation in
// percent, a 3 x 3 mean sharpening, the green of green sites from all five greens, and contrast
// in double precision with the pivot of each pixel's Bayer site.
#include <algorithm>
#include <cmath>

#include "ColourKernels.h"
#include "ColourKernelsInternal.h"
#include "IspVectorOps.h"

namespace qv::isp {

namespace {

using colour::ColourFrameSetup;

constexpr int kScalarDeadThreshold = 29;

// Bayer sites of the GRBG layout.
enum Site { kGreenSite, kRedSite, kBlueSite };

inline Site SiteOf(int x, int rowInPair) {
    if (rowInPair == 0) return x % 2 == 0 ? kGreenSite : kRedSite;
    return x % 2 == 0 ? kBlueSite : kGreenSite;
}

inline int PivotOf(const ColourFrameSetup& fs, Site site) {
    return site == kGreenSite ? fs.greenPivot : site == kRedSite ? fs.redMean : fs.blueMean;
}

// (v - p) x f + p in double precision, truncated toward zero (not clamped).
inline int64_t ContrastTrunc(int v, int pivot, double factor) {
    return static_cast<int64_t>(std::trunc((static_cast<double>(v) - pivot) * factor + pivot));
}

inline int Clamp255(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, 255));
}

template <int kSampleBytes>
inline int RawAt(const uint8_t* raw, size_t rowBytes, int x, int y) {
    const uint8_t* row = raw + static_cast<size_t>(y) * rowBytes;
    if constexpr (kSampleBytes == 1) {
        return row[x];
    } else {
        uint16_t v;
        std::memcpy(&v, row + 2 * x, 2);
        return v;
    }
}

template <int kSampleBytes>
inline void SetRawAt(uint8_t* raw, size_t rowBytes, int x, int y, int value) {
    uint8_t* row = raw + static_cast<size_t>(y) * rowBytes;
    if constexpr (kSampleBytes == 1) {
        row[x] = static_cast<uint8_t>(value);
    } else {
        const uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(row + 2 * x, &v, 2);
    }
}

// Dead-pixel test of one stored sample against the current content of the raw frame.
template <int kSampleBytes>
void CorrectSample(uint8_t* raw, size_t rowBytes, int x, int y, int d) {
    const int v = RawAt<kSampleBytes>(raw, rowBytes, x, y);
    if (v <= kScalarDeadThreshold) return;
    const int up = RawAt<kSampleBytes>(raw, rowBytes, x, y - d);
    const int down = RawAt<kSampleBytes>(raw, rowBytes, x, y + d);
    const int left = RawAt<kSampleBytes>(raw, rowBytes, x - d, y);
    const int right = RawAt<kSampleBytes>(raw, rowBytes, x + d, y);
    if (v - up > kScalarDeadThreshold && v - down > kScalarDeadThreshold &&
        v - left > kScalarDeadThreshold && v - right > kScalarDeadThreshold)
        SetRawAt<kSampleBytes>(raw, rowBytes, x, y,
                               std::min(std::max(up, down), std::max(left, right)));
}

template <int kSampleBytes>
void LoadRowPairScalar(const ColourFrameSetup& fs, uint8_t* raw, int j, uint16_t* pair) {
    const int W = fs.width;
    const size_t rowBytes = static_cast<size_t>(W) * kSampleBytes;
    const int y = 2 * j;
    const bool correct = fs.deadPixel && j > 0 && j < fs.pairs - 1;
    const int d = fs.monoCamera ? 1 : 2;
    uint16_t* even = pair;
    uint16_t* odd = pair + fs.rowStride;
    int64_t m[9];
    for (int i = 0; i < 9; ++i) m[i] = fs.matrix[i];
    for (int x = 0; x < W; x += 2) {
        if (correct && x >= 2 && x <= W - 4) {
            // First green, red, blue, second green, each seeing the replacements before it.
            CorrectSample<kSampleBytes>(raw, rowBytes, x, y, d);
            CorrectSample<kSampleBytes>(raw, rowBytes, x + 1, y, d);
            CorrectSample<kSampleBytes>(raw, rowBytes, x, y + 1, d);
            CorrectSample<kSampleBytes>(raw, rowBytes, x + 1, y + 1, d);
        }
        const uint8_t* rowEven = raw + static_cast<size_t>(y) * rowBytes;
        const uint8_t* rowOdd = rowEven + rowBytes;
        auto read = [&](const uint8_t* row, int col) {
            return std::max(0, colour::ReadSample8<kSampleBytes>(row, col) - fs.blackOffset);
        };
        int g1 = read(rowEven, x);
        int r = read(rowEven, x + 1);
        int b = read(rowOdd, x);
        int g2 = read(rowOdd, x + 1);
        if (!fs.monoCamera) {
            const uint64_t rg = fs.gains[0], gg = fs.gains[1], bg = fs.gains[2];
            const int64_t g1w = static_cast<int64_t>(g1 * gg / 100);
            const int64_t rw = static_cast<int64_t>(r * rg / 100);
            const int64_t bw = static_cast<int64_t>(b * bg / 100);
            const int64_t g2w = static_cast<int64_t>(g2 * gg / 100);
            const int64_t gm = std::min<int64_t>((g1w + g2w) >> 1, 255);
            const int64_t G1 = std::min<int64_t>(g1w, 255);
            const int64_t R = std::min<int64_t>(rw, 255);
            const int64_t B = std::min<int64_t>(bw, 255);
            const int64_t G2 = std::min<int64_t>(g2w, 255);
            int64_t vr = (m[0] * R + m[1] * gm + m[2] * B) >> 8;
            int64_t v1 = (m[3] * R + m[4] * G1 + m[5] * B) >> 8;
            int64_t v2 = (m[3] * R + m[4] * G2 + m[5] * B) >> 8;
            int64_t vb = (m[6] * R + m[7] * gm + m[8] * B) >> 8;
            if (fs.compPercent > 100) {
                vr = vr * fs.compPercent / 100;
                v1 = v1 * fs.compPercent / 100;
                v2 = v2 * fs.compPercent / 100;
                vb = vb * fs.compPercent / 100;
            }
            r = Clamp255(vr);
            g1 = Clamp255(v1);
            g2 = Clamp255(v2);
            b = Clamp255(vb);
        }
        if (fs.tableOn) {
            g1 = fs.greenMap[g1];
            r = fs.redMap[r];
            b = fs.blueMap[b];
            g2 = fs.greenMap[g2];
        }
        even[x] = static_cast<uint16_t>(g1);
        even[x + 1] = static_cast<uint16_t>(r);
        odd[x] = static_cast<uint16_t>(b);
        odd[x + 1] = static_cast<uint16_t>(g2);
    }
}

// 3 x 3 same-colour mean sharpening of one row: columns step to W - 1 - step (2 to W - 3 in a
// mosaic, 1 to W - 2 on a mono camera), the others copied.
void SharpenRowScalar(const ColourFrameSetup& fs, const uint16_t* up, const uint16_t* row,
                      const uint16_t* down, uint16_t* dst) {
    const int W = fs.width;
    const int s = fs.monoCamera ? 1 : 2;
    std::memcpy(dst, row, static_cast<size_t>(W) * sizeof(uint16_t));
    for (int x = s; x <= W - 1 - s; ++x) {
        int sum = 0;
        for (const uint16_t* r : {up, row, down}) sum += r[x - s] + r[x] + r[x + s];
        const int v = row[x];
        const int64_t sharpened = v + fs.strengthExact * (v - sum / 9) / 100;
        dst[x] = static_cast<uint16_t>(Clamp255(sharpened));
    }
}

void SharpenRowPairScalar(const ColourFrameSetup& fs, const uint16_t* above, const uint16_t* pair,
                          const uint16_t* below, uint16_t* dst) {
    const size_t S = fs.rowStride;
    for (int r = 0; r < 2; ++r) {
        const uint16_t* up = fs.monoCamera ? (r == 0 ? above + S : pair) : above + r * S;
        const uint16_t* down = fs.monoCamera ? (r == 0 ? pair + S : below) : below + r * S;
        SharpenRowScalar(fs, up, pair + r * S, down, dst + r * S);
    }
}

// The contrast of an interior pixel of a colour camera: the luma around the pivot of the
// pixel's site, the colour differences kept.
inline void LumaContrastScalar(const ColourFrameSetup& fs, Site site, int& r, int& g, int& b) {
    const int y = colour::Luma(r, g, b);
    const int64_t y2 = ContrastTrunc(y, PivotOf(fs, site), fs.factorDouble);
    const int u = (-37 * r - 74 * g + 111 * b) >> 8;
    const int v = (157 * r - 131 * g - 26 * b) >> 8;
    r = Clamp255(y2 + ((292 * v) >> 8));
    g = Clamp255(y2 - ((101 * u + 149 * v) >> 8));
    b = Clamp255(y2 + ((520 * u) >> 8));
}

// Both rows of the border cell at column x (0 or W - 2) of an inner row pair j.
void WriteBorderCellScalar(const ColourFrameSetup& fs, int j, const uint16_t* pair, int x,
                           uint8_t* out) {
    const size_t S = fs.rowStride;
    for (int rp = 0; rp < 2; ++rp)
        colour::WriteBorderCellPixels(fs, pair[x], pair[x + 1], pair[S + x], pair[S + x + 1], rp, x,
                                      fs.OutRow(out, 2 * j + rp));
}

void DemosaicRowPairScalar(const ColourFrameSetup& fs, int j, const uint16_t* above,
                           const uint16_t* pair, const uint16_t* below, uint8_t* out) {
    const int W = fs.width;
    const size_t S = fs.rowStride;
    WriteBorderCellScalar(fs, j, pair, 0, out);
    WriteBorderCellScalar(fs, j, pair, W - 2, out);
    for (int rp = 0; rp < 2; ++rp) {
        const uint16_t* row = pair + rp * S;
        const uint16_t* up = rp == 0 ? above + S : pair;
        const uint16_t* down = rp == 0 ? pair + S : below;
        uint8_t* outRow = fs.OutRow(out, 2 * j + rp);
        for (int x = 2; x <= W - 3; ++x) {
            const Site site = SiteOf(x, rp);
            const int m = row[x];
            int r, g, b;
            if (fs.monoCamera) {
                r = fs.contrast ? Clamp255(ContrastTrunc(m, PivotOf(fs, site), fs.factorDouble))
                                : m;
                g = b = r;
            } else {
                const int ha = (row[x - 1] + row[x + 1]) >> 1;
                const int va = (up[x] + down[x]) >> 1;
                const int xa = (ha + va) >> 1;
                const int diag = up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1];
                const int da = diag >> 2;
                const int gs = (m + diag) / 5;
                if (site == kGreenSite) {
                    r = rp == 0 ? ha : va;
                    g = gs;
                    b = rp == 0 ? va : ha;
                } else if (site == kRedSite) {
                    r = m;
                    g = xa;
                    b = da;
                } else {
                    r = da;
                    g = xa;
                    b = m;
                }
                if (fs.contrast) LumaContrastScalar(fs, site, r, g, b);
                if (!fs.matrixInUse) r = g = b = colour::Luma(r, g, b);
            }
            colour::PackPixel(
                outRow + static_cast<size_t>(colour::OutColumn(fs, x)) * fs.bytesPerPixel, r, g, b,
                fs.bytesPerPixel, fs.outputId);
        }
    }
}

// The first or the last row pair: every cell's pixels get its red and blue, the green sites
// their own green and the red and blue sites the cell's green mean; contrast per channel in
// double precision.
void WriteBorderRowsScalar(const ColourFrameSetup& fs, int j, const uint16_t* pair, uint8_t* out) {
    const int W = fs.width;
    const size_t S = fs.rowStride;
    for (int rp = 0; rp < 2; ++rp) {
        uint8_t* outRow = fs.OutRow(out, 2 * j + rp);
        for (int x = 0; x < W; ++x) {
            const int cell = x & ~1;
            const Site site = SiteOf(x, rp);
            int r, g, b;
            if (fs.monoCamera) {
                const int own = pair[rp * S + x];
                r = fs.contrast ? Clamp255(ContrastTrunc(own, PivotOf(fs, site), fs.factorDouble))
                                : own;
                g = b = r;
            } else {
                const int g1 = pair[cell];
                const int g2 = pair[S + cell + 1];
                r = pair[cell + 1];
                b = pair[S + cell];
                g = site == kGreenSite ? (rp == 0 ? g1 : g2) : (g1 + g2) >> 1;
                if (fs.contrast) {
                    r = Clamp255(ContrastTrunc(r, fs.redMean, fs.factorDouble));
                    g = Clamp255(ContrastTrunc(g, fs.greenPivot, fs.factorDouble));
                    b = Clamp255(ContrastTrunc(b, fs.blueMean, fs.factorDouble));
                }
                if (!fs.matrixInUse) r = g = b = colour::Luma(r, g, b);
            }
            colour::PackPixel(
                outRow + static_cast<size_t>(colour::OutColumn(fs, x)) * fs.bytesPerPixel, r, g, b,
                fs.bytesPerPixel, fs.outputId);
        }
    }
}

template <int kSampleBytes>
int ProcessBayerScalar(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                       IspFrameStatistics& stats, IspWorkBuffers& work, uint32_t inputType) {
    const CScopedNearestRounding rounding;
    ColourFrameSetup fs;
    const int rc = colour::PrepareColourFrame(frame, settings, luts, inputType, kSampleBytes, stats,
                                              work, &fs);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;
    frame.demosaicKind = fs.monoCamera ? 3 : 4;
    uint8_t* raw = frame.raw;
    uint8_t* out = frame.out;
    colour::WalkFrame(
        fs, [&](int j, uint16_t* pair) { LoadRowPairScalar<kSampleBytes>(fs, raw, j, pair); },
        [&](int j, const uint16_t* pair) { WriteBorderRowsScalar(fs, j, pair, out); },
        [&](const uint16_t* above, const uint16_t* pair, const uint16_t* below, uint16_t* dst) {
            SharpenRowPairScalar(fs, above, pair, below, dst);
        },
        [&](int j, const uint16_t* above, const uint16_t* pair, const uint16_t* below) {
            DemosaicRowPairScalar(fs, j, above, pair, below, out);
        });
    *frame.outInfo = fs.outInfo;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace

int ProcessBayer8Scalar(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                        IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessBayerScalar<1>(frame, settings, luts, stats, work, 0x01080008u);
}

int ProcessBayer16Scalar(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                         IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessBayerScalar<2>(frame, settings, luts, stats, work, 0x01100010u);
}

}  // namespace qv::isp
