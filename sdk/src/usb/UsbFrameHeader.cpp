#include "usb/UsbFrameHeader.h"

namespace qv::usb {

namespace {

uint64_t LoadLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void StoreLe64(uint64_t v, uint8_t* p) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool ParseFrameHeader(const uint8_t* data, size_t length, FrameHeader* header) {
    if (data == nullptr || header == nullptr || length < kFrameHeaderSize) return false;
    header->timestamp = LoadLe64(data);
    header->frameNumber = LoadLe64(data + 8);
    return true;
}

void BuildFrameHeader(const FrameHeader& header, uint8_t out[kFrameHeaderSize]) {
    StoreLe64(header.timestamp, out);
    StoreLe64(header.frameNumber, out + 8);
}

uint32_t FrameHeaderSizeForHardwareType(int hardwareType) {
    const bool known = (hardwareType >= 1 && hardwareType <= 9) ||
                       (hardwareType >= 100 && hardwareType <= 111) ||
                       (hardwareType >= 300 && hardwareType <= 306);
    return known && hardwareType != 109 ? kFrameHeaderSize : 0;
}

}  // namespace qv::usb
