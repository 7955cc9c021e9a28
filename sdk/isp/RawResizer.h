// Software resize of 8-bit raw frames with a 2x2 colour pattern (Bayer or mono).
#pragma once

#include <cstdint>
#include <vector>

#include "QVDeviceDef.h"

namespace qv::isp {

// Every target 2x2 cell is interpolated from the four surrounding source cells at the same
// position inside the cell, so the colour pattern stays intact; fixed point with 4096 = 1.0.
// Only whole cells are written: with an odd target width or height the last column or row is
// left as it was. The column tables are kept between calls (grown, never shrunk).
class CRawResizer {
  public:
    // Resizes the frame `src` described by `srcInfo` (width, height, TotalBytes, media type)
    // into `dst`, which must hold dstWidth x dstHeight bytes. Returns
    //   CAMERA_STATUS_SUCCESS;
    //   CAMERA_STATUS_PARAMETER_INVALID  a null buffer, or a source or target smaller than one
    //                                    2x2 cell;
    //   CAMERA_STATUS_NOT_SUPPORTED      samples wider than 8 bits (the result would be
    //                                    described as w x h bytes of a 16-bit format);
    //   CAMERA_STATUS_DATA_INVALID       TotalBytes below width x height.
    // Nothing is written on failure.
    int Resize(const stImageInfo& srcInfo, const uint8_t* src, uint8_t* dst, uint32_t dstWidth,
               uint32_t dstHeight);

  private:
    std::vector<int32_t> m_cellX;    // source cell column per target cell column
    std::vector<int32_t> m_weightX;  // weight of that cell (4096 = 1.0); the next gets the rest
};

}  // namespace qv::isp
