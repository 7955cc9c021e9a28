// The white-dot statistics of automatic white balance, and the packed YUV 4:2:2 conversion
// against OpenCV on the same frame.
//
// FindWhiteDots/W/H: one "Bayer GRBG8" frame of a grey scene under a colour cast through
// CameraWhiteBalance::FindWhiteDots, with its heap allocations per frame once the white-dot
// buffer has grown. Yuv422ToBgr8/1920/1080: a UYVY frame through ProcessYuv422 into BGR8 (the
// floating form of the conversion) in each instruction-set family, and the same frame through
// cv::cvtColor(COLOR_YUV2BGR_UYVY), single-threaded, in the same iteration: ns per pixel of
// each and each family's ratio to OpenCV.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <random>
#include <vector>

#include "CameraWhiteBalance.h"
#include "RawYuvKernels.h"
#include "control/CameraSettings.h"
#include "support/AllocCounter.h"
#include "support/KernelFamilies.h"

namespace {

using namespace qv::isp;

// A grey ramp under a reddish cast, with a little grain, in GRBG order.
std::vector<uint8_t> MakeBayerScene(int W, int H) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> grain(-3, 3);
    const double cast[3] = {1.3, 1.0, 0.8};
    std::vector<uint8_t> raw(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int site = y % 2 == 0 ? (x % 2 == 0 ? 1 : 0) : (x % 2 == 0 ? 2 : 1);
            const double grey = 40.0 + 150.0 * (x & ~1) / W;
            const int v = static_cast<int>(grey * cast[site]) + grain(rng);
            raw[static_cast<size_t>(y) * W + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    return raw;
}

void BM_FindWhiteDots(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    const std::vector<uint8_t> raw = MakeBayerScene(W, H);
    stImageInfo info{};
    info.iWidth = static_cast<UINT>(W);
    info.iHeight = static_cast<UINT>(H);
    info.TotalBytes = static_cast<UINT>(raw.size());
    info.uiMediaType = 0x01080008u;
    CameraSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.wbMode = 1;
    settings.rgbGain[0] = settings.rgbGain[1] = settings.rgbGain[2] = 100;
    CameraWhiteBalance wb;
    wb.LoadParameter(settings, 1, 1, 50, 400, 100, 100, 50, 400);
    if (wb.FindWhiteDots(raw.data(), &info) != 0) {
        state.SkipWithError("FindWhiteDots failed");
        return;
    }
    uint64_t allocations = 0, frames = 0;
    for (auto _ : state) {
        const uint64_t before = qvbench::AllocationCount();
        wb.FindWhiteDots(raw.data(), &info);
        allocations += qvbench::AllocationCount() - before;
        ++frames;
    }
    uint32_t r = 0, g = 0, b = 0;
    wb.GetTargetGains(&r, &g, &b);
    state.counters["ns_px"] =
        benchmark::Counter(static_cast<double>(frames) * W * H,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_frame"] = frames ? static_cast<double>(allocations) / frames : 0.0;
    state.counters["red_gain"] = r;
    state.counters["blue_gain"] = b;
}

std::vector<uint8_t> MakeUyvy(int W, int H) {
    std::mt19937 rng(3);
    std::vector<uint8_t> yuv(static_cast<size_t>(W) * H * 2);
    for (auto& v : yuv) v = static_cast<uint8_t>(rng());
    return yuv;
}

// One UYVY frame into BGR8 (the floating form of the conversion) through ProcessYuv422 in each
// instruction-set family, and through cv::cvtColor(COLOR_YUV2BGR_UYVY), single-threaded, in
// the same iteration.
void BM_Yuv422ToBgr8(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    const int H = static_cast<int>(state.range(1));
    cv::setNumThreads(1);
    std::vector<uint8_t> yuv = MakeUyvy(W, H);
    std::vector<uint8_t> out(static_cast<size_t>(W) * H * 3);
    stImageInfo in{};
    in.iWidth = static_cast<UINT>(W);
    in.iHeight = static_cast<UINT>(H);
    in.TotalBytes = static_cast<UINT>(yuv.size());
    in.uiMediaType = 0x0210001Fu;
    stImageInfo outInfo{};
    IspFrame frame{&in, yuv.data(), &outInfo, out.data(), 0};
    ColourSettings s;
    s.ispOutFormat = CAMERA_MEDIA_TYPE_BGR8;
    const cv::Mat src(H, W, CV_8UC2, yuv.data());
    cv::Mat bgr;
    if (ProcessYuv422(frame, s) != 0) {
        state.SkipWithError("ProcessYuv422 failed");
        return;
    }
    cv::cvtColor(src, bgr, cv::COLOR_YUV2BGR_UYVY);
    qvbench::FamilyTimer timer;
    for (auto _ : state) {
        timer.Measure([&] { ProcessYuv422(frame, s); },
                      [&] { benchmark::DoNotOptimize(out.data()); },
                      [&] {
                          cv::cvtColor(src, bgr, cv::COLOR_YUV2BGR_UYVY);
                          benchmark::DoNotOptimize(bgr.data);
                      });
        benchmark::ClobberMemory();
    }
    timer.Report(state, static_cast<double>(W) * H);
}

BENCHMARK(BM_FindWhiteDots)
    ->Name("FindWhiteDots")
    ->Args({1280, 1024})
    ->Args({5472, 3648})
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yuv422ToBgr8)
    ->Name("Yuv422ToBgr8")
    ->Args({1920, 1080})
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
