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
    // What a statistics object reads of a window on the raw frame: auto exposure columns in
    // pairs from the window's left edge and every row, white balance whole 2 x 2 blocks from an
    // even column and row. Neither reads less than two pixels in either direction.
    enum class Cells { kExposure, kWhiteBalance };

    // Maps a window {left, top, width, height} given on the output image of resolution rs
    // (mirrored as mirrorH, mirrorV, within the region rs shows) into the raw image of the
    // current resolution rc, cut to that frame: out = {left, top, right, bottom}; all 0 for an
    // empty window and for one with nothing on the frame.
    static void MapWindowToRaw(const int32_t window[4], const tSdkResolution& rs, bool mirrorH,
                               bool mirrorV, const tSdkResolution& rc, int out[4]);
    // A window {left, top, width, height} mapped with MapWindowToRaw, brought onto what the
    // statistics of cells read (FitRawWindow) and then onto the image it was mapped to (width x
    // height, mirrored as mirrorH, mirrorV), as the host sees it: out = {left, top, width,
    // height}; the whole image for a window with nothing on it (the statistics then measure all
    // of it), all 0 for an empty one.
    static void ClipWindowToImage(const int32_t window[4], const tSdkResolution& rs, bool rsMirrorH,
                                  bool rsMirrorV, const tSdkResolution& rc, bool mirrorH,
                                  bool mirrorV, Cells cells, int out[4]);
    // A raw window {left, top, right, bottom} cut to the raw frame of rc and brought onto what
    // the statistics of cells read of it, so that they measure it as it stands: out = {left,
    // top, width, height}. Auto exposure: an odd width loses its last column. White balance:
    // from the next even column and row, whole blocks up to the frame's last one. A remnant
    // narrower or lower than two pixels (a sliver left at an edge) grows to two, inwards. False
    // when nothing of it is on the frame (the statistics then measure the whole frame).
    static bool FitRawWindow(const int raw[4], const tSdkResolution& rc, Cells cells, int out[4]);
};
