// The clock of the slot timers. Users mean calendar time by "1 day": unlike the
// steady clock, this one keeps counting while the computer sleeps.
#pragma once

#include <cstdint>

// Milliseconds since boot, time asleep included; never goes back.
int64_t BootClockMs();
// Milliseconds the computer has slept (suspended or hibernated) since boot.
int64_t AsleepMs();
