// The rules every backend takes from gui/backend.cpp rather than from its
// toolkit: the Tab order and a field's text colour.
#include "gui/backend.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The program's window, its controls in the order they are made.
TEST(TabOrder, RowByRowFromTheTopThenLeftToRight) {
    EXPECT_EQ(TabOrder({{0, 0, 20},
                        {1, 510, 120},
                        {2, 0, 120},
                        {3, 40, 120},
                        {4, 0, 0},
                        {5, 510, 0},
                        {6, 100, 120},
                        {7, 210, 120},
                        {8, 140, 120}}),
              (std::vector<int>{4, 5, 0, 2, 3, 6, 8, 7, 1}));
}

TEST(TextColourOn, BlackOrWhiteWhicheverContrastsMore) {
    const Colour Black = RgbColor(0, 0, 0), White = RgbColor(255, 255, 255);
    const struct {
        int red, green, blue;
        Colour text;
    } cases[] = {
        {255, 255, 255, Black}, {220, 220, 0, Black},  // the field's own two
        {0, 0, 0, White},       {30, 30, 30, White},    {0, 0, 128, White},
        {0, 0, 255, White},     {255, 0, 0, Black},     {128, 128, 128, Black},
        {0, 100, 0, White},     {118, 118, 118, Black}, {117, 117, 117, White},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextColourOn(RgbColor(c.red, c.green, c.blue)), c.text)
            << c.red << "," << c.green << "," << c.blue;
}

}  // namespace
