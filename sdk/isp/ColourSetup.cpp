// The per-frame set-up of the colour kernels: checks, colour matrix, brightness compensation,
// site maps and work buffers.
#include <algorithm>
#include <cmath>

#include "ColourKernelsInternal.h"
#include "OutFormat.h"

namespace qv::isp::colour {

namespace {

constexpr uint32_t kGainLimit = 1u << 20;

// The 256-entry site map of one table: entry k of the table made for 8-bit samples from the
// same curve, table[k x s] / s with s = size / 256, at most 255; the identity when the table
// stage is off.
void BuildSiteMap(const LutView& lut, bool tableOn, uint8_t* map) {
    if (!tableOn) {
        for (int k = 0; k < 256; ++k) map[k] = static_cast<uint8_t>(k);
        return;
    }
    const uint32_t step = lut.size / 256;
    for (uint32_t k = 0; k < 256; ++k)
        map[k] = static_cast<uint8_t>(std::min<uint32_t>(lut.table[k * step] / step, 255));
}

bool UsableTable(const LutView& lut) {
    return lut.table != nullptr && lut.size >= 256 && lut.size % 256 == 0;
}

}  // namespace

int PrepareColourFrame(const IspFrame& frame, const ColourSettings& s, const ColourLuts& luts,
                       uint32_t inputType, int sampleBytes, IspFrameStatistics& stats,
                       IspWorkBuffers& work, ColourFrameSetup* setup) {
    if (!frame.inInfo || !frame.raw || !frame.outInfo || !frame.out)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const stImageInfo& in = *frame.inInfo;
    if (in.uiMediaType != inputType) return CAMERA_STATUS_NOT_SUPPORTED;
    int bpp = 0;
    int id = 0;
    stImageInfo out{};
    if (GetOutFormatInfo(s.ispOutFormat, in, &out, &bpp, &id) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_NOT_SUPPORTED;
    const bool colourLayout = id == kOutputRgb || id == kOutputBgr;
    if (!((id == kOutputMono && bpp == 1) || (colourLayout && (bpp == 3 || bpp == 4))))
        return CAMERA_STATUS_NOT_SUPPORTED;
    const bool sharpen = s.sharpness != 0;
    // The walk needs whole cells, the border cells at both ends of a row, and the rows the
    // sharpening reads around every sharpened row pair.
    if (in.iWidth < 12 || in.iHeight < (sharpen ? 8u : 4u) || in.iWidth % 2 != 0 ||
        in.iHeight % 2 != 0)
        return CAMERA_STATUS_NOT_SUPPORTED;
    // Width and height stay far below these limits on every sensor; beyond them the sizes
    // would no longer fit the 32-bit byte counts of the frame descriptor.
    if (in.iWidth > 65535 || in.iHeight > 65535) return CAMERA_STATUS_DATA_INVALID;
    const uint64_t pixels = static_cast<uint64_t>(in.iWidth) * in.iHeight;
    if (pixels * static_cast<uint64_t>(sampleBytes) > in.TotalBytes ||
        pixels * static_cast<uint64_t>(bpp) > 0xFFFFFFFFull)
        return CAMERA_STATUS_DATA_INVALID;
    const bool tableOn = luts.red.inEffect || luts.green.inEffect || luts.blue.inEffect;
    if (tableOn && (!UsableTable(luts.red) || !UsableTable(luts.green) || !UsableTable(luts.blue)))
        return CAMERA_STATUS_PARAMETER_MISMATCH;

    ColourFrameSetup& fs = *setup;
    fs = ColourFrameSetup{};
    fs.width = static_cast<int>(in.iWidth);
    fs.height = static_cast<int>(in.iHeight);
    fs.pairs = fs.height / 2;
    fs.bytesPerPixel = bpp;
    fs.outputId = id;
    fs.outInfo = out;
    fs.monoCamera = s.monoCamera;

    // Colour matrix: adjusted by saturation and in use only for colour output of a colour
    // camera; the identity otherwise, which makes a colour camera's output grey.
    if (!s.monoCamera && !s.monochrome && s.saturation != 0 && bpp > 1) {
        fs.matrixInUse = true;
        const int d = s.saturation - 128;
        const int e = -(d / 2);
        for (int i = 0; i < 9; ++i) fs.matrix[i] = s.colorMatrix[i] + (i % 4 == 0 ? d : e);
    }
    fs.gains[0] = std::min(s.redGain, kGainLimit);
    fs.gains[1] = std::min(s.greenGain, kGainLimit);
    fs.gains[2] = std::min(s.blueGain, kGainLimit);

    // Brightness compensation. The difference 25500 - L is signed: gains above unity give a
    // negative exponent, which switches the compensation off.
    const int64_t L = 76 * static_cast<int64_t>(s.redGain) +
                      150 * static_cast<int64_t>(s.greenGain) +
                      29 * static_cast<int64_t>(s.blueGain);
    const double c = std::trunc(static_cast<double>(25500 - L) * 128.0 / 25500.0);
    fs.compExponent = static_cast<int>(std::max(c, -1.0e9));
    fs.compFactor = std::min(128 + fs.compExponent, 255);
    fs.compPercent = static_cast<int>(
        std::max(std::trunc(static_cast<double>(25500 - L) * 100.0 / 25500.0), -1.0e9) + 100);
    static const int kIdentity[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    fs.gainsStageIsIdentity = fs.gains[0] == 100 && fs.gains[1] == 100 && fs.gains[2] == 100 &&
                              fs.compExponent < 2 &&
                              std::equal(fs.matrix, fs.matrix + 9, kIdentity);

    fs.tableOn = tableOn;
    uint8_t* maps = work.siteMaps.data();
    BuildSiteMap(luts.red, tableOn, maps);
    BuildSiteMap(luts.green, tableOn, maps + 256);
    BuildSiteMap(luts.blue, tableOn, maps + 512);
    fs.redMap = maps;
    fs.greenMap = maps + 256;
    fs.blueMap = maps + 512;

    fs.deadPixel = s.deadPixel;
    fs.blackOffset = std::max(0, s.blackOffset);
    fs.sharpen = sharpen;
    fs.strengthExact = static_cast<int64_t>(s.sharpness) * 128 / 25;
    // A strength beyond the 16-bit range saturates every changed sample to 0 or 255 just as
    // the exact product would, so it is held there for the 16-bit lanes.
    fs.strength = static_cast<int>(std::clamp<int64_t>(fs.strengthExact, -32768, 32767));
    fs.contrast = s.contrast != 50;
    fs.factor = static_cast<float>(static_cast<int64_t>(s.contrast) * 2) / 100.0f;
    fs.factorDouble = s.contrast * 2.0 / 100.0;
    stats.greenPivot = (stats.green1Mean + stats.green2Mean) / 2;
    fs.redMean = stats.redMean;
    fs.greenPivot = stats.greenPivot;
    fs.blueMean = stats.blueMean;
    fs.mirrorH = s.mirrorH;
    fs.mirrorV = s.mirrorV;

    fs.rowStride = (static_cast<size_t>(fs.width) + 7) / 8 * 8;
    fs.ringPairs = sharpen ? 4 : 3;
    const size_t pair = fs.PairStride();
    work.Grow(static_cast<size_t>(fs.ringPairs) * pair, 3 * pair + fs.rowStride, 0);
    fs.ring = work.rowRing.data();
    fs.finished = work.finishedRows.data();
    fs.scratch = fs.finished + 3 * pair;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qv::isp::colour
