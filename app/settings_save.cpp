#include "app/settings_save.h"

#include "app/link_check.h"
#include "app/state.h"
#include "gui/gui.h"
#include "runtime/settings_file.h"

std::vector<LinkRow> ListRows() {
    std::vector<LinkRow> rows(static_cast<size_t>(CountItems(LinkList)));
    for (size_t i = 0; i < rows.size(); ++i) {
        for (int column = 0; column < LinkColumns; ++column)
            rows[i][column] = ItemText(LinkList, static_cast<int>(i), column);
    }
    return rows;
}

static void ShowSaveError() {
    ShowMessageBox("Error!", "Could not save settings!\nDid you open it in anything? Close it now!",
                   ButtonsOk);
}

void SaveSettings() {
    if (CreateSettingsFile(ProgramDir + SettingsFileName) == 0) {
        ShowSaveError();
        return;
    }
    WriteComment(
        "Tavimor (TVX)  - Do not manually edit this file, it may cause crashes and other twilight "
        "zone situations!");
    SelectGroup("Global");
    WriteText("Default Download Directory", DownloadDir);
    WriteInteger("Window X Position", WindowPosX);
    WriteInteger("Window Y Position", WindowPosY);
    WriteText("Window Minimized", WindowMinimizedText);
    SelectGroup("Links");
    WriteText("Entry", PackLinkRecords(ListRows(), CurrentDate));
    // The file is only written here; a failure must not pass for a save.
    if (CloseSettingsFile() == 0) ShowSaveError();
}

void SaveAtSessionEnd() {
    WindowPosX = WindowLeft(MainWindow);
    WindowPosY = WindowTop(MainWindow);
    ShowCheckedStatus();
    SaveSettings();
}
