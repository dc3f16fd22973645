// Where the Windows program keeps its settings when it is installed.
#include "app/startup.h"

#include <filesystem>

#include "runtime/files.h"
#include "tests/app/app_fixture.h"

namespace {

// An installed copy on Windows keeps its settings in the roaming application
// data; a directory the program cannot write makes a copy an installed one.
TEST(SettingsPlace, AProgramThatCannotWriteItsDirectoryUsesApplicationData) {
    TempDir bin;
    const SettingsPlace portable = SettingsPlaceFor(bin.File("tavimor.exe"), "C:\\cwd\\", "");
    EXPECT_FALSE(portable.installed);
    const SettingsPlace installed =
        SettingsPlaceFor(bin.File("missing\\tavimor.exe"), "C:\\cwd\\", "");
    EXPECT_TRUE(installed.installed);
    EXPECT_TRUE(installed.directory.ends_with("\\Tavimor\\")) << installed.directory;
    EXPECT_TRUE(std::filesystem::is_directory(NativePath(installed.directory)));
    EXPECT_TRUE(std::filesystem::is_empty(NativePath(bin.Path())));
}

}  // namespace
