// Unplug soak: the simulated USB camera's cable is pulled again and again while it streams, at
// a point of the stream picked at random each cycle (while a frame is being made, between two
// frames with the stream held, or while another thread changes settings), then plugged back.
// Each cycle: while unplugged every frame wait answers a timeout (-12) or the loss (-38), never
// anything else and never after a long wait; after the replug frames come again with rising
// numbers. The time from the replug to the first frame is measured and the worst printed. At
// the end no thread and no file descriptor is left over (and, under AddressSanitizer, no
// memory), and the heap in use and the resident set have levelled off after the first cycles;
// their figures after each cycle are printed. QV_SOAK_CYCLES sets the number of cycles (20 by
// default); QV_SOAK_SEED the pull points.
#include <dirent.h>
#include <malloc.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <vector>

#include "UsbEndToEndFixture.h"
#include "control/CameraControl.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace std::chrono_literals;
using e2etest::Clock;
using e2etest::CManualClock;
using e2etest::UsbEndToEnd;

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::atoi(text);
}

size_t Entries(const char* dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}
size_t Threads() {
    return Entries("/proc/self/task");
}
size_t Descriptors() {
    return Entries("/proc/self/fd");
}

// Bytes of heap in use: the allocator's count of live blocks, the sanitizer's when it replaces
// malloc.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

