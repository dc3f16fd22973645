#include "app/startup.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "runtime/files.h"
#include "tests/app/app_fixture.h"
#include "tests/support/path_spelling.h"

namespace {

using StartUpTest = AppTest;

TEST_F(StartUpTest, FirstRunAsksForTheDownloadDirectoryAndWritesAFreshFile) {
    StartUp(dir.Path());  // the folder chooser is cancelled
    ASSERT_EQ(ShownChoosers().size(), 1u);
    EXPECT_EQ(ShownChoosers()[0].title, "Please choose a save path for files");
    EXPECT_EQ(ShownChoosers()[0].initialFolder, dir.Path());
    EXPECT_EQ(DownloadDir, dir.Path());
    const std::string saved = Settings();
    EXPECT_NE(saved.find("Default Download Directory = " + dir.Path() + "\r\n"), std::string::npos);
    EXPECT_EQ(saved.substr(saved.size() - 10), "Entry = \r\n");
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, UrlField, AboutButton}));
    EXPECT_TRUE(WindowState().shown);
    EXPECT_EQ(WindowState().title, "Tavimor (TVX) v1.0 - 26 Nov 2011 by Brennick");
    EXPECT_TRUE(ShownBoxes().empty());

    // The next start reads that file instead of asking again.
    ResetGuiDouble();
    StartUp(dir.Path());
    EXPECT_TRUE(ShownChoosers().empty());
}

TEST_F(StartUpTest, TheChosenFolderBecomesTheDownloadDirUnlessItCannotBeStored) {
    ScriptFolder("/srv/downloads/");
    StartUp(dir.Path());
    EXPECT_EQ(DownloadDir, "/srv/downloads/");
    std::filesystem::remove(SettingsPath());
    ResetGuiDouble();
    ScriptFolder("/srv/two\nlines/");
    StartUp(dir.Path());
    EXPECT_EQ(DownloadDir, dir.Path());
}

TEST_F(StartUpTest, RestoresRowsDroppingFinishedOnesAndResumingNothing) {
    StartWithRows({Row("http://h/1", "Trying", "4"), Row("http://h/2", "DONE!"),
                   Row("http://h/3", "DONE!"), Row("http://h/4\xC3\xA9", "Idle", "2")});
    std::vector<LinkRow> expected = {Row("http://h/1", "Idle", "4"),
                                     Row("http://h/4%C3%A9", "Idle", "2")};
    EXPECT_EQ(RowsOnScreen(), expected);
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(EnabledControls(),
              (std::vector<int>{LinkList, StartButton, DeleteAllButton, UrlField, AboutButton}));
    EXPECT_EQ(SelectedIndex(LinkList), -1);
    EXPECT_EQ(WindowState().x, 10);  // the stored place, not the centre
    EXPECT_EQ(WindowState().y, 20);
}

