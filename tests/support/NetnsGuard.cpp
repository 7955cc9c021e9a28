// Keeps every test and benchmark process off the machine's network.
//
// Creating the camera manager starts GigE discovery, which broadcasts on every IPv4 interface.
// A process linked with this file checks, before main, that it runs in a private network
// namespace and otherwise re-executes itself inside a new one (only "lo", down), so a binary
// started by hand is as safe as one started by the test command.
//
// Trusted as private: a namespace other than PID 1's; the namespace named by QV_PRIVATE_NETNS
// (set by the test command and by this guard); any process started with QV_NETNS_CHILD=1 by a
// test that placed it in a namespace of its own making.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ReexecSelf.h"

namespace {

std::string NetnsOf(const char* path) {
    char buffer[128];
    const ssize_t n = readlink(path, buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

bool InPrivateNetns() {
    const std::string self = NetnsOf("/proc/self/ns/net");
    if (self.empty()) return false;
    if (const char* child = std::getenv("QV_NETNS_CHILD"); child && std::strcmp(child, "1") == 0)
        return true;
    if (const char* marker = std::getenv("QV_PRIVATE_NETNS"); marker && self == marker) return true;
    const std::string init = NetnsOf("/proc/1/ns/net");
    return !init.empty() && init != self;
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

    setenv("QV_PRIVATE_NETNS", NetnsOf("/proc/self/ns/net").c_str(), 1);
    setenv("QV_NETNS_REEXEC", "1", 1);

    // Start over inside the new namespace, so nothing of this process ran in the shared one.
    qvtest::ReexecSelf();
    Refuse(std::strerror(errno));
}

}  // namespace