// The resident set in bytes.
size_t Resident() {
    std::ifstream status("/proc/self/status");
    std::string key;
    size_t kib = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kib;
            return kib * 1024;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

struct Usage {
    size_t rss, heap, threads, fds;
};
Usage Now() {
    return {Resident(), HeapInUse(), Threads(), Descriptors()};
}
void Print(const std::string& when, const Usage& u) {
    std::printf("unplug soak: %s: rss %.2f MiB, heap %.2f MiB, %zu threads, %zu fds\n",
                when.c_str(), static_cast<double>(u.rss) / (1 << 20),
                static_cast<double>(u.heap) / (1 << 20), u.threads, u.fds);
    std::fflush(stdout);
}

enum class PullPoint { kMidFrame, kBetweenFrames, kDuringSetting };
const char* Name(PullPoint p) {
    switch (p) {
        case PullPoint::kMidFrame:
            return "mid-frame";
        case PullPoint::kBetweenFrames:
            return "between frames";
        default:
            return "during a setting change";
    }
}

class UsbUnplugSoak : public UsbEndToEnd {
  protected:
    // Frames with rising numbers; the number of the last one.
    uint64_t ExpectRisingFrames(HANDLE h, int frames, const std::string& when) {
        uint64_t last = 0;
        for (int i = 0; i < frames; ++i) {
            CameraFrameHandle f = nullptr;
            const int r = CameraGetRawImageBuffer(h, &f, 10000);
            EXPECT_EQ(r, 0) << "no frame " << when;
            if (r != 0) return last;
            uint64_t no = 0;
            EXPECT_EQ(CameraGetImageFrameNo(h, f, &no), 0);
            EXPECT_EQ(CameraReleaseFrameHandle(h, f), 0);
            if (i > 0) {
                EXPECT_GT(no, last) << when;
            }
            last = no;
        }
        return last;
    }
};

TEST_F(UsbUnplugSoak, PullAndReplugWhileStreaming) {
    const int cycles = EnvInt("QV_SOAK_CYCLES", 20);
    const unsigned seed = static_cast<unsigned>(EnvInt("QV_SOAK_SEED", static_cast<int>(getpid())));
    std::printf("unplug soak: %d cycles, seed %u (QV_SOAK_SEED)\n", cycles, seed);
    std::mt19937 rng(seed);

    CSimUsbImx290Camera& cam = Plug(72, "SOAK-USB", 60);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    // The loss rule's clock is the test's: the loss is found as soon as the test says so.
    CManualClock clock;
    static_cast<CameraControl*>(h)->SetClock(&clock);
    ASSERT_EQ(CameraPlay(h), 0);
    ExpectRisingFrames(h, 3, "before the first pull");

    // A frame begins: the mid-frame pulls wait for this.
    std::mutex mutex;
    std::condition_variable begun;
    uint64_t frameStarts = 0;
    auto hookFrames = [&] {
        cam.Model().SetFrameStartHook([&](SimFrameFormat&) {
            std::lock_guard lock(mutex);
            ++frameStarts;
            begun.notify_all();
        });
    };
    hookFrames();

    size_t threadsBase = 0, fdsBase = 0;
    const Usage streaming = Now();
    std::vector<Usage> usage;  // at the end of each cycle
    Clock::duration worst{};
    int worstCycle = 0;
    int counts[3] = {};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const auto point = static_cast<PullPoint>(rng() % 3);
        ++counts[static_cast<int>(point)];
        SCOPED_TRACE("cycle " + std::to_string(cycle) + ", pulled " + Name(point));

        std::atomic<bool> changing{false};
        std::thread setter;
        switch (point) {
            case PullPoint::kMidFrame: {
                // Pulled as soon as the next frame has begun, after a random part of a frame time.
                std::unique_lock lock(mutex);
                const uint64_t seen = frameStarts;
                ASSERT_TRUE(begun.wait_for(lock, 10s, [&] { return frameStarts > seen; }));
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 12000));
                cam.Pull();
                break;
            }
            case PullPoint::kBetweenFrames: {
                // The stream held after one more whole frame: no frame is in flight.
                cam.Model().GateFrames(true);
                const uint64_t done = cam.Model().FramesCompleted();
                cam.AllowFrames(1);
                const auto until = Clock::now() + 10s;
                while (Clock::now() < until && cam.Model().FramesCompleted() <= done)
                    std::this_thread::sleep_for(1ms);
                ASSERT_GT(cam.Model().FramesCompleted(), done) << "the allowed frame never came";
                cam.Pull();
                break;
            }
            case PullPoint::kDuringSetting:
                changing = true;
                setter = std::thread([&] {
                    for (int i = 0; changing; ++i) {
                        CameraSetExposureTime(h, 1000.0 + (i % 10) * 500.0);
                        CameraSetAnalogGain(h, 1 + i % 4);
                        CameraSetMirror(h, 0, i % 2);
                    }
                });
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
                cam.Pull();
                break;
        }

        // Unplugged: frames that came before the cable went, then timeouts; once the loss time
        // has passed, the loss. Nothing else, and no wait much longer than asked.
        CameraFrameHandle f = nullptr;
        int r = 0;
        for (int i = 0; i < 16 && (r = CameraGetRawImageBuffer(h, &f, 100)) == 0; ++i)
            CameraReleaseFrameHandle(h, f);
        EXPECT_EQ(r, CAMERA_STATUS_TIMEOUT);
        clock.Advance(10000);
        bool lost = false;
        for (int i = 0; i < 4; ++i) {
            const auto start = Clock::now();
            r = CameraGetRawImageBuffer(h, &f, 100);
            EXPECT_TRUE(r == CAMERA_STATUS_TIMEOUT || r == CAMERA_STATUS_DEVICE_LOST) << r;
            EXPECT_LT(Clock::now() - start, 10s);
            if (r == 0) CameraReleaseFrameHandle(h, f);
            lost = lost || r == CAMERA_STATUS_DEVICE_LOST;
        }
        EXPECT_TRUE(lost) << "the loss was never reported";
        if (setter.joinable()) {
            changing = false;
            setter.join();
        }

        // Back: the controller finds the camera at its next keep-alive round, opens it and
        // restarts the stream.
        cam.PlugAgain();
        hookFrames();
        const auto plugged = Clock::now();
        const auto deadline = plugged + 60s;
        while (Clock::now() < deadline && (r = CameraGetRawImageBuffer(h, &f, 100)) != 0) {
            EXPECT_TRUE(r == CAMERA_STATUS_TIMEOUT || r == CAMERA_STATUS_DEVICE_LOST) << r;
        }
        ASSERT_EQ(r, 0) << "no frame within 60 s of the replug";
        const auto took = Clock::now() - plugged;
        if (took > worst) {
            worst = took;
            worstCycle = cycle;
        }
        EXPECT_EQ(CameraReleaseFrameHandle(h, f), 0);
        ExpectRisingFrames(h, 3, "after the replug");
        if (HasFatalFailure()) return;
        if (cycle == 0) {
            threadsBase = Threads();
            fdsBase = Descriptors();
        }
        usage.push_back(Now());
        Print("after cycle " + std::to_string(cycle + 1), usage.back());
    }
    std::printf(
        "unplug soak: pulled %d x mid-frame, %d x between frames, %d x during a setting change; "
        "worst reconnection %.0f ms (cycle %d)\n",
        counts[0], counts[1], counts[2], std::chrono::duration<double, std::milli>(worst).count(),
        worstCycle);

    // Nothing left over from the cycles: the counts of the first cycle's end, once the threads
    // of the last reconnection have ended.
    if (cycles > 1) {
        const auto deadline = Clock::now() + 30s;
        while (Clock::now() < deadline && (Threads() > threadsBase || Descriptors() > fdsBase))
            std::this_thread::sleep_for(20ms);
        EXPECT_LE(Threads(), threadsBase);
        EXPECT_LE(Descriptors(), fdsBase);
    }

    // Memory levels off once the first cycles have set up what the process keeps (the frame
    // pool, the allocator's arenas, the stacks of the reconnection threads). From the end of the
    // warm-up to the last cycle the heap in use grows by less than a leak of 64 KiB a cycle would
    // add, with room for the buffers that happen to be held at either reading. The resident set
    // moves in steps of a few MiB as the allocator maps and keeps memory; its bound catches a
    // leak of whole frames or of mappings in the long runs. Under a sanitizer the resident set
    // holds the freed memory the sanitizer keeps back, so only the heap is checked.
    constexpr int kWarmUp = 5;
    constexpr size_t kKiB = 1024;
    if (usage.empty()) return UnInit(h);
    Print("streaming before the first pull", streaming);
    const std::string atEnd = "at the end of cycle ";
    Print(atEnd + "1", usage.front());
    if (cycles > kWarmUp) Print(atEnd + std::to_string(kWarmUp), usage[kWarmUp - 1]);
    Print(atEnd + std::to_string(cycles), usage.back());
    const size_t after = cycles > kWarmUp ? static_cast<size_t>(cycles - kWarmUp) : 0;
    const size_t heapBound = 512 * kKiB + after * 16 * kKiB;
    if (after * 64 * kKiB > heapBound) {
        const Usage& warm = usage[kWarmUp - 1];
        const Usage& last = usage.back();
        EXPECT_LE(last.heap, warm.heap + heapBound)
            << "the heap in use grew from " << warm.heap << " to " << last.heap << " bytes in "
            << after << " cycles";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_LE(last.rss, warm.rss + 8192 * kKiB + after * 64 * kKiB)
            << "the resident set grew from " << warm.rss << " to " << last.rss << " bytes in "
            << after << " cycles";
#endif
    } else {
        std::printf("unplug soak: too few cycles after the warm-up to check the memory\n");
    }
    UnInit(h);
}

}  // namespace
