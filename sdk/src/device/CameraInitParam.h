// Stream parameters: built by the controller for every stream open and passed to
// CJNDevice::OpenStream, which hands them on to the sensor driver's Init.
#pragma once

#include <cstdint>

#include "QVDeviceDef.h"

struct CameraInitParam {
    tSdkResolution resolution;  // the current resolution
    int frameSpeed;             // frame-speed index
    uint32_t mediaType;         // sensor output pixel format
    int transferMode;           // image transfer mode
    int packetSize;             // GigE stream packet size in bytes (low two bits are cleared)
    // Chip mask of boards that carry several sensors side by side (low four bits); drivers of
    // such boards rewrite it during Init.
    int channelMask;
    int frameCount;  // receiver frame count, 0 = the transport's default
    int heartbeat;   // GigE heartbeat time-out in ms, 0 = default; 1 to 4999 are raised to 5000
};
