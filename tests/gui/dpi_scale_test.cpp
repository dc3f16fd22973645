#include "gui/win32/dpi_scale.h"

#include <gtest/gtest.h>

namespace {

TEST(DpiScale, RoundsAsWindowsDoes) {
    struct Case {
        int value, to, from, expected;
    };
    const Case cases[] = {
        {100, 144, 96, 150}, {7, 120, 96, 9},    // 8.75
        {5, 120, 96, 6},     {2, 120, 96, 3},    // 2.5 rounds away from zero
        {-2, 120, 96, -3},   {-5, 144, 96, -8},  // as does -7.5
        {9, 96, 72, 12},     {11, 144, 72, 22},  // points to pixels
        {151, 96, 144, 101}, {100, 0, 96, 100},  // 100.67; no DPI is 96
        {100, 144, -1, 150}, {2000000000, 288, 96, 2147483647},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rescale(c.value, c.to, c.from), c.expected)
            << c.value << " from " << c.from << " to " << c.to;
    }
}

// A column's width goes back to the layout and out again on every change of
// monitor: at the usual DPIs that must land on the same logical width.
TEST(DpiScale, LayoutSurvivesTheWayThereAndBack) {
    for (int dpi : {96, 120, 144, 168, 192, 240, 288}) {
        for (int logical = -50; logical <= 2000; ++logical)
            ASSERT_EQ(Rescale(Rescale(logical, dpi, 96), 96, dpi), logical) << "at " << dpi;
    }
}

}  // namespace
