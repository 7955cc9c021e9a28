// RAW image files: the frame's bytes as they are, no header.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

// Writes byteCount bytes of image to fileName (complete or not at all). 0; -6 for a null
// pointer; -1 when the file cannot be created; -13 when a write or the close fails.
int SaveRawImage(const BYTE* image, const char* fileName, uint32_t byteCount);
