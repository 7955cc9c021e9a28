// Kernels that do not demosaic: four processed-raw kernels, which return a Bayer GRBG frame of
// the same size and layout after sharpening, white-balance gains, colour matrix with saturation,
// brightness compensation, lookup table and contrast; and the packed YUV 4:2:2 conversion.
//
//   ProcessRaw8ToRaw8     "Bayer GRBG8" in, bytes out
//   ProcessRaw8ToRaw16    "Bayer GRBG8" in, value << 4 in 16-bit words out
//   ProcessRaw16ToRaw16   "Bayer GRBG12" in, 12-bit values in 16-bit words out
//   ProcessRaw16ToRaw8    "Bayer GRBG12" in, value >> 4 as bytes out (identity matrix)
//   ProcessYuv422         U, Y0, V, Y1 groups in; grey, RGB8, BGR8, RGBA8 or BGRA8 out
//
// The processed-raw kernels work in the input's range, 0..255 or 0..4095 (12-bit words are held
// to 4095 when read); a table entry above that range is held to it before the store. They
// neither correct dead pixels nor mirror. The lookup tables must have 256 entries for 8-bit and
// 4096 for 12-bit input.
//
// Every kernel returns CAMERA_STATUS_SUCCESS, or before touching anything:
//   CAMERA_STATUS_PARAMETER_INVALID   a null pointer in the frame record;
//   CAMERA_STATUS_NOT_SUPPORTED       an input media type other than the kernel's; an output
//                                     format GetOutFormatInfo refuses or other than the
//                                     kernel's (the YUV kernel: other than its five); an odd
//                                     width (odd height for the raw kernels) or an empty frame;
//   CAMERA_STATUS_DATA_INVALID        TotalBytes smaller than the frame, or a frame too large
//                                     for the 32-bit sizes;
//   CAMERA_STATUS_PARAMETER_MISMATCH  a lookup table in effect of the wrong size.
#pragma once

#include <cstdint>

#include "IspRecords.h"

namespace qv::isp {

int ProcessRaw8ToRaw8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts);
int ProcessRaw8ToRaw16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts);
int ProcessRaw16ToRaw16(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts);
int ProcessRaw16ToRaw8(IspFrame& frame, const ColourSettings& settings, const ColourLuts& luts);

// `settings` supplies the output format and the monochrome output flag.
int ProcessYuv422(IspFrame& frame, const ColourSettings& settings);

}  // namespace qv::isp
