// LQComponent::Address: an IPv4 socket address as a plain value (the system's sockaddr_in:
// family, port and address in network byte order, zero padding).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace LQComponent {

class Address {
  public:
    Address();                        // 0.0.0.0, port 0
    explicit Address(uint16_t port);  // 0.0.0.0 and port
    // Parses ip with the dotted-notation rules of inet_aton; an invalid text throws
    // "[ip] with [ip=<text>] Invalid ip address provided".
    Address(const std::string& ip, uint16_t port);
    // ip in network byte order (first octet in the lowest-addressed byte).
    Address(uint32_t ip, uint16_t port);
    // The address and port of a system address (as accept and recvfrom give them); the family
    // is AF_INET and the padding zero whatever the value held.
    explicit Address(const sockaddr_in& address);

    // Stores the parsed text (throws as the constructor) and returns its normalised form.
    std::string ip(const std::string& text);
    std::string ip(uint32_t networkOrder);
    // The dotted text of the stored address ("0.0.0.0" when it cannot be formatted).
    std::string ip() const;
    uint16_t port() const;  // host byte order
    void port(uint16_t hostOrder);

    // The stored address in network byte order.
    uint32_t raw() const { return m_addr.sin_addr.s_addr; }
    const sockaddr_in& sockaddr() const { return m_addr; }
    sockaddr_in& sockaddr() { return m_addr; }

    bool operator==(const Address& other) const {
        return raw() == other.raw() && m_addr.sin_port == other.m_addr.sin_port;
    }

  private:
    sockaddr_in m_addr;
};
static_assert(sizeof(Address) == 16);

// "ip:port", as "192.168.1.10:13956".
std::ostream& operator<<(std::ostream& os, const Address& address);

}  // namespace LQComponent
