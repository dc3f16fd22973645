#include <windows.h>

#include "gui/boot_clock.h"

// GetTickCount64 counts from boot and keeps counting while the computer sleeps.
int64_t BootClockMs() {
    return static_cast<int64_t>(GetTickCount64());
}
