#include "services/TimerMng.h"

#include <algorithm>

CTimerMng* CTimerMng::GetInstance() {
    // Never destroyed: timers may still be registered while static destructors run.
    static CTimerMng* const instance = new CTimerMng();
    return instance;
}

TimerEntry* CTimerMng::AddTimer(TimerEntry::Callback callback, int periodMs, void* user) {
    auto* entry = new TimerEntry();
    entry->callback = callback;
    entry->period = periodMs;
    entry->user = user;
    entry->lastRun = std::chrono::steady_clock::now();

    std::lock_guard lock(m_mutex);
    entry->m_tick = m_tick;  // first looked at on the next tick
    m_entries.push_back(entry);
    m_stop = false;
    // A worker told to stop that has not left yet keeps running instead of a second one starting.
    if (!m_workerRunning) {
        m_workerRunning = true;
        ++m_workerStarts;
        // Detached: the worker ends by itself once the list is empty, and the instance lives to
        // the end of the process, so nothing needs to wait for it.
        std::thread worker(&CTimerMng::WorkerLoop, this);
        m_workerId = worker.get_id();
        worker.detach();
    }
    return entry;
}

void CTimerMng::RemoveTimer(TimerEntry* entry) {
    std::unique_lock lock(m_mutex);
    // Only a registered entry is freed, so a stale handle (an entry that already ended itself)
    // is ignored instead of being freed twice.
    auto it = std::find(m_entries.begin(), m_entries.end(), entry);
    if (entry != nullptr && it != m_entries.end()) {
        m_entries.erase(it);
        if (!entry->m_running) {
            delete entry;
        } else if (std::this_thread::get_id() == m_workerId) {
            // Inside its own callback: waiting here would wait for ourselves.
            entry->m_removed = true;
            entry->m_workerFrees = true;
        } else {
            entry->m_removed = true;
            m_callbackDone.wait(lock, [entry] { return !entry->m_running; });
            delete entry;
        }
    }
    StopIfIdleLocked();
}

void CTimerMng::ResetTimer(TimerEntry* entry, int periodMs) {
    std::lock_guard lock(m_mutex);
    entry->period = periodMs;
    entry->lastRun = std::chrono::steady_clock::now();
}

int CTimerMng::GetPeriod(const TimerEntry* entry) {
    std::lock_guard lock(m_mutex);
    return entry->period;
}

size_t CTimerMng::GetTimerCount() {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

bool CTimerMng::IsWorkerRunning() {
    std::lock_guard lock(m_mutex);
    return m_workerRunning;
}

unsigned CTimerMng::GetWorkerStarts() {
    std::lock_guard lock(m_mutex);
    return m_workerStarts;
}

void CTimerMng::StopIfIdleLocked() {
    if (m_entries.empty() && m_workerRunning) {
        m_stop = true;
        m_wake.notify_all();
    }
}

void CTimerMng::WorkerLoop() {
    using clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_wake.wait_until(lock, clock::now() + kTick, [this] { return m_stop; })) break;
        ++m_tick;
        // Each entry is looked at once per tick, in list order. The list may change while a
        // callback runs unlocked, so the walk restarts from the front after every call.
        for (;;) {
            TimerEntry* due = nullptr;
            const auto now = clock::now();
            for (TimerEntry* e : m_entries) {
                if (e->m_tick == m_tick) continue;
                e->m_tick = m_tick;
                if (now >= e->lastRun + std::chrono::milliseconds(e->period)) {
                    due = e;
                    break;
                }
            }
            if (due == nullptr) break;

            due->m_running = true;
            lock.unlock();
            const int result = due->callback(due, due->user);
            lock.lock();
            due->m_running = false;

            if (due->m_removed) {
                if (due->m_workerFrees)
                    delete due;
                else
                    m_callbackDone.notify_all();  // the remover frees it
            } else if (result < 0) {
                m_entries.remove(due);
                delete due;
            } else {
                due->lastRun = clock::now();
            }
        }
        // The last entry may have ended itself: the thread does not outlive the timers.
        if (m_entries.empty()) m_stop = true;
    }
    m_workerRunning = false;
}
