// The local wall clock on POSIX.
#include <ctime>

#include "runtime/dates.h"

DateValue LocalNow() {
    timespec now{};
    tm local{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return ImpossibleDate;
    if (localtime_r(&now.tv_sec, &local) == nullptr) return ImpossibleDate;
    // A leap second would otherwise make the whole moment impossible.
    int64_t second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return MakeDate(int64_t{local.tm_year} + 1900, int64_t{local.tm_mon} + 1, local.tm_mday,
                    local.tm_hour, local.tm_min, second);
}
