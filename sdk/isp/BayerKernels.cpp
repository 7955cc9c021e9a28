// The vector colour kernels: the walk over the frame with the loading, sharpening and output
// parts of BayerVector.h.
#include "BayerVector.h"
#include "ColourKernels.h"
#include "IspVectorOps.h"
#include "KernelFamily.h"

namespace qv::isp {

namespace {

using colour::ColourFrameSetup;

template <int kSampleBytes>
int ProcessBayerVector(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                       IspFrameStatistics& stats, IspWorkBuffers& work, uint32_t inputType) {
    const CScopedNearestRounding rounding;
    ColourFrameSetup fs;
    const int rc = colour::PrepareColourFrame(frame, settings, luts, inputType, kSampleBytes, stats,
                                              work, &fs);
    if (rc != CAMERA_STATUS_SUCCESS) return rc;
    frame.demosaicKind = fs.monoCamera ? 3 : 4;
    const GainsMatrixRegs gm = MakeGainsMatrixRegs(fs);
    uint8_t* raw = frame.raw;
    uint8_t* out = frame.out;
    const bool avx2 = ActiveKernelFamily() == KernelFamily::kAvx2;
    colour::SiteLookupsAvx2 lookups;
    if (avx2 && fs.tableOn) colour::PrepareSiteLookupsAvx2(fs, &lookups);
    colour::WalkFrame(
        fs,
        [&](int j, uint16_t* pair) {
            colour::CorrectRowPair(fs, raw, j, kSampleBytes);
            if (avx2) {
                if constexpr (kSampleBytes == 1)
                    colour::LoadRowPair8Avx2(fs, gm, lookups, raw, j, pair);
                else
                    colour::LoadRowPair16Avx2(fs, gm, lookups, raw, j, pair);
            } else {
                if constexpr (kSampleBytes == 1)
                    colour::LoadRowPair8(fs, gm, raw, j, pair);
                else
                    colour::LoadRowPair16(fs, gm, raw, j, pair);
            }
        },
        [&](int j, const uint16_t* pair) { colour::WriteBorderRows(fs, j, pair, out); },
        [&](const uint16_t* above, const uint16_t* pair, const uint16_t* below, uint16_t* dst) {
            colour::SharpenRowPair(fs, above, pair, below, dst,
                                   avx2 ? &SharpenRowVectorAvx2 : &SharpenRowVector);
        },
        [&](int j, const uint16_t* above, const uint16_t* pair, const uint16_t* below) {
            if (avx2)
                colour::DemosaicRowPairAvx2(fs, j, above, pair, below, out);
            else
                colour::DemosaicRowPair(fs, j, above, pair, below, out);
        });
    *frame.outInfo = fs.outInfo;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace

int ProcessBayer8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                  IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessBayerVector<1>(frame, settings, luts, stats, work, 0x01080008u);
}

int ProcessBayer16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                   IspFrameStatistics& stats, IspWorkBuffers& work) {
    return ProcessBayerVector<2>(frame, settings, luts, stats, work, 0x01100010u);
}

}  // namespace qv::isp
