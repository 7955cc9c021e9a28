// Waiting on the process's timer service instead of on the clock: a test that asserts that no
// timer callback comes any more (a cycle that must have ended) waits until the service has run
// far enough that one would have come, however slow the machine.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "services/TimerMng.h"

namespace qvsim {

// Registers a probe timer of periodMs and waits until the service has called it twice; false
// when that did not happen within `limit`. Any timer registered (or reset) before the probe's
// first call, with a period of periodMs or less, has been called by then: the worker calls
// every due entry in registration order on each tick.
inline bool TimerServiceRanPast(int periodMs, std::chrono::seconds limit) {
    struct Probe {
        std::mutex mutex;
        std::condition_variable called;
        int calls = 0;
    } probe;
    CTimerMng& service = *CTimerMng::GetInstance();
    TimerEntry* entry = service.AddTimer(
        [](TimerEntry*, void* user) {
            auto* p = static_cast<Probe*>(user);
            {
                std::lock_guard lock(p->mutex);
                ++p->calls;
            }
            p->called.notify_all();
            return 0;
        },
        periodMs, &probe);
    bool ran = false;
    {
        std::unique_lock lock(probe.mutex);
        ran = probe.called.wait_for(lock, limit, [&] { return probe.calls >= 2; });
    }
    // Waits for a call in progress: the probe outlives its last use.
    service.RemoveTimer(entry);
    return ran;
}

}  // namespace qvsim