// The double's centred window sits at 685,470 of a 1920 x 1080 screen.
TEST_F(StartUpTest, APlaceOnAMonitorThatHasGoneIsCentredInstead) {
    const struct {
        std::vector<ScreenRect> screens;
        int64_t x, y;
        int at_x, at_y;
    } cases[] = {
        {{{0, 0, 1920, 1080}}, 40, 30, 40, 30},
        {{{0, 0, 1280, 1024}}, 3000, 2500, 685, 470},
        {{{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}}, 3000, 500, 3000, 500},
        {{{0, 0, 1920, 1080}}, 3000, 500, 685, 470},
        {{{-1280, -300, 0, 724}, {0, 0, 1920, 1080}}, -1000, -250, -1000, -250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        ResetGuiDouble();
        SetScreens(c.screens);
        dir.Write("Tavimor.ini", SettingsFileWith(Downloads(), {}, c.x, c.y));
        ASSERT_EQ(StartUp(dir.Path()), 1);
        EXPECT_EQ(WindowState().x, c.at_x);
        EXPECT_EQ(WindowState().y, c.at_y);
    }
}

// The session ends before the user quits: the place the window was moved to
// and the rows are saved, even over a settings file gone meanwhile.
TEST_F(StartUpTest, AnEndingSessionSavesWhatTheUserSees) {
    StartWithRows({Row("http://h/1", "Idle", "4")});
    MoveWindowTo(MainWindow, 300, 200);
    std::filesystem::remove(SettingsPath());
    ASSERT_TRUE(EndSession());
    EXPECT_EQ(RowsInSettings(), (std::vector<LinkRow>{Row("http://h/1", "Idle", "4")}));
    EXPECT_NE(Settings().find("Window X Position = 300\r\nWindow Y Position = 200\r\n"),
              std::string::npos);
    EndProgram();
    EXPECT_FALSE(EndSession());
}

TEST_F(StartUpTest, RemovesPartsNobodyContinuedForThirtyDays) {
    for (const char* name :
         {"old.zip.part", "old.zip.part.tavimor", "new.zip.part", "new.zip.part.tavimor"}) {
        auto path = NativePath(dir.Write(name, "x"));
        if (name[0] == 'o')
            std::filesystem::last_write_time(
                path, std::filesystem::last_write_time(path) - std::chrono::hours(24 * 31));
    }
    StartWithRows({});
    EXPECT_FALSE(std::filesystem::exists(NativePath(dir.File("old.zip.part"))));
    EXPECT_FALSE(std::filesystem::exists(NativePath(dir.File("old.zip.part.tavimor"))));
    EXPECT_TRUE(std::filesystem::exists(NativePath(dir.File("new.zip.part"))));
    EXPECT_TRUE(std::filesystem::exists(NativePath(dir.File("new.zip.part.tavimor"))));
}

TEST_F(StartUpTest, OnlyFinishedRowsLeaveStartEnabledOverAnEmptyList) {
    StartWithRows({Row("http://h/1", "DONE!"), Row("http://h/2", "DONE!")});
    EXPECT_EQ(CountItems(LinkList), 0);
    EXPECT_TRUE(ControlEnabled(StartButton));
    EXPECT_FALSE(ControlEnabled(DeleteAllButton));
}

TEST_F(StartUpTest, MissingKeysTakeTheirDefaultsOneByOne) {
    const std::string file =
        "[global]\nwindow y position = 77x\n[LINKS]\nentry=a\xA4\x32 hours\xFF";
    dir.Write("Tavimor.ini", file);
    StartUp(dir.Path());
    EXPECT_TRUE(ShownChoosers().empty());
    EXPECT_EQ(DownloadDir, dir.Path());
    EXPECT_EQ(WindowState().y, 77);
    EXPECT_EQ(WindowMinimizedText, "No");
    EXPECT_EQ(RowsOnScreen(), (std::vector<LinkRow>{{"a", "2 hours", "", "", ""}}));
    EXPECT_EQ(Settings(), file);  // read, never rewritten
}

TEST_F(StartUpTest, BuildsTheIntervalChoicesWithTheRestingItemSelected) {
    StartUp(dir.Path());
    ASSERT_EQ(CountItems(IntervalCombo), 13);
    EXPECT_EQ(ItemText(IntervalCombo, 0, 0), "Check interval:");
    EXPECT_EQ(ItemText(IntervalCombo, 12, 0), "2 months");
    EXPECT_EQ(SelectedIndex(IntervalCombo), 0);
    EXPECT_EQ(ItemText(LinkList, -1, 0), "HTTP Link(s) only, specifically files");
    EXPECT_EQ(ItemText(LinkList, -1, 4), "Tried");
}

// Buttons are named for screen readers by their captions; the field and the
// list by names of their own.
TEST_F(StartUpTest, PlacesTheNineControlsWithTheirTextsAndNames) {
    StartUp(dir.Path());
    struct Expected {
        int control, x, y, width, height;
        const char *text, *name;
    };
    const Expected controls[] = {
        {LinkList, 0, 20, 550, 100, "", "Links"},
        {StartButton, 510, 120, 40, 20, "Start!", ""},
        {DeleteButton, 0, 120, 40, 20, "Delete", ""},
        {DeleteAllButton, 40, 120, 60, 20, "Delete All", ""},
        {UrlField, 0, 0, 510, 20, "", "Link"},
        {AddButton, 510, 0, 40, 20, "Add", ""},
        {OpenButton, 100, 120, 40, 20, "Open", ""},
        {IntervalCombo, 210, 120, 100, 20, "", ""},
        {AboutButton, 140, 120, 70, 20, "About TVX", ""},
    };
    for (const Expected& e : controls) {
        SCOPED_TRACE(e.control);
        Placement place = ControlPlacement(e.control);
        EXPECT_EQ(place.x, e.x);
        EXPECT_EQ(place.y, e.y);
        EXPECT_EQ(place.width, e.width);
        EXPECT_EQ(place.height, e.height);
        if (e.control != LinkList && e.control != IntervalCombo) {
            EXPECT_EQ(ControlText(e.control), e.text);
        }
        EXPECT_EQ(FontFace(FontOf(e.control)), "Tahoma");
        EXPECT_EQ(AccessibleNameOf(e.control), e.name);
    }
    const int widths[] = {260, 60, 45, 125, 40};
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(ColumnWidth(LinkList, column), widths[column]);
    EXPECT_EQ(WindowState().clientWidth, 549);
    EXPECT_EQ(WindowState().clientHeight, 140);
}

TEST(ProgramDir, TemporaryDirectoriesHandOverToTheCurrentDirectory) {
    // Windows knows only its own "\Temp\"; Linux takes "/tmp/" and "/temp/" too.
    const bool windows = PathSeparator == '\\';
    const struct {
        const char* executable;
        std::string expected;
    } cases[] = {
        {"/opt/tavimor/tavimor", "/opt/tavimor/"},
        {"/home/u/Temp/x/tavimor", windows ? "/home/u/Temp/x/" : "/cwd/"},
        {"/tmp/tavimor", windows ? "/tmp/" : "/cwd/"},
        {"/var/TMP/a/tavimor", windows ? "/var/TMP/a/" : "/cwd/"},
        {"C:\\Users\\u\\AppData\\Local\\TEMP\\x\\tavimor.exe", "/cwd/"},
        {"D:\\Temp\\tavimor.exe", "/cwd/"},
        {"D:\\Temporary\\tavimor.exe", "D:\\Temporary\\"},
        {"/home/u/temporary/tavimor", "/home/u/temporary/"},
        {"/home/u/tmpfiles/tavimor", "/home/u/tmpfiles/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgramDirFor(c.executable, "/cwd/"), c.expected) << c.executable;
}

// However the second one spells the path.
TEST_F(StartUpTest, ASecondProgramOnTheSameFileTouchesNothing) {
    const std::string program = dir.File("Program Directory") + PathSeparator;
    std::filesystem::create_directory(program);
    const std::string alias = AnotherSpellingOf(program);
    ASSERT_NE(alias, "");
    for (const std::string& spelling : {program, alias, program + "." + PathSeparator}) {
        ResetGuiDouble();
        HoldInstanceElsewhere(CanonicalPath(program + "Tavimor.ini"));
        EXPECT_EQ(StartUp(spelling), 0) << spelling;
        EXPECT_FALSE(WindowState().exists);
        EXPECT_TRUE(ShownChoosers().empty());
        EXPECT_FALSE(std::filesystem::exists(program + "Tavimor.ini"));
    }
    TempDir other;
    EXPECT_EQ(StartUp(other.Path()), 1);
}

}  // namespace
