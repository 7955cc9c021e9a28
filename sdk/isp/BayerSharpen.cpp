// Sharpening in the Bayer domain by the vector colour kernels: each colour plane of the mosaic
// on its own, from the loaded (never the sharpened) row pairs.
#include "BayerVector.h"
#include "SharpenVector.h"

namespace qv::isp::colour {

void SharpenRowPair(const ColourFrameSetup& fs, const uint16_t* above, const uint16_t* pair,
                    const uint16_t* below, uint16_t* dst, SharpenRowFn sharpenRow) {
    const size_t S = fs.rowStride;
    for (int r = 0; r < 2; ++r) {
        const uint16_t* row = pair + r * S;
        const uint16_t* up;
        const uint16_t* down;
        if (!fs.monoCamera) {
            // The same-colour rows two rows away: the same row of the pairs above and below.
            up = above + r * S;
            down = below + r * S;
        } else {
            up = r == 0 ? above + S : pair;
            down = r == 0 ? pair + S : below;
        }
        sharpenRow(up, row, down, dst + r * S, fs.scratch, fs.width, fs.monoCamera ? 1 : 2,
                   fs.strength);
    }
}

}  // namespace qv::isp::colour
