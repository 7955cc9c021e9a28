#include "ManualSensorTimers.h"

#include <algorithm>

namespace qvsim {

CManualSensorTimers::CManualSensorTimers() : m_replaced(SensorTimers::Install(this)) {}

CManualSensorTimers::~CManualSensorTimers() {
    SensorTimers::Install(m_replaced);
    for (TimerEntry* entry : m_entries) delete entry;
}

TimerEntry* CManualSensorTimers::AddTimer(TimerEntry::Callback callback, int periodMs, void* user) {
    auto* entry = new TimerEntry();
    entry->callback = callback;
    entry->period = periodMs;
    entry->user = user;
    std::lock_guard lock(m_mutex);
    m_entries.push_back(entry);
    m_events.push_back("add " + std::to_string(periodMs));
    return entry;
}

void CManualSensorTimers::ResetTimer(TimerEntry* entry, int periodMs) {
    std::lock_guard lock(m_mutex);
    entry->period = periodMs;
    m_events.push_back("reset " + std::to_string(periodMs));
}

void CManualSensorTimers::RemoveTimer(TimerEntry* entry) {
    std::lock_guard lock(m_mutex);
    auto it = std::find(m_entries.begin(), m_entries.end(), entry);
    if (it == m_entries.end()) return;
    m_entries.erase(it);
    delete entry;
    m_events.push_back("remove");
}

size_t CManualSensorTimers::Count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

TimerEntry* CManualSensorTimers::Only() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size() == 1 ? m_entries.front() : nullptr;
}

int CManualSensorTimers::Period(TimerEntry* entry) const {
    std::lock_guard lock(m_mutex);
    const bool known = std::find(m_entries.begin(), m_entries.end(), entry) != m_entries.end();
    return known ? entry->period : -1;
}

int CManualSensorTimers::Fire(TimerEntry* entry) {
    {
        std::lock_guard lock(m_mutex);
        if (std::find(m_entries.begin(), m_entries.end(), entry) == m_entries.end()) return -100;
    }
    const int result = entry->callback(entry, entry->user);
    if (result < 0) RemoveTimer(entry);
    return result;
}

std::vector<std::string> CManualSensorTimers::Events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

void CManualSensorTimers::ClearEvents() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

}  // namespace qvsim
