// Kernels for monochrome raw frames: "Mono8" (one byte per sample) and "Mono12" (12-bit
// samples in 16-bit words) to one-byte grey, 16-bit grey (12-bit input, scalar kernel only) or
// grey replicated into RGB8, BGR8, RGBA8 and BGRA8. Per row, in this order: dead-pixel
// correction (in place, on the caller's raw samples), black offset, lookup table, sharpening,
// contrast, horizontal mirror and packing; the vertical mirror writes the rows bottom up.
//
// The vector kernels serve processing level 5 and above, in the instruction-set family of
// KernelFamily.h (SSE4.1, or AVX2 where the processor has it; the same bytes), the scalar ones
// the levels below, and ProcessMono12Scalar also the 16-bit grey output at every level. The two
// families differ on purpose in their dead-pixel threshold and coverage, their sharpening and
// their contrast arithmetic; each is exact to its own rules.
//
// Every kernel returns CAMERA_STATUS_SUCCESS, or before touching anything:
//   CAMERA_STATUS_PARAMETER_INVALID   a null pointer in the frame record;
//   CAMERA_STATUS_NOT_SUPPORTED       an input media type other than the kernel's, an output
//                                     format GetOutFormatInfo refuses, or one the kernel
//                                     cannot write (a raw Bayer layout, a 2-byte output from a
//                                     vector kernel or from 8-bit input, 3 or 4 bytes without
//                                     a colour byte order, 1 or 2 bytes with one);
//   CAMERA_STATUS_DATA_INVALID        width or height 0, or TotalBytes smaller than the samples
//                                     of width x height;
//   CAMERA_STATUS_PARAMETER_MISMATCH  a lookup table in effect whose size is not the input's
//                                     (256 for 8-bit, 4096 for 12-bit input).
// Any width and height from 1 up are handled; the first and the last row are never sharpened.
#pragma once

#include <cstdint>

#include "IspRecords.h"

namespace qv::isp {

int ProcessMono8(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                 IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessMono8Scalar(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                       IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessMono12(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                  IspFrameStatistics& stats, IspWorkBuffers& work);
int ProcessMono12Scalar(IspFrame& frame, const MonoSettings& settings, const LutView& lut,
                        IspFrameStatistics& stats, IspWorkBuffers& work);

// How WriteMonoRow treats a row: contrast (double precision, truncated) around `pivot`,
// horizontal mirror, and the working depth of the values (8 or 12 bits; 12-bit values are
// written as they are into 16-bit output and shifted right by 4 into byte outputs).
struct MonoRowParams {
    int contrast = 50;
    int pivot = 0;
    bool mirrorH = false;
    int depthBits = 8;
};

// Writes one row of `width` working values into `outRow` (the first and the last row of every
// mono kernel go through here).
void WriteMonoRow(const uint16_t* row, uint8_t* outRow, int width, int bytesPerPixel, int outputId,
                  const MonoRowParams& params);

}  // namespace qv::isp
