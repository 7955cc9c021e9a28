#include "services/TimerMng.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "common/TimeUtil.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls cond for up to limit; the services under test run on their own thread.
template <typename Cond>
bool WaitFor(Cond cond, std::chrono::milliseconds limit = 30s) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return cond();
}

// Fails (and ends the process, since the stuck threads cannot be joined) when f does not
// finish in time: a deadlock must show as a failure, not as a hung test run.
template <typename F>
void RunWithin(std::chrono::seconds limit, F f, const char* what) {
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << what;
        std::fprintf(stderr, "deadlock: %s\n", what);
        std::_Exit(1);
    }
    done.get();
}

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<int> result{0};
    Clock::time_point added;
    std::atomic<long long> firstCallAfterMs{-1};
};

int CountingCallback(TimerEntry*, void* user) {
    auto* c = static_cast<Counter*>(user);
    if (c->calls.fetch_add(1) == 0) {
        c->firstCallAfterMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c->added).count();
    }
    return c->result.load();
}

class TimerMngTest : public testing::Test {
  protected:
    void SetUp() override {
        mng = CTimerMng::GetInstance();
        ASSERT_EQ(mng->GetTimerCount(), 0u);
    }
    void TearDown() override {
        EXPECT_EQ(mng->GetTimerCount(), 0u) << "a test left a timer behind";
        EXPECT_TRUE(WaitFor([&] { return !mng->IsWorkerRunning(); }));
    }
    TimerEntry* Add(Counter& c, int periodMs) {
        c.added = Clock::now();
        return mng->AddTimer(CountingCallback, periodMs, &c);
    }
    CTimerMng* mng = nullptr;
};

TEST_F(TimerMngTest, PeriodZeroRunsOnEveryTick) {
    Counter c;
    TimerEntry* e = Add(c, 0);
    EXPECT_TRUE(WaitFor([&] { return c.calls >= 5; }));
    mng->RemoveTimer(e);
}

TEST_F(TimerMngTest, FirstCallComesAfterThePeriod) {
    Counter c;
    TimerEntry* e = Add(c, 100);
    ASSERT_TRUE(WaitFor([&] { return c.calls >= 1; }));
    EXPECT_GE(c.firstCallAfterMs.load(), 100);
    mng->RemoveTimer(e);
}

