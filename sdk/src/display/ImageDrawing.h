// Drawing into a caller's output image: cross lines, window rectangles and glyph masks. Every
// drawing call clips to the image, so no coordinate can reach outside it.
//
// Colours are 0x00BBGGRR (red in the low byte) and are written in the image's own byte order:
// media types whose low byte is 0x14 take red, green, blue; 0x15 blue, green, red. The fourth
// byte of a 32-bit pixel is never touched.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::display {

struct DrawTarget {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    unsigned pixelBytes = 0;
    unsigned colourBytes = 0;  // bytes of a pixel the colour is written to
    bool rgbOrder = false;     // red first; else blue first
    bool black = false;        // the colour does not fit the format: zero bytes instead
};

// The target for the overlay: only 24- and 32-bit images in RGB or BGR order are drawn on.
// False for any other image.
bool OverlayTarget(uint8_t* image, const stImageInfo& head, DrawTarget* target);
// The target for text: every image, pixel size from its bits per pixel; formats outside RGB and
// BGR order are painted black.
bool TextTarget(uint8_t* image, const stImageInfo& head, DrawTarget* target);

void PutPixel(const DrawTarget& t, int x, int y, uint32_t colour);
// Inclusive spans, clipped to the image.
void DrawRow(const DrawTarget& t, int y, int x0, int x1, uint32_t colour);
void DrawColumn(const DrawTarget& t, int x, int y0, int y1, uint32_t colour);
// The outline of {left, top, right, bottom} (inclusive): top and bottom rows, then the left and
// right columns.
void DrawRectangle(const DrawTarget& t, int left, int top, int right, int bottom, uint32_t colour);
// Paints colour where the width x height mask (one byte per pixel, row by row) is non-zero,
// with the mask's top left corner at (x, y).
void PaintMask(const DrawTarget& t, const unsigned char* mask, int width, int height, int x, int y,
               uint32_t colour);

}  // namespace qv::display
