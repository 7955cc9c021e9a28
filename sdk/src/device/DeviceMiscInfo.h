// Small records that a device hands to its controller beside the public device information.
#pragma once

#include <cstddef>
#include <cstdint>

// Extra device information, the second record of CJNDevice::GetDeviceInfo (48 bytes).
struct DeviceMiscInfo {
    char firmwareVersion[16];  // "v%hu.%hu.%hu.%hu", major first
    char secondText[16];       // transport-defined, copied from the device's cache
    int32_t defaultRedGain;    // white-balance start gains in hundredths, from the sensor
    int32_t defaultGreenGain;
    int32_t defaultBlueGain;
    // 2 when the device has a known hardware type, else 1; the controller starts with it as
    // its default frame speed.
    int32_t defaultFrameSpeed;
};
static_assert(sizeof(DeviceMiscInfo) == 48);
static_assert(offsetof(DeviceMiscInfo, defaultRedGain) == 32);
static_assert(offsetof(DeviceMiscInfo, defaultFrameSpeed) == 44);

// Who holds the device: CJNDevice::GetAccessStatus.
struct DevAccessStatus {
    int32_t openCount;   // the device's open reference count (0 from USB cameras)
    int32_t accessWord;  // 0 from both transports; goes to tDevInfo::iAccess
    uint8_t inUse;       // non-zero while another host holds the camera
    char description[63];
};
static_assert(sizeof(DevAccessStatus) == 72);
static_assert(offsetof(DevAccessStatus, inUse) == 8);
