#include "usb/UsbCooling.h"

#include <algorithm>

namespace qv::usb {

namespace {

constexpr double kDegreesPerStep = 0.0625;
constexpr double kSensorOffset = 3.0;

// A change of more than this per period counts as moving towards the target on its own.
constexpr double kTrendDegrees = 0.15;

constexpr int kMinWaitMs = 3000;
constexpr int kTrendWaitLimitMs = 5000;
constexpr int kTrendWaitStepMs = 1000;

}  // namespace

double CoolingSensorCelsius(uint16_t raw) {
    const unsigned steps = raw >> 4;
    if (raw & 0x8000) {
        // Negative: the magnitude is the 12-bit two's complement of the reading.
        const unsigned magnitude = ((~steps) & 0xFFF) + 1;
        return -(magnitude * kDegreesPerStep) - kSensorOffset;
    }
    return steps * kDegreesPerStep - kSensorOffset;
}

uint16_t CoolerDriveValue(int percent) {
    const int p = std::clamp(percent, 0, 100);
    // The driver's transfer curve: 60 / (p * 0.0398 + 0.53) - 13.3 spans 99.9 (0 %) down to
    // 0.004 (100 %) and is scaled to the driver's 0..127 range by 127 / 100.
    const double v = (60.0 / (p * 3.98 / 100.0 + 1.13 - 0.6) - 13.3) * 127.0 / 100.0;
    return static_cast<uint16_t>(std::min(static_cast<int>(v), 127));
}

int CoolingStep(CoolingLoopState& s, double t, double target, int power, bool* apply) {
    *apply = false;
    if (s.last > -100 && power != 0 &&
        ((t > target && t - s.last < -kTrendDegrees) ||
         (t < target && t - s.last > kTrendDegrees))) {
        s.last = t;
        if (s.waitMs < kTrendWaitLimitMs) s.waitMs += kTrendWaitStepMs;
        s.waitMs = std::min(s.waitMs, kTrendWaitLimitMs);
        return power;
    }

    int step = 0;
    if (s.rising && t > s.last + 1) {
        // More power made it warmer: the cooler is past its best point.
        step = -1, s.waitMs = 3000;
    } else if (t >= target + 3) {
        step = 3, s.waitMs = 3000;
    } else if (t >= target + 2) {
        step = 2, s.waitMs = 4000;
    } else if (t >= target + 0.2) {
        step = 1, s.waitMs = 5000;
    } else if (t <= target - 3) {
        step = -3, s.waitMs = 3000;
    } else if (t <= target - 2) {
        step = -2, s.waitMs = 4000;
    } else if (t <= target - 0.2) {
        step = -1, s.waitMs = 5000;
    } else {
        s.waitMs = kMinWaitMs;
    }
    const int next = std::clamp(power + step, 0, 100);
    *apply = true;
    s.last = t;
    s.rising = next > s.previousPower;
    s.previousPower = next;
    return next;
}

}  // namespace qv::usb
