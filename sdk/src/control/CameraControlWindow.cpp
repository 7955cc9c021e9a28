// CameraControl: the geometry of the AE and WB windows.
#include <algorithm>
#include <climits>

#include "control/CameraControl.h"

namespace {

// Skip factor of a resolution (1 = every pixel). Real modes are 0 to 3; a record from a damaged
// parameter file may hold anything, so the factor is bounded to keep the products in range.
int64_t SkipFactor(const tSdkResolution& res) {
    return std::min<int64_t>(static_cast<int64_t>(res.uModeC) + 1, 1 << 16);
}

int ToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

void CameraControl::MapWindowToRaw(const int32_t window[4], const tSdkResolution& rs, bool mirrorH,
                                   bool mirrorV, const tSdkResolution& rc, uint32_t maxWidth,
                                   uint32_t maxHeight, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const int64_t left = window[0], top = window[1], width = window[2], height = window[3];
    if (width == 0 || height == 0) return;

    // Sensor coordinates of the window as it was set.
    const int64_t kS = SkipFactor(rs);
    int64_t w = width * kS;
    int64_t h = height * kS;
    int64_t x = mirrorH ? int64_t{maxWidth} - rs.iOffsetX - left * kS - w : rs.iOffsetX + left * kS;
    int64_t y =
        mirrorV ? int64_t{maxHeight} - rs.iOffsetY - kS * (top + height) : rs.iOffsetY + top * kS;
    x = std::max<int64_t>(x, 0);
    y = std::max<int64_t>(y, 0);

    // Into the raw image of the current resolution; a window starting left of (above) its
    // region loses what lies outside.
    const int64_t kC = SkipFactor(rc);
    int64_t rawLeft = 0;
    if (x < rc.iOffsetX) {
        w += x - rc.iOffsetX;
        if (w < 0) w = int64_t{rc.iSensorWidth} - rc.iOffsetX;
    } else {
        rawLeft = (x - rc.iOffsetX) / kC;
    }
    int64_t rawTop = 0;
    if (y < rc.iOffsetY) {
        h += y - rc.iOffsetY;
        if (h < 0) h = int64_t{rc.iSensorHeight} - rc.iOffsetY;
    } else {
        rawTop = (y - rc.iOffsetY) / kC;
    }
    out[0] = ToInt(rawLeft);
    out[1] = ToInt(rawTop);
    out[2] = ToInt(rawLeft + w / kC);
    out[3] = ToInt(rawTop + h / kC);
}
