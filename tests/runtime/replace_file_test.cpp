#include "runtime/replace_file.h"

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// What each way out of a replacement leaves: the target, and the temporary.
TEST(FileReplacement, LeavesTheOldFileOrTheWholeNewOne) {
    enum class End { Commit, Drop, CommitOverADirectory, Keep, Continue };
    const struct {
        End end;
        std::string target;  // what the target holds afterwards
        bool temporary;      // whether the temporary is still there
    } cases[] = {
        {End::Commit, "new", false},
        {End::Drop, "old", false},
        {End::CommitOverADirectory, "old", false},
        {End::Keep, "old", true},
        {End::Continue, "old", true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::string target = dir.Write("target", "old");
        std::string temporary = dir.File(".target.tmp");
        if (c.end == End::CommitOverADirectory) {
            target = dir.File("folder");
            std::filesystem::create_directory(NativePath(target));
            std::filesystem::create_directory(NativePath(target + "/inside"));
        }
        if (c.end == End::Continue) dir.Write(".target.tmp", "ne");
        {
            std::optional<FileReplacement> file;
            if (c.end == End::Continue)
                file.emplace(FileReplacement::Continue{}, temporary);
            else
                file.emplace(temporary);
            ASSERT_TRUE(file->IsOpen());
            ASSERT_TRUE(file->Write(c.end == End::Continue ? "w" : "new"));
            bool ended = true;  // Drop and Continue just let the file go
            if (c.end == End::Commit || c.end == End::CommitOverADirectory)
                ended = file->Commit(target);
            else if (c.end == End::Keep)
                ended = file->Keep();
            EXPECT_EQ(ended, c.end != End::CommitOverADirectory) << static_cast<int>(c.end);
        }
        EXPECT_EQ(ReadWholeFile(dir.File("target")), c.target) << static_cast<int>(c.end);
        EXPECT_EQ(std::filesystem::exists(NativePath(temporary)), c.temporary)
            << static_cast<int>(c.end);
    }
}

TEST(FileReplacement, NeverTakesOverAFileThatIsThere) {
    TempDir dir;
    std::string taken = dir.Write("taken", "someone's");
    {
        FileReplacement file(taken);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(file.Taken());
        EXPECT_FALSE(file.Write("mine"));
        EXPECT_FALSE(file.Commit(dir.File("target")));
    }
    EXPECT_EQ(ReadWholeFile(taken), "someone's");
    EXPECT_TRUE(ReplaceFileWhole(dir.File("t.tmp"), dir.File("target"), "whole"));
    EXPECT_EQ(ReadWholeFile(dir.File("target")), "whole");
}

}  // namespace
