// UpgradeClock: the clock the firmware-update procedures pause on.
//
// Programming an FPGA takes pauses the parts need (a second after an erase, 200 us per row,
// half a second before a status check). Tests run the procedures on a clock that records the
// pauses instead of taking them; the process-wide clock defaults to the real one.
#pragma once

class UpgradeClock {
  public:
    virtual ~UpgradeClock() = default;
    virtual void SleepUs(unsigned us) = 0;  // the whole time; 0 returns at once

    // The clock in force: the installed one, else the real clock.
    static UpgradeClock& Get();
    // Installs clock (null restores the real one) and returns the clock it replaces (null: the
    // real one). The caller keeps it alive until it is replaced; no upgrade may run while it
    // changes.
    static UpgradeClock* Install(UpgradeClock* clock);
};
