#include "usb/UsbFrameHeader.h"

#include "common/ByteOrder.h"

namespace qv::usb {

bool ParseFrameHeader(const uint8_t* data, size_t length, FrameHeader* header) {
    if (data == nullptr || header == nullptr || length < kFrameHeaderSize) return false;
    header->timestamp = LoadLe64(data);
    header->frameNumber = LoadLe64(data + 8);
    return true;
}

void BuildFrameHeader(const FrameHeader& header, uint8_t out[kFrameHeaderSize]) {
    StoreLe64(out, header.timestamp);
    StoreLe64(out + 8, header.frameNumber);
}

uint32_t FrameHeaderSizeForHardwareType(int hardwareType) {
    const bool known = (hardwareType >= 1 && hardwareType <= 9) ||
                       (hardwareType >= 100 && hardwareType <= 111) ||
                       (hardwareType >= 300 && hardwareType <= 306);
    return known && hardwareType != 109 ? kFrameHeaderSize : 0;
}

}  // namespace qv::usb
