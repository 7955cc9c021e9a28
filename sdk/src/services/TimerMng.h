// Process-wide periodic callback service: one worker thread ticking every 10 ms while timers
// are registered.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>

struct TimerEntry {
    // A negative result removes the entry; its handle is invalid from then on.
    using Callback = int (*)(TimerEntry* entry, void* user);

    Callback callback = nullptr;
    std::chrono::steady_clock::time_point lastRun;
    int period = 0;  // milliseconds
    void* user = nullptr;

  private:
    friend class CTimerMng;
    uint64_t m_tick = 0;         // worker tick in which the entry was last looked at
    bool m_running = false;      // its callback is running on the worker
    bool m_removed = false;      // unlinked while its callback ran
    bool m_workerFrees = false;  // removed from inside its own callback: the worker frees it
};

// Lock order: callers may hold their own locks when they call in; the list mutex is never held
// while a callback runs, so a callback may take such a lock (or add, reset and remove timers).
// The one exception is inherent: removing an entry from another thread waits for that entry's
// running callback, so that callback must only try a lock the remover may hold.
class CTimerMng {
  public:
    static CTimerMng* GetInstance();

    // The first call comes one period after registration, on the worker's next tick at or after
    // it. The first registration starts the worker.
    TimerEntry* AddTimer(TimerEntry::Callback callback, int periodMs, void* user);

    // Unlinks and frees the entry. From another thread it first waits until the entry's running
    // callback has returned; from inside that callback it returns at once and the entry is freed
    // after the callback. Removing the last entry stops the worker. Null only stops an idle worker.
    void RemoveTimer(TimerEntry* entry);

    // The next call comes a full new period after the reset.
    void ResetTimer(TimerEntry* entry, int periodMs);
    // The entry's period in ms, as the last AddTimer or ResetTimer set it.
    int GetPeriod(const TimerEntry* entry);

    size_t GetTimerCount();
    bool IsWorkerRunning();
    // Number of worker threads started so far (tests check that restarts never overlap).
    unsigned GetWorkerStarts();

    CTimerMng(const CTimerMng&) = delete;
    CTimerMng& operator=(const CTimerMng&) = delete;

  private:
    CTimerMng() = default;
    ~CTimerMng() = default;

    void WorkerLoop();
    void StopIfIdleLocked();

    static constexpr std::chrono::milliseconds kTick{10};

    std::mutex m_mutex;                      // guards everything below and every entry's fields
    std::condition_variable m_wake;          // stop requests for the worker
    std::condition_variable m_callbackDone;  // a removed entry's callback has returned
    std::list<TimerEntry*> m_entries;        // registration order is call order within a tick
    std::thread::id m_workerId;
    bool m_workerRunning = false;
    bool m_stop = false;
    uint64_t m_tick = 0;
    unsigned m_workerStarts = 0;
};
