#include "runtime/text.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(TextSearch, FindAndCountAtTheEdges) {
    struct Case {
        std::string text, word;
        int64_t start, found;
    } cases[] = {{"abc", "c", 3, 3},        {"abc", "c", 4, 0},
                 {"abc", "a", -9, 1},       {"abc", "", 1, 0},
                 {"", "a", 1, 0},           {"abcabc", "bc", 3, 5},
                 {"abc", "cd", 3, 0},       {"Error 404", "error", 0, 0},
                 {"abc", "c", INT64_MAX, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(FindText(c.text, c.word, c.start), c.found) << c.text;
    }
    EXPECT_EQ(CountText("aaaa", "aa"), 2);
    EXPECT_EQ(CountText("aaa", "aa"), 1);
    EXPECT_EQ(CountText("x\xA4y\xA4z", "\xA4"), 2);
    EXPECT_EQ(CountText("", "\xA4") + CountText("abc", ""), 0);
}

TEST(TextFields, FieldAtAndTrim) {
    struct Case {
        std::string text;
        int64_t index;
        std::string separator, field;
    } cases[] = {{"1 hour|3600000", 2, "|", "3600000"},
                 {"1 hour|3600000", 3, "|", ""},
                 {"1 hour|3600000", 0, "|", ""},
                 {"", 1, "|", ""},
                 {"a|b", 1, "", "a|b"},
                 {"a|b", 2, "", ""},
                 {"a\xA4\xA4z\xA4", 2, "\xA4", ""},
                 {"a\xA4\xA4z\xA4", 3, "\xA4", "z"},
                 {"a\xA4\xA4z\xA4", 4, "\xA4", ""},
                 {"a|b;c", 2, "|;", "b;c"}};
    for (const Case& c : cases) {
        EXPECT_EQ(FieldAt(c.text, c.index, c.separator), c.field) << c.text << " #" << c.index;
    }
    EXPECT_EQ(TrimSpaces("  \tx y \t "), "\tx y \t");
    EXPECT_EQ(TrimSpaces("   "), "");
}

TEST(TextCase, LowerTextKeepsUtf8Intact) {
    EXPECT_EQ(LowerText("C:/TEMP/Ab@[`\xC3\x84\xC3\x96"), "c:/temp/ab@[`\xC3\x84\xC3\x96");
    EXPECT_EQ(FindText(LowerText("Error 404"), "error", 0), 1);
}

TEST(TextNumbers, ParseIntegerBasesSignsAndWrapping) {
    struct Case {
        std::string text;
        int64_t value;
    } cases[] = {{" 42abc", 42},
                 {"-$ff", -255},
                 {"$Ff", 255},
                 {"%102", 2},
                 {"0x10", 0},
                 {"- 5", 0},
                 {"+-5", 0},
                 {"\t 12 345", 12},
                 {"$", 0},
                 {"9223372036854775808", INT64_MIN},
                 {"18446744073709551617", 1},
                 {"$ffffffffffffffff", -1},
                 {"-$8000000000000000", INT64_MIN}};
    for (const Case& c : cases) {
        EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
    }
}

TEST(TextNumbers, IntegerTextRoundTrips) {
    EXPECT_EQ(IntegerText(INT64_MIN), "-9223372036854775808");
    for (int64_t value : {int64_t{0}, int64_t{-7}, INT64_MAX, int64_t{3600000}}) {
        EXPECT_EQ(ParseInteger(IntegerText(value)), value);
    }
    EXPECT_EQ(IntegerText(ParseInteger("7") + 1), "8");
}

// Rounded down: a body cut at 999,999 bytes never reads as a megabyte.
TEST(TextNumbers, SizeTextNeverClaimsMoreThanThereIs) {
    const struct {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {-5, "0 bytes"},
        {1, "1 byte"},
        {812, "812 bytes"},
        {12'400, "12.4 KB"},
        {999'999, "999.9 KB"},
        {12'499'999, "12.4 MB"},
        {1'234'000'000, "1.2 GB"},
        {5'000'000'000'000, "5.0 TB"},
        {INT64_MAX, "9223372.0 TB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

}  // namespace
