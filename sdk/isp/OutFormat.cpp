#include "OutFormat.h"

namespace qv::isp {

int GetOutFormatInfo(uint32_t ispOutFormat, const stImageInfo& in, stImageInfo* out,
                     int* bytesPerPixel, int* outputId) {
    int bpp;
    switch (CAMERA_MEDIA_TYPE_BITS(ispOutFormat)) {
        case 8:
            bpp = 1;
            break;
        case 16:
            bpp = 2;
            break;
        case 24:
            bpp = 3;
            break;
        case 32:
            bpp = 4;
            break;
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
    int id;
    switch (ispOutFormat & 0xFFu) {
        case 0x14:
            id = kOutputRgb;
            break;
        case 0x15:
            id = kOutputBgr;
            break;
        case 0x08:
            id = kOutputRaw8;
            break;
        case 0x10:
            id = kOutputRaw16;
            break;
        default:
            if ((ispOutFormat >> 24) != 0x01) return CAMERA_STATUS_NOT_SUPPORTED;
            id = kOutputMono;
            break;
    }
    if (out) {
        *out = in;
        out->TotalBytes = in.iWidth * in.iHeight * static_cast<UINT>(bpp);
        out->uiMediaType = ispOutFormat;
    }
    if (bytesPerPixel) *bytesPerPixel = bpp;
    if (outputId) *outputId = id;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qv::isp
