// CWindowGeometry: where an AE or WB window lies on the raw frame the statistics read, and where
// the host sees it again. The host gives a window on the output image of one resolution (with
// its mirror flags); the statistics run on the raw frame of the current resolution, which may
// skip, show another region of the sensor, or be mirrored otherwise. Both go through the
// sensor's coordinates.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

class CWindowGeometry {
  public:
    // Maps a window {left, top, width, height} given on the output image of resolution rs
    // (mirrored as mirrorH, mirrorV, within the region rs shows) into the raw image of the
    // current resolution rc, cut to that frame: out = {left, top, right, bottom}; all 0 for an
    // empty window and for one with nothing on the frame.
    static void MapWindowToRaw(const int32_t window[4], const tSdkResolution& rs, bool mirrorH,
                               bool mirrorV, const tSdkResolution& rc, int out[4]);
    // A window {left, top, width, height} mapped with MapWindowToRaw and then brought onto
    // the image it was mapped to (width x height, mirrored as mirrorH, mirrorV), as the host
    // sees it: out = {left, top, width, height}, clipped to the image; the whole image for a
    // window with nothing on it (the statistics then measure all of it), all 0 for an empty one.
    static void ClipWindowToImage(const int32_t window[4], const tSdkResolution& rs, bool rsMirrorH,
                                  bool rsMirrorV, const tSdkResolution& rc, bool mirrorH,
                                  bool mirrorV, int out[4]);
    // A raw window {left, top, right, bottom} clipped to the raw frame of rc as {left, top,
    // width, height}; false when nothing of it is left.
    static bool ClipRawWindow(const int raw[4], const tSdkResolution& rc, int out[4]);
};
