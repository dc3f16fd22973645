// Where an installed program keeps its settings on Linux: the XDG directories.
#include "app/startup.h"

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>

#include "runtime/files.h"
#include "tests/app/app_fixture.h"

namespace {

using StartUpTest = AppTest;

// Each case sets the environment, then asks where a program at exe keeps its
// settings; the installed ones must have their directory made for them.
TEST(SettingsPlace, AnInstalledProgramKeepsItsSettingsInTheUsersConfiguration) {
    TempDir bin, readonly, home, config;
    chmod(readonly.Path().c_str(), 0555);
    const std::string prefix_bin = bin.Path().substr(0, bin.Path().size() - 1);
    const struct {
        const char* what;
        std::string exe, config_home;
        SettingsPlace expected;
    } cases[] = {
        {"portable, in a temporary directory",
         bin.File("tavimor"),
         config.Path(),
         {"/cwd/", false}},
        {"from the install prefix",
         bin.File("tavimor"),
         config.Path(),
         {config.Path() + "tavimor/", true}},
        {"from a read-only directory",
         readonly.File("tavimor"),
         config.Path(),
         {config.Path() + "tavimor/", true}},
        {"no XDG_CONFIG_HOME",
         readonly.File("tavimor"),
         "",
         {home.Path() + ".config/tavimor/", true}},
        {"a relative XDG_CONFIG_HOME is ignored",
         readonly.File("tavimor"),
         "rel",
         {home.Path() + ".config/tavimor/", true}},
    };
    setenv("HOME", home.Path().c_str(), 1);
    for (const auto& c : cases) {
        setenv("XDG_CONFIG_HOME", c.config_home.c_str(), 1);
        bool prefix = std::string(c.what) == "from the install prefix";
        SettingsPlace place = SettingsPlaceFor(c.exe, "/cwd/", prefix ? prefix_bin : "/usr/bin");
        EXPECT_EQ(place.directory, c.expected.directory) << c.what;
        EXPECT_EQ(place.installed, c.expected.installed) << c.what;
        EXPECT_EQ(std::filesystem::is_directory(place.directory), place.installed) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(readonly.Path()));
    chmod(readonly.Path().c_str(), 0755);
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(StartUpTest, AnInstalledFirstRunOffersTheUsersDownloadFolder) {
    TempDir home;
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const std::pair<std::string, std::string> cases[] = {
        {"", home.Path() + "Downloads/"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n", home.Path() + "Fetched/"},
        {"XDG_DOWNLOAD_DIR=\"/srv/in\"\n", "/srv/in/"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/\"\n", home.Path() + "Downloads/"},
    };
    for (const auto& [user_dirs, offered] : cases) {
        ResetGuiDouble();
        std::filesystem::remove(SettingsPath());
        dir.Write("user-dirs.dirs", user_dirs);
        ASSERT_EQ(StartUp(SettingsPlace{dir.Path(), true}), 1);
        ASSERT_EQ(ShownChoosers().size(), 1u);
        EXPECT_EQ(ShownChoosers()[0].initialFolder, offered) << user_dirs;
        EXPECT_EQ(DownloadDir, offered) << "cancelled: " << user_dirs;
    }
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
