// Linked into every GigE test and benchmark program: before main, the process moves into a
// network namespace of its own (lo up), so its discovery broadcasts and simulated cameras never
// meet those of another test program running at the same time. It runs after the guard that
// makes sure the process is in a private namespace at all.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "SimNetns.h"

namespace {

__attribute__((constructor(102))) void EnterOwnNamespace() {
    try {
        qvsim::EnterOwnNetns();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot enter a network namespace of its own: %s\n", e.what());
        std::_Exit(2);
    }
}

}  // namespace
