// The footprint station's per-frame and per-save image work against the same work written with
// OpenCV calls, in the same run.
//
// BM_MosaicFootPresent: MOSAIC_DoMosaic on a 520x1200 frame with a foot present, against
// in.copyTo(buf), cv::subtract (saturating), cv::compare + cv::countNonZero over the counting
// window, cv::max into the impression and its copy to the output. Reported: median ns per frame
// of each, their ratio (ours / OpenCV) and our heap allocations per frame.
//
// BM_SaveCorrections: the save's two lens corrections of 1280x720 views
// (wcam_OnCorrectMiddleForSave: exact double-precision bilinear sampling on maps computed once,
// then the scale to 1280x720) against cv::remap (fixed-point bilinear) with the same source
// points computed once, plus the same scale. Reported per pair of views.
//
// BM_SoleFrameChain: the sole thread's work on one 1280x1024 frame with a foot on the plate
// (crop and rotation, contact detector, accumulator, contrast stretch) against cv::transpose +
// cv::flip, cv::threshold + cv::countNonZero over the detector's two windows, the accumulator's
// OpenCV chain as above, and cv::minMaxLoc + cv::LUT.
//
// BM_SaveXDImage: one whole Tarn_SaveXDImageEX as the capture program calls it (JPEG sole image,
// four upper views and the group image), with four frozen views; the save blocks the caller.
//
// OpenCV runs single-threaded, like the station's own loops (except in BM_SaveXDImage, which
// measures the save as a host gets it).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "PW_Mosaic.h"
#include "Qvcam.h"
#include "SimSoleScene.h"
#include "Tarnlex.h"
#include "Wcam.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kW = 520;
constexpr int kH = 1200;

Clock::time_point StandingClock() {
    return Clock::time_point{};
}

double Ns(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::nano>(b - a).count();
}

void BM_MosaicFootPresent(benchmark::State& state) {
    cv::setNumThreads(1);
    if (MOSAIC_Init(kW, kH) != 1) {
        state.SkipWithError("MOSAIC_Init failed");
        return;
    }
    // The clock stands still, so the foot never times out.
    MOSAIC_SetClock(StandingClock);

    cv::Mat background(kH, kW, CV_8UC1);
    cv::randu(background, 0, 60);
    // Two foot frames in turn, so the maximum keeps changing.
    cv::Mat feet[2];
    for (cv::Mat& foot : feet) {
        foot = background.clone();
        cv::Mat noise(kH / 2, kW / 2, CV_8UC1);
        cv::randu(noise, 0, 196);
        foot(cv::Rect(kW / 4, kH / 4, kW / 2, kH / 2)) += noise;
    }
    std::vector<uint8_t> out(static_cast<size_t>(kW) * kH);
    MOSAIC_DoMosaic(background.data, out.data(), kW, kH);

    // The same work with OpenCV, on buffers allocated once.
    cv::Mat buf(kH, kW, CV_8UC1), diff(kH, kW, CV_8UC1), temp(kH, kW, CV_8UC1, cv::Scalar(0));
    cv::Mat mask;
    cv::Mat cvOut(kH, kW, CV_8UC1);
    const cv::Rect window(kW / 10, kH / 40, kW - 2 * (kW / 10), kH - 2 * (kH / 40));
    int cvResult = 0;
    auto runOpenCv = [&](const cv::Mat& in) {
        in.copyTo(buf);
        cv::subtract(buf, background, diff);
        cv::compare(diff(window), 28, mask, cv::CMP_GT);
        if (cv::countNonZero(mask) > 1500) {
            cv::max(temp, diff, temp);
            temp.copyTo(cvOut);
            cvResult = 1;
        }
    };
    runOpenCv(feet[0]);

    std::vector<double> ours, theirs;
    uint64_t allocations = 0, frames = 0;
    int results = 0;
    for (auto _ : state) {
        const cv::Mat& in = feet[frames % 2];
        const uint64_t before = qvbench::AllocationCount();
        const auto t0 = Clock::now();
        results += MOSAIC_DoMosaic(in.data, out.data(), kW, kH);
        const auto t1 = Clock::now();
        allocations += qvbench::AllocationCount() - before;
        benchmark::DoNotOptimize(out.data());
        runOpenCv(in);
        const auto t2 = Clock::now();
        benchmark::ClobberMemory();
        ours.push_back(Ns(t0, t1));
        theirs.push_back(Ns(t1, t2));
        ++frames;
    }
    MOSAIC_Close();
    if (results != static_cast<int>(frames) || cvResult != 1) {
        state.SkipWithError("the foot was not present on every frame");
        return;
    }
    const double oursNs = qvbench::Median(ours);
    const double cvNs = qvbench::Median(theirs);
    state.counters["ours_us"] = oursNs / 1000;
    state.counters["opencv_us"] = cvNs / 1000;
    state.counters["ratio"] = cvNs > 0 ? oursNs / cvNs : 0.0;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, frames);
}

