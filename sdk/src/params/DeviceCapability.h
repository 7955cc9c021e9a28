// The lists of a capability record. CJNDevice::MakeCapability (DeviceCapability.cpp) allocates
// them with new[]; their owner, the controller that keeps the record, releases them here when it
// drops the record.
#pragma once

#include "QVDeviceDef.h"

// Deletes the trigger-mode, preset, media-type, output-format, frame-speed, auxiliary and
// Bayer-algorithm lists of cap and leaves each pointer null and each count 0. Null cap: nothing.
void ReleaseCapabilityLists(tSdkCapability* cap);
