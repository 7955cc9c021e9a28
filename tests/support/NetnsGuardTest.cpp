// The network-namespace guard decides from the namespace itself: a program started where a
// link could reach a real network moves into a namespace of its own even when its environment
// claims otherwise, and a namespace that only the tests' own links share is kept.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
    std::string startedIn;  // the namespace the probe was started in
    std::string endedIn;    // the one it ran main in
    std::string how;        // "kept" or "restarted"
};

// Starts the probe in a new namespace, after `setup` (shell commands run inside it), with only
// the environment `env` (assignments for env(1)).
Outcome RunProbe(const std::string& setup, const std::string& env) {
    const std::string script = "set -e; " + setup +
                               "; ns=$(readlink /proc/self/ns/net); echo \"$ns\"; "
                               "exec env -i " +
                               env + " " QV_NETNS_PROBE;
    const std::string command = "unshare --net -- sh -c '" + script + "' 2>&1";
    Outcome out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char line[256];
    std::string all;
    while (fgets(line, sizeof line, pipe) != nullptr) all += line;
    pclose(pipe);
    char started[128] = {}, ended[128] = {}, how[32] = {};
    if (std::sscanf(all.c_str(), "%127s %127s %31s", started, ended, how) == 3) {
        out.startedIn = started;
        out.endedIn = ended;
        out.how = how;
    } else {
        out.how = all;  // what went wrong, for the failure message
    }
    return out;
}

// Interface names are per namespace; the pid keeps them apart from other runs' in any case.
std::string Link(char end) {
    return "qvg" + std::to_string(getpid()) + end;
}

std::string VethPair() {
    return "ip link add " + Link('a') + " type veth peer name " + Link('b');
}

// The variables that once let a program skip the check.
std::string TrustMe() {
    return "QV_NETNS_CHILD=1 QV_PRIVATE_NETNS=$ns";
}

TEST(NetnsGuard, ALinkWithoutTestAddressesIsLeftWhateverTheEnvironmentSays) {
    const Outcome o = RunProbe(VethPair(), TrustMe());
    ASSERT_FALSE(o.startedIn.empty()) << o.how;
    EXPECT_NE(o.endedIn, o.startedIn);
    EXPECT_EQ(o.how, "restarted");
}

TEST(NetnsGuard, NamespacesOfTheTestsOwnAreKept) {
    struct Row {
        const char* what;
        std::string setup;
    };
    const Row rows[] = {
        {"loopback only, down", "true"},
        {"loopback up with a second address", "ip link set lo up; ip addr add 127.0.0.2/8 dev lo"},
        {"a veth pair of test addresses, up", VethPair() + "; ip addr add 198.18.200.1/24 dev " +
                                                  Link('a') + "; ip addr add 198.19.200.2/24 dev " +
                                                  Link('b') + "; ip link set " + Link('a') +
                                                  " up; ip link set " + Link('b') + " up"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const Outcome o = RunProbe(r.setup, "");
        ASSERT_FALSE(o.startedIn.empty()) << o.how;
        EXPECT_EQ(o.endedIn, o.startedIn);
        EXPECT_EQ(o.how, "kept");
    }
}

}  // namespace
