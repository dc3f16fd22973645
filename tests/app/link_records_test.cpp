#include "app/link_records.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

size_t CountByte(std::string_view text, char byte) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), byte));
}

TEST(LinkRecords, PackingGivesOneTerminatorAndFiveSeparatorsPerRowWithOneSaveTime) {
    std::vector<LinkRow> rows = {
        {"http://a/x.zip", "1 hour", "Idle", "05 Mar 2011@09:07", "0"},
        {"http://b/y.zip", "2 days", "Trying", "06 Mar 2011@10:00", "3"},
        {"http://c/z.zip", "1 week", "DONE!", "07 Mar 2011@11:11", "12"},
    };
    std::string packed = PackLinkRecords(rows, 1299316020);
    EXPECT_EQ(CountByte(packed, RecordTerminator), 3u);
    EXPECT_EQ(CountByte(packed, FieldSeparator), 15u);
    EXPECT_EQ(packed.substr(0, packed.find(RecordTerminator) + 1),
              "http://a/x.zip\xA4"
              "1 hour\xA4Idle\xA4"
              "05 Mar 2011@09:07\xA4"
              "0\xA4"
              "1299316020\xFF");
    // Every record carries the same save time in its sixth field.
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t end = packed.find(RecordTerminator, start);
        std::string_view record(packed.data() + start, end - start);
        EXPECT_EQ(record.substr(record.rfind(FieldSeparator) + 1), "1299316020");
        start = end + 1;
    }
    EXPECT_EQ(PackLinkRecords({}, 5), "");
}

TEST(LinkRecords, RoundTripKeepsOddCellsAndRestoresTryingAsIdle) {
    std::vector<LinkRow> rows = {
        {"", "", "", "", ""},
        {"  http://h:8080/a b?q=1&r=%41#frag  ", "2 months", "Trying", "", "x7"},
        {"http://h/done.bin", "1 hour", "DONE!", "31 Dec 2099@23:59", "-1"},
    };
    std::vector<LinkRow> back = UnpackLinkRecords(PackLinkRecords(rows, -42));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0], rows[0]);
    EXPECT_EQ(back[1][ColumnUrl], rows[1][ColumnUrl]);
    EXPECT_EQ(back[1][ColumnStatus], "Idle");
    EXPECT_EQ(back[1][ColumnTried], "x7");
    EXPECT_EQ(back[2], rows[2]);  // finished rows are dropped by start-up, not here
}

TEST(LinkRecords, DamagedValuesYieldTheCompleteRecordsOnly) {
    struct Case {
        std::string value;
        std::vector<LinkRow> rows;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"no terminator at all\xA4Idle", {}},
        {"\xFF", {{"", "", "", "", ""}}},
        {"a\xA4"
         "b\xFF"
         "partial\xA4Idle",
         {{"a", "b", "", "", ""}}},
        {"u\xA4i\xA4Trying\xA4t\xA4n\xA4"
         "123\xA4seventh\xFF",
         {{"u", "i", "Idle", "t", "n"}}},
        {"\xFF\xFF"
         "x\xFF",
         {{"", "", "", "", ""}, {"", "", "", "", ""}, {"x", "", "", "", ""}}},
        {"u\xA4i\xA4trying\xFF", {{"u", "i", "trying", "", ""}}},  // status words are exact
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnpackLinkRecords(c.value), c.rows) << c.value;
}

TEST(LinkRecords, AsciiLinkEscapesEverythingThatCouldBreakACellOrTheFile) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://host/file.zip?a=1&b=%20#x", "http://host/file.zip?a=1&b=%20#x"},
        {" spaces stay ", " spaces stay "},
        {"\xA4\xFF", "%A4%FF"},
        {"http://h/\xC3\xA4.zip", "http://h/%C3%A4.zip"},  // UTF-8 for a-umlaut holds 0xA4
        {"a\r\nb\tc\x7F", "a%0D%0Ab%09c%7F"},
        {"", ""},
    };
    for (const auto& [link, ascii] : cases)
        EXPECT_EQ(AsciiLink(link), ascii);
}

}  // namespace
