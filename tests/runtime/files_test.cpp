#include "runtime/files.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/runtime/open_handles.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

// Reads number to its end the way the link check does; stops a runaway loop.
Lines ReadAll(int number) {
    Lines lines;
    while (!FileAtEnd(number) && lines.size() < 100000)
        lines.push_back(FileReadLine(number));
    return lines;
}

Lines ReadFileLines(const TempDir& dir, const std::string& bytes) {
    if (FileOpenRead(5, dir.Write("lines.txt", bytes)) == 0) return {"<open failed>"};
    Lines lines = ReadAll(5);
    FileClose(5);
    return lines;
}

TEST(FilePaths, DirectoryAndFileNameSplit) {
    struct Case {
        std::string path, directory, name;
    } cases[] = {{"C:\\Tools\\x.exe", "C:\\Tools\\", "x.exe"},
                 {"x.exe", "", "x.exe"},
                 {"C:\\a|b\\c", "C:\\", "c"},
                 {"\"/opt/my app/run\" --flag", "/opt/my app/", "run"},
                 {"dir/", "dir/", ""},
                 {"\"", "", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
        EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
    }
}

TEST(FileQueries, SizeAndRemoval) {
    TempDir dir;
    std::string five = dir.Write("five", "12345");
    EXPECT_EQ(QueryFileSize(dir.Write("empty", "")), 0);
    EXPECT_EQ(QueryFileSize(five + "/"), 5);
    EXPECT_EQ(QueryFileSize(five + std::string(1, '\0')), -1);
    EXPECT_EQ(QueryFileSize(""), -1);
    EXPECT_EQ(QueryFileSize(dir.Path() + "//"), -2);
    EXPECT_EQ(QueryFileSize(dir.Path().substr(0, dir.Path().size() - 1)), -2);
    EXPECT_EQ(RemoveFile(""), 0);
    EXPECT_EQ(RemoveFile(dir.Path()), 0);
    EXPECT_NE(RemoveFile(five), 0);
    EXPECT_EQ(QueryFileSize(five), -1);
    EXPECT_EQ(RemoveFile(five), 0);
}

TEST(FileQueries, RemovedWhileOpenStaysReadable) {
    TempDir dir;
    std::string path = dir.Write("open.txt", std::string(5000, 'x') + "\nsecond\n");
    ASSERT_NE(FileOpenRead(7, path), 0);
    EXPECT_EQ(FileReadLine(7).size(), 5000u);
    EXPECT_NE(RemoveFile(path), 0);
    EXPECT_EQ(ReadAll(7), Lines{"second"});
    FileClose(7);
    // Older Windows (and Wine) keep the name listed until the last handle goes.
    EXPECT_EQ(QueryFileSize(path), -1);
}

TEST(FileLines, LineEndsAndBufferBoundaries) {
    TempDir dir;
    std::string head(4095, 'h');  // a CR here is the last byte of the first block
    std::string block(4096, 'b');
    struct Case {
        std::string bytes;
        Lines lines;
    } cases[] = {{"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
                 {"abc\r", {"abc"}},
                 {"", {}},
                 {"\r\r\n\n\n\r", {"", "", "", "", ""}},
                 {std::string("a\0b\0", 4), {"a", "b"}},
                 {head + "\r\nnext", {head, "next"}},
                 {head + "\rnext", {head, "next"}},
                 {block + "\n" + block + block, {block, block + block}}};
    for (const Case& c : cases) {
        EXPECT_EQ(ReadFileLines(dir, c.bytes), c.lines);
    }
    // With a limit, a long line gives only its start, across blocks, and the
    // next line follows.
    ASSERT_NE(FileOpenRead(5, dir.Write("long.txt", block + block + "\nnext")), 0);
    EXPECT_EQ(FileReadLine(5, 5000), std::string(5000, 'b'));
    EXPECT_EQ(FileReadLine(5, 5000), "next");
    FileClose(5);
}

TEST(FileTableSlots, FailuresLeaveSlotsEmpty) {
    TempDir dir;
    std::string path = dir.Write("t.txt", "one\n");
    EXPECT_EQ(FileOpenRead(2, dir.File("missing")), 0);
    EXPECT_EQ(FileReadLine(2), "");
    EXPECT_TRUE(FileAtEnd(2));
    EXPECT_EQ(FileOpenRead(2, dir.Path()) + FileOpenRead(-1, path), 0);
    EXPECT_EQ(FileOpenRead(MaxFileNumber + 1, path), 0);
    EXPECT_EQ(FileReadLine(1 << 30), "");
    ASSERT_NE(FileOpenRead(4, path), 0);
    EXPECT_EQ(FileOpenRead(4, dir.File("missing")), 0);
    EXPECT_TRUE(FileAtEnd(4));
}

TEST(FileTableSlots, ReopenGrowAndCloseAll) {
    TempDir dir;
    std::string first = dir.Write("first", "1a\n1b\n");
    std::string second = dir.Write("second", "2a\n");
    ASSERT_NE(FileOpenRead(3, first), 0);
    EXPECT_FALSE(FileAtEnd(3));
    EXPECT_EQ(FileReadLine(3), "1a");  // the end test consumed nothing
    ASSERT_NE(FileOpenRead(3, second), 0);
    EXPECT_FALSE(HeldOpen(first));
    EXPECT_TRUE(HeldOpen(second));
    EXPECT_EQ(ReadAll(3), Lines{"2a"});
    ASSERT_NE(FileOpenRead(40, first) * FileOpenRead(MaxFileNumber, second), 0);
    EXPECT_EQ(FileReadLine(40) + FileReadLine(MaxFileNumber), "1a2a");
    FileCloseAll();
    EXPECT_FALSE(HeldOpen(first) || HeldOpen(second));
    EXPECT_TRUE(FileAtEnd(40));
}

}  // namespace
