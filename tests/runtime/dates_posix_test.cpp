// The clock on POSIX, under a time zone of the test's choosing.
#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "runtime/dates.h"

namespace {

TEST(DateClock, LocalNowIsTheWallClockWithoutZoneShift) {
    const char* old_tz = std::getenv("TZ");
    std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "XYZ-05:45", 1);  // 5:45 east of UTC, no daylight saving
    tzset();
    // The clock LocalNow reads: time() may lag it by a tick at a second's turn.
    auto seconds = [] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec;
    };
    time_t before, after;
    DateValue now;
    do {
        before = seconds();
        now = LocalNow();
        after = seconds();
    } while (before != after);
    if (old_tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(now - before, 5 * 3600 + 45 * 60);
}

}  // namespace
