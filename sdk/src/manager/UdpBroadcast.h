// Sending one UDP datagram to the limited broadcast address from a chosen local address.
#pragma once

#include <cstddef>
#include <cstdint>

// Sends data to 255.255.255.255:port `repeat` times from a socket bound to localIp (any port)
// with address reuse and broadcast on; a socket bound to an interface's address sends the
// broadcast out of that interface only. 0 when every send wrote the whole datagram; -1 when
// localIp is not an IPv4 address, the socket cannot be created, configured or bound, or a send
// fails or is short (no further sends then). The socket is closed in every case.
int SendUdpBroadcast(const char* localIp, uint16_t port, const void* data, size_t len, int repeat);
