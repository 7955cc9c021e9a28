// The lists of a capability record. CJNDevice::MakeCapability (DeviceCapability.cpp) allocates
// them with new[]; their owner, the controller that keeps the record, releases them here when it
// drops the record.
#pragma once

#include "QVDeviceDef.h"

// Deletes the trigger-mode, preset, media-type, output-format, frame-speed, auxiliary and
// Bayer-algorithm lists of cap and leaves each pointer null and each count 0. Null cap: nothing.
void ReleaseCapabilityLists(tSdkCapability* cap);
// Each list of fresh that equals kept's (same count and entries) is deleted and kept's takes its
// place; kept is left with only the lists that differ (and null where it gave one up). A host
// that copied kept's pointers so still reads every list that did not change through fresh.
void ReuseEqualCapabilityLists(tSdkCapability* fresh, tSdkCapability* kept);
// Whether cap holds any list.
bool HoldsCapabilityLists(const tSdkCapability& cap);
