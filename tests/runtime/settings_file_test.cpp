#include "runtime/settings_file.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/runtime/settings_file_fixture.h"

namespace {

using namespace std::string_literals;

// ---- The user's file is never damaged ----

TEST_F(SettingsFileTest, ReadingNeverRewritesTheFile) {
    // Whole seconds, which every file system stores exactly.
    const fs::file_time_type long_ago = std::chrono::floor<std::chrono::seconds>(
        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    for (std::string bytes : {""s, "a=1"s, "\r\r\n\n[G]\rk = v  \n\n"s, " ;x\t\n[G\nk\r"s,
                              Bom + "[G]\r\nk=\xC3"s, "\xEF\xBB"s}) {
        std::string path = dir.Write("Tavimor.ini", bytes);
        fs::last_write_time(NativePath(path), long_ago);
        ASSERT_NE(OpenSettingsFile(path), 0);
        SelectGroup("G");
        ReadText("k", "");
        SelectGroup("missing");
        ReadInteger("k", 0);
        EXPECT_NE(CloseSettingsFile(), 0);
        EXPECT_EQ(ReadWholeFile(path), bytes);
        EXPECT_EQ(fs::last_write_time(NativePath(path)), long_ago);
        EXPECT_EQ(Entries(), OnlyIni);
    }
}

// ---- Reading ----

struct ReadCase {
    std::string file, group, key, expected;
};

TEST_F(SettingsFileTest, ReadsLinesByTheirSyntax) {
    const ReadCase cases[] = {
        {" \t key \t=  value  \t\r\n", "", "key", "value"},
        {"a = b = c", "", "a", "b = c"},
        {"[Links\nentry=x", "Links", "ENTRY", "x"},
        {"[Links]x] junk\rEntry = x", "links", "entry", "x"},
        {"[G]\rnoequals\rnext = 2", "G", "next", "2"},
        {"[G]\nnoequals\nnext = 2", "G", "noequals", ""},
        {"[G]\r\nk=1\r\n[G]\r\nk=2", "G", "k", "1"},
        {"[G]\nk=1\nk=2", "G", "k", "1"},
        {"k=top\n[G]\nk=1", "", "k", "top"},
        {"[G]\nj=1\n[H]\nk=2", "G", "k", "default"},
        {"[G]\n;k=1\n k = 3", "G", "k", "3"},
        {"[ G ]\nk=1", "G", "k", "default"},
        {"[\xC4]\nk=1", "\xE4", "k", "default"},
        {"[G]\nk = v\0w"s, "G", "k", "v\0w"s},
        {"[G]\nk = \xC3\xA4", "G", "k", "\xC3\xA4"},
        {Bom + "[\xC3\x84]\nk = \xC3\xA4", "\xC4", "k", "\xE4"},
        // Decoding: above 0xFF, a lead without its continuation, 3 and 4 bytes, strays.
        {Bom + "k = \xC4\x80|\xC3"
               "A|\xE2\x82\xAC|\xE2\x82"
               "A|\xF0\x9F\x98\x80|a\x80\xF8xyz\xFF",
         "", "k", "?|?A|?|?A|?|axyz"},
        {Bom + "k = \xC0\x80 x\xE2\x82", "", "k", "\0 x"s},
    };
    for (const ReadCase& c : cases) {
        ASSERT_NE(OpenSettingsFile(dir.Write("Tavimor.ini", c.file)), 0);
        SelectGroup(c.group);
        EXPECT_EQ(ReadText(c.key, "default"), c.expected) << c.file;
    }
}

TEST_F(SettingsFileTest, ReadsIntegers) {
    const std::pair<std::string, int64_t> cases[] = {
        {"42abc", 42},
        {" \t-17", -17},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", INT64_MIN},  // wraps
    };
    for (const auto& [value, expected] : cases) {
        ASSERT_NE(OpenSettingsFile(dir.Write("Tavimor.ini", "[G]\nn = " + value)), 0);
        SelectGroup("G");
        EXPECT_EQ(ReadInteger("n", 99), expected) << value;
        EXPECT_EQ(ReadInteger("missing", 99), 99);
    }
}

// ---- Writing ----

TEST_F(SettingsFileTest, CreatedFileComesOutInTheOrderWritten) {
    ASSERT_NE(CreateSettingsFile(dir.File("Tavimor.ini")), 0);
    EXPECT_EQ(WriteComment("Top"), 1);
    EXPECT_EQ(SelectGroup("Global"), 0);
    WriteText("Dir", "/d/");
    WriteInteger("X", INT64_MIN);
    WriteInteger("Y", 7);
    SelectGroup("Links");
    WriteText("Entry", "");
    EXPECT_NE(CloseSettingsFile(), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("Tavimor.ini")),
              "; Top\r\n[Global]\r\nDir = /d/\r\nX = -9223372036854775808\r\nY = 7\r\n"
              "[Links]\r\nEntry = \r\n");
}

TEST_F(SettingsFileTest, RewritesInTheCanonicalForm) {
    const std::pair<std::string, std::string> cases[] = {
        {";c1\n; c2\n\n\n[G]\r\n  k=v  \n", "; c1\r\n; c2\r\n[G]\r\nk = v  \r\n"},
        {"[G\r\n[H]junk\n;", "[G]\r\n[H]\r\n; \r\n"},
        {Bom + "k=v", Bom + "\r\nk = v\r\n"},
        {"\xEF\xBB", "\xEF\xBB = \r\n"},
    };
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(Rewrite(file, AppendExtra), expected + "[Extra]\r\nk = v\r\n") << file;
    }
}

