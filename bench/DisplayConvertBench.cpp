// The display conversion of one 1920 x 1080 output image to 32-bit B, G, R pixels, by format:
// the vector path (SSSE3 shuffles, what the library runs) against the scalar path on the same
// image. Reported: median ms per frame of each, their ratio (vector / scalar) and MB/s of
// 32-bit pixels written by the vector path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <vector>

#include "display/DisplayConvert.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_ConvertToDisplay(benchmark::State& state) {
    const uint32_t type = static_cast<uint32_t>(state.range(0));
    const unsigned bpp = CAMERA_MEDIA_TYPE_BITS(type) / 8;
    std::vector<uint8_t> image(size_t{kWidth} * kHeight * bpp);
    std::mt19937 rng(3);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 4);
    std::vector<double> vectorMs, scalarMs;
    for (auto _ : state) {
        auto start = Clock::now();
        qv::display::ConvertToDisplayVector(out.data(), image.data(), kWidth, kHeight, type);
        vectorMs.push_back(MsSince(start));
        benchmark::DoNotOptimize(out.data());
        start = Clock::now();
        qv::display::ConvertToDisplayScalar(out.data(), image.data(), kWidth, kHeight, type);
        scalarMs.push_back(MsSince(start));
        benchmark::DoNotOptimize(out.data());
    }
    const double v = qvbench::Median(vectorMs), s = qvbench::Median(scalarMs);
    state.counters["vector_ms"] = v;
    state.counters["scalar_ms"] = s;
    state.counters["ratio"] = s > 0 ? v / s : 0;
    state.counters["vector_MB/s"] = v > 0 ? out.size() / 1e6 / (v / 1e3) : 0;
}
BENCHMARK(BM_ConvertToDisplay)
    ->ArgName("type")
    ->Arg(CAMERA_MEDIA_TYPE_MONO8)
    ->Arg(CAMERA_MEDIA_TYPE_RGB8)
    ->Arg(CAMERA_MEDIA_TYPE_BGR8)
    ->Arg(CAMERA_MEDIA_TYPE_RGBA8)
    ->Arg(CAMERA_MEDIA_TYPE_BGRA8)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
