// JPEG image files through libjpeg: baseline, grey for mono frames and RGB for colour frames.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

// Writes the width x height frame image of mediaType to fileName with the low 8 bits of
// quality as the JPEG quality (complete or not at all). 0; -6 for a null pointer or a width or
// height that is not positive or too large to address; -4 for a media type without a JPEG form
// (nothing is created); the encoder's status otherwise.
int SaveJpegImage(const BYTE* image, const char* fileName, int width, int height,
                  uint32_t mediaType, int quality);

// Encodes width x height pixels, kind 1 grey (one byte each) or 2 R, G, B (three bytes), rows
// top first, into fileName (complete or not at all). 0; -6 for a null pointer, a bad kind or a
// size that is not positive; -1 when the file cannot be created or libjpeg refuses the image
// (a side over 65500 pixels); -13 when a write or the close fails.
int save_jpeg_file(int width, int height, int kind, int quality, const BYTE* pixels,
                   const char* fileName);
