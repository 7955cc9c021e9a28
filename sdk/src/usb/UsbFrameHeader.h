// The 16-byte header in front of every frame a USB camera sends on its bulk endpoint: the
// device's 64-bit timestamp, then its 64-bit frame number (the receiver uses the low 32 bits),
// both little-endian like every other value the camera sends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::usb {

inline constexpr uint8_t kBulkInEndpoint = 0x82;
inline constexpr uint32_t kFrameHeaderSize = 16;

struct FrameHeader {
    uint64_t timestamp = 0;
    uint64_t frameNumber = 0;

    uint32_t FrameNo32() const { return static_cast<uint32_t>(frameNumber); }
};

// false when fewer than 16 bytes are given (nothing is read then).
bool ParseFrameHeader(const uint8_t* data, size_t length, FrameHeader* header);
void BuildFrameHeader(const FrameHeader& header, uint8_t out[kFrameHeaderSize]);

// Header bytes in front of each frame for a hardware type: 16 on every known USB board but 109;
// none on 109 and on an unknown board (type 0).
uint32_t FrameHeaderSizeForHardwareType(int hardwareType);

}  // namespace qv::usb
