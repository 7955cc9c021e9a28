// Keeps every test and benchmark process off the machine's network.
//
// Creating the camera manager starts GigE discovery, which broadcasts on every IPv4 interface.
// A process linked with this file checks, before main, that it runs in a private network
// namespace and otherwise re-executes itself inside a new one (only "lo", down), so a binary
// started by hand is as safe as one started by the test command.
//
// The namespace itself is examined; nothing in the environment is trusted, so a variable
// inherited from a test can never let a program broadcast from the machine's namespace. Private
// means both:
// - it is not the namespace of PID 1 (when that can be read at all; in a sandbox it may not), and
// - every interface in it is the loopback or carries only addresses of the block the simulated
//   GigE cameras use (198.18.0.0/15, on the veth pairs the tests make between namespaces of their
//   own). Any other interface (an Ethernet port, a link without such an address) could reach a
//   real network.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "ReexecSelf.h"

namespace {

std::string NetnsOf(const char* path) {
    char buffer[128];
    const ssize_t n = readlink(path, buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

// 198.18.0.0/15, in host order.
bool IsTestAddress(uint32_t address) {
    return (address & 0xFFFE0000u) == 0xC6120000u;
}

// Whether every interface of the current namespace is the loopback or has IPv4 addresses of
// the test block only (at least one, and no other address but an IPv6 link-local one).
bool OnlyLoopbackAndTestLinks() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    struct Link {
        bool loopback = false;
        bool testAddress = false;
        bool otherAddress = false;
    };
    std::map<std::string, Link> links;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        Link& link = links[a->ifa_name];
        link.loopback = link.loopback || (a->ifa_flags & IFF_LOOPBACK) != 0;
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family == AF_PACKET) continue;
        if (a->ifa_addr->sa_family == AF_INET6) {
            // Every link that is up gets one of these; it never leaves the link.
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
            if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
        }
        bool test = false;
        if (a->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            test = IsTestAddress(ntohl(in->sin_addr.s_addr));
        }
        (test ? link.testAddress : link.otherAddress) = true;
    }
    freeifaddrs(list);
    for (const auto& [name, link] : links)
        if (!link.loopback && (!link.testAddress || link.otherAddress)) return false;
    return true;
}

bool InPrivateNetns() {
    const std::string self = NetnsOf("/proc/self/ns/net");
    if (self.empty()) return false;
    const std::string init = NetnsOf("/proc/1/ns/net");
    if (!init.empty() && init == self) return false;
    return OnlyLoopbackAndTestLinks();
}

[[noreturn]] void Refuse(const char* why) {
    std::fprintf(stderr,
                 "refusing to run outside a private network namespace: %s\n"
                 "(run as root, or through scripts/test, which uses unshare --net)\n",
                 why);
    std::_Exit(2);
}

__attribute__((constructor(101))) void EnterPrivateNetns() {
    if (InPrivateNetns()) return;
    if (std::getenv("QV_NETNS_REEXEC") != nullptr) Refuse("re-executed but still shared");
    if (unshare(CLONE_NEWNET) != 0) Refuse(std::strerror(errno));

    // Only ends a loop: a new image that still finds itself unsafe gives up.
    setenv("QV_NETNS_REEXEC", "1", 1);

    // Start over inside the new namespace, so nothing of this process ran in the shared one.
    qvtest::ReexecSelf();
    Refuse(std::strerror(errno));
}

}  // namespace
