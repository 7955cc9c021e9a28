// GVCP datagrams as the simulated camera reads and writes them, for hosts of its firmware that
// carry the datagrams themselves instead of over sockets (the in-process channel of the GVCP
// fuzz target and its tests): a command datagram into the firmware's request, the firmware's
// answer into an acknowledge datagram.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "SimGigeFirmware.h"

namespace qvsim {

// Fills *request (reusing its payload's storage) from a command datagram: flags, command,
// request id and the payload as far as its announced length and the datagram reach. False for a
// datagram that is no GVCP command (shorter than its header, or without the key 0x42).
bool ParseGvcpCommand(std::span<const uint8_t> datagram, uint32_t fromIp, uint16_t fromPort,
                      CSimGigeFirmware::Request* request);

// The acknowledge datagram into *out (reusing its storage): status, acknowledge code, payload
// length and request id, big-endian, then the payload.
void BuildGvcpAnswer(const CSimGigeFirmware::Answer& answer, uint16_t reqId,
                     std::vector<uint8_t>* out);

}  // namespace qvsim
