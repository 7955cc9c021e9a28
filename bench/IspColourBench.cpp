// The colour path of the image pipeline against OpenCV on the same frame.
//
// ColourChain: one "Bayer GRBG8" frame through ProcessBayer8 into BGR8 with white-balance
// gains, a colour matrix, a gamma lookup table and sharpening on, in each instruction-set
// family the processor offers, and in the same iteration the same frame through the OpenCV
// calls for each step that OpenCV has a call for: cv::cvtColor (Bayer to BGR), cv::multiply by
// the three white-balance gains, cv::transform with the 3x3 float matrix, cv::LUT and
// cv::filter2D with a 3x3 kernel. OpenCV has no green balance (no step of its side evens the
// two green sites), and its table and filter run over the three channels of every pixel where
// ours run on the one sample of the mosaic. Reported: median ns per pixel of each
// family and of OpenCV, each family's ratio to OpenCV, and our heap allocations per frame once
// the buffers have grown. OpenCvDemosaic: OpenCV's demosaic alone, for scale; OpenCvGains:
// its cv::multiply by the gains alone, the step that folding the gains into its matrix would
// save. OpenCV runs single-threaded, like our kernel.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <random>
#include <vector>

#include "ColourKernels.h"
#include "LutTables.h"
#include "support/KernelFamilies.h"

namespace {

using namespace qv::isp;

constexpr int kMatrix[9] = {300, -30, -14, -40, 320, -24, -10, -50, 316};

// A scene rather than noise: smooth colour gradients with a little grain, in GRBG order.
std::vector<uint8_t> MakeBayerFrame(int W, int H) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> grain(-6, 6);
    std::vector<uint8_t> raw(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int r = 40 + 170 * x / W;
            const int g = 60 + 150 * y / H;
            const int b = 200 - 150 * (x + y) / (W + H);
            const int v = (y % 2 == 0) ? (x % 2 == 0 ? g : r) : (x % 2 == 0 ? b : g);
            raw[static_cast<size_t>(y) * W + x] =
                static_cast<uint8_t>(std::clamp(v + grain(rng), 0, 255));
        }
    return raw;
}

// One frame through ProcessBayer8 in each instruction-set family and through OpenCV's chain,
// in the same iteration.
void BM_ColourChain(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    cv::setNumThreads(1);
    std::vector<uint8_t> raw = MakeBayerFrame(W, H);
    std::vector<uint8_t> out(static_cast<size_t>(W) * H * 3);

    CLutTables lut;
    lut.Initialise(0, 45, 100, 0, 0x01080008u);
    const ColourLuts luts{lut.ChannelTable(0), lut.ChannelTable(1), lut.ChannelTable(2)};
    ColourSettings s;
    s.ispOutFormat = CAMERA_MEDIA_TYPE_BGR8;
    s.sharpness = 20;
    s.redGain = 180;
    s.greenGain = 100;
    s.blueGain = 140;
    std::copy(kMatrix, kMatrix + 9, s.colorMatrix);

    stImageInfo in{};
    in.iWidth = static_cast<UINT>(W);
    in.iHeight = static_cast<UINT>(H);
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = 0x01080008u;
    stImageInfo outInfo{};
    IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
    IspFrameStatistics stats;
    IspWorkBuffers work;
    if (ProcessBayer8(frame, s, luts, stats, work) != 0) {
        state.SkipWithError("ProcessBayer8 failed");
        return;
    }

    const cv::Mat src(H, W, CV_8UC1, raw.data());
    cv::Mat matrix(3, 3, CV_32F);
    for (int i = 0; i < 9; ++i) matrix.at<float>(i / 3, i % 3) = kMatrix[i] / 256.0f;
    cv::Mat table(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        table.at<uint8_t>(i) = static_cast<uint8_t>(lut.ChannelTable(0).table[i]);
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 0, -0.25f, 0, -0.25f, 2, -0.25f, 0, -0.25f, 0);
    // The gains as multipliers in OpenCV's channel order; they cannot be folded into the
    // matrix here, since that would leave OpenCV's side a step short of ours.
    const cv::Scalar gains(s.blueGain / 100.0, s.greenGain / 100.0, s.redGain / 100.0);
    cv::Mat bgr, balanced, mixed, mapped, sharpened;
    auto chain = [&] {
        cv::cvtColor(src, bgr, cv::COLOR_BayerGB2BGR);
        cv::multiply(bgr, gains, balanced);
        cv::transform(balanced, mixed, matrix);
        cv::LUT(mixed, table, mapped);
        cv::filter2D(mapped, sharpened, -1, kernel);
        benchmark::DoNotOptimize(sharpened.data);
    };
    chain();  // the outputs are allocated here, not in the timed frames

    qvbench::FamilyTimer timer;
    for (auto _ : state) {
        timer.Measure([&] { ProcessBayer8(frame, s, luts, stats, work); },
                      [&] { benchmark::DoNotOptimize(out.data()); }, chain);
        benchmark::ClobberMemory();
    }
    timer.Report(state, static_cast<double>(W) * H);
}

void BM_OpenCvDemosaic(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    cv::setNumThreads(1);
    std::vector<uint8_t> raw = MakeBayerFrame(W, H);
    const cv::Mat src(H, W, CV_8UC1, raw.data());
    cv::Mat bgr;
    cv::cvtColor(src, bgr, cv::COLOR_BayerGB2BGR);
    for (auto _ : state) {
        cv::cvtColor(src, bgr, cv::COLOR_BayerGB2BGR);
        benchmark::DoNotOptimize(bgr.data);
        benchmark::ClobberMemory();
    }
    state.counters["ns_px"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * W * H,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_OpenCvGains(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    cv::setNumThreads(1);
    std::vector<uint8_t> raw = MakeBayerFrame(W, H);
    const cv::Mat src(H, W, CV_8UC1, raw.data());
    cv::Mat bgr, balanced;
    cv::cvtColor(src, bgr, cv::COLOR_BayerGB2BGR);
    const cv::Scalar gains(1.4, 1.0, 1.8);
    cv::multiply(bgr, gains, balanced);
    for (auto _ : state) {
        cv::multiply(bgr, gains, balanced);
        benchmark::DoNotOptimize(balanced.data);
        benchmark::ClobberMemory();
    }
    state.counters["ns_px"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * W * H,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Args({1280, 1024})->Args({4000, 3000});
}

BENCHMARK(BM_ColourChain)
    ->Name("ColourChain")
    ->Apply(Sizes)
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvDemosaic)
    ->Name("OpenCvDemosaic")
    ->Apply(Sizes)
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvGains)
    ->Name("OpenCvGains")
    ->Apply(Sizes)
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
