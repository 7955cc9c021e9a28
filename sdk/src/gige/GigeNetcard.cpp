#include "gige/GigeNetcard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qv::gige {

namespace {

uint32_t AddressOf(const sockaddr* a) {
    if (a == nullptr || a->sa_family != AF_INET) return 0;
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr;
}

// The gateway of a default route through the interface, from the kernel's route table (fields
// in network byte order, printed as hexadecimal of their memory words).
uint32_t DefaultGateway(const std::string& name) {
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string iface;
        unsigned long destination = 0, gateway = 0, flags = 0;
        fields >> iface >> std::hex >> destination >> gateway >> flags;
        if (!fields || iface != name) continue;
        if (destination == 0 && (flags & RTF_GATEWAY) != 0) return static_cast<uint32_t>(gateway);
    }
    return 0;
}

}  // namespace

std::string IpText(uint32_t networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = "0.0.0.0";
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::vector<Netcard> GetNetcardList() {
    std::vector<Netcard> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return list;
    for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const std::string ip = IpText(AddressOf(i->ifa_addr));
        if (ip == "127.0.0.1") continue;
        list.push_back({i->ifa_name != nullptr ? i->ifa_name : "", ip});
    }
    freeifaddrs(all);
    return list;
}

NetcardAddress GetNetcardAddress(const std::string& name) {
    NetcardAddress result;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return result;
    for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if (i->ifa_name == nullptr || name != i->ifa_name) continue;
        result.ip = AddressOf(i->ifa_addr);
        result.mask = AddressOf(i->ifa_netmask);
        if ((i->ifa_flags & IFF_BROADCAST) != 0) result.broadcast = AddressOf(i->ifa_broadaddr);
        result.gateway = DefaultGateway(name);
        break;
    }
    freeifaddrs(all);
    return result;
}

}  // namespace qv::gige
