// CManualSensorTimers: timers for the sensor drivers that only a test runs. Installed for its
// lifetime in place of CTimerMng; it keeps the entries a driver registers with their periods and
// calls an entry's callback when the test fires it, on the test's thread. The drivers that
// registered timers must be gone (or have removed them) before it is destroyed.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "sensors/SensorTimers.h"

namespace qvsim {

class CManualSensorTimers : public SensorTimers {
  public:
    CManualSensorTimers();
    ~CManualSensorTimers() override;

    TimerEntry* AddTimer(TimerEntry::Callback callback, int periodMs, void* user) override;
    void ResetTimer(TimerEntry* entry, int periodMs) override;
    void RemoveTimer(TimerEntry* entry) override;

    size_t Count() const;                 // entries registered now
    TimerEntry* Only() const;             // the one entry registered, or null (none or several)
    int Period(TimerEntry* entry) const;  // -1 for an entry not registered
    // Calls the entry's callback as the service would (a negative result ends the entry) and
    // returns its result; -100 for an entry not registered.
    int Fire(TimerEntry* entry);
    // What the drivers did, in order: "add 100", "reset 15", "remove".
    std::vector<std::string> Events() const;
    void ClearEvents();

  private:
    mutable std::mutex m_mutex;  // guards everything below (not held while a callback runs)
    std::vector<TimerEntry*> m_entries;
    std::vector<std::string> m_events;
    SensorTimers* m_replaced = nullptr;
};

}  // namespace qvsim
