#include "app/settings_save.h"

#include <sys/stat.h>

#include <filesystem>

#include "runtime/files.h"
#include "tests/app/app_fixture.h"

namespace {

const std::vector<LinkRow> GoldenRows = {
    {"http://example.com/files/big.zip", "1 hour", "Idle", "26 Nov 2011@14:05", "0"},
    {"http://u:p@example.org:8080/a/b.iso?x=1", "2 weeks", "Trying", "27 Nov 2011@09:00", "12"},
    {"http://example.net/done.bin", "1 month", "DONE!", "28 Nov 2011@23:59", "3"},
};

const bool OnWindows = PathSeparator == '\\';

// The folder the user picks, in the platform's own spelling: the golden files
// of each platform hold exactly what that platform writes.
const std::string ChosenFolder =
    OnWindows ? "C:\\Users\\user\\Downloads\\" : "/home/user/Downloads/";

std::string Golden(const char* name) {
    return ReadWholeFile(std::string(GOLDEN_DIR "/") + (OnWindows ? "win32/" : "") + name);
}

class SettingsSaveTest : public AppTest {
  protected:
    // A first run whose folder choice is the download directory, then the
    // state of the golden files with the first `rows` rows in the list.
    void ShowGoldenState(size_t rows) {
        ScriptFolder(ChosenFolder);
        StartUp(dir.Path());
        WindowPosX = -8;
        WindowPosY = 1200;
        CurrentDate = 1322316309;
        for (size_t i = 0; i < rows; ++i) {
            int row = AddItem(LinkList, -1, GoldenRows[i][ColumnUrl]);
            for (int column = ColumnInterval; column < LinkColumns; ++column)
                SetItemText(LinkList, row, GoldenRows[i][column], column);
            // A row's last outcome lives in memory only: the files stay as they were.
            SetItemTip(LinkList, row, "HTTP 404 \xE2\x80\x94 26 Nov 2011@14:05", ColumnStatus);
        }
    }
};

TEST_F(SettingsSaveTest, WritesExactlyTheEightLines) {
    const std::pair<size_t, const char*> cases[] = {
        {0, "no_rows.ini"}, {1, "one_row.ini"}, {3, "three_rows.ini"}};
    for (const auto& [rows, golden] : cases) {
        SCOPED_TRACE(golden);
        ResetGuiDouble();
        std::filesystem::remove(SettingsPath());
        ShowGoldenState(rows);
        SaveSettings();
        EXPECT_EQ(Settings(), Golden(golden));
        EXPECT_TRUE(ShownBoxes().empty());
    }
}

TEST_F(SettingsSaveTest, ALockedFileIsLeftByteIdenticalAndTheUserIsToldOncePerAttempt) {
    ShowGoldenState(1);
    dir.Write("Tavimor.ini", "; the user's own file\r\n");
    chmod(SettingsPath().c_str(), 0444);
    SaveSettings();
    SaveSettings();
    ASSERT_EQ(ShownBoxes().size(), 2u);
    for (const ShownBox& box : ShownBoxes()) {
        EXPECT_EQ(box.title, "Error!");
        EXPECT_EQ(box.text, "Could not save settings!\nDid you open it in anything? Close it now!");
        EXPECT_EQ(box.buttons, ButtonsOk);
    }
    EXPECT_EQ(Settings(), "; the user's own file\r\n");
}

TEST_F(SettingsSaveTest, WhatIsSavedComesBackAtTheNextStartWithoutFinishedRows) {
    ShowGoldenState(3);
    SaveSettings();
    ResetGuiDouble();
    SetScreens({{0, 0, 1920, 1080}, {0, 1080, 1920, 2160}});  // the window was on the lower one
    StartUp(dir.Path());
    std::vector<LinkRow> expected = {GoldenRows[0], GoldenRows[1]};
    expected[1][ColumnStatus] = "Idle";
    EXPECT_EQ(RowsOnScreen(), expected);
    EXPECT_EQ(DownloadDir, ChosenFolder);
    EXPECT_EQ(WindowState().x, -8);
    EXPECT_EQ(WindowState().y, 1200);
}

}  // namespace
