// Lengths carried from one resolution to another: the 96-dpi layout to the
// pixels of a monitor, points to pixels, and back. No Win32 here, so the
// rounding is checked on every platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

// value * to / from, rounded half away from zero as MulDiv does, so that the
// layout lands on the same pixels at start and after a change of monitor.
// A resolution below 1 is taken as 96; the result is clamped to int.
constexpr int Rescale(int value, int to, int from) {
    int64_t numerator = static_cast<int64_t>(value) * (to < 1 ? 96 : to);
    int64_t denominator = from < 1 ? 96 : from;
    int64_t half = denominator / 2;
    int64_t result =
        numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
    return static_cast<int>(std::clamp<int64_t>(result, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}
