// What a USB camera's frames cost the SDK: the simulated mono camera (IMX290 on board 102, a
// 1280 x 1024 region, 16-byte headers) behind the real libusb under umockdev, each frame
// received by the SDK's frame receiver into the pool and processed to mono 8-bit through
// CameraGetImageBufferEx; and, in the same run, the emulation alone: the same camera model
// streaming the same frames into a bare libusb reader that keeps one transfer in flight as the
// receiver does.
//
// The SDK's own cost is read from the CPU clocks of its threads: every thread that was not there
// before the SDK's first call (the SDK's, and the libusb threads it starts), except the bare
// reader's, plus the thread calling CameraGetImageBufferEx. The threads that were there before
// are the emulated camera's (umockdev's worker and GLib's). Part of the SDK's figure is still the
// emulation's: the preload turns each usbfs call of libusb into a round trip to umockdev's
// worker inside the calling thread; the bare reader's reader_ms/frame shows what that costs a
// thread that only receives.
//
// Each runs with the camera at 60 frames/s (every frame received and processed) and as fast as
// it is read (the highest rate the emulation and the SDK reach together), repeated; the median,
// min and max over the repetitions are reported. Counters:
//   fps                frames received per second (camera frames read whole)
//   sdk_ms/frame       CPU time of the SDK's threads and the caller per received frame
//   caller_ms/frame    CPU time of the thread calling CameraGetImageBufferEx per processed frame
//   emulation_ms/frame CPU time of the emulated camera's threads per received frame
//   reader_ms/frame    CPU time of the bare reader's thread per frame (emulation alone)
//   cpu_ms/frame       process CPU time per received frame (every thread)
//   allocs/frame       heap allocations per received frame once streaming
// The summary at the end gives the SDK's figures at both rates.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <libusb.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QVCameraApi.h"
#include "SimHostSettings.h"
#include "SimUsbImx290Camera.h"
#include "support/AllocCounter.h"
#include "usb/UsbFrameHeader.h"
#include "usb/UsbIds.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr uint32_t kImageBytes = kWidth * kHeight;
constexpr int kFramesPerIteration = 20;

double ProcessCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ids.insert(static_cast<pid_t>(std::atoi(e->d_name)));
        closedir(d);
    }
    return ids;
}

// The CPU time a thread of this process has used: the scheduler's nanoseconds, or the tick
// counts of utime and stime where the kernel keeps no scheduler statistics. Negative once the
// thread has ended.
double ThreadCpuSeconds(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    if (std::ifstream in(task + "/schedstat"); in) {
        unsigned long long ns = 0;
        if (in >> ns) return static_cast<double>(ns) / 1e9;
    }
    std::ifstream in(task + "/stat");
    std::string line;
    if (!std::getline(in, line)) return -1;
    // The fields after the name, which may hold spaces: state is field 3, utime 14, stime 15.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::map<pid_t, double> ThreadCpuTimes() {
    std::map<pid_t, double> times;
    for (pid_t tid : ThreadIds())
        if (const double s = ThreadCpuSeconds(tid); s >= 0) times[tid] = s;
    return times;
}

// CPU time used between two readings, summed over the threads `pick` accepts; a thread started
// in between counts from zero, one that ended in between is missing from both.
template <typename Pick>
double CpuBetween(const std::map<pid_t, double>& before, const std::map<pid_t, double>& after,
                  Pick pick) {
    double sum = 0;
    for (const auto& [tid, seconds] : after) {
        if (!pick(tid)) continue;
        const auto it = before.find(tid);
        sum += seconds - (it == before.end() ? 0.0 : it->second);
    }
    return sum;
}

// The bare reader of the emulation-only run: one transfer of one frame in flight, submitted
// again from its completion.
struct BareStream {
    std::mutex mutex;  // guards everything below
    std::condition_variable cv;
    uint64_t frames = 0;
    bool run = false;
    bool inFlight = false;
    bool failed = false;
};

