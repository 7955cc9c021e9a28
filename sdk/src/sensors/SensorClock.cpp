#include "SensorClock.h"

#include <atomic>

#include "common/TimeUtil.h"

namespace {

class RealClock final : public SensorClock {
  public:
    void Sleep(unsigned ms) override { SleepMs(ms); }
    uint64_t NowMs() override { return GetTickCountMs(); }
};

RealClock g_realClock;
std::atomic<SensorClock*> g_installed{nullptr};

}  // namespace

SensorClock& SensorClock::Get() {
    SensorClock* clock = g_installed.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : g_realClock;
}

SensorClock* SensorClock::Install(SensorClock* clock) {
    return g_installed.exchange(clock, std::memory_order_acq_rel);
}
