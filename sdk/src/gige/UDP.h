// LQComponent::UDP: a datagram socket. Copies share the descriptor (see CommonSocket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gige/CommonSocket.h"

namespace LQComponent {

class UDP : public CommonSocket {
  public:
    // A datagram as a record: its sender, its bytes, and the bytes as text (up to the first
    // zero byte, so a text sent with its terminating zero reads back as it was).
    struct Datagram {
        Address from;
        std::vector<uint8_t> data;
        std::string text;
    };

    UDP() : CommonSocket(kDatagram) {}

    // Sends data as one datagram to ip:port, opening the socket when needed (no bind needed).
    // Returns the bytes sent. Throws for a length above the datagram limit (before anything
    // else), an invalid ip text, and a failed send.
    size_t send(const std::string& ip, uint16_t port, const void* data, size_t len);
    size_t send(const Address& to, const void* data, size_t len);
    // The text and its terminating zero byte as one datagram; as send.
    size_t send_text(const std::string& ip, uint16_t port, const std::string& text);
    size_t send_text(const Address& to, const std::string& text);

    // Receives at most one datagram within timeoutMs. On entry *len is the buffer's capacity,
    // on return the bytes received; from gets the sender. Returns the byte count, or 0 when
    // nothing came in time (an empty datagram reads the same). Throws when the socket is not
    // opened or not bound, for a capacity above the datagram limit, and when the wait or the
    // receive fails.
    uint32_t receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len);
    // As receive_timeout, waiting as long as it takes: only the socket's receive time-out
    // (set_receive_timeout) or non-blocking mode ends the wait early, with 0 and *len
    // unchanged. Its messages begin with "[receive]".
    uint32_t receive(Address& from, void* buffer, uint32_t* len);
    // The next datagram as a record, whole (up to the datagram limit): blocking, as receive
    // (an empty record when its time-out ran out), or waiting at most timeoutMs (nothing when
    // none came; an empty datagram is a record without data).
    Datagram receive_datagram();
    std::optional<Datagram> receive_datagram_timeout(int timeoutMs);

  private:
    // The preconditions of every receive: opened, bound, capacity within the limit.
    void CheckReceive(const char* op, const void* buffer, uint32_t capacity) const;
    static Datagram MakeDatagram(const Address& from, const uint8_t* data, uint32_t len);
};

}  // namespace LQComponent