// The save's source points for the cut rectangle, as cv::remap maps.
void SaveMaps(cv::Mat& mapX, cv::Mat& mapY) {
    const int cx0 = 1280 / 2 + 5, cy0 = 720 / 2 - 10;
    mapX.create(580, 1031, CV_32FC1);
    mapY.create(580, 1031, CV_32FC1);
    for (int r = 0; r < 580; ++r)
        for (int c = 0; c < 1031; ++c) {
            const double dc = c + 100 - cx0, dr = r + 65 - cy0;
            const double rho = std::sqrt(dc * dc + dr * dr) * static_cast<double>(1.1f);
            const double s = 0.9998 - 4.2932e-4 * rho + 3.4327e-6 * rho * rho -
                             2.8526e-9 * rho * rho * rho + 9.8223e-13 * rho * rho * rho * rho;
            mapX.at<float>(r, c) = static_cast<float>(cx0 + dc / s * 1.35);
            mapY.at<float>(r, c) = static_cast<float>(cy0 + dr / s * 1.35);
        }
}

void BM_SaveCorrections(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat frames[2];
    for (cv::Mat& f : frames) {
        f.create(720, 1280, CV_8UC3);
        cv::randu(f, 0, 256);
    }
    cv::Mat mapX, mapY;
    SaveMaps(mapX, mapY);
    cv::Mat views[2], corrected, cvViews[2];
    // The first call computes and keeps the station's maps.
    wcam_OnCorrectMiddleForSave(frames[0], views[0], -5, 10, 100, 65, 1.1f);

    std::vector<double> ours, theirs;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int v = 0; v < 2; ++v)
            wcam_OnCorrectMiddleForSave(frames[v], views[v], -5, 10, 100, 65, 1.1f);
        const auto t1 = Clock::now();
        for (int v = 0; v < 2; ++v) {
            cv::remap(frames[v], corrected, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
            cv::resize(corrected, cvViews[v], cv::Size(1280, 720), 0, 0, cv::INTER_LINEAR);
        }
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(views[1].data);
        benchmark::DoNotOptimize(cvViews[1].data);
        ours.push_back(Ns(t0, t1));
        theirs.push_back(Ns(t1, t2));
    }
    const double oursNs = qvbench::Median(ours);
    const double cvNs = qvbench::Median(theirs);
    state.counters["ours_ms"] = oursNs / 1e6;
    state.counters["opencv_remap_ms"] = cvNs / 1e6;
    state.counters["ratio"] = cvNs > 0 ? oursNs / cvNs : 0.0;
}

