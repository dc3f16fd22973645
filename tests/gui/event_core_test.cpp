#include "gui/event_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int64_t Minute = 60 * 1000;
constexpr int64_t Hour = 60 * Minute;
constexpr int64_t Day = 24 * Hour;

std::vector<int> Ticked;
void Record(int identifier) {
    Ticked.push_back(identifier);
}

// Slots 1, 2 and 3 armed at time 0 with periods of an hour, a day and sixty
// days; each step moves the clock to `at` (awake, or a sleep that jumps), then
// lets every tick run that falls due. The grace after a wake-up is left out
// here (nothing reports time asleep); the next test has it.
TEST(SlotTimers, CountCalendarTimeAndTickOnceAfterASleepHoweverLong) {
    struct Step {
        const char* what;
        int64_t at;
        std::vector<int> ticks;
    };
    const std::vector<Step> steps = {
        {"not yet", Hour - 1, {}},
        {"on time", Hour, {1}},
        {"a night asleep misses many hours: one tick", 10 * Hour, {1}},
        {"the next deadline counts from the wake-up", 11 * Hour - 1, {}},
        {"an hour after the wake-up", 11 * Hour, {1}},
        {"three days asleep: each due slot once", 3 * Day + 5 * Minute, {1, 2}},
        {"sixty days", 60 * Day, {1, 2, 3}},
    };
    ResetEventCore();
    Ticked.clear();
    ArmSlotTimer(MainWindow, 1, Hour, Record, 0);
    ArmSlotTimer(MainWindow, 2, Day, Record, 0);
    ArmSlotTimer(MainWindow, 3, 60 * Day, Record, 0);
    for (const Step& step : steps) {
        Ticked.clear();
        TickAllowance any(TickAllowance::Unlimited, false);
        ExpireSlotTimers(step.at, 0);
        EXPECT_EQ(Ticked, step.ticks) << step.what;
        EXPECT_GT(NextSlotDeadline(), step.at) << step.what;
    }
}

// Slot 1 hourly and slot 2 daily from time 0, slot 3 first after half an hour
// and daily after that; each step moves the clock to `at`, of which `asleep`
// in all was spent asleep.
TEST(SlotTimers, StartWhenAskedAndWaitAMinuteAfterAWakeUp) {
    const struct {
        const char* what;
        int64_t at;
        int64_t asleep;
        std::vector<int> ticks;
    } steps[] = {
        {"a first deadline of its own", 30 * Minute, 0, {3}},
        {"due while asleep: nothing at the wake-up", 5 * Hour, 4 * Hour, {}},
        {"still within the minute", 5 * Hour + Minute - 1, 4 * Hour, {}},
        {"a minute after the wake-up", 5 * Hour + Minute, 4 * Hour, {1}},
        {"two seconds are no sleep", Day, 4 * Hour + 2000, {1, 2}},
        {"the period runs on from the first tick", Day + 30 * Minute, 4 * Hour + 2000, {3}},
    };
    ResetEventCore();
    ArmSlotTimer(MainWindow, 1, Hour, Record, 0);
    ArmSlotTimer(MainWindow, 2, Day, Record, 0);
    ArmSlotTimer(MainWindow, 3, Day, Record, 0, 30 * Minute);
    ExpireSlotTimers(0, 0);
    for (const auto& step : steps) {
        Ticked.clear();
        TickAllowance any(TickAllowance::Unlimited, false);
        ExpireSlotTimers(step.at, step.asleep);
        EXPECT_EQ(Ticked, step.ticks) << step.what;
    }
}

}  // namespace
