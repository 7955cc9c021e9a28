// Small time helpers shared by the services and the sensor drivers.
#pragma once

#include <cstdint>

// Sleeps the whole time even when signals interrupt it (a host process may run interval timers
// or handlers installed without SA_RESTART). 0 returns at once.
void SleepMs(unsigned ms);
// The same in microseconds.
void SleepUs(unsigned us);

// The steady clock in whole milliseconds since its epoch.
uint64_t GetTickCountMs();
