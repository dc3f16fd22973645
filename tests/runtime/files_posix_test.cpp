// Files and paths on POSIX: long directories, the root, FIFOs and descriptors.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "runtime/files.h"
#include "runtime/replace_file.h"
#include "tests/runtime/open_handles.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

bool HeldOpen(const std::string& path) {
    const fs::path file = fs::canonical(path);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;  // the iterator's own descriptor, or one closed meanwhile
        if (fs::read_symlink(entry.path(), gone) == file) return true;
    }
    return false;
}

namespace {

TEST(FilePaths, LocationsAreNeverCut) {
    EXPECT_EQ(FileNameOf(ExecutablePath()), "runtime_tests");
    TempDir dir;
    std::string nested;
    for (char c = 'a'; c < 'm'; ++c)
        nested += std::string(30, c) + "/";
    fs::path deep = fs::canonical(dir.Path()) / nested.substr(0, nested.size() - 1);
    fs::create_directories(deep);
    fs::path saved = fs::current_path();
    ASSERT_EQ(chdir(deep.c_str()), 0);
    std::string long_dir = CurrentDirectory();
    ASSERT_EQ(chdir("/"), 0);
    std::string root = CurrentDirectory();
    fs::current_path(saved);
    EXPECT_EQ(long_dir, deep.string() + "/");
    EXPECT_EQ(root, "/");
    EXPECT_EQ(QueryFileSize(dir.Write(nested + "f", "xyz")), 3);
}

TEST(FileQueries, RootAndFifo) {
    TempDir dir;
    EXPECT_EQ(QueryFileSize("/"), -2);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(FileOpenRead(2, dir.File("fifo")), 0);  // must not wait for a writer
    EXPECT_TRUE(FileAtEnd(2));
    // A link in a kept part's place is never written through.
    std::string victim = dir.Write("victim", "mine");
    ASSERT_EQ(symlink(victim.c_str(), dir.File("f.bin.part").c_str()), 0);
    EXPECT_FALSE(FileReplacement(FileReplacement::Continue{}, dir.File("f.bin.part")).IsOpen());
    EXPECT_EQ(ReadWholeFile(victim), "mine");
}

}  // namespace
