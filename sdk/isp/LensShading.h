// Lens-shading calibration and correction on the caller's monochrome images.
//
// Calibration divides an image of a flat, evenly lit field into an m x n grid, averages a
// small square at every grid node and stores one gain per node (128 = unity) in the caller's
// table: a 64-byte header (magic 0x20220813, m, n, reserved bytes left as they were) followed
// by (n + 1) x (m + 1) little-endian 16-bit gains, row by row from the top. Correction
// multiplies every sample by the gain interpolated bilinearly between the four nodes around it.
//
// Both refuse with CAMERA_STATUS_PARAMETER_INVALID, before anything is written, a null record
// or buffer, a grid of fewer than 2 or more cells than samples in either direction, a window
// larger than the image, an image or output smaller than width x height samples, a table too
// small for its grid, a table without the magic, or an unknown reference mode. Every size is
// computed in 64 bits. Gains are held to 4095, so that the correction's interpolation fits its
// 32-bit products; a table written elsewhere with larger gains is interpolated in 64 bits.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::isp {

inline constexpr uint32_t kLscMagic = 0x20220813u;
inline constexpr uint32_t kLscHeaderBytes = 64;
inline constexpr uint16_t kLscMaxGain = 4095;

// Depth of a lens-shading media type: 1 (8-bit mono), 2 (12-, 14- or 16-bit mono in 16-bit
// words) or 0 (not served: CAMERA_STATUS_NOT_SUPPORTED).
int LscSampleBytes(uint32_t mediaType);

int CalibrateLsc8(tSdkLscCalibParam* param);
int CalibrateLsc16(tSdkLscCalibParam* param);
int CorrectLsc8(tSdkLscCorrectParam* param);
int CorrectLsc16(tSdkLscCorrectParam* param);

}  // namespace qv::isp
