// The host's IPv4 interfaces as the GigE transport sees them: the list discovery broadcasts on,
// and the addresses of the interface a camera answered on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::gige {

struct Netcard {
    std::string name;  // interface name
    std::string ip;    // dotted text
};

// Every AF_INET address of every interface, in the system's order, except the one address
// "127.0.0.1" (the rest of the loopback net counts). Empty when the list cannot be read.
std::vector<Netcard> GetNetcardList();

// Addresses in network byte order; all 0 when the interface is not found or has no IPv4
// address.
struct NetcardAddress {
    uint32_t ip = 0;
    uint32_t broadcast = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;  // of a default route through the interface; 0 when it has none
};
// The first IPv4 address of the interface called name.
NetcardAddress GetNetcardAddress(const std::string& name);

std::string IpText(uint32_t networkOrder);

}  // namespace qv::gige
