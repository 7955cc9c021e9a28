// CLongExposureCycle: exposures longer than the chip's own shutter reaches, timed by the host.
// The IMX294 and IMX533 drivers run one each: on a timer of SensorTimers (CTimerMng in the
// product), the cycle switches the chip's exposure register on, waits the exposure time, switches
// it off and lets the FPGA read the frame out, over and over:
//
//   state 0 (started) or 1 (exposing)  exposure off, FPGA word (1, 0, 0)        -> 3 in 15 ms
//   state 3 (settling)                 FPGA word (1, 0, 0) with its pulse bit   -> 2 in 100 ms
//   state 2 (read out)                 exposure on, FPGA word (1, 1, 1)         -> 1 in the
//   exposure
//
// The FPGA word is register 39 on board 107 (bit 0 on, bits 1 and 2 the exposure gates, bit 3 the
// read-out pulse); other boards have none and only the chip's register switches. The settling
// wait is a state of its own so that no step blocks the timer worker, which serves every
// camera's liveness and heartbeat checks as well.
//
// A cycle that ends leaves the camera out of long-exposure mode (exposure off, the FPGA word
// pulsed to 0): the word and the chip's register outlive a stream close and the FPGA is not
// loaded again when the stream opens, so an ordinary exposure after it would otherwise still
// run with the gates open.
//
// Threads: the steps run on the timer worker, the driver's calls on the caller's thread. A mutex
// guards the state, the timer handle, the exposure time and the register traffic of both; it is
// never held while the timer is removed (removal waits for a step in progress, and a step takes
// the mutex). Once Stop or the destructor has returned, no step runs any more.
#pragma once

#include <cstdint>
#include <mutex>

#include "device/imginf.h"
#include "services/TimerMng.h"

class SensorTimers;

class CLongExposureCycle {
  public:
    // The chip's exposure register and its values.
    struct Chip {
        uint16_t exposureReg;
        uint16_t onValue;
        uint16_t offValue;
        bool bitsBeforeOff;  // a finished exposure sets the FPGA word before the register
    };

    static constexpr uint16_t kFpgaReg = 39;
    static constexpr int kSettleMs = 15;    // exposure off to read-out pulse
    static constexpr int kReadOutMs = 100;  // read-out pulse to the next exposure

    // owner names the driver in the log lines.
    CLongExposureCycle(imginf& device, const Chip& chip, const void* owner);
    // Removes a cycle still running without touching the device: its owner stops it first.
    ~CLongExposureCycle();

    CLongExposureCycle(const CLongExposureCycle&) = delete;
    CLongExposureCycle& operator=(const CLongExposureCycle&) = delete;

    // Starts the cycle, or restarts a running one, at state 0 with its first step periodMs from
    // now; each exposure then lasts exposureMs. Does nothing between Close and Open.
    void Start(int periodMs, int exposureMs);
    // Ends a running cycle: removes its timer, switches the exposure off and pulses the FPGA
    // word out of long-exposure mode (with a 15 ms wait between). Does nothing, and does not
    // wait, when no cycle runs; false then.
    bool Stop();
    // The stream closes: Stop, and no cycle starts until the stream opens again (an exposure
    // set while the camera is released must not start one on the closed stream).
    bool Close();
    // The stream opens: a running cycle ends as Stop ends it, then, with switchOff, the camera
    // is switched out of long exposure whatever this cycle remembers (the word and the chip's
    // register may be left on by a process that ended during a long exposure); cycles may start
    // again.
    void Open(bool switchOff);

    bool Running() const;
    int State() const;

    // One step of the cycle as the timer makes it (tests call it directly): the actions of the
    // state, then the next state; returns the period until the next step, or -1 for a state that
    // does nothing.
    int Step();

  private:
    static int TimerProc(TimerEntry* entry, void* user);
    bool RemoveTimer();  // whether a cycle ran
    void SwitchOff();    // exposure off, the word pulsed to 0
    int StepLocked();
    // FPGA register 39 on board 107: bit 0 on, bit 1 a, bit 2 b; a pulse writes bit 3 first.
    void WriteBits(bool on, bool a, bool b, bool pulse);
    void LogEvent(const char* text, const TimerEntry* entry);

    imginf& m_device;
    const Chip m_chip;
    const void* m_owner;

    mutable std::mutex m_mutex;        // guards everything below and the cycle's registers
    TimerEntry* m_timer = nullptr;     // the running cycle's timer; null when none runs
    SensorTimers* m_timers = nullptr;  // the service that runs m_timer
    int m_state = 1;
    int m_exposureMs = 0;
    bool m_closed = false;  // between Close and Open
    uint32_t m_lastEventMs = 0;
};