void LIBUSB_CALL OnBareFrame(libusb_transfer* t) {
    auto* s = static_cast<BareStream*>(t->user_data);
    std::lock_guard lock(s->mutex);
    s->inFlight = false;
    if (t->status == LIBUSB_TRANSFER_COMPLETED && t->actual_length == t->length) {
        ++s->frames;
    } else if (t->status != LIBUSB_TRANSFER_CANCELLED) {
        s->failed = true;
    }
    if (s->run && !s->failed) s->inFlight = libusb_submit_transfer(t) == 0;
    s->cv.notify_all();
}

// One testbed for the program (it has to exist before libusb starts): the camera the SDK opens
// and, beside it, the same camera model for the bare reader on a libusb context of its own.
struct Rig {
    std::filesystem::path home;
    std::unique_ptr<CSimUsbTestbed> testbed;
    std::unique_ptr<CSimUsbImx290Camera> camera;
    std::shared_ptr<CSimUsbCamera> bareModel;
    CSimUsbDevice* bareDevice = nullptr;
    HANDLE h = nullptr;
    libusb_context* ctx = nullptr;
    libusb_device_handle* bare = nullptr;
    std::thread events;
    std::atomic<bool> stop{false};
    std::string error;
    // The threads that were there before the SDK's first call: this one and the emulation's.
    std::set<pid_t> beforeSdk;
    pid_t caller = gettid();
    pid_t bareReader = 0;

    // The SDK's threads (and those of the libusb it runs) and the caller.
    bool IsSdk(pid_t tid) const {
        return tid == caller || (beforeSdk.count(tid) == 0 && tid != bareReader);
    }
    bool IsEmulation(pid_t tid) const { return tid != caller && beforeSdk.count(tid) != 0; }

