// The list of dead pixels that the dead-pixel finder fills and the camera's dead-pixel table
// stores: a count and the positions, each (y << 16) | x.
#pragma once

#include <cstdint>

struct tSdkDeadPixelList {
    uint32_t count;
    uint32_t* positions;   // count entries; owned by the camera's controller when it filled them
    uint8_t reserved[32];  // zero
};
