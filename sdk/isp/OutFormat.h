// Output descriptor of the pipeline from its ISP output format.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::isp {

// Output ids: how the kernels pack a pixel.
enum OutputId : int {
    kOutputMono = 0,    // mono and raw family without a layout of its own
    kOutputRaw8 = 8,    // "Bayer GRBG8"
    kOutputRaw16 = 16,  // "Bayer GRBG12" in 16-bit words
    kOutputRgb = 20,    // red, green, blue byte order (RGB8, RGBA8)
    kOutputBgr = 21,    // blue, green, red byte order (BGR8, BGRA8)
};

// Bytes per pixel and output id of `ispOutFormat`, and the output descriptor: the input
// descriptor with TotalBytes = width x height x bytes per pixel and the output format as its
// media type. CAMERA_STATUS_NOT_SUPPORTED for a format of another pixel size, or with an
// unknown layout outside the mono family; nothing is written then.
int GetOutFormatInfo(uint32_t ispOutFormat, const stImageInfo& in, stImageInfo* out,
                     int* bytesPerPixel, int* outputId);

}  // namespace qv::isp
