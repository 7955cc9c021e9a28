// Kernels for colour (Bayer GRBG) raw frames: "Bayer GRBG8" (one byte per sample) and "Bayer
// GRBG12" (12-bit samples in 16-bit words) to one-byte grey, RGB8, BGR8, RGBA8 or BGRA8.
//
// Every sample passes, in this order: dead-pixel correction (in place, on the caller's raw
// samples), reading (12-bit samples keep their top 8 bits), green balance, white-balance gains
// with the colour matrix and brightness compensation, the lookup table by Bayer site,
// sharpening in the Bayer domain, demosaic, contrast, grey conversion, and packing with the
// mirrors. A frame is streamed once from top to bottom through a ring of processed row pairs.
//
// The vector kernels (eight pixels at a time per group, in the instruction-set family of
// KernelFamily.h: SSE4.1, or AVX2 with two groups per register; the same bytes) serve
// processing level 5 and above, the scalar ones the levels below. The two families differ on purpose (dead-pixel
// threshold, green balance, gain rounding, brightness compensation, sharpening, the green of
// green sites, the contrast arithmetic); each is exact to its own rules.
//
// The lookup tables are looked up with the 8-bit sample by Bayer site: a table of N entries
// (256 for 8-bit input, 4096 for 12-bit input) is read as the 256-entry table made from the same
// curve, entry k being table[k x N / 256] / (N / 256), at most 255. So a 12-bit frame gets the
// same curve as an 8-bit one, and no sample indexes past a table.
//
// Every kernel returns CAMERA_STATUS_SUCCESS, or before touching anything:
//   CAMERA_STATUS_PARAMETER_INVALID   a null pointer in the frame record;
//   CAMERA_STATUS_NOT_SUPPORTED       an input media type other than the kernel's; an output
//                                     format GetOutFormatInfo refuses or that has no packing
//                                     here (2 bytes per pixel, 3 or 4 bytes without a colour
//                                     byte order, 1 byte with one); a frame narrower than 12
//                                     pixels, lower than 4 rows (8 with sharpening), or of odd
//                                     width or height;
//   CAMERA_STATUS_DATA_INVALID        TotalBytes smaller than the samples of width x height,
//                                     or a frame too large for the 32-bit sizes;
//   CAMERA_STATUS_PARAMETER_MISMATCH  a lookup table in effect that is missing or whose size
//                                     is not a multiple of 256.
#pragma once

#include <cstdint>

#include "IspRecords.h"

namespace qv::isp {

int ProcessBayer8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                  IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessBayer16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                   IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessBayer8Scalar(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                        IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessBayer16Scalar(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts,
                         IspFrameStatistics& stats, IspWorkBuffers& work);

}  // namespace qv::isp