TEST_F(SettingsFileTest, WritesLandInTheirGroup) {
    std::string out = Rewrite("; c\n[A]\nx=1\n[B]\ny=2\n[A]\nx=3", [] {
        SelectGroup("a");
        WriteText("Z", "new");    // end of the first [A]
        WriteText("X", "9");      // first x, key takes the new case
        WriteComment("after X");  // after the line written last
        SelectGroup("B");
        SelectGroup("C");
        EXPECT_EQ(ReadText("y", "default"), "default");
        WriteInteger("q", 1);  // creates [C] at the end
        SelectGroup("");
        WriteText("top", "t");  // before the first header
    });
    EXPECT_EQ(out,
              "; c\r\ntop = t\r\n[A]\r\nX = 9\r\n; after X\r\nZ = new\r\n[B]\r\ny = 2\r\n"
              "[A]\r\nx = 3\r\n[C]\r\nq = 1\r\n");
}

// A UTF-8 file must carry every byte back, the record bytes 0xA4 and 0xFF included.
TEST_F(SettingsFileTest, Utf8FileRoundTripsEveryByte) {
    std::string value = "x";
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n') value += static_cast<char>(b);
    }
    value += "\xA4\xFFx";
    std::string out = Rewrite(Bom + "[Links]\n", [&] {
        SelectGroup("Links");
        WriteText("Schl\xFCssel", value);
    });
    EXPECT_EQ(out.rfind(Bom + "\r\n[Links]\r\nSchl\xC3\xBCssel = x\x01", 0), 0u);
    EXPECT_NE(out.find("\xC2\xA4\xC3\xBFx\r\n"), std::string::npos);
    ASSERT_NE(OpenSettingsFile(dir.File("Tavimor.ini")), 0);
    SelectGroup("links");
    EXPECT_EQ(ReadText("SCHL\xFCSSEL", ""), value);
}

// ---- Odd input ----

// Whatever the bytes, a rewritten file reads back as it was written.
TEST_F(SettingsFileTest, RandomFilesSurviveRewriting) {
    std::mt19937 random(4);
    const std::string alphabet = "[];= \t\r\n\xEF\xBB\xBF\xC3\xA4\x80\xFF\0aAkK"s;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = round % 3 == 0 ? Bom : "";
        for (size_t n = random() % 300; n > 0; --n) {
            bytes += round % 2 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        }
        std::string once = Rewrite(bytes, AppendExtra);
        EXPECT_EQ(Rewrite(once, AppendExtra), once) << round;
        ASSERT_NE(OpenSettingsFile(dir.File("Tavimor.ini")), 0);
        SelectGroup("extra");
        EXPECT_EQ(ReadText("K", ""), "v");
    }
}

