// A program with nothing but the network-namespace guard: it prints the namespace it runs in and
// whether the guard had to start it over, for the guard's test. It sends nothing anywhere.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
    char ns[128] = {};
    if (readlink("/proc/self/ns/net", ns, sizeof ns - 1) <= 0) return 1;
    std::printf("%s %s\n", ns, std::getenv("QV_NETNS_REEXEC") != nullptr ? "restarted" : "kept");
    return 0;
}
