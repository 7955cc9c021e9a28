// Fixtures for sensor-driver tests: a virtual driver clock and the trace of what a driver does to
// the hardware, in order.
//
// CVirtualSensorClock replaces the driver clock for its lifetime: pauses return at once and only
// advance virtual time. CSensorTrace puts a CFakeDevice's calls and the driver's pauses into one
// sequence of steps, which a test compares with the sequence it expects:
//
//   CSensorTrace trace(device);
//   driver->Init(&param);
//   EXPECT_TRUE(TraceMatches(trace.Steps(), {Call("SetGpioMode", {28, 0}), Sleep(10), ...}));
//
// Steps: "Reg" (one sensor register write: register, value), "Regs" (one register list: pairs,
// pauses included as register 0xFFFF), "ReadReg", "Fpga" (register, value), "ReadFpga", "Sleep"
// (a driver pause in ms), and every other device operation under its own name with its
// arguments. Calls without traffic (GetHardwareType) are left out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "sensors/SensorClock.h"

namespace qvsim {

class CVirtualSensorClock : public SensorClock {
  public:
    // Installs itself as the driver clock; clocks nest and must be destroyed in reverse order.
    CVirtualSensorClock();
    ~CVirtualSensorClock() override;  // puts back the clock it replaced

    void Sleep(unsigned ms) override;
    uint64_t NowMs() override;
    uint64_t SleptMs() const;  // the sum of all pauses so far
    // Called (without the clock's lock) for every pause, on the sleeping thread.
    void SetSleepHook(std::function<void(unsigned ms)> hook);

  private:
    mutable std::mutex m_mutex;  // guards everything below
    uint64_t m_nowMs = 1000000;
    uint64_t m_sleptMs = 0;
    std::function<void(unsigned)> m_hook;
    SensorClock* m_replaced = nullptr;
};

struct TraceStep {
    std::string op;
    std::vector<int64_t> args;  // "Regs": register, value pairs; a pair of -1 matches any pair

    std::string ToString() const;
    bool Matches(const TraceStep& actual) const;  // this as the expected step
};

class CSensorTrace {
  public:
    explicit CSensorTrace(CFakeDevice& device);  // becomes the device's call hook
    ~CSensorTrace();

    std::vector<TraceStep> Steps() const;
    void Clear();
    CVirtualSensorClock& Clock() { return m_clock; }

  private:
    void Add(TraceStep step);

    CFakeDevice& m_device;
    CVirtualSensorClock m_clock;
    mutable std::mutex m_mutex;  // guards m_steps
    std::vector<TraceStep> m_steps;
};

// ---- Expected steps ----
struct RegPair {
    int64_t reg;
    int64_t value;
};
using RegRows = std::vector<RegPair>;
inline constexpr RegPair kAnyRow{-1, -1};

TraceStep Call(const std::string& op, std::initializer_list<int64_t> args = {});
TraceStep Sleep(unsigned ms);
TraceStep Reg(uint16_t reg, uint16_t value);
TraceStep Fpga(uint16_t reg, uint32_t value);
TraceStep Regs(const RegRows& rows);
RegRows AnyRows(size_t count);                   // rows whose values the test leaves open
RegRows operator+(RegRows a, const RegRows& b);  // concatenation

// Whether actual is expected step for step; on a mismatch the message shows where and both
// sequences around it.
::testing::AssertionResult TraceMatches(const std::vector<TraceStep>& actual,
                                        const std::vector<TraceStep>& expected);
// Appends the steps of more to steps.
void Append(std::vector<TraceStep>& steps, const std::vector<TraceStep>& more);

}  // namespace qvsim
