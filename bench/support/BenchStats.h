// Figures the benchmarks report from their per-frame samples.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qvbench {

// The median of the samples (sorted in place); 0 for none. The median rather than the mean, so
// that a preempted iteration does not move the figure.
inline double Median(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0.0 : samples[samples.size() / 2];
}

// A count per frame; 0 when no frame ran.
inline double PerFrame(uint64_t count, uint64_t frames) {
    return frames != 0 ? static_cast<double>(count) / static_cast<double>(frames) : 0.0;
}

}  // namespace qvbench
