// SensorTimers: the periodic work of the sensor drivers (the long-exposure cycles), on the timer
// service CTimerMng in the product. Tests install their own to step a driver's timer by hand; a
// driver keeps the service it registered a timer with until it removes that timer, so an
// installed service must outlive the drivers that use it.
#pragma once

#include "services/TimerMng.h"

class SensorTimers {
  public:
    virtual ~SensorTimers() = default;

    // As CTimerMng: the first call comes one period after AddTimer, a negative result ends the
    // entry, and RemoveTimer from another thread waits for a call in progress.
    virtual TimerEntry* AddTimer(TimerEntry::Callback callback, int periodMs, void* user);
    virtual void ResetTimer(TimerEntry* entry, int periodMs);
    virtual void RemoveTimer(TimerEntry* entry);

    // The service in force: the installed one, else CTimerMng.
    static SensorTimers& Get();
    // Installs timers for every driver (null restores CTimerMng) and returns the service it
    // replaces (null: CTimerMng).
    static SensorTimers* Install(SensorTimers* timers);
};
