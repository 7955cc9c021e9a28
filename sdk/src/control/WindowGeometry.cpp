// CWindowGeometry: AE and WB windows between the host's image and the raw frame.
#include "control/WindowGeometry.h"

#include <algorithm>
#include <climits>

namespace {

// Skip factor of a resolution (1 = every pixel). Real modes are 0 to 3; a record from a damaged
// parameter file may hold anything, so the factor is bounded to keep the products in range.
int64_t SkipFactor(const tSdkResolution& res) {
    return std::min<int64_t>(static_cast<int64_t>(res.uModeC) + 1, 1 << 16);
}

int ToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// One direction [begin, end) of a window on a frame extent pixels long, as the statistics read
// it: from an even position when aligned, its length a multiple of two when evenLength (always
// when aligned), at least two pixels. False when nothing of it is on the frame.
bool FitSpan(int64_t& begin, int64_t& end, int64_t extent, bool aligned, bool evenLength) {
    constexpr int64_t kLeast = 2;
    begin = std::clamp<int64_t>(begin, 0, extent);
    end = std::clamp<int64_t>(end, 0, extent);
    if (end <= begin) return false;
    int64_t length = end - begin;
    int64_t limit = extent;
    if (aligned) {
        begin += begin & 1;
        limit = extent & ~int64_t{1};
    }
    if (aligned || evenLength) length &= ~int64_t{1};
    end = std::min(begin + length, limit);
    if (end - begin < kLeast) {
        // Less than the statistics read: they would measure the whole frame (or nothing) while
        // the host is told of the sliver. Grown to what they read, away from the edge it lies
        // at.
        if (limit < kLeast) return false;
        if (begin + kLeast <= limit) {
            end = begin + kLeast;
        } else {
            begin = limit - kLeast;
            end = limit;
        }
    }
    return true;
}

}  // namespace

void CWindowGeometry::MapWindowToRaw(const int32_t window[4], const tSdkResolution& rs,
                                     bool mirrorH, bool mirrorV, const tSdkResolution& rc,
                                     int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const int64_t left = window[0], top = window[1], width = window[2], height = window[3];
    if (width <= 0 || height <= 0) return;

    // Sensor coordinates of the window as it was set. The image is mirrored after processing,
    // within the region it shows, not across the whole sensor: a mirrored window is mirrored
    // about the middle of that region (the image's extent times the skip factor, which is the
    // region's sensor window when it skips).
    const int64_t kS = SkipFactor(rs);
    const int64_t w = width * kS;
    const int64_t h = height * kS;
    const int64_t regionW = int64_t{rs.uWidth} * kS, regionH = int64_t{rs.uHeight} * kS;
    const int64_t x = mirrorH ? rs.iOffsetX + regionW - left * kS - w : rs.iOffsetX + left * kS;
    const int64_t y =
        mirrorV ? rs.iOffsetY + regionH - kS * (top + height) : rs.iOffsetY + top * kS;

    // Cut to the current frame only now that it is mirrored: the part of a window reaching past
    // the right (bottom) edge of a mirrored image lies left of (above) the region on the
    // sensor, and is dropped there rather than pushed back onto the frame.
    const int64_t kC = SkipFactor(rc);
    const int64_t frameX = std::max<int64_t>(rc.iOffsetX, 0);
    const int64_t frameY = std::max<int64_t>(rc.iOffsetY, 0);
    const int64_t x0 = std::max(x, frameX);
    const int64_t y0 = std::max(y, frameY);
    const int64_t x1 = std::min(x + w, rc.iOffsetX + int64_t{rc.uWidth} * kC);
    const int64_t y1 = std::min(y + h, rc.iOffsetY + int64_t{rc.uHeight} * kC);
    // Nothing of it on this frame: no window, which leaves the statistics on the whole frame
    // rather than on a block nobody chose.
    if (x1 <= x0 || y1 <= y0) return;
    const int64_t rawLeft = (x0 - rc.iOffsetX) / kC;
    const int64_t rawTop = (y0 - rc.iOffsetY) / kC;
    out[0] = ToInt(rawLeft);
    out[1] = ToInt(rawTop);
    out[2] = ToInt(rawLeft + (x1 - x0) / kC);
    out[3] = ToInt(rawTop + (y1 - y0) / kC);
}

void CWindowGeometry::ClipWindowToImage(const int32_t window[4], const tSdkResolution& rs,
                                        bool rsMirrorH, bool rsMirrorV, const tSdkResolution& rc,
                                        bool mirrorH, bool mirrorV, Cells cells, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    if (window[2] <= 0 || window[3] <= 0) return;
    int raw[4];
    MapWindowToRaw(window, rs, rsMirrorH, rsMirrorV, rc, raw);
    const int64_t width = rc.uWidth, height = rc.uHeight;
    int fitted[4];
    if (!FitRawWindow(raw, rc, cells, fitted)) {
        // Off this image: the statistics measure all of it, and so it is reported.
        out[2] = ToInt(width);
        out[3] = ToInt(height);
        return;
    }
    // What the statistics measure; the raw frame is never mirrored, the output image is, by
    // the current flags.
    int64_t left = fitted[0], top = fitted[1];
    int64_t right = left + fitted[2], bottom = top + fitted[3];
    if (mirrorH) {
        const int64_t l = left;
        left = width - right;
        right = width - l;
    }
    if (mirrorV) {
        const int64_t t = top;
        top = height - bottom;
        bottom = height - t;
    }
    out[0] = ToInt(left);
    out[1] = ToInt(top);
    out[2] = ToInt(right - left);
    out[3] = ToInt(bottom - top);
}

bool CWindowGeometry::FitRawWindow(const int raw[4], const tSdkResolution& rc, Cells cells,
                                   int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const bool blocks = cells == Cells::kWhiteBalance;
    int64_t left = raw[0], right = raw[2], top = raw[1], bottom = raw[3];
    if (!FitSpan(left, right, rc.uWidth, blocks, true) ||
        !FitSpan(top, bottom, rc.uHeight, blocks, blocks))
        return false;
    out[0] = ToInt(left);
    out[1] = ToInt(top);
    out[2] = ToInt(right - left);
    out[3] = ToInt(bottom - top);
    return true;
}
