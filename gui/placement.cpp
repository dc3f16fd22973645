#include "gui/placement.h"

#include <algorithm>

bool TitleBarVisible(const ScreenRect& frame, int64_t titleBarHeight,
                     const std::vector<ScreenRect>& screens) {
    // Some window managers report no frame before the window is shown; the top
    // pixel row of the frame is a title bar of a kind then.
    const int64_t bar_bottom = frame.top + std::max<int64_t>(titleBarHeight, 1);
    return std::any_of(screens.begin(), screens.end(), [&](const ScreenRect& screen) {
        return frame.left < screen.right && screen.left < frame.right &&
               frame.top < screen.bottom && screen.top < bar_bottom;
    });
}
