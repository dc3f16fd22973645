#include <windows.h>

#include <algorithm>

#include "gui/boot_clock.h"

// GetTickCount64 counts from boot and keeps counting while the computer sleeps.
int64_t BootClockMs() {
    return static_cast<int64_t>(GetTickCount64());
}

// The unbiased interrupt time stops while the computer sleeps.
int64_t AsleepMs() {
    ULONGLONG awake = 0;  // in 100 ns
    if (!QueryUnbiasedInterruptTime(&awake)) return 0;
    return std::max<int64_t>(BootClockMs() - static_cast<int64_t>(awake / 10000), 0);
}
