// What the USB emulation itself costs: the simulated camera behind the real libusb under
// umockdev, against the same camera reached in-process. Later end-to-end USB benchmarks subtract
// these figures to see the SDK's own cost.
//
// Reported: time per vendor control transfer (IN with a 3-byte reply, OUT with 16 and 1024 data
// bytes), and bulk streaming throughput (bytes/s, so time per MB is its inverse) with frames of
// 64 KiB and 1 MiB, four transfers of one frame each in flight, the camera producing as fast as
// it is read; "cpu_per_s" is the process CPU time per wall second while streaming.
#include <benchmark/benchmark.h>
#include <libusb.h>
#include <sys/resource.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "SimUsbInProcess.h"
#include "SimUsbTestbed.h"
#include "usb/UsbFrameHeader.h"
#include "usb/UsbIds.h"
#include "usb/UsbVendorRequest.h"

namespace {

namespace usb = qv::usb;

struct LibusbLink {
    libusb_device_handle* handle;
    int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
                   uint16_t outLen, uint8_t* outBuf) const {
        const int n = inLen ? libusb_control_transfer(handle, 0xC0, request, value, index, inBuf,
                                                      inLen, usb::kControlTimeoutMs)
                            : libusb_control_transfer(handle, 0x40, request, value, index, outBuf,
                                                      outLen, usb::kControlTimeoutMs);
        return usb::CheckTransferred(inLen ? inLen : outLen, n);
    }
};

// One testbed, camera, libusb context and open handle for the whole program: the testbed has to
// exist before libusb_init.
struct Rig {
    CSimUsbTestbed testbed;
    std::shared_ptr<CSimUsbCamera> camera = std::make_shared<CSimUsbCamera>();
    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
    std::thread events;
    std::atomic<bool> stop{false};

    Rig() {
        testbed.AddCamera(camera, {.port = {1, 2}});
        if (libusb_init(&ctx) != 0) return;
        handle = libusb_open_device_with_vid_pid(ctx, qv::usb::kCameraVendorId,
                                                 qv::usb::kCameraProductIdUsb3);
        if (handle == nullptr || libusb_claim_interface(handle, 0) != 0) return;
        events = std::thread([this] {
            while (!stop.load()) {
                timeval tv{0, 100000};
                libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
            }
        });
    }
    ~Rig() {
        stop = true;
        if (events.joinable()) {
            libusb_interrupt_event_handler(ctx);
            events.join();
        }
        if (handle) libusb_close(handle);
        if (ctx) libusb_exit(ctx);
    }
};

Rig& GetRig() {
    static Rig rig;
    return rig;
}

void BM_ControlIn_Emulated(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.handle) return state.SkipWithError("no emulated camera");
    LibusbLink link{rig.handle};
    uint32_t value;
    for (auto _ : state)
        if (usb::ReadFpgaReg(link, 129, &value) != 0) return state.SkipWithError("transfer failed");
}
BENCHMARK(BM_ControlIn_Emulated)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ControlOut_Emulated(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.handle) return state.SkipWithError("no emulated camera");
    LibusbLink link{rig.handle};
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        if (usb::Execute(link, usb::ConfigData(0, data.size()), nullptr, data.data()) != 0)
            return state.SkipWithError("transfer failed");
    }
    rig.camera->ClearConfigData();
    rig.camera->ClearRequests();
}
BENCHMARK(BM_ControlOut_Emulated)->Arg(16)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ControlIn_InProcess(benchmark::State& state) {
    CSimUsbCamera camera;
    CSimUsbInProcess link(camera);
    uint32_t value;
    for (auto _ : state) {
        usb::ReadFpgaReg(link, 129, &value);
        // The model logs every request; keep the log from growing through the run.
        if ((state.iterations() & 0xFFF) == 0) camera.ClearRequests();
    }
}
BENCHMARK(BM_ControlIn_InProcess)->Unit(benchmark::kMicrosecond);

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// An open handle with the event thread running and nothing in flight: with the FIFO node libusb's
// poll() sleeps, so this should cost next to no CPU.
void BM_IdleOpenHandle_Emulated(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.handle) return state.SkipWithError("no emulated camera");
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    state.counters["cpu_per_s"] = (CpuSeconds() - cpu0) / wall;
}

struct Stream {
    std::mutex mutex;  // guards everything below
    std::condition_variable cv;
    int64_t frames = 0;
    int64_t bytes = 0;
    int inFlight = 0;
    bool stop = false;
    bool failed = false;
};

void LIBUSB_CALL OnFrame(libusb_transfer* t) {
    auto* s = static_cast<Stream*>(t->user_data);
    std::lock_guard lock(s->mutex);
    if (t->status == LIBUSB_TRANSFER_COMPLETED) {
        ++s->frames;
        s->bytes += t->actual_length;
        if (!s->stop && libusb_submit_transfer(t) == 0) {
            s->cv.notify_all();
            return;
        }
    } else if (t->status != LIBUSB_TRANSFER_CANCELLED) {
        s->failed = true;
    }
    --s->inFlight;
    s->cv.notify_all();
}

void BM_BulkStream_Emulated(benchmark::State& state) {
    Rig& rig = GetRig();
    if (!rig.handle) return state.SkipWithError("no emulated camera");
    const int frameBytes = static_cast<int>(state.range(0));
    constexpr int kInFlight = 4;
    constexpr int kFramesPerIteration = 16;
    rig.camera->SetFrameFormat(
        {.imageBytes = static_cast<uint32_t>(frameBytes) - usb::kFrameHeaderSize, .fps = 0});
    LibusbLink link{rig.handle};
    uint8_t st;
    usb::Execute(link, usb::StreamStart(), &st);

    Stream s;
    std::vector<std::vector<uint8_t>> buffers(kInFlight, std::vector<uint8_t>(frameBytes));
    std::vector<libusb_transfer*> transfers;
    for (int i = 0; i < kInFlight; ++i) {
        libusb_transfer* t = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(t, rig.handle, usb::kBulkInEndpoint, buffers[i].data(),
                                  frameBytes, OnFrame, &s, 0);
        transfers.push_back(t);
    }
    {
        std::lock_guard lock(s.mutex);
        for (auto* t : transfers)
            if (libusb_submit_transfer(t) == 0) ++s.inFlight;
    }
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    int64_t target = 0;
    for (auto _ : state) {
        target += kFramesPerIteration;
        std::unique_lock lock(s.mutex);
        s.cv.wait(lock, [&] { return s.frames >= target || s.failed || s.inFlight == 0; });
        if (s.failed || s.inFlight == 0) {
            lock.unlock();
            state.SkipWithError("stream failed");
            break;
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    {
        std::unique_lock lock(s.mutex);
        s.stop = true;
        state.SetBytesProcessed(s.bytes);
        state.counters["frames_per_s"] =
            benchmark::Counter(static_cast<double>(s.frames), benchmark::Counter::kIsRate);
    }
    state.counters["cpu_per_s"] = wall > 0 ? cpu / wall : 0;
    usb::Execute(link, usb::StreamStop(), &st);
    for (auto* t : transfers) libusb_cancel_transfer(t);
    {
        std::unique_lock lock(s.mutex);
        s.cv.wait(lock, [&] { return s.inFlight == 0; });
    }
    for (auto* t : transfers) libusb_free_transfer(t);
}
BENCHMARK(BM_IdleOpenHandle_Emulated)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_BulkStream_Emulated)
    ->Arg(64 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
