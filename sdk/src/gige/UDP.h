// LQComponent::UDP: a datagram socket. Copies share the descriptor (see CommonSocket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gige/CommonSocket.h"

namespace LQComponent {

class UDP : public CommonSocket {
  public:
    UDP() : CommonSocket(kDatagram) {}

    // Sends data as one datagram to ip:port, opening the socket when needed (no bind needed).
    // Returns the bytes sent. Throws for a length above the datagram limit (before anything
    // else), an invalid ip text, and a failed send.
    size_t send(const std::string& ip, uint16_t port, const void* data, size_t len);
    size_t send(const Address& to, const void* data, size_t len);

    // Receives at most one datagram within timeoutMs. On entry *len is the buffer's capacity,
    // on return the bytes received; from gets the sender. Returns the byte count, or 0 when
    // nothing came in time (an empty datagram reads the same). Throws when the socket is not
    // opened or not bound, for a capacity above the datagram limit, and when the wait or the
    // receive fails.
    uint32_t receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len);
};

}  // namespace LQComponent