    Rig() {
        home = std::filesystem::temp_directory_path() /
               ("qv-usb-bench-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        testbed = std::make_unique<CSimUsbTestbed>();
        // A 1280 x 1024 region in the middle of the 1920 x 1080 sensor.
        if (!qvsim::UseImx290Resolution(qvsim::CustomResolution(320, 28, kWidth, kHeight))) {
            error = "cannot write the parameter file";
            return;
        }
        SimImx290Options o;
        o.serial = "QV-BENCH-1";
        o.port = {1, 2};
        o.fps = 60;
        o.pattern = SimFramePattern::kConstant;  // the camera's own cost kept small
        o.constant = 0x5A;
        camera = std::make_unique<CSimUsbImx290Camera>(*testbed, o);

        bareModel = std::make_shared<CSimUsbCamera>(
            SimUsbCameraConfig{.frames = {.imageBytes = kImageBytes,
                                          .header = true,
                                          .fps = 60,
                                          .pattern = SimFramePattern::kConstant,
                                          .constant = 0x5A}});
        bareDevice = &testbed->AddCamera(bareModel, {.port = {1, 3}});

        beforeSdk = ThreadIds();
        int count = 0;
        if (CameraEnumerateDeviceEx(&count, 2) != 0 || CameraInit(&h, 0) != 0) {
            error = "the SDK does not open the camera";
            return;
        }
        if (libusb_init(&ctx) != 0 ||
            (bare = libusb_open_device_with_vid_pid(ctx, qv::usb::kCameraVendorId,
                                                    qv::usb::kCameraProductIdUsb3)) == nullptr) {
            error = "no bare handle";
            return;
        }
        // The SDK holds 1:2; the bare handle has to be the other one.
        if (libusb_get_device_address(libusb_get_device(bare)) != 3) {
            libusb_close(bare);
            bare = nullptr;
            libusb_device** list = nullptr;
            const ssize_t n = libusb_get_device_list(ctx, &list);
            for (ssize_t i = 0; i < n; ++i)
                if (libusb_get_device_address(list[i]) == 3) libusb_open(list[i], &bare);
            libusb_free_device_list(list, 1);
        }
        if (bare == nullptr || libusb_claim_interface(bare, 0) != 0) {
            error = "no bare handle";
            return;
        }
        std::promise<pid_t> reader;
        events = std::thread([this, &reader] {
            reader.set_value(gettid());
            while (!stop.load()) {
                timeval tv{0, 10000};
                libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
            }
        });
        bareReader = reader.get_future().get();
    }

    ~Rig() {
        if (h != nullptr) CameraUnInit(h);
        int count = 0;
        CameraEnumerateDeviceEx(&count, 0);
        stop = true;
        if (events.joinable()) {
            libusb_interrupt_event_handler(ctx);
            events.join();
        }
        if (bare != nullptr) libusb_close(bare);
        if (ctx != nullptr) libusb_exit(ctx);
        camera.reset();
        if (bareDevice != nullptr) testbed->RemoveDevice(*bareDevice);
        testbed.reset();
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
};

Rig& GetRig() {
    static Rig rig;
    return rig;
}

void SetFps(CSimUsbCamera& model, CSimUsbDevice* device, double fps) {
    SimFrameFormat f = model.FrameFormat();
    f.fps = fps;
    model.SetFrameFormat(f);
    if (device != nullptr) device->Wake();
}

void BM_SdkFrames(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    SetFps(rig.camera->Model(), rig.camera->Device(), static_cast<double>(state.range(0)));
    if (CameraPlay(rig.h) != 0) return state.SkipWithError("CameraPlay failed");
    stImageInfo info{};
    for (int i = 0; i < 10; ++i) CameraGetImageBufferEx(rig.h, &info, 1000);  // warm up
    if (info.iWidth != kWidth || info.iHeight != kHeight)
        return state.SkipWithError("frames are not 1280 x 1024");

    // The thread clocks read outside the allocations counted: reading them allocates.
    const auto threads0 = ThreadCpuTimes();
    const uint64_t received0 = rig.camera->Model().FramesCompleted();
    const uint64_t allocs0 = qvbench::AllocationCount();
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    uint64_t processed = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFramesPerIteration; ++i) {
            if (CameraGetImageBufferEx(rig.h, &info, 1000) == nullptr)
                return state.SkipWithError("no frame");
            ++processed;
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double allocs = static_cast<double>(qvbench::AllocationCount() - allocs0);
    const auto received = static_cast<double>(rig.camera->Model().FramesCompleted() - received0);
    const auto threads1 = ThreadCpuTimes();
    CameraPause(rig.h);

    const double sdk = CpuBetween(threads0, threads1, [&](pid_t t) { return rig.IsSdk(t); });
    const double caller = CpuBetween(threads0, threads1, [&](pid_t t) { return t == rig.caller; });
    const double emulation =
        CpuBetween(threads0, threads1, [&](pid_t t) { return rig.IsEmulation(t); });
    state.SetItemsProcessed(static_cast<int64_t>(processed));
    state.counters["fps"] = received / wall;
    state.counters["processed_fps"] = static_cast<double>(processed) / wall;
    state.counters["sdk_ms/frame"] = 1e3 * sdk / received;
    state.counters["caller_ms/frame"] = 1e3 * caller / static_cast<double>(processed);
    state.counters["emulation_ms/frame"] = 1e3 * emulation / received;
    state.counters["cpu_ms/frame"] = 1e3 * cpu / received;
    state.counters["allocs/frame"] = allocs / received;
}

void BM_EmulationAlone(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    SetFps(*rig.bareModel, rig.bareDevice, static_cast<double>(state.range(0)));
    const int frameBytes = static_cast<int>(kImageBytes + qv::usb::kFrameHeaderSize);
    // The receiver's sizing: one page more than the frame.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(frameBytes) + 4096]);
    uint8_t status = 0;
    libusb_control_transfer(rig.bare, 0xC0, 0xB7, 0, 0, &status, 1, 2000);  // stream start
    BareStream s;
    libusb_transfer* t = libusb_alloc_transfer(0);
    libusb_fill_bulk_transfer(t, rig.bare, qv::usb::kBulkInEndpoint, buffer.get(), frameBytes,
                              OnBareFrame, &s, 0);
    {
        std::lock_guard lock(s.mutex);
        s.run = true;
        s.inFlight = libusb_submit_transfer(t) == 0;
    }
    auto waitFor = [&](uint64_t frames) {
        std::unique_lock lock(s.mutex);
        s.cv.wait(lock, [&] { return s.frames >= frames || s.failed || !s.inFlight; });
        return s.frames >= frames;
    };
    bool ok = waitFor(10);  // warm up
    uint64_t target = 10;
    const double reader0 = ThreadCpuSeconds(rig.bareReader);
    const uint64_t allocs0 = qvbench::AllocationCount();
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    for (auto _ : state) {
        if (!ok) break;
        target += kFramesPerIteration;
        ok = waitFor(target);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double allocs = static_cast<double>(qvbench::AllocationCount() - allocs0);
    const double reader = ThreadCpuSeconds(rig.bareReader) - reader0;
    {
        std::unique_lock lock(s.mutex);
        s.run = false;
        if (s.inFlight) libusb_cancel_transfer(t);
        s.cv.wait(lock, [&] { return !s.inFlight; });
    }
    libusb_free_transfer(t);
    libusb_control_transfer(rig.bare, 0xC0, 0xB8, 0, 0, &status, 1, 2000);  // stream stop
    if (!ok) return state.SkipWithError("bare stream failed");
    const auto frames = static_cast<double>(target - 10);
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["fps"] = frames / wall;
    state.counters["reader_ms/frame"] = 1e3 * reader / frames;
    state.counters["cpu_ms/frame"] = 1e3 * cpu / frames;
    state.counters["allocs/frame"] = allocs / frames;
}

// Repeated, with the median, min and max of every counter over the repetitions: one run's
// figures move with the other work on the machine.
void Repeated(benchmark::internal::Benchmark* b) {
    b->Arg(60)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
    b->Repetitions(9)->DisplayAggregatesOnly();
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
    b->ComputeStatistics(
        "max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}
BENCHMARK(BM_SdkFrames)->Apply(Repeated);
BENCHMARK(BM_EmulationAlone)->Apply(Repeated);

// The console output, keeping the aggregates of each benchmark's counters for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    // A table, in colour on a terminal.
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate)
                for (const auto& [name, counter] : r.counters)
                    m_values[r.run_name.function_name + "/" + r.run_name.args + " " +
                             r.aggregate_name + " " + name] = counter.value;
    }

    // The aggregate of a counter, or nothing when that benchmark did not run.
    bool Get(const std::string& bench, const char* aggregate, const char* counter,
             double& value) const {
        const auto it = m_values.find(bench + " " + aggregate + " " + counter);
        if (it == m_values.end()) return false;
        value = it->second;
        return true;
    }

  private:
    std::map<std::string, double> m_values;
};

void PrintSdkCost(const SummaryReporter& r, const char* rate, const std::string& arg) {
    double median = 0, low = 0, high = 0, caller = 0, allocs = 0, aloneAllocs = 0;
    const std::string sdk = "BM_SdkFrames/" + arg;
    if (!r.Get(sdk, "median", "sdk_ms/frame", median) || !r.Get(sdk, "min", "sdk_ms/frame", low) ||
        !r.Get(sdk, "max", "sdk_ms/frame", high) ||
        !r.Get(sdk, "median", "caller_ms/frame", caller) ||
        !r.Get(sdk, "median", "allocs/frame", allocs))
        return;
    std::printf(
        "SDK's own CPU per 1280x1024 mono frame at %s: %.3f ms median (%.3f to %.3f over the "
        "repetitions), of which the caller %.3f ms",
        rate, median, low, high, caller);
    // The allocations counted are the process's, the emulated camera's among them.
    std::printf("; %.3f allocations", allocs);
    if (r.Get("BM_EmulationAlone/" + arg, "median", "allocs/frame", aloneAllocs))
        std::printf(" (the emulation alone %.3f)", aloneAllocs);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSdkCost(reporter, "60 frames/s", "60");
    PrintSdkCost(reporter, "the highest rate", "0");
    benchmark::Shutdown();
    return 0;
}