// A first key beginning with the mark's bytes must not turn a plain document
// into UTF-8 on its next reading, which would drop its key and mangle its value.
TEST_F(SettingsFileTest, KeyWithTheMarksBytesFirstKeepsThePlainDocumentPlain) {
    const std::string key = "\xEF\xBB\xBFk";
    const std::function<void()> edits[] = {
        [] {},  // the key stands first in the file already, behind a blank
        [&] {
            CreateSettingsFile(dir.File("Tavimor.ini"));
            WriteText(key, "\xE4");
        },
        [&] {
            SelectGroup("");
            WriteText(key, "\xE4");
        },
    };
    for (const std::function<void()>& edit : edits) {
        std::string out = Rewrite(" " + key + "=\xE4\n", [&] {
            edit();
            AppendExtra();
        });
        EXPECT_EQ(out, "\r\n" + key + " = \xE4\r\n[Extra]\r\nk = v\r\n");
        ASSERT_NE(OpenSettingsFile(dir.File("Tavimor.ini")), 0);
        EXPECT_EQ(ReadText(key, "missing"), "\xE4");
        EXPECT_EQ(ReadText("k", "missing"), "missing");
        EXPECT_EQ(Rewrite(out, AppendExtra), out);
    }
}

// Overlong sequences decode to their code point, but a line break read out of
// a value would split the line when the value is saved again.
TEST_F(SettingsFileTest, OverlongLineBreaksReadAsQuestionMarksAndSurviveRewriting) {
    const std::string file = Bom +
                             "[Links]\nEntry = a\xC0\x8D"
                             "b\xC0\x8A"
                             "c\xC0\x80!\n";
    std::string first_read;
    Rewrite(file, [&] {
        SelectGroup("Links");
        first_read = ReadText("Entry", "");
        WriteText("Entry", first_read);
    });
    EXPECT_EQ(first_read, "a?b?c\0!"s);
    ASSERT_NE(OpenSettingsFile(dir.File("Tavimor.ini")), 0);
    SelectGroup("Links");
    EXPECT_EQ(ReadText("Entry", ""), first_read);
}

TEST_F(SettingsFileTest, HugeLineWithoutLineEnd) {
    std::string value(8 << 20, 'v');
    value[12345] = '=';
    std::string out = Rewrite("[G]\nk = " + value, [&] {
        SelectGroup("G");
        EXPECT_TRUE(ReadText("k", "") == value);
        WriteText("k2", value);
    });
    EXPECT_TRUE(out == "[G]\r\nk = " + value + "\r\nk2 = " + value + "\r\n");
}

// ---- Missing documents ----

// A writer killed mid-save leaves its temporary file; the next save removes it,
// but never a live writer's (our own process here) nor another file's.
TEST_F(SettingsFileTest, SaveRemovesTemporariesOfDeadWritersOnly) {
    const std::string live = ".Tavimor.ini." + std::to_string(ThisProcessNumber()) + ".9.tmp";
    std::vector<std::string> kept = {live, ".Tavimor.ini.x.1.tmp", ".other.ini.999999996.1.tmp",
                                     "Tavimor.ini"};
    for (const std::string& name : kept)
        dir.Write(name, "keep");
    dir.Write(".Tavimor.ini.999999996.3.tmp", "stale");  // beyond any process id in use
    ASSERT_NE(CreateSettingsFile(dir.File("Tavimor.ini")), 0);
    EXPECT_NE(CloseSettingsFile(), 0);
    std::vector<std::string> names = Entries();
    std::sort(names.begin(), names.end());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(names, kept);
}

TEST_F(SettingsFileTest, MissingFileIsCreatedOnlyWhenWritten) {
    std::string path = dir.File("Tavimor.ini");
    EXPECT_EQ(OpenSettingsFile(path), 0);
    EXPECT_NE(CloseSettingsFile(), 0);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(OpenSettingsFile(path), 0);
    EXPECT_EQ(SelectGroup("G"), 0);
    EXPECT_EQ(ReadText("k", "d"), "d");
    WriteText("k", "v");
    EXPECT_NE(CloseSettingsFile(), 0);
    EXPECT_EQ(ReadWholeFile(path), "[G]\r\nk = v\r\n");
}

TEST_F(SettingsFileTest, UnusablePathsFailWithoutADocument) {
    for (std::string path : {""s, dir.Path(), dir.File("no/such.ini"), dir.File("a\0b"s)}) {
        EXPECT_EQ(CreateSettingsFile(path), 0) << path;
        EXPECT_EQ(SelectGroup(""), 0);
        EXPECT_EQ(WriteComment("c"), 0);
        EXPECT_EQ(OpenSettingsFile(path), 0) << path;
        WriteText("k", "v");
        EXPECT_EQ(CloseSettingsFile(), 0) << path;
    }
    EXPECT_EQ(ReadText("k", "d"), "d");
    EXPECT_EQ(ReadInteger("k", 5), 5);
    EXPECT_NE(CloseSettingsFile(), 0);
}

}  // namespace
