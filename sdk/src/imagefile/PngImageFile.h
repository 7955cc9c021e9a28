// PNG image files through libpng: 8-bit grey for mono frames, 8-bit RGB for colour frames.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

// Writes the width x height frame image of mediaType to fileName (complete or not at all).
// 0; -6 for a null pointer or a width or height that is not positive or too large to address;
// -4 for a media type without a PNG form (nothing is created); the encoder's status otherwise.
int SavePngImage(const BYTE* image, const char* fileName, int width, int height,
                 uint32_t mediaType);

// Encodes width x height pixels, colour type 0 grey (one byte each) or 2 R, G, B (three
// bytes), rows top first, into fileName (complete or not at all). 0; -6 for a null pointer or
// a size that is not positive; -1 for another colour type, a side over libpng's limit of
// 1000000 pixels, when the file cannot be created or libpng fails; -13 when a write or the
// close fails.
int write_png_file(int width, int height, int colourType, const BYTE* pixels, const char* fileName);
