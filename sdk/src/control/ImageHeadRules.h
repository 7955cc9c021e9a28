// What an image head handed in by the host must hold before the controller reads or draws
// width x height pixels of its buffer: the head's own byte count is all the buffer is known to
// hold, so a head whose width, height and format need more is refused instead of being read or
// written past its end. Heads the SDK itself produces always agree with themselves.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::control {

// Whether TotalBytes covers width x height pixels of bytesPerPixel bytes, the product taken
// without overflow (a product past 64 bits never fits).
inline bool HeadHoldsItsImage(const stImageInfo& head, uint64_t bytesPerPixel) {
    const uint64_t pixels = static_cast<uint64_t>(head.iWidth) * head.iHeight;
    if (bytesPerPixel != 0 && pixels > UINT64_MAX / bytesPerPixel) return false;
    return pixels * bytesPerPixel <= head.TotalBytes;
}

}  // namespace qv::control
