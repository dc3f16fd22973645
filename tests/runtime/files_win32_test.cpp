// Files and paths on Windows: UTF-8 paths outside any code page, drive roots,
// the current directory and the handle count.
#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "runtime/files.h"
#include "runtime/wide_text_win32.h"
#include "tests/runtime/open_handles.h"
#include "tests/support/temp_dir.h"

// A file we hold open refuses an open that shares nothing.
bool HeldOpen(const std::string& path) {
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

namespace {

// Latin, CJK and a character outside the BMP (a surrogate pair in UTF-16).
const std::string Unusual =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x93\xA6";

TEST(WindowsPaths, NonAsciiDirectoriesWorkThroughout) {
    TempDir dir;
    const std::string folder = dir.File(Unusual);
    ASSERT_TRUE(std::filesystem::create_directory(NativePath(folder)));
    const std::string file = dir.Write(Unusual + "\\" + Unusual + ".txt", "one\r\ntwo");
    EXPECT_EQ(DirectoryOf(file), folder + "\\");
    EXPECT_EQ(FileNameOf(file), Unusual + ".txt");
    EXPECT_EQ(QueryFileSize(file), 8);
    EXPECT_EQ(QueryFileSize(folder), -2);
    ASSERT_NE(FileOpenRead(1, file), 0);
    EXPECT_EQ(FileReadLine(1), "one");
    EXPECT_EQ(FileReadLine(1), "two");
    FileClose(1);

    std::filesystem::path saved = std::filesystem::current_path();
    ASSERT_TRUE(SetCurrentDirectoryW(WideFromUtf8(folder).c_str()));
    const std::string inside = CurrentDirectory();
    SetCurrentDirectoryW(L"C:\\");
    const std::string root = CurrentDirectory();
    std::filesystem::current_path(saved);
    EXPECT_EQ(inside, folder + "\\");
    EXPECT_EQ(root, "C:\\");

    EXPECT_NE(RemoveFile(file), 0);
    EXPECT_EQ(QueryFileSize(file), -1);
}

TEST(WindowsPaths, DriveRootsAndTheProgramsOwnPath) {
    EXPECT_EQ(PathSeparator, '\\');
    EXPECT_EQ(FileNameOf(ExecutablePath()), "runtime_tests.exe");
    char missing = 0;
    for (char letter = 'Z'; letter >= 'D' && missing == 0; --letter)
        if (!(GetLogicalDrives() & (1u << (letter - 'A')))) missing = letter;
    ASSERT_NE(missing, 0);
    const struct {
        std::string path;
        int64_t size;
    } cases[] = {{"C:", -2},
                 {"C:\\", -2},
                 {std::string(1, missing) + ":", -1},
                 {std::string(1, missing) + ":\\", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(QueryFileSize(c.path), c.size) << c.path;
}

// A DLL beside the program, named like any other, is never loaded.
TEST(WindowsPaths, LibrariesComeFromTheSystemOnly) {
    HMODULE beside = LoadLibraryW(L"library_probe.dll");
    ASSERT_TRUE(beside) << "the probe DLL is not beside the tests";
    FreeLibrary(beside);
    LoadLibrariesFromTheSystemOnly();
    EXPECT_FALSE(LoadLibraryW(L"library_probe.dll"));
    EXPECT_TRUE(LoadLibraryW(L"version.dll"));
}

}  // namespace
