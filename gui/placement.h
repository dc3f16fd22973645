// Whether a window saved at some place would still be seen there: a monitor
// can be unplugged, or another layout chosen, between two runs. Portable: each
// backend lists its screens and asks here.
#pragma once

#include <cstdint>
#include <vector>

// A rectangle on the desktop; right and bottom lie just outside it.
struct ScreenRect {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
};

// Whether any part of the title bar of an outer frame at frame, the frame's
// top titleBarHeight pixels, lies on one of screens. The screens are their
// work areas (a screen less its task bars and panels), since a title bar
// under a panel cannot be grabbed either. False when there is no screen.
bool TitleBarVisible(const ScreenRect& frame, int64_t titleBarHeight,
                     const std::vector<ScreenRect>& screens);