void BM_SoleFrameChain(benchmark::State& state) {
    cv::setNumThreads(1);
    if (MOSAIC_Init(kW, kH) != 1) {
        state.SkipWithError("MOSAIC_Init failed");
        return;
    }
    MOSAIC_SetClock(StandingClock);
    using Phase = CSimSoleScene::Phase;
    const cv::Mat empty = CSimSoleScene::ToFrame(CSimSoleScene::Upright(Phase::kEmpty));
    const cv::Mat feet[2] = {CSimSoleScene::ToFrame(CSimSoleScene::Upright(Phase::kFull)),
                             CSimSoleScene::ToFrame(CSimSoleScene::Upright(Phase::kRoll))};
    std::vector<uint8_t> rotated(kSoleBytes), mosaic(kSoleBytes), stretched(kSoleBytes);
    auto runOurs = [&](const cv::Mat& frame) {
        qvcam_processImage(frame.data, 1280, 1024, 40, 252, 1200, 520, false, rotated.data());
        qvcam_DetectFullContact(rotated.data(), kW, kH);
        const int ret = MOSAIC_DoMosaic(rotated.data(), mosaic.data(), kW, kH);
        qvcam_ContrastStretchingAuto(mosaic.data(), stretched.data(), kW, kH);
        return ret;
    };
    runOurs(empty);  // learns the plate

    cv::Mat transposed(1200, 520, CV_8UC1), cvRotated(kH, kW, CV_8UC1), binary;
    cv::Mat background = cvRotated.clone(), buf, diff, temp(kH, kW, CV_8UC1, cv::Scalar(0)), mask,
            cvOut(kH, kW, CV_8UC1), lut(1, 256, CV_8UC1), cvStretched;
    const cv::Rect window(kW / 10, kH / 40, kW - 2 * (kW / 10), kH - 2 * (kH / 40));
    const cv::Rect upper(60, 80, kW - 120, kH / 2 - 80), lower(60, kH / 2, kW - 120, kH / 2 - 80);
    int counts = 0;
    auto runOpenCv = [&](const cv::Mat& frame) {
        cv::transpose(frame(cv::Rect(40, 252, 1200, 520)), transposed);
        cv::flip(transposed, cvRotated, 0);
        for (const cv::Rect& half : {upper, lower}) {
            cv::threshold(cvRotated(half), binary, 59, 255, cv::THRESH_BINARY);
            counts += cv::countNonZero(binary);
        }
        cvRotated.copyTo(buf);
        cv::subtract(buf, background, diff);
        cv::compare(diff(window), 28, mask, cv::CMP_GT);
        if (cv::countNonZero(mask) > 1500) {
            cv::max(temp, diff, temp);
            temp.copyTo(cvOut);
        }
        double lo = 0, hi = 0;
        cv::minMaxLoc(cvOut, &lo, &hi);
        if (lo == hi) lo = 0, hi = 255;
        const float scale = 255.0f / static_cast<float>(hi - lo);
        for (int v = 0; v < 256; ++v)
            lut.at<uint8_t>(v) =
                cv::saturate_cast<uint8_t>(static_cast<int>(static_cast<float>(v - lo) * scale));
        cv::LUT(cvOut, lut, cvStretched);
    };
    cv::flip(cv::Mat(empty(cv::Rect(40, 252, 1200, 520)).t()), background, 0);

    std::vector<double> ours, theirs;
    uint64_t allocations = 0, frames = 0;
    int present = 0;
    for (auto _ : state) {
        const cv::Mat& frame = feet[frames % 2];
        const uint64_t before = qvbench::AllocationCount();
        const auto t0 = Clock::now();
        present += runOurs(frame) == 1;
        const auto t1 = Clock::now();
        allocations += qvbench::AllocationCount() - before;
        benchmark::DoNotOptimize(stretched.data());
        runOpenCv(frame);
        const auto t2 = Clock::now();
        benchmark::ClobberMemory();
        ours.push_back(Ns(t0, t1));
        theirs.push_back(Ns(t1, t2));
        ++frames;
    }
    MOSAIC_Close();
    if (present != static_cast<int>(frames)) {
        state.SkipWithError("the foot was not present on every frame");
        return;
    }
    benchmark::DoNotOptimize(counts);
    const double oursNs = qvbench::Median(ours);
    const double cvNs = qvbench::Median(theirs);
    state.counters["ours_us"] = oursNs / 1000;
    state.counters["opencv_us"] = cvNs / 1000;
    state.counters["ratio"] = cvNs > 0 ? oursNs / cvNs : 0.0;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, frames);
}

void BM_SaveXDImage(benchmark::State& state) {
    {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& frozen : m_shotFrames) {
            frozen.create(720, 1280, CV_8UC3);
            cv::randu(frozen, 0, 256);
        }
    }
    char dir[] = "/tmp/qv-station-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    char out[64], sole[] = "shoe.jpg", group[] = "view.jpg";
    std::snprintf(out, sizeof out, "%s/Output", dir);
    char v1[] = "view1.jpg", v2[] = "view2.jpg", v3[] = "view3.jpg", v4[] = "view4.jpg";
    char* views[] = {v1, v2, v3, v4};
    // The library's log lines would swamp the report.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    std::vector<double> times;
    int failed = 0;
    for (auto _ : state) {
        FOOT_XD_INFO info{};
        const auto t0 = Clock::now();
        failed += Tarn_SaveXDImageEX(out, sole, views, group, &info) != 1;
        times.push_back(Ns(t0, Clock::now()));
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    std::filesystem::remove_all(dir);
    if (failed != 0) {
        state.SkipWithError("a save failed");
        return;
    }
    state.counters["save_ms"] = qvbench::Median(times) / 1e6;
}

BENCHMARK(BM_MosaicFootPresent)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveCorrections)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoleFrameChain)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveXDImage)->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
