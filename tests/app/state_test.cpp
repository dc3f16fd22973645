#include "app/state.h"

#include <gtest/gtest.h>

#include "runtime/dates.h"
#include "runtime/files.h"

namespace {

TEST(State, DateStampSpellsTheMonthInEnglishWithZeroPaddedParts) {
    ResetState();
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month) {
        CurrentDate = MakeDate(2011, month, 5, 9, 7, 59);
        RefreshDateStamp();
        EXPECT_EQ(DateStamp(), std::string("05 ") + months[month - 1] + " 2011@09:07");
    }
    CurrentDate = MakeDate(2045, 12, 31, 23, 0, 0);  // beyond the 32-bit range
    RefreshDateStamp();
    EXPECT_EQ(DateStamp(), "31 Dec 2045@23:00");
}

TEST(State, IntervalPeriodsComeFromExactLabels) {
    EXPECT_EQ(IntervalPeriod("1 hour"), 3600000);
    EXPECT_EQ(IntervalPeriod("2 hours"), 7200000);
    EXPECT_EQ(IntervalPeriod("2 weeks"), 1209600000);
    EXPECT_EQ(IntervalPeriod("1 month"), 2592000000LL);
    EXPECT_EQ(IntervalPeriod("2 months"), 5184000000LL);
    EXPECT_EQ(IntervalPeriod("Check interval:"), 0);
    EXPECT_EQ(IntervalPeriod("1 Hour"), 0);
    EXPECT_EQ(IntervalPeriod("1 hour "), 0);
    EXPECT_EQ(IntervalPeriod(""), 0);
    // Every label offered to the user has a period.
    for (size_t i = 1; i < IntervalChoices.size(); ++i)
        EXPECT_GT(IntervalPeriod(IntervalChoices[i]), 0) << IntervalChoices[i];
}

// The first check after a start is due one period after the row's last retry,
// read from its stamp (a minute's precision, so from that minute's end).
TEST(State, TheFirstCheckIsDueOnePeriodAfterTheLastRetry) {
    const int64_t hour = 3600000;
    const int64_t month = 30 * 24 * hour;
    const DateValue now = MakeDate(2026, 12, 8, 12, 0, 30);
    const struct {
        const char* stamp;
        int64_t period;
        int64_t first;
    } cases[] = {
        {"08 Dec 2026@12:00", hour, hour},  // added just now
        {"08 Dec 2026@11:30", hour, 30 * hour / 60 + 30000},
        {"08 Dec 2026@10:59", hour, 0},
        {"29 Oct 2026@12:00", month, 0},  // forty days ago
        {"18 Nov 2026@12:00", month, 10 * 24 * hour + 30000},
        {"09 Dec 2026@12:00", hour, hour},  // ahead of the clock
        {"", hour, hour},
        {"08 Dec 2026 12:00", hour, hour},
        {"08 Dez 2026@11:30", hour, hour},
        {"31 Feb 2026@11:30", hour, hour},
        {"8 Dec 2026@11:30", hour, hour},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FirstCheckDelayMs(c.stamp, c.period, now), c.first) << c.stamp;
}

TEST(State, DownloadDirAlwaysEndsWithASeparatorAndNeverBecomesTheRoot) {
    ResetState();
    ProgramDir = "/opt/tavimor/";
    const std::string sep(1, PathSeparator);
    const std::pair<std::string, std::string> cases[] = {
        {"/home/u/Downloads", "/home/u/Downloads" + sep},
        {"D:\\dl" + sep, "D:\\dl" + sep},
        {"D:/dl/", "D:/dl/"},  // "/" is a separator everywhere
        {"", "/opt/tavimor/"},
    };
    for (const auto& [download_dir, used] : cases) {
        DownloadDir = download_dir;
        EXPECT_EQ(DownloadDirWithSeparator(), used) << download_dir;
    }
}

}  // namespace
