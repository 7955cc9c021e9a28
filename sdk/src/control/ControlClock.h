// CControlClock: the time source of a camera controller's device-loss rule. The controller reads
// it when a frame arrives, when capture starts and when a frame wait fails, and declares the
// camera lost once no frame has come for the loss time. The real clock is the steady clock in
// milliseconds; tests put a clock they advance by hand in its place, so that a loss time of
// several seconds is checked without waiting for it.
#pragma once

#include <cstdint>

class CControlClock {
  public:
    virtual ~CControlClock() = default;
    // Milliseconds on a clock that never goes back.
    virtual uint64_t NowMs() = 0;

    // The steady clock (GetTickCountMs); one instance for the whole process.
    static CControlClock* Steady();
};
