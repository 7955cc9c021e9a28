#include "display/MakeFont.h"

#include "QVDeviceDef.h"

int CMakeFont::SetFont(const char*, int, int, int) {
    return CAMERA_STATUS_SUCCESS;
}

int CMakeFont::RenderText(const char*, const unsigned char** mask, int, int) {
    if (mask != nullptr) *mask = nullptr;
    return CAMERA_STATUS_SUCCESS;
}
