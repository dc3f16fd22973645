#include "gui/placement.h"

#include <gtest/gtest.h>

namespace {

// A frame of the program's size (about 560 x 180 outside) with a 30-pixel title
// bar, saved at a place, against the screens present at the next start.
TEST(Placement, ATitleBarOnNoPresentScreenIsNotVisible) {
    const ScreenRect one{0, 0, 1280, 1024};
    const ScreenRect right{1280, 0, 3200, 1080};
    const ScreenRect left_above{-1920, -200, 0, 880};  // left of the primary, higher up
    const struct {
        const char* layout;
        std::vector<ScreenRect> screens;
        int64_t x, y;
        bool visible;
    } cases[] = {
        {"single", {one}, 40, 30, true},
        {"single", {one}, 3000, 2500, false},  // saved on a monitor since unplugged
        {"single", {one}, 1279, 1023, true},   // one pixel of the bar still on screen
        {"single", {one}, 1280, 100, false},   // just right of the screen
        {"single", {one}, -559, 100, true},    // all but the rightmost column off to the left
        {"single", {one}, -560, 100, false},
        {"single", {one}, 100, -29, true},   // the bar's bottom row at the screen's top
        {"single", {one}, 100, -30, false},  // only the body below the bar is showing
        {"single", {one}, 100, 1024, false},
        {"two side by side", {one, right}, 2000, 500, true},
        {"two side by side", {one}, 2000, 500, false},         // the right one unplugged
        {"two side by side", {one, right}, 100, 1040, false},  // under the shorter one
        {"two side by side", {one, right}, 1300, 1040, true},
        {"negative coordinates", {one, left_above}, -1500, -150, true},
        {"negative coordinates", {one, left_above}, -1500, -260, false},  // above both
        {"negative coordinates", {one}, -1500, -150, false},
        {"no screen", {}, 40, 30, false},
    };
    for (const auto& c : cases) {
        const ScreenRect frame{c.x, c.y, c.x + 560, c.y + 180};
        EXPECT_EQ(TitleBarVisible(frame, 30, c.screens), c.visible)
            << c.layout << " at " << c.x << "," << c.y;
    }
}

// Before the window manager has framed the window its title bar has no height:
// the frame's top row stands for it.
TEST(Placement, ATitleBarOfNoHeightIsTheFramesTopRow) {
    const std::vector<ScreenRect> screens{{0, 0, 800, 600}};
    EXPECT_TRUE(TitleBarVisible({10, 599, 300, 700}, 0, screens));
    EXPECT_FALSE(TitleBarVisible({10, 600, 300, 700}, 0, screens));
}

}  // namespace
