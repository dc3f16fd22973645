// The settings store on POSIX: write bits, a file size limit, symbolic links,
// FIFOs and the temporaries of dead writers.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/runtime/settings_file_fixture.h"

namespace {

using namespace std::string_literals;

// Without write bits a file or directory is locked, also for the superuser.
TEST_F(SettingsFileTest, LockedFileOrDirectoryFailsAndKeepsTheOldFile) {
    for (bool lock_directory : {false, true}) {
        std::string path = dir.Write("Tavimor.ini", "[G]\r\nk = old\r\n");
        chmod(lock_directory ? dir.Path().c_str() : path.c_str(), lock_directory ? 0555 : 0444);
        EXPECT_EQ(CreateSettingsFile(path), 0);
        EXPECT_EQ(WriteComment("no document"), 0);
        ASSERT_NE(OpenSettingsFile(path), 0);  // still readable
        EXPECT_EQ(SelectGroup("g"), 1);
        EXPECT_EQ(ReadText("K", ""), "old");
        WriteText("k", "new");
        EXPECT_EQ(CloseSettingsFile(), 0);
        EXPECT_EQ(ReadWholeFile(path), "[G]\r\nk = old\r\n");
        EXPECT_EQ(Entries(), OnlyIni);
        chmod(dir.Path().c_str(), 0755);
        chmod(path.c_str(), 0644);
    }
}

// A file size limit makes the write itself fail halfway.
TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    std::string path = dir.Write("Tavimor.ini", "[Links]\r\nEntry = precious\r\n");
    ASSERT_NE(CreateSettingsFile(path), 0);
    SelectGroup("Links");
    WriteText("Entry", std::string(100000, 'x'));
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 4096;
    sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    int closed = CloseSettingsFile();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(ReadWholeFile(path), "[Links]\r\nEntry = precious\r\n");
    EXPECT_EQ(Entries(), OnlyIni);
}

TEST_F(SettingsFileTest, CreateReplacesTheFileOnlyAtCloseAndKeepsItsModeAndLinks) {
    std::string real = dir.Write("real.ini", "old");
    chmod(real.c_str(), 0640);
    fs::create_symlink(real, dir.File("Tavimor.ini"));
    ASSERT_NE(CreateSettingsFile(dir.File("Tavimor.ini")), 0);
    EXPECT_EQ(ReadWholeFile(real), "old");
    EXPECT_NE(CloseSettingsFile(), 0);
    EXPECT_EQ(ReadWholeFile(real), "");  // a created document is written even when empty
    EXPECT_TRUE(fs::is_symlink(dir.File("Tavimor.ini")));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFileTest, AFifoIsNoSettingsFileAndNeverBlocks) {
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
    EXPECT_EQ(CreateSettingsFile(dir.File("fifo")), 0);
    EXPECT_EQ(OpenSettingsFile(dir.File("fifo")), 0);
    WriteText("k", "v");
    EXPECT_EQ(CloseSettingsFile(), 0);
}

}  // namespace
