// Image files and recording against the plain tools on the same frame.
//
// SaveImage/<type>: one 1920 x 1080 BGR8 frame saved through CameraSaveImage as BMP (2), PNG (8)
// or JPEG (1, quality 90), and the same frame through cv::imwrite to the same format (JPEG
// quality 90; OpenCV's default PNG settings) in the same folder, alternately in every
// iteration. Record: CameraPushOneFrame of the same frame into a recording (conversion to
// bottom-up BGR and one chunk write) against a plain write() of the frame's bytes to a file;
// both files start over every kFramesPerFile frames (not timed) so the disk use stays bounded.
// Reported: median ms per frame of each, their ratio (ours / theirs; the targets are 1.2 for
// the files and 1.5 for the recording) and MB/s of frame data through ours.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "control/CameraControl.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kFrameBytes = static_cast<size_t>(kWidth) * kHeight * 3;
constexpr int kFramesPerFile = 16;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A frame with what a camera shows: smooth shading, edges and a little sensor noise.
const std::vector<uint8_t>& Frame() {
    static const std::vector<uint8_t> frame = [] {
        std::vector<uint8_t> f(kFrameBytes);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> noise(-3, 3);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    int v = (x / 8 + y / 5 + c * 40) % 200 + ((x / 64 + y / 64) % 2) * 40;
                    v += noise(rng);
                    f[(static_cast<size_t>(y) * kWidth + x) * 3 + c] =
                        static_cast<uint8_t>(std::clamp(v, 0, 255));
                }
        return f;
    }();
    return frame;
}

stImageInfo Head() {
    stImageInfo head{};
    head.iWidth = kWidth;
    head.iHeight = kHeight;
    head.TotalBytes = static_cast<uint32_t>(kFrameBytes);
    head.uiMediaType = CAMERA_MEDIA_TYPE_BGR8;
    return head;
}

// A scratch folder under /tmp for one benchmark, removed afterwards.
class Folder {
  public:
    Folder() {
        char pattern[] = "/tmp/qv-file-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) m_path = pattern;
    }
    ~Folder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

void Report(benchmark::State& state, std::vector<double>& ours, std::vector<double>& theirs) {
    const double o = qvbench::Median(ours), t = qvbench::Median(theirs);
    state.counters["ours_ms"] = o;
    state.counters["theirs_ms"] = t;
    state.counters["ratio"] = t > 0 ? o / t : 0;
    state.counters["ours_MB/s"] = o > 0 ? kFrameBytes / 1e6 / (o / 1e3) : 0;
    state.counters["theirs_MB/s"] = t > 0 ? kFrameBytes / 1e6 / (t / 1e3) : 0;
}

void BM_SaveImage(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    const char* ext = type == 2 ? ".bmp" : type == 8 ? ".png" : ".jpg";
    cv::setNumThreads(1);
    Folder folder;
    if (folder.Path().empty()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    CameraControl control(nullptr);
    const std::vector<uint8_t>& frame = Frame();
    const stImageInfo head = Head();
    const cv::Mat mat(kHeight, kWidth, CV_8UC3, const_cast<uint8_t*>(frame.data()));
    const std::vector<int> params = type == 1 ? std::vector<int>{cv::IMWRITE_JPEG_QUALITY, 90}
                                              : std::vector<int>{};
    const std::string ours = folder.Path() + "/ours", theirs = folder.Path() + "/theirs" + ext;
    std::vector<double> oursMs, theirsMs;
    for (auto _ : state) {
        auto start = Clock::now();
        if (control.CameraSaveImage(ours.c_str(), frame.data(), &head, type, 90) != 0) {
            state.SkipWithError("CameraSaveImage failed");
            return;
        }
        oursMs.push_back(MsSince(start));
        start = Clock::now();
        if (!cv::imwrite(theirs, mat, params)) {
            state.SkipWithError("cv::imwrite failed");
            return;
        }
        theirsMs.push_back(MsSince(start));
    }
    Report(state, oursMs, theirsMs);
}
BENCHMARK(BM_SaveImage)->ArgName("type")->Arg(2)->Arg(8)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Record(benchmark::State& state) {
    Folder folder;
    if (folder.Path().empty()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    CameraControl control(nullptr);
    const std::vector<uint8_t>& frame = Frame();
    const stImageInfo head = Head();
    const std::string avi = folder.Path() + "/ours.avi", plain = folder.Path() + "/theirs.raw";
    const int fd = open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || control.CameraStartRecord(avi.c_str(), 0, 0, 25) != 0) {
        state.SkipWithError("cannot open the files");
        if (fd >= 0) close(fd);
        return;
    }
    std::vector<double> oursMs, theirsMs;
    int inFile = 0;
    for (auto _ : state) {
        if (inFile == kFramesPerFile) {
            state.PauseTiming();
            control.CameraStopRecord();
            control.CameraStartRecord(avi.c_str(), 0, 0, 25);
            if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) state.SkipWithError("truncate");
            inFile = 0;
            state.ResumeTiming();
        }
        ++inFile;
        auto start = Clock::now();
        if (control.CameraPushOneFrame(frame.data(), &head) != 0) {
            state.SkipWithError("CameraPushOneFrame failed");
            break;
        }
        oursMs.push_back(MsSince(start));
        start = Clock::now();
        if (write(fd, frame.data(), kFrameBytes) != static_cast<ssize_t>(kFrameBytes)) {
            state.SkipWithError("write failed");
            break;
        }
        theirsMs.push_back(MsSince(start));
    }
    control.CameraStopRecord();
    close(fd);
    Report(state, oursMs, theirsMs);
}
BENCHMARK(BM_Record)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
