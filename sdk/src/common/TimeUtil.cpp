#include "common/TimeUtil.h"

#include <cerrno>
#include <chrono>
#include <ctime>

void SleepMs(unsigned ms) {
    if (ms == 0) return;
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

void SleepUs(unsigned us) {
    if (us == 0) return;
    timespec request{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

uint64_t GetTickCountMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
