// Times a kernel in every instruction-set family the processor offers beside OpenCV's same
// work, all within one benchmark iteration, so that each family's ratio to OpenCV comes from
// the same moments of a shared machine.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "KernelFamily.h"
#include "AllocCounter.h"
#include "BenchStats.h"

namespace qvbench {

class FamilyTimer {
  public:
    FamilyTimer() {
        for (qv::isp::KernelFamily f :
             {qv::isp::KernelFamily::kSse41, qv::isp::KernelFamily::kAvx2})
            if (qv::isp::KernelFamilySupported(f)) m_families.push_back({f, {}});
    }
    ~FamilyTimer() { qv::isp::SelectKernelFamily(m_initial); }
    FamilyTimer(const FamilyTimer&) = delete;
    FamilyTimer& operator=(const FamilyTimer&) = delete;

    // One frame of ours in each family (`afterOurs` runs untimed after each), then OpenCV's.
    template <class Ours, class AfterOurs, class Theirs>
    void Measure(Ours&& ours, AfterOurs&& afterOurs, Theirs&& theirs) {
        for (Family& f : m_families) {
            qv::isp::SelectKernelFamily(f.family);
            const uint64_t before = AllocationCount();
            const auto t0 = Clock::now();
            ours();
            const auto t1 = Clock::now();
            m_allocations += AllocationCount() - before;
            afterOurs();
            f.samples.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        }
        const auto t0 = Clock::now();
        theirs();
        const auto t1 = Clock::now();
        m_opencv.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        ++m_frames;
    }

    // Counters: <family>_ns_px and ratio_<family> for each family, opencv_ns_px, and the
    // allocations per frame of ours.
    void Report(benchmark::State& state, double pixels) {
        const double cvNs = Median(m_opencv) / pixels;
        state.counters["opencv_ns_px"] = cvNs;
        for (Family& f : m_families) {
            const std::string name = qv::isp::KernelFamilyName(f.family);
            const std::string key = name == "sse4.1" ? "sse41" : name;
            const double ns = Median(f.samples) / pixels;
            state.counters[key + "_ns_px"] = ns;
            state.counters["ratio_" + key] = cvNs > 0 ? ns / cvNs : 0.0;
        }
        state.counters["allocs_per_frame"] =
            PerFrame(m_allocations, m_frames * static_cast<uint64_t>(m_families.size()));
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Family {
        qv::isp::KernelFamily family;
        std::vector<double> samples;
    };
    qv::isp::KernelFamily m_initial = qv::isp::ActiveKernelFamily();
    std::vector<Family> m_families;
    std::vector<double> m_opencv;
    uint64_t m_allocations = 0;
    uint64_t m_frames = 0;
};

}  // namespace qvbench
