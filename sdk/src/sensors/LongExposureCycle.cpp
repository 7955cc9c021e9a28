#include "LongExposureCycle.h"

#include <utility>

#include "common/Log.h"
#include "SensorClock.h"
#include "SensorTimers.h"

namespace {

enum State : int { kStarted = 0, kExposing = 1, kReadOut = 2, kSettling = 3 };

}  // namespace

CLongExposureCycle::CLongExposureCycle(imginf& device, const Chip& chip, const void* owner)
    : m_device(device), m_chip(chip), m_owner(owner) {}

CLongExposureCycle::~CLongExposureCycle() {
    RemoveTimer();
}

void CLongExposureCycle::Start(int periodMs, int exposureMs) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return;
    m_state = kStarted;
    m_exposureMs = exposureMs;
    if (m_timer != nullptr) {
        m_timers->ResetTimer(m_timer, periodMs);
        return;
    }
    // A step that fires at once waits for our mutex, so it sees the handle set.
    m_timers = &SensorTimers::Get();
    m_timer = m_timers->AddTimer(&CLongExposureCycle::TimerProc, periodMs, this);
}

bool CLongExposureCycle::RemoveTimer() {
    TimerEntry* entry = nullptr;
    SensorTimers* timers = nullptr;
    {
        std::lock_guard lock(m_mutex);
        entry = std::exchange(m_timer, nullptr);
        timers = m_timers;
    }
    // Outside the mutex: the removal waits for a step in progress, which takes it.
    if (entry == nullptr) return false;
    timers->RemoveTimer(entry);
    return true;
}

bool CLongExposureCycle::Stop() {
    if (!RemoveTimer()) return false;
    SwitchOff();
    return true;
}

void CLongExposureCycle::SwitchOff() {
    {
        std::lock_guard lock(m_mutex);
        m_device.WriteSensorReg(m_chip.exposureReg, m_chip.offValue);
        WriteBits(true, false, false, false);
    }
    SensorClock::Get().Sleep(kSettleMs);
    std::lock_guard lock(m_mutex);
    WriteBits(false, false, false, true);
}

bool CLongExposureCycle::Close() {
    {
        // Set before the timer goes: a Start racing this one finds the gate shut, or has
        // added its timer already, which the Stop below removes.
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    return Stop();
}

void CLongExposureCycle::Open(bool switchOff) {
    const bool ran = Close();
    if (switchOff && !ran) SwitchOff();
    std::lock_guard lock(m_mutex);
    m_closed = false;
}

bool CLongExposureCycle::Running() const {
    std::lock_guard lock(m_mutex);
    return m_timer != nullptr;
}

int CLongExposureCycle::State() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

int CLongExposureCycle::TimerProc(TimerEntry* entry, void* user) {
    auto* self = static_cast<CLongExposureCycle*>(user);
    std::lock_guard lock(self->m_mutex);
    // Stopped meanwhile: the remover waits for this call, then frees the entry.
    if (entry != self->m_timer) return 0;
    const int period = self->StepLocked();
    if (period >= 0) self->m_timers->ResetTimer(entry, period);
    return 0;  // the cycle ends only by Stop or the destructor
}

int CLongExposureCycle::Step() {
    std::lock_guard lock(m_mutex);
    return StepLocked();
}

int CLongExposureCycle::StepLocked() {
    // The results of the writes are not used: a lost write is made again next cycle.
    switch (m_state) {
        case kStarted:
        case kExposing:
            if (m_state == kExposing) LogEvent("exposure finish, %p, %p, %u\n", m_timer);
            if (m_chip.bitsBeforeOff && m_state == kExposing) {
                WriteBits(true, false, false, false);
                m_device.WriteSensorReg(m_chip.exposureReg, m_chip.offValue);
            } else {
                m_device.WriteSensorReg(m_chip.exposureReg, m_chip.offValue);
                WriteBits(true, false, false, false);
            }
            m_state = kSettling;
            return kSettleMs;
        case kSettling:
            WriteBits(true, false, false, true);
            m_state = kReadOut;
            return kReadOutMs;
        case kReadOut:
            m_device.WriteSensorReg(m_chip.exposureReg, m_chip.onValue);
            WriteBits(true, true, true, false);
            LogEvent("acquire frame finish, %p, %p, %u\n", m_timer);
            m_state = kExposing;
            return m_exposureMs;
        default:
            return -1;
    }
}

void CLongExposureCycle::WriteBits(bool on, bool a, bool b, bool pulse) {
    if (m_device.GetHardwareType() != 107) return;
    const uint32_t word = (on ? 1u : 0u) | (a ? 2u : 0u) | (b ? 4u : 0u);
    if (pulse) m_device.WriteFpgaReg(kFpgaReg, word | 8u);
    m_device.WriteFpgaReg(kFpgaReg, word);
}

void CLongExposureCycle::LogEvent(const char* text, const TimerEntry* entry) {
    const auto now = static_cast<uint32_t>(SensorClock::Get().NowMs());
    qv::Log(text, m_owner, static_cast<const void*>(entry), now - m_lastEventMs);
    m_lastEventMs = now;
}
