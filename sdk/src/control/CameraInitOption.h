// Initialisation options of the internal open-by-serial-number entry. No exported function
// passes one.
#pragma once

struct CameraInitOption {
    // Taken when >= 0.
    int frameSpeed;
    int transferMode;
    int mediaType;
    int triggerMode;
    // Taken when > 0.
    int packetSize;
    int channelMask;
    int frameCount;  // frame-pool size, below 32
    int heartbeat;   // GigE heartbeat time-out in ms
};
static_assert(sizeof(CameraInitOption) == 32);
