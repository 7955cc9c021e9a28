// The brightness measurements of auto exposure on one frame, against the plainest pass over the
// same frame: a std::accumulate mean of its bytes, timed in the same iteration as the anchor.
//
// Variants: 1280 x 1024 and 5472 x 3648, Mono8 and Bayer GRBG8, and each method: the mean, the
// histogram over the whole frame, the histogram in a window (the middle quarter of the frame),
// the 3 x 3 zones. The frame is a gradient with noise, as a scene is (a uniform frame would put
// every sample in one bin, a random one none twice in a row). Reported: median ns per pixel of
// the method and of the anchor, their ratio (method / anchor), and heap allocations per frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "CameraExposure.h"
#include "control/CameraSettings.h"
#include "sensors/SensorInf.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

enum Method { kMean, kHistogram, kHistogramWindow, kZones };

void BM_ExposureStatistics(benchmark::State& state) {
    const uint32_t W = static_cast<uint32_t>(state.range(0));
    const uint32_t H = static_cast<uint32_t>(state.range(1));
    const bool bayer = state.range(2) != 0;
    const auto method = static_cast<Method>(state.range(3));

    std::mt19937 rng(7);
    std::vector<uint8_t> raw(size_t{W} * H);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const int v = 40 + static_cast<int>((uint64_t{x} * 120 / W + uint64_t{y} * 60 / H)) +
                          static_cast<int>(rng() % 17) - 8;
            raw[size_t{y} * W + x] = static_cast<uint8_t>(v);
        }
    stImageInfo info{};
    info.iWidth = W;
    info.iHeight = H;
    info.TotalBytes = static_cast<UINT>(raw.size());
    info.uiMediaType = bayer ? 0x01080008u : 0x01080000u;

    SensorParam limits;
    std::memset(&limits, 0, sizeof limits);
    limits.aeTargetMax = 255;
    limits.analogGainMin = 1000;
    limits.analogGainMax = 16000;
    CameraSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.lightFrequency = 1;
    const int32_t window[4] = {static_cast<int32_t>(W / 4), static_cast<int32_t>(H / 4),
                               static_cast<int32_t>(W / 2), static_cast<int32_t>(H / 2)};
    std::memcpy(settings.aeWindow, window, sizeof window);
    CameraExposure ae;
    ae.LoadParameter(limits, settings, 0);
    // White balance as a colour camera has it, so the gain path runs.
    ae.SetWbGains(bayer ? 180 : 100, 100, bayer ? 150 : 100);

    auto measure = [&](uint8_t* b) {
        switch (method) {
            case kMean:
                return ae.StatisticsMean(raw.data(), &info, b);
            case kHistogram:
                return ae.StatisticsHist(raw.data(), &info, b);
            case kHistogramWindow:
                return ae.StatisticsHistWindow(raw.data(), &info, b);
            default:
                return ae.StatisticsZone(raw.data(), &info, 0, b);
        }
    };
    uint8_t brightness = 0;
    if (measure(&brightness) != 0) {
        state.SkipWithError("measurement failed");
        return;
    }

    std::vector<double> ours, anchor;
    uint64_t allocations = 0, frames = 0;
    for (auto _ : state) {
        const uint64_t before = qvbench::AllocationCount();
        const auto t0 = Clock::now();
        measure(&brightness);
        const auto t1 = Clock::now();
        allocations += qvbench::AllocationCount() - before;
        benchmark::DoNotOptimize(brightness);
        const uint64_t mean = std::accumulate(raw.begin(), raw.end(), uint64_t{0}) / raw.size();
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(mean);
        ours.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        anchor.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
        ++frames;
    }
    const double pixels = static_cast<double>(W) * H;
    const double oursNs = qvbench::Median(ours) / pixels;
    const double anchorNs = qvbench::Median(anchor) / pixels;
    state.counters["ours_ns_px"] = oursNs;
    state.counters["anchor_ns_px"] = anchorNs;
    state.counters["ratio"] = anchorNs > 0 ? oursNs / anchorNs : 0.0;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, frames);
}

void Variants(benchmark::internal::Benchmark* b) {
    for (auto [w, h] : {std::pair{1280, 1024}, std::pair{5472, 3648}})
        for (int bayer : {0, 1})
            for (int method : {kMean, kHistogram, kHistogramWindow, kZones})
                b->Args({w, h, bayer, method});
}

BENCHMARK(BM_ExposureStatistics)
    ->ArgNames({"w", "h", "bayer", "method"})
    ->Apply(Variants)
    ->MinTime(0.3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
