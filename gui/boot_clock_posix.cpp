#include <time.h>

#include <algorithm>

#include "gui/boot_clock.h"

namespace {

int64_t Ms(clockid_t clock) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return -1;
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int64_t BootClockMs() {
    int64_t boot = Ms(CLOCK_BOOTTIME);
    return boot >= 0 ? boot : Ms(CLOCK_MONOTONIC);
}

// The monotonic clock stops while the computer sleeps; the boot clock does not.
int64_t AsleepMs() {
    return std::max<int64_t>(BootClockMs() - Ms(CLOCK_MONOTONIC), 0);
}
