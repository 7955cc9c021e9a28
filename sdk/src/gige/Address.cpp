#include "gige/Address.h"

#include <arpa/inet.h>

#include <cstring>

#include "gige/SocketException.h"

namespace LQComponent {

Address::Address() : Address(0u, 0) {}

Address::Address(uint16_t port) : Address(0u, port) {}

Address::Address(const std::string& ip, uint16_t port) : Address(0u, port) {
    this->ip(ip);
}

Address::Address(uint32_t ip, uint16_t port) {
    std::memset(&m_addr, 0, sizeof m_addr);
    m_addr.sin_family = AF_INET;
    m_addr.sin_port = htons(port);
    m_addr.sin_addr.s_addr = ip;
}

Address::Address(const sockaddr_in& address)
    : Address(address.sin_addr.s_addr, ntohs(address.sin_port)) {}

std::string Address::ip(const std::string& text) {
    in_addr parsed{};
    if (inet_aton(text.c_str(), &parsed) == 0)
        throw SocketException("[ip] with [ip=" + text + "] Invalid ip address provided");
    m_addr.sin_addr = parsed;
    return ip();
}

std::string Address::ip(uint32_t networkOrder) {
    m_addr.sin_addr.s_addr = networkOrder;
    return ip();
}

std::string Address::ip() const {
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &m_addr.sin_addr, text, sizeof text) == nullptr) return "0.0.0.0";
    return text;
}

uint16_t Address::port() const {
    return ntohs(m_addr.sin_port);
}

void Address::port(uint16_t hostOrder) {
    m_addr.sin_port = htons(hostOrder);
}

std::ostream& operator<<(std::ostream& os, const Address& address) {
    return os << address.ip() << ':' << address.port();
}

}  // namespace LQComponent
