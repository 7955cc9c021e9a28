// The long-exposure cycle of the IMX294 and IMX533 on the real timer service: Uninit and the
// driver's destruction while the cycle runs return, and no step follows them; exposure changes
// on the caller's thread against the steps on the timer worker (a ThreadSanitizer run).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "CallCounter.h"
#include "DriverFixture.h"
#include "TimerServiceTurns.h"
#include "services/TimerMng.h"

namespace {

using namespace qvsim;
using namespace std::chrono_literals;

constexpr uint32_t kBayer8 = 0x01080008;
constexpr auto kDeadline = 20s;  // the busiest machine steps a 100 ms timer well within this

class LongExposureThreads : public DriverFixture {
  protected:
    // The writes of the cycle so far: the chip's exposure register and the FPGA word.
    size_t CycleWrites() const {
        size_t n = 0;
        for (const RegWrite& w : dev->FpgaRegWrites()) n += w.reg == 39 ? 1 : 0;
        for (const RegWrite& w : dev->SensorRegWrites()) n += w.reg == 0x3111 ? 1 : 0;
        return n;
    }
    // Waits until the cycle has made more writes than `than`.
    ::testing::AssertionResult StepAfter(size_t than) const {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (CycleWrites() <= than) {
            if (std::chrono::steady_clock::now() > end)
                return ::testing::AssertionFailure() << "no step of the cycle came";
            std::this_thread::sleep_for(2ms);
        }
        return ::testing::AssertionSuccess();
    }
    // Runs f on another thread; false when it has not returned within the deadline (a driver
    // waiting for itself).
    template <class F>
    bool ReturnsInTime(F&& f) {
        auto done = std::async(std::launch::async, std::forward<F>(f));
        return done.wait_for(kDeadline) == std::future_status::ready;
    }
};

TEST_F(LongExposureThreads, UninitAndDestructionWhileTheCycleRuns) {
    CTimerMng& timers = *CTimerMng::GetInstance();
    const size_t before = timers.GetTimerCount();
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "uninit");
        Start(107, SENSOR_TYPE_IMX294C, Window(640, 480), 2, kBayer8);
        ASSERT_EQ(sensor->SetExposure(1.2e6), 0);
        EXPECT_EQ(timers.GetTimerCount(), before + 1);
        ASSERT_TRUE(StepAfter(0));
        if (destroy) {
            ASSERT_TRUE(ReturnsInTime([&] { sensor.reset(); }));
        } else {
            ASSERT_TRUE(ReturnsInTime([&] { EXPECT_EQ(sensor->Uninit(), 0); }));
        }
        EXPECT_EQ(timers.GetTimerCount(), before);
        // Nothing follows: the next steps would have come within 15 or 100 ms of the service's
        // time.
        const size_t writes = CycleWrites();
        ASSERT_TRUE(TimerServiceRanPast(100, kDeadline));
        EXPECT_EQ(CycleWrites(), writes);
    }
}

// Exposure changes on this thread while the timer worker steps the cycle: restarts, stops and
// new starts, each right after a step, when the next one is 15 ms away.
TEST_F(LongExposureThreads, ExposureChangesAgainstTheRunningCycle) {
    for (SensorTypeE code : {SENSOR_TYPE_IMX294C, SENSOR_TYPE_IMX533C}) {
        SCOPED_TRACE(code);
        Start(107, code, Window(640, 480), 2, kBayer8);
        const double kExposures[] = {1.2e6, 1.5e6, 0.2e6, 2e6, 1.1e6};
        size_t writes = CycleWrites();
        for (int i = 0; i < 15; ++i) {
            const double us = kExposures[i % 5];
            ASSERT_EQ(sensor->SetExposure(us), 0);
            ASSERT_EQ(sensor->SetAnalogGain(1000 + 100 * i), 0);
            double reported = 0;
            sensor->GetExposure(&reported);
            EXPECT_GT(reported, 0);
            if (us >= 1e6) {
                ASSERT_TRUE(StepAfter(writes));
            }
            writes = CycleWrites();
        }
        ASSERT_TRUE(ReturnsInTime([&] { sensor.reset(); }));
    }
}

// Long exposures set on another thread while the stream closes, as a host may set them while
// the camera is released: once Uninit has returned, no cycle runs, whichever call came last.
TEST_F(LongExposureThreads, ExposuresRacingTheStreamClose) {
    CTimerMng& timers = *CTimerMng::GetInstance();
    const size_t before = timers.GetTimerCount();
    constexpr int kRounds = 20;
    for (SensorTypeE code : {SENSOR_TYPE_IMX294C, SENSOR_TYPE_IMX533C}) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(testing::Message() << code << ", round " << round);
            Start(107, code, Window(640, 480), 2, kBayer8);
            CCallCounter calls;
            std::atomic<bool> stop{false};
            std::thread setter([&] {
                for (int i = 0; !stop; ++i) {
                    sensor->SetExposure(i % 2 == 0 ? 1.2e6 : 2e6);
                    calls.Count();
                }
            });
            // Closed after the first exposure or right away, and set twice more afterwards.
            if (round % 2 == 1) {
                EXPECT_TRUE(calls.WaitFor(1, kDeadline));
            }
            EXPECT_EQ(sensor->Uninit(), 0);
            EXPECT_TRUE(calls.WaitForMore(2, kDeadline));
            stop = true;
            setter.join();
            EXPECT_EQ(timers.GetTimerCount(), before);
            EXPECT_EQ(dev->FpgaReg(39), 0u);
            sensor.reset();
        }
    }
}

}  // namespace
