#include "runtime/dates.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

// The standard library's civil calendar is the independent reference.
testing::AssertionResult MatchesReference(int64_t moment) {
    using namespace std::chrono;
    const sys_seconds at{seconds(moment)};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{at - day};
    const int y = int(date.year()), mo = int(unsigned(date.month())), d = int(unsigned(date.day()));
    const int h = int(time.hours().count()), mi = int(time.minutes().count());
    const int s = int(time.seconds().count());
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d %02d", y, mo, d, h, mi,
                  s, y % 100);
    DateValue made = MakeDate(y, mo, d, h, mi, s);
    std::string text = DateText("%yyyy-%mm-%dd %hh:%ii:%ss %yy", moment);
    if (made == moment && text == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "made " << made << " and " << text << " for " << moment << ", expected " << expected;
}

TEST(DateCalendar, AgreesWithTheStandardCalendarFrom1970To9999) {
    // Every day (so every leap day) up to 2600 at a shifting time of day, then wide strides.
    for (int64_t day = 0; day < 230000; ++day) {
        ASSERT_TRUE(MatchesReference(day * 86400 + (day * 7919) % 86400));
    }
    for (int64_t moment = 2147483647; moment < 253402300800; moment += 86400 * 997 + 4111) {
        ASSERT_TRUE(MatchesReference(moment));
    }
    EXPECT_TRUE(MatchesReference(253402300799));
}

TEST(DateCalendar, MakeDateRejectsImpossibleMoments) {
    EXPECT_EQ(MakeDate(1970, 1, 1, 0, 1, 40), 100);
    struct Case {
        int64_t year, month, day, hour, minute, second;
    } impossible[] = {
        {2011, 2, 29, 0, 0, 0},     {2100, 2, 29, 0, 0, 0},       {2011, 4, 31, 0, 0, 0},
        {2011, 13, 1, 0, 0, 0},     {2011, 1, 0, 0, 0, 0},        {2011, 1, 32, 0, 0, 0},
        {2011, 1, 1, 24, 0, 0},     {2011, 1, 1, 0, 60, 0},       {2011, 1, 1, 0, 0, 60},
        {2011, 1, 1, 0, -1, 0},     {1969, 12, 31, 23, 59, 59},   {10000, 1, 1, 0, 0, 0},
        {INT64_MAX, 1, 1, 0, 0, 0}, {2011, INT64_MIN, 1, 0, 0, 0}};
    for (const Case& c : impossible) {
        EXPECT_EQ(MakeDate(c.year, c.month, c.day, c.hour, c.minute, c.second), -1)
            << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
    }
}

TEST(DateMask, TokensCaseAndPercentRules) {
    struct Case {
        std::string mask, text;
    } cases[] = {{"%dd.%mm.%yyyy %hh:%ii:%ss", "26.11.2011 14:05:09"},
                 {"%YYYY/%Mm/%dD %HH%II%SS", "2011/11/26 140509"},
                 {"%yyy|%yy%y", "11y|11%y"},
                 {"100%", "100%"},
                 {"%x%dd", "%x26"},
                 {"%%dd", "%26"}};
    for (const Case& c : cases) {
        EXPECT_EQ(DateText(c.mask, MakeDate(2011, 11, 26, 14, 5, 9)), c.text) << c.mask;
    }
    EXPECT_EQ(DateText("%yy %mm", MakeDate(2009, 3, 1, 0, 0, 0)), "09 03");
}

TEST(DateMask, NegativeAndHugeDates) {
    const std::string all = "%yyyy %yy %mm %dd %hh %ii %ss";
    EXPECT_EQ(DateText(all, -1), "0000 00 00 00 00 00 00");
    EXPECT_EQ(DateText(all, INT64_MIN), "0000 00 00 00 00 00 00");
    // The well-known last second of a 64-bit time_t.
    EXPECT_EQ(DateText("%yyyy-%mm-%dd %hh:%ii:%ss", INT64_MAX), "292277026596-12-04 15:30:07");
}

}  // namespace
