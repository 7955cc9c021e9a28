// Counts heap allocations of the whole process, so a benchmark can report allocations per
// frame next to its timings.
#pragma once

#include <cstdint>

namespace qvbench {
uint64_t AllocationCount();
}
