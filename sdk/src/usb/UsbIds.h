// USB identity of the camera family: one vendor identifier and one product identifier per
// camera generation. Discovery recognises a camera by these alone, and the simulated cameras of
// the tests present them, so this is the only place the numbers live.
#pragma once

#include <cstdint>

namespace qv::usb {

inline constexpr uint16_t kCameraVendorId = 0x3A6E;
// USB 2.0 controller generation (device type 0x1201, EEPROM storage).
inline constexpr uint16_t kCameraProductIdUsb2 = 0x1201;
// USB 3.0 controller generation (device type 0x1301, flash storage).
inline constexpr uint16_t kCameraProductIdUsb3 = 0x1301;

constexpr bool IsCameraUsbId(uint16_t vendorId, uint16_t productId) {
    return vendorId == kCameraVendorId &&
           (productId == kCameraProductIdUsb2 || productId == kCameraProductIdUsb3);
}

}  // namespace qv::usb
