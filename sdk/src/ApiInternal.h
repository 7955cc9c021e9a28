// Entries of the same kind as the exports that the library does not export.
#pragma once

#include "QVDeviceDef.h"

extern "C" {
// Sends the GigE software-trigger command to every camera of a subnet at once, from localIp;
// -6 for a null localIp, -1 when the socket cannot be bound or a send fails.
int CameraGigeBroadcastSoftTrigger(const char* localIp, int value);
}
