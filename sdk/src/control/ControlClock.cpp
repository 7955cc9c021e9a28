#include "control/ControlClock.h"

#include "common/TimeUtil.h"

namespace {

class CSteadyControlClock final : public CControlClock {
  public:
    uint64_t NowMs() override { return GetTickCountMs(); }
};

}  // namespace

CControlClock* CControlClock::Steady() {
    static CSteadyControlClock clock;
    return &clock;
}
