// Unplug soak: the simulated USB camera's cable is pulled again and again while it streams, at
// a point of the stream picked at random each cycle (while a frame is being made, between two
// frames with the stream held, or while another thread changes settings), then plugged back.
// Each cycle: while unplugged every frame wait answers a timeout (-12) or the loss (-38), never
// anything else and never after a long wait; after the replug frames come again with rising
// numbers. The time from the replug to the first frame is measured and the worst printed. At
// the end no thread and no file descriptor is left over (and, under AddressSanitizer, no
// memory). QV_SOAK_CYCLES sets the number of cycles (20 by default); QV_SOAK_SEED the pull
// points.
#include <dirent.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "UsbEndToEndFixture.h"
#include "control/CameraControl.h"

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
    UnInit(h);
}

}  // namespace
