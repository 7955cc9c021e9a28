// The arithmetic of sensor cooling on the USB boards that have a cooler: the reading of the
// board's own temperature sensor, the drive value for a cooler power, and one period of the
// control loop that steers the power towards a target temperature. Pure functions; the device
// runs them on its cooling thread.
#pragma once

#include <cstdint>

namespace qv::usb {

// The cooling sensor's 16-bit reading: a 12-bit two's-complement value in bits 4-15 at
// 0.0625 degrees per step, which reads 3 degrees above the sensor's own temperature.
// 0x1900 gives 22.0, 0xFFF0 gives -3.0625.
double CoolingSensorCelsius(uint16_t raw);

// The cooler driver's setting for a power in percent (0 to 100; values outside are taken as
// the nearest end). The driver's setting falls as the power rises: 0 % is 126, 100 % is 0.
uint16_t CoolerDriveValue(int percent);

// What the control loop carries from one period to the next.
struct CoolingLoopState {
    double last = -1000;    // temperature of the previous period; below -100: none yet
    bool rising = false;    // the last step raised the power
    int previousPower = 0;  // power after the last step
    int waitMs = 10000;     // how long the period just decided waits
};

// One period of the loop after a temperature reading t (degrees) towards target, with the
// power currently set. Returns the power for the next period and sets *apply when the loop
// sends it to the cooler this period (with the cooler-on bit following it): every period but
// one in which the temperature already moves towards the target fast enough, which keeps the
// power and only lengthens the wait. state.waitMs is the wait before the next period.
int CoolingStep(CoolingLoopState& state, double t, double target, int power, bool* apply);

}  // namespace qv::usb
