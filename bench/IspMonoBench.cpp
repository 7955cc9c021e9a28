// The mono 8-bit to grey path of the image pipeline against OpenCV on the same frame.
//
// Each iteration runs one frame through ProcessMono8 and the same frame through the OpenCV
// calls that do the same work: cv::LUT for the lookup table, cv::flip for the mirror (both
// directions), cv::filter2D with a 3x3 kernel for the sharpening, a plain copy when nothing is
// on. Our kernel runs once in each instruction-set family the processor offers (SSE4.1, AVX2)
// within the same iteration as OpenCV. Reported per variant: median ns per pixel of each
// family and of OpenCV, each family's ratio (ours / OpenCV; below 1 is faster), and heap
// allocations per frame of our kernel once its buffers have grown. OpenCV runs
// single-threaded, like our kernel.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <random>
#include <vector>

#include "KernelFamily.h"
#include "LutTables.h"
#include "MonoKernels.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"
#include "support/KernelFamilies.h"

namespace {

using namespace qv::isp;

void BM_Mono8ToGrey(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    const bool lutOn = state.range(2) != 0;
    const bool sharpen = state.range(3) != 0;
    const bool mirror = state.range(4) != 0;
    cv::setNumThreads(1);

    std::mt19937 rng(42);
    std::vector<uint8_t> raw(static_cast<size_t>(W) * H);
    for (auto& b : raw) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out(raw.size());

    CLutTables lut;
    lut.Initialise(0, lutOn ? 45 : 100, 100, 0, CAMERA_MEDIA_TYPE_MONO8);
    const LutView view = lut.ChannelTable(0);

    stImageInfo in{};
    in.iWidth = static_cast<UINT>(W);
    in.iHeight = static_cast<UINT>(H);
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    stImageInfo outInfo{};
    IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
    MonoSettings settings;
    settings.sharpness = sharpen ? 50 : 0;
    settings.mirrorH = settings.mirrorV = mirror;
    IspFrameStatistics stats;
    IspWorkBuffers work;

    cv::Mat src(H, W, CV_8UC1, raw.data());
    cv::Mat table(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i) table.at<uint8_t>(i) = static_cast<uint8_t>(view.table[i]);
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << -1, -1, -1, -1, 9, -1, -1, -1, -1) / 1.0f;
    cv::Mat a, b;
    auto runOpenCv = [&] {
        const cv::Mat* cur = &src;
        if (lutOn) {
            cv::LUT(*cur, table, a);
            cur = &a;
        }
        if (sharpen) {
            cv::filter2D(*cur, b, -1, kernel);
            cur = &b;
        }
        cv::Mat& dst = cur == &a ? b : a;
        if (mirror)
            cv::flip(*cur, dst, -1);
        else if (cur == &src)
            cur->copyTo(dst);
    };

    // First frames size the buffers on both sides.
    if (ProcessMono8(frame, settings, view, stats, work) != 0) {
        state.SkipWithError("ProcessMono8 failed");
        return;
    }
    runOpenCv();

    qvbench::FamilyTimer timer;
    for (auto _ : state) {
        timer.Measure([&] { ProcessMono8(frame, settings, view, stats, work); },
                      [&] { benchmark::DoNotOptimize(out.data()); }, runOpenCv);
        benchmark::ClobberMemory();
    }
    timer.Report(state, static_cast<double>(W) * H);
}

void Variants(benchmark::internal::Benchmark* b) {
    for (auto [w, h] : {std::pair{1280, 1024}, std::pair{5472, 3648}})
        for (int lut : {0, 1})
            for (int sharpen : {0, 1})
                for (int mirror : {0, 1}) b->Args({w, h, lut, sharpen, mirror});
}

BENCHMARK(BM_Mono8ToGrey)
    ->ArgNames({"w", "h", "lut", "sharpen", "mirror"})
    ->Apply(Variants)
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
