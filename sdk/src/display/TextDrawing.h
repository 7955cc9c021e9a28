// Text painted into an output image through the glyph renderer (CMakeFont).
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::display {

// Renders text in font (a and b: the host's two size parameters, weight 400) as a width x
// height mask and paints colour where the mask is set, its top left corner at (x, y), clipped
// to the image (x and y may be negative). Images in RGB or BGR order take the colour in their
// order; other formats are painted black. 0; -6 for a null image or descriptor; -1 when the
// renderer refuses the font or the text. Both texts are read up to 255 characters.
int DrawTextOnImage(uint8_t* image, const stImageInfo* head, const char* font, int a, int b,
                    const char* text, int x, int y, int width, int height, uint32_t colour);

}  // namespace qv::display
