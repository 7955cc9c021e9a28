// What a USB camera's frames cost the SDK: the simulated mono camera (IMX290 on board 102, a
// 1280 x 1024 region, 16-byte headers) behind the real libusb under umockdev, each frame
// received by the SDK's frame receiver into the pool and processed to mono 8-bit through
// CameraGetImageBufferEx; and, in the same run, the emulation alone: the same camera model
// streaming the same frames into a bare libusb reader that keeps one transfer in flight as the
// receiver does. The difference of the two CPU times per frame is the SDK's own share (receive,
// pool, processing); the difference of the allocations per frame likewise.
//
// Each runs with the camera at 60 frames/s (every frame received and processed) and as fast as
// it is read (the highest rate the emulation and the SDK reach together). Counters:
//   fps              frames received per second (camera frames read whole)
//   cpu_ms/frame     process CPU time per received frame (every thread)
//   caller_ms/frame  CPU time of the thread calling CameraGetImageBufferEx per processed frame
//   allocs/frame     heap allocations per received frame once streaming
// The summary at the end gives the SDK's share at 60 frames/s.
#include <benchmark/benchmark.h>
#include <libusb.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
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

        bareModel = std::make_shared<CSimUsbCamera>(SimUsbCameraConfig{
            .frames = {.imageBytes = kImageBytes,
                       .header = true,
                       .fps = 60,
                       .pattern = SimFramePattern::kConstant,
                       .constant = 0x5A}});
        bareDevice = &testbed->AddCamera(bareModel, {.port = {1, 3}});

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
        events = std::thread([this] {
            while (!stop.load()) {
                timeval tv{0, 10000};
                libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
            }
        });
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

// Results kept for the summary: "sdk/<rate>" and "alone/<rate>", rate 0 for the highest.
std::map<std::string, double> g_cpuMsPerFrame;
std::map<std::string, double> g_allocsPerFrame;

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

    const uint64_t received0 = rig.camera->Model().FramesCompleted();
    const uint64_t allocs0 = qvbench::AllocationCount();
    const double cpu0 = ProcessCpuSeconds();
    const double caller0 = ThreadCpuSeconds();
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
    const double caller = ThreadCpuSeconds() - caller0;
    const double allocs = static_cast<double>(qvbench::AllocationCount() - allocs0);
    const auto received =
        static_cast<double>(rig.camera->Model().FramesCompleted() - received0);
    CameraPause(rig.h);

    state.SetItemsProcessed(static_cast<int64_t>(processed));
    state.counters["fps"] = received / wall;
    state.counters["processed_fps"] = static_cast<double>(processed) / wall;
    state.counters["cpu_ms/frame"] = 1e3 * cpu / received;
    state.counters["caller_ms/frame"] = 1e3 * caller / static_cast<double>(processed);
    state.counters["allocs/frame"] = allocs / received;
    const std::string key = "sdk/" + std::to_string(state.range(0));
    g_cpuMsPerFrame[key] = 1e3 * cpu / received;
    g_allocsPerFrame[key] = allocs / received;
}
BENCHMARK(BM_SdkFrames)->Arg(60)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

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
    state.counters["cpu_ms/frame"] = 1e3 * cpu / frames;
    state.counters["allocs/frame"] = allocs / frames;
    const std::string key = "alone/" + std::to_string(state.range(0));
    g_cpuMsPerFrame[key] = 1e3 * cpu / frames;
    g_allocsPerFrame[key] = allocs / frames;
}
BENCHMARK(BM_EmulationAlone)
    ->Arg(60)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void PrintShare(const char* rate, const std::string& sdk, const std::string& alone) {
    if (!g_cpuMsPerFrame.count(sdk) || !g_cpuMsPerFrame.count(alone)) return;
    std::printf("SDK's own share per 1280x1024 mono frame at %s: %.3f ms CPU, %.2f allocations\n",
                rate, g_cpuMsPerFrame[sdk] - g_cpuMsPerFrame[alone],
                g_allocsPerFrame[sdk] - g_allocsPerFrame[alone]);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintShare("60 frames/s", "sdk/60", "alone/60");
    PrintShare("the highest rate", "sdk/0", "alone/0");
    benchmark::Shutdown();
    return 0;
}
