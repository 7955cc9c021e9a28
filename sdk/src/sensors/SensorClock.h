// SensorClock: the one clock every sensor driver waits on and reads time from.
//
// Drivers never call SleepMs or GetTickCountMs themselves: their initialisations add up to about
// a second of settling pauses, and tests must be able to run them on a virtual clock that records
// the pauses instead of waiting. The process-wide clock defaults to the real one; a test installs
// its own for as long as it needs it.
//
// Pauses inside register lists (register 0xFFFF) are not the driver's: the transport performs
// them in order with the list (on the host for USB, on the camera for GigE).
#pragma once

#include <cstdint>

class SensorClock {
  public:
    virtual ~SensorClock() = default;
    virtual void Sleep(unsigned ms) = 0;  // the whole time; 0 returns at once
    virtual uint64_t NowMs() = 0;         // steady time in whole milliseconds

    // The clock in force: the installed one, else the real clock (SleepMs, GetTickCountMs).
    static SensorClock& Get();
    // Installs clock for every driver (null restores the real one) and returns the clock it
    // replaces (null: the real one). The caller keeps it alive until it is replaced; drivers must
    // not be running calls while it changes.
    static SensorClock* Install(SensorClock* clock);
};