TEST_F(TimerMngTest, NegativeResultRunsOnceAndRemovesEntry) {
    Counter keep, once;
    TimerEntry* kept = Add(keep, 0);
    once.result = -1;
    Add(once, 0);
    ASSERT_TRUE(WaitFor([&] { return mng->GetTimerCount() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(once.calls.load(), 1);
    EXPECT_TRUE(mng->IsWorkerRunning());
    mng->RemoveTimer(kept);
}

TEST_F(TimerMngTest, WorkerStopsWhenTheLastEntryEndsItself) {
    Counter once;
    once.result = -1;
    Add(once, 0);
    EXPECT_TRUE(WaitFor([&] { return !mng->IsWorkerRunning(); }));
    EXPECT_EQ(once.calls.load(), 1);
}

TEST_F(TimerMngTest, WorkerRunsWhileEntriesExist) {
    const unsigned starts = mng->GetWorkerStarts();
    Counter a, b;
    TimerEntry* ea = Add(a, 0);
    TimerEntry* eb = Add(b, 0);
    EXPECT_EQ(mng->GetWorkerStarts(), starts + 1);
    mng->RemoveTimer(ea);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(mng->IsWorkerRunning());
    const int before = b.calls;
    EXPECT_TRUE(WaitFor([&] { return b.calls > before; }));
    mng->RemoveTimer(eb);
    EXPECT_TRUE(WaitFor([&] { return !mng->IsWorkerRunning(); }));
    Counter c;
    TimerEntry* ec = Add(c, 0);
    EXPECT_EQ(mng->GetWorkerStarts(), starts + 2);
    EXPECT_TRUE(WaitFor([&] { return c.calls > 0; }));
    mng->RemoveTimer(ec);
}

TEST_F(TimerMngTest, ResetDelaysTheNextCallByTheFullNewPeriod) {
    Counter c;
    TimerEntry* e = Add(c, 20);
    ASSERT_TRUE(WaitFor([&] { return c.calls >= 1; }));
    const auto reset = Clock::now();
    mng->ResetTimer(e, 200);
    const int callsAtReset = c.calls;
    ASSERT_TRUE(WaitFor([&] { return c.calls > callsAtReset + 1; }));
    // The call in progress at the reset may still finish; the one after it waits 200 ms.
    EXPECT_GE(Clock::now() - reset, 200ms);
    mng->RemoveTimer(e);
}

// The threads that ran a callback, by their kernel thread ids.
struct WorkerIds {
    std::mutex mutex;
    std::set<pid_t> seen;  // guarded by mutex
    std::atomic<pid_t> last{0};
    std::atomic<int> calls{0};
    std::set<pid_t> Seen() {
        std::lock_guard lock(mutex);
        return seen;
    }
};

int RecordWorker(TimerEntry*, void* user) {
    auto* ids = static_cast<WorkerIds*>(user);
    const pid_t tid = gettid();
    {
        std::lock_guard lock(ids->mutex);
        ids->seen.insert(tid);
    }
    ids->last = tid;
    ++ids->calls;
    return 0;
}

bool ThreadAlive(pid_t tid) {
    return access(("/proc/self/task/" + std::to_string(tid)).c_str(), F_OK) == 0;
}

// Restarting within one tick must reuse the stopping worker (or start one after it has left),
// never leave a second worker looping. (Threads are told apart by their ids: a count of the
// process's threads would also see a worker of an earlier test that is still on its way out.)
TEST_F(TimerMngTest, RemoveAndAddWithinOneTickNeverLeavesTwoWorkers) {
    WorkerIds early, final;
    for (int i = 0; i < 200; ++i) mng->RemoveTimer(mng->AddTimer(RecordWorker, 0, &early));
    TimerEntry* last = mng->AddTimer(RecordWorker, 0, &final);
    ASSERT_TRUE(WaitFor([&] { return final.calls.load() >= 3; }));
    const pid_t worker = final.last.load();
    // Every other worker leaves (within a tick, on an idle machine); one that stayed would be
    // looping for good, and would take its turns at the entry as well.
    std::set<pid_t> others = early.Seen();
    others.erase(worker);
    EXPECT_TRUE(WaitFor([&] {
        for (pid_t tid : others)
            if (ThreadAlive(tid)) return false;
        return true;
    }));
    const int calls = final.calls.load();
    ASSERT_TRUE(WaitFor([&] { return final.calls.load() >= calls + 5; }));
    EXPECT_EQ(final.Seen(), std::set<pid_t>{worker});
    mng->RemoveTimer(last);
    EXPECT_TRUE(WaitFor([&] { return !ThreadAlive(worker); }));
}

struct SelfRemover {
    CTimerMng* mng;
    TimerEntry* self = nullptr;
    TimerEntry* other = nullptr;
    std::atomic<int> calls{0};
};

int RemoveOtherAndSelf(TimerEntry* entry, void* user) {
    auto* s = static_cast<SelfRemover*>(user);
    ++s->calls;
    if (s->other != nullptr) {
        s->mng->RemoveTimer(s->other);
        s->other = nullptr;
    }
    s->mng->RemoveTimer(entry);  // returns at once from inside the callback
    return 0;
}

TEST_F(TimerMngTest, RemovalFromInsideACallbackDoesNotWait) {
    Counter other;
    SelfRemover s{mng};
    s.other = Add(other, 100000);
    s.self = mng->AddTimer(RemoveOtherAndSelf, 0, &s);
    ASSERT_TRUE(WaitFor([&] { return mng->GetTimerCount() == 0; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(s.calls.load(), 1);
    EXPECT_EQ(other.calls.load(), 0);
}

struct Slow {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
};

int SlowCallback(TimerEntry*, void* user) {
    auto* s = static_cast<Slow*>(user);
    s->started = true;
    std::this_thread::sleep_for(100ms);
    s->finished = true;
    return 0;
}

TEST_F(TimerMngTest, RemovalFromAnotherThreadWaitsForTheRunningCallback) {
    Slow s;
    TimerEntry* e = mng->AddTimer(SlowCallback, 0, &s);
    ASSERT_TRUE(WaitFor([&] { return s.started.load(); }));
    mng->RemoveTimer(e);
    EXPECT_TRUE(s.finished.load()) << "RemoveTimer returned while the callback still ran";
}

struct LockTaker {
    std::mutex* lock;
    std::atomic<int> calls{0};
};

int TakeLockCallback(TimerEntry*, void* user) {
    auto* t = static_cast<LockTaker*>(user);
    std::lock_guard guard(*t->lock);
    ++t->calls;
    return 0;
}

// A callback blocking on a device lock while another thread holds that lock and removes a
// different timer: neither may wait for the other.
TEST_F(TimerMngTest, CallbackTakingALockHeldByARemoverDoesNotDeadlock) {
    std::mutex deviceLock;
    LockTaker taker{&deviceLock};
    TimerEntry* locking = mng->AddTimer(TakeLockCallback, 0, &taker);
    ASSERT_TRUE(WaitFor([&] { return taker.calls > 0; }));
    RunWithin(
        10s,
        [&] {
            for (int i = 0; i < 20; ++i) {
                Counter c;
                std::lock_guard guard(deviceLock);
                TimerEntry* e = Add(c, 0);
                std::this_thread::sleep_for(15ms);  // let the worker block on the lock
                mng->RemoveTimer(e);
                mng->ResetTimer(locking, 0);
            }
        },
        "remover holding the device lock deadlocked with the timer worker");
    mng->RemoveTimer(locking);
}

TEST(TimeUtil, SleepZeroReturnsAtOnce) {
    const auto start = Clock::now();
    SleepMs(0);
    // Returns rather than waiting for a wake-up; the bound is generous for a busy machine.
    EXPECT_LT(Clock::now() - start, 1s);
}

void IgnoreAlarm(int) {}

TEST(TimeUtil, SleepLastsTheWholeTimeDespiteSignals) {
    struct sigaction sa {};
    sa.sa_handler = IgnoreAlarm;  // no SA_RESTART: nanosleep is interrupted
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
    itimerval every{{0, 1000}, {0, 1000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);
    const auto start = Clock::now();
    SleepMs(60);
    const auto elapsed = Clock::now() - start;
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(elapsed, 60ms);
}

TEST(TimeUtil, TickCountFollowsTheSteadyClock) {
    const uint64_t a = GetTickCountMs();
    SleepMs(20);
    const uint64_t b = GetTickCountMs();
    EXPECT_GE(b - a, 20u);
}

}  // namespace
