// What a sensor can deliver: the rules a resolution of the host's (a custom region or a snapshot
// resolution) must meet, on the sensor limits of the capability's sensor-parameter words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::control {

// Sensor limits in the capability's sensor-parameter words.
constexpr int kWindowHeightMax = 6;
constexpr int kWindowHeightMin = 7;
constexpr int kWindowWidthMax = 8;
constexpr int kWindowWidthMin = 9;
// The masks of the reduction modes a sensor offers: bit (mode - 1) for each mode. Skipping
// (uModeC) at capability offset 368, the two binnings (uModeA, uModeB) at 372 and 376.
constexpr int kSkipModeMask = 10;
constexpr int kBinningAMask = 11;
constexpr int kBinningBMask = 12;
static_assert(offsetof(tSdkCapability, auSensorParam) + kSkipModeMask * sizeof(UINT) == 368);
static_assert(offsetof(tSdkCapability, auSensorParam) + kBinningBMask * sizeof(UINT) == 376);

constexpr int kCustomIndex = 255;
constexpr UINT kModeBits = 32;

// Mode 0 (none), or a mode whose bit the sensor's mask has.
inline bool ModeOffered(UINT mode, UINT mask) {
    return mode == 0 || (mode <= kModeBits && (mask >> (mode - 1) & 1u) != 0);
}

// Whether the sensor offers every reduction mode of r.
inline bool ModesOffered(const tSdkResolution& r, const UINT* sensor) {
    return ModeOffered(r.uModeA, sensor[kBinningAMask]) &&
           ModeOffered(r.uModeB, sensor[kBinningBMask]) &&
           ModeOffered(r.uModeC, sensor[kSkipModeMask]);
}

// Sensors take windows of even size, image widths in steps of 4 and even heights.
inline void AlignToSensorSteps(tSdkResolution& r) {
    r.iSensorWidth -= r.iSensorWidth & 1;
    r.iSensorHeight -= r.iSensorHeight & 1;
    r.uWidth &= ~3u;
    r.uHeight &= ~1u;
}

// Whether a normalised record is one the sensor can deliver: the window is the image times the
// reduction, within the sensor's limits, and the image region lies on the sensor.
inline bool FitsSensor(const tSdkResolution& r, const UINT* sensor) {
    const int64_t k = int64_t{r.uModeA} + r.uModeB + r.uModeC + 1;
    const int64_t imageW = r.uWidth, imageH = r.uHeight;
    const int64_t maxW = sensor[kWindowWidthMax], maxH = sensor[kWindowHeightMax];
    return r.iSensorWidth == imageW * k && r.iSensorHeight == imageH * k &&
           imageW >= sensor[kWindowWidthMin] && imageH >= sensor[kWindowHeightMin] &&
           r.iSensorWidth <= maxW && r.iSensorHeight <= maxH && r.iOffsetX >= 0 &&
           r.iOffsetY >= 0 && imageW + r.iOffsetX <= maxW && imageH + r.iOffsetY <= maxH;
}

// Whether a region kept in a parameter record is one the resolution setters could have stored:
// offered reduction modes, sizes in the sensor's steps, on the sensor, and a software resize
// in the same steps.
inline bool IsStorableRegion(const tSdkResolution& r, const UINT* sensor) {
    tSdkResolution aligned = r;
    AlignToSensorSteps(aligned);
    return ModesOffered(r, sensor) && aligned.iSensorWidth == r.iSensorWidth &&
           aligned.iSensorHeight == r.iSensorHeight && aligned.uWidth == r.uWidth &&
           aligned.uHeight == r.uHeight && (r.uResizeWidth & 3u) == 0 &&
           (r.uResizeHeight & 1u) == 0 && FitsSensor(r, sensor);
}

}  // namespace qv::control
