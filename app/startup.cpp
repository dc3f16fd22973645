// Start-up runs in a fixed order: the shared state, the window and its nine
// controls, the network, then the settings file (or the first-run question)
// with the link rows, the parts of downloads left too long, then the window at
// its stored place (when that is still on a screen), and last the save for an
// ending session. Read StartUp.

#include "app/startup.h"

#include <chrono>

#include "app/link_records.h"
#include "app/settings_save.h"
#include "app/state.h"
#include "gui/gui.h"
#include "http/net.h"
#include "http/part_file.h"
#include "runtime/files.h"
#include "runtime/settings_file.h"
#include "runtime/text.h"
#include "runtime/user_dirs.h"

namespace {

// Windows names its temporary folders "...\Temp\"; Linux has /tmp/ as well,
// and "/temp/" in case someone mirrors the Windows habit.
bool InTemporaryDirectory(std::string_view dir) {
    std::string lower = LowerText(dir);
    if (PathSeparator == '\\') return FindText(lower, "\\temp\\", 1) > 0;
    for (std::string_view temp : {"\\temp\\", "/temp/", "/tmp/"}) {
        if (FindText(lower, temp, 1) > 0) return true;
    }
    return false;
}

}  // namespace

std::string ProgramDirFor(std::string_view executablePath, std::string_view currentDirectory) {
    std::string dir = DirectoryOf(executablePath);
    return InTemporaryDirectory(dir) ? std::string(currentDirectory) : dir;
}

SettingsPlace SettingsPlaceFor(std::string_view executablePath, std::string_view currentDirectory,
                               std::string_view installBinDir) {
    std::string directory = DirectoryOf(executablePath);
    bool from_prefix =
        !installBinDir.empty() &&
        (directory == std::string(installBinDir) + PathSeparator ||
         directory == std::string(installBinDir) + "/" || directory == installBinDir);
    if (from_prefix || !DirectoryWritable(directory)) {
        std::string user = UserSettingsDirectory();
        if (!user.empty()) return {user, true};
    }
    return {ProgramDirFor(executablePath, currentDirectory), false};
}

namespace {

void CreateControls(FontHandle font) {
    CreateListView(LinkList, 0, 20, 550, 100, "HTTP Link(s) only, specifically files", 260);
    SetControlFont(LinkList, font);
    SetAccessibleName(LinkList, "Links");
    AddListColumn(LinkList, 1, "Interval", 60);
    AddListColumn(LinkList, 2, "Status", 45);
    AddListColumn(LinkList, 3, "Last retry", 125);
    AddListColumn(LinkList, 4, "Tried", 40);

    auto button = [font](int control, int x, int y, int width, std::string_view text) {
        CreateButton(control, x, y, width, 20, text);
        SetControlFont(control, font);
    };
    button(StartButton, 510, 120, 40, "Start!");
    DisableControl(StartButton, 1);
    button(DeleteButton, 0, 120, 40, "Delete");
    DisableControl(DeleteButton, 1);
    button(DeleteAllButton, 40, 120, 60, "Delete All");
    DisableControl(DeleteAllButton, 1);
    CreateTextField(UrlField, 0, 0, 510, 20, "");
    SetControlFont(UrlField, font);
    SetAccessibleName(UrlField, "Link");
    button(AddButton, 510, 0, 40, "Add");
    DisableControl(AddButton, 1);
    button(OpenButton, 100, 120, 40, "Open");
    DisableControl(OpenButton, 1);
    CreateDropDownList(IntervalCombo, 210, 120, 100, 20);
    SetControlFont(IntervalCombo, font);
    DisableControl(IntervalCombo, 1);
    button(AboutButton, 140, 120, 70, "About TVX");

    for (const std::string& choice : IntervalChoices)
        AddItem(IntervalCombo, -1, choice);
    SelectIndex(IntervalCombo, 0);
}

void RestoreRows(std::string_view packed) {
    for (const LinkRow& row : UnpackLinkRecords(packed)) {
        AddItem(LinkList, -1, AsciiLink(row[ColumnUrl]));
        const int index = CountItems(LinkList) - 1;
        for (int column = ColumnInterval; column < LinkColumns; ++column)
            SetItemText(LinkList, index, row[column], column);
    }
}

void ReadSettings() {
    if (OpenSettingsFile(ProgramDir + SettingsFileName) != 0) {
        SelectGroup("Global");
        DownloadDir = ReadText("Default Download Directory", DefaultDownloadDir());
        WindowPosX = ReadInteger("Window X Position", WindowPosX);
        WindowPosY = ReadInteger("Window Y Position", WindowPosY);
        WindowMinimizedText = ReadText("Window Minimized", WindowMinimizedText);
        SelectGroup("Links");
        RestoreRows(ReadText("entry", ""));
        CloseSettingsFile();
        return;
    }
    DownloadDir =
        TrimSpaces(ChooseFolder("Please choose a save path for files", DefaultDownloadDir()));
    // A line break in the folder's name could not be stored in the settings file.
    if (DownloadDir.empty() || DownloadDir.find_first_of("\r\n") != std::string::npos)
        DownloadDir = DefaultDownloadDir();
    SaveSettings();
}

void DropFinishedRows() {
    for (int row = 0; row < CountItems(LinkList);) {
        if (SameText(ItemText(LinkList, row, ColumnStatus), StatusDone)) {
            RemoveItem(LinkList, row);
        } else {
            ++row;
        }
    }
}

}  // namespace

int StartUp(const SettingsPlace& place) {
    ResetState();
    ProgramDir = place.directory;
    InstalledMode = place.installed ? 1 : 0;
    // Two programs on one file would overwrite each other's saves, however
    // each of them spells its path.
    if (ClaimInstance(CanonicalPath(ProgramDir + SettingsFileName)) == 0) return 0;

    FontHandle font = MakeFont("Tahoma", 8);
    CreateWindowFrame(MainWindow, 0, 0, 549, 140, "Tavimor (TVX) " + VersionText + " by Brennick",
                      WindowCentered | WindowHidden);
    WindowPosX = WindowLeft(MainWindow);
    WindowPosY = WindowTop(MainWindow);
    CreateControls(font);
    NetStartup();

    ReadSettings();
    RemoveStaleParts(DownloadDirWithSeparator(),
                     std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count());
    // Counted before the finished rows go, as the user last saw the list.
    if (CountItems(LinkList) > 0) DisableControl(StartButton, 0);
    // A place saved on a monitor that has gone since would hide the window: it
    // stays centred then, as on a first run.
    if (WindowPlaceVisible(MainWindow, WindowPosX, WindowPosY) == 1)
        MoveWindowTo(MainWindow, WindowPosX, WindowPosY);
    ShowWindowFrame(MainWindow);
    DropFinishedRows();
    if (CountItems(LinkList) > 0) DisableControl(DeleteAllButton, 0);
    SetSessionEndProcedure(SaveAtSessionEnd);
    return 1;
}

void EndProgram() {
    SetSessionEndProcedure(nullptr);
    CloseSettingsFile();
    NetShutdown();
    FileCloseAll();
    ReleaseGui();
}
