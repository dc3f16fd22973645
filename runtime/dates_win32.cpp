// The local wall clock on Windows: the system already keeps it in local
// fields, so no time-zone arithmetic of ours is needed.
#include <windows.h>

#include "runtime/dates.h"

DateValue LocalNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return MakeDate(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                    local.wSecond > 59 ? 59 : local.wSecond);
}
