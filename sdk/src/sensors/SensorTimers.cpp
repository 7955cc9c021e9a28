#include "SensorTimers.h"

#include <atomic>

namespace {

SensorTimers g_timerMng;  // the defaults: CTimerMng
std::atomic<SensorTimers*> g_installed{nullptr};

}  // namespace

TimerEntry* SensorTimers::AddTimer(TimerEntry::Callback callback, int periodMs, void* user) {
    return CTimerMng::GetInstance()->AddTimer(callback, periodMs, user);
}

void SensorTimers::ResetTimer(TimerEntry* entry, int periodMs) {
    CTimerMng::GetInstance()->ResetTimer(entry, periodMs);
}

void SensorTimers::RemoveTimer(TimerEntry* entry) {
    CTimerMng::GetInstance()->RemoveTimer(entry);
}

SensorTimers& SensorTimers::Get() {
    SensorTimers* timers = g_installed.load(std::memory_order_acquire);
    return timers != nullptr ? *timers : g_timerMng;
}

SensorTimers* SensorTimers::Install(SensorTimers* timers) {
    return g_installed.exchange(timers, std::memory_order_acq_rel);
}
