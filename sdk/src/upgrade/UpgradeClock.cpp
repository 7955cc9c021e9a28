#include "upgrade/UpgradeClock.h"

#include <atomic>

#include "common/TimeUtil.h"

namespace {

class RealUpgradeClock : public UpgradeClock {
  public:
    void SleepUs(unsigned us) override { ::SleepUs(us); }
};

RealUpgradeClock g_real;
std::atomic<UpgradeClock*> g_installed{nullptr};

}  // namespace

UpgradeClock& UpgradeClock::Get() {
    UpgradeClock* clock = g_installed.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : g_real;
}

UpgradeClock* UpgradeClock::Install(UpgradeClock* clock) {
    return g_installed.exchange(clock, std::memory_order_acq_rel);
}
