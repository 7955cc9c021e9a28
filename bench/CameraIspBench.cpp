// The per-frame cost CameraISP adds around its kernel: the lock, the take-over of pending
// settings and the dispatch. Each iteration runs one 8-bit grey frame through
// CameraISP::ProcessFrame and the same frame straight through ProcessMono8; with
// "setter" on, a host setter lands before every frame so the take-over runs each time.
// Reported: median ns per frame of each, the difference, and heap allocations per frame of
// ProcessFrame once its buffers have grown (0 expected).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "CameraISP.h"
#include "control/CameraSettings.h"
#include "LutTables.h"
#include "MonoKernels.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace qv::isp;

void BM_ProcessFrameOverhead(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    const bool setterEachFrame = state.range(2) != 0;

    std::mt19937 rng(7);
    std::vector<uint8_t> raw(static_cast<size_t>(W) * H);
    for (auto& b : raw) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out(raw.size());
    stImageInfo in{};
    in.iWidth = static_cast<UINT>(W);
    in.iHeight = static_cast<UINT>(H);
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    stImageInfo outInfo{};

    CameraSettings s;
    std::memset(&s, 0, sizeof(s));
    s.saturation = 128;
    s.contrast = 50;
    s.ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
    s.gamma = 100;
    s.contrastLut = 100;
    CameraISP isp;
    isp.LoadParameter(s, 1, 1, CAMERA_MEDIA_TYPE_MONO8, 6);

    CLutTables lut;
    lut.Initialise(0, 100, 100, 0, CAMERA_MEDIA_TYPE_MONO8);
    const LutView view = lut.ChannelTable(0);
    IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
    MonoSettings settings;
    IspFrameStatistics stats;
    IspWorkBuffers work;

    if (isp.ProcessFrame(&in, raw.data(), &outInfo, out.data(), 100, 100, 100) != 0 ||
        ProcessMono8(frame, settings, view, stats, work) != 0) {
        state.SkipWithError("frame refused");
        return;
    }

    std::vector<double> object, kernel;
    uint64_t allocations = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        if (setterEachFrame) isp.SetSharpness(0);
        const uint64_t before = qvbench::AllocationCount();
        const auto t0 = Clock::now();
        isp.ProcessFrame(&in, raw.data(), &outInfo, out.data(), 100, 100, 100);
        const auto t1 = Clock::now();
        allocations += qvbench::AllocationCount() - before;
        benchmark::DoNotOptimize(out.data());
        ProcessMono8(frame, settings, view, stats, work);
        const auto t2 = Clock::now();
        benchmark::ClobberMemory();
        object.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        kernel.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
        ++frames;
    }
    const double objectNs = qvbench::Median(object);
    const double kernelNs = qvbench::Median(kernel);
    state.counters["object_ns"] = objectNs;
    state.counters["kernel_ns"] = kernelNs;
    state.counters["overhead_ns"] = objectNs - kernelNs;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, frames);
}

BENCHMARK(BM_ProcessFrameOverhead)
    ->ArgNames({"w", "h", "setter"})
    ->Args({64, 16, 0})
    ->Args({64, 16, 1})
    ->Args({1280, 1024, 0})
    ->Args({1280, 1024, 1})
    ->MinTime(0.5)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
