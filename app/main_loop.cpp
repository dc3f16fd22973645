// The main loop. Start reading at RunMainPass: each pass waits for one event,
// then does its housekeeping in a fixed order (window position, the time and
// the date stamp, finished slots, a pending save) and finally the command of
// the event, one function per control below.
//
// Link checks run only inside a wait (the pass's own WaitEvent or a message
// box); they hand their results over through SlotDoneFlags and SaveRequested,
// which the next housekeeping picks up.

#include "app/main_loop.h"

#include <string>

#include "app/link_check.h"
#include "app/link_records.h"
#include "app/settings_save.h"
#include "app/state.h"
#include "gui/gui.h"
#include "runtime/text.h"
#include "tavimor_version.h"

namespace {

const Colour White = RgbColor(255, 255, 255);
const Colour Yellow = RgbColor(220, 220, 0);

bool AskYesNo(std::string_view title, std::string_view text) {
    return ShowMessageBox(title, text, ButtonsYesNo) == AnswerYes;
}

void Enable(int control, bool enabled) {
    DisableControl(control, enabled ? 0 : 1);
}

bool HasRows() {
    return CountItems(LinkList) > 0;
}

std::string RowText(int row, int column) {
    return ItemText(LinkList, row, column);
}

// ---- Housekeeping ----

// A row whose label has no period (only a hand-edited file holds one) is
// checked hourly rather than never or continuously.
int64_t PeriodOfRow(int row) {
    int64_t period = IntervalPeriod(RowText(row, ColumnInterval));
    return period > 0 ? period : IntervalPeriod(DefaultInterval);
}

// Slot k's next check after firstMs, then one every period of its row; both
// spread by a few random seconds, so that rows of one interval do not all
// fall due at once.
void ArmSlot(int k, int64_t firstMs) {
    const int64_t spread = RandomInt(4000);
    StartSlotTimer(MainWindow, k, PeriodOfRow(k) + spread, LinkCheck, firstMs + spread);
}

void HandleFinishedSlots() {
    for (int k = 0; k < SlotCount; ++k) {
        if (!SameText(SlotDoneFlags[k], "1")) continue;
        // Reset and stop first: a tick inside the save's error box must not
        // check the finished slot again.
        SlotDoneFlags[k] = std::string("0");  // from a literal, g++ 12 warns falsely
        StopSlotTimer(MainWindow, k);
        SaveSettings();
    }
}

// A slot whose check reached no server is tried again sooner than its period;
// the period runs on from that retry.
void HandleRetryRequests() {
    for (int k = 0; k < SlotCount; ++k) {
        if (RetrySoonFlags[k] != 1) continue;
        RetrySoonFlags[k] = 0;
        if (QueueRunning != 1 || !SameText(RowText(k, ColumnStatus), StatusTrying)) continue;
        ArmSlot(k, OfflineRetryDelayMs);
    }
}

void HandleSaveRequest() {
    if (SaveRequested != 1) return;
    SaveRequested = 0;  // before the save, so that a request raised during it survives
    SaveSettings();
}

// ---- Commands ----

void ShowRowInterval(int row) {
    const std::string interval = RowText(row, ColumnInterval);
    for (int item = 0; item < CountItems(IntervalCombo); ++item) {
        if (SameText(ItemText(IntervalCombo, item, 0), interval)) {
            SelectIndex(IntervalCombo, item);
            return;
        }
    }
}

void OnListEventWhileStopped(int type) {
    const int row = SelectedIndex(LinkList);
    if (row >= 0) {
        Enable(DeleteButton, true);
        Enable(OpenButton, true);
        Enable(IntervalCombo, true);
        ShowRowInterval(row);
        SetControlText(UrlField, RowText(row, ColumnUrl));
        if (type == LeftDoubleClick) {
            EditMode = 1;
            FocusControl(UrlField);
            Enable(AddButton, false);
            SetBackColor(UrlField, Yellow);
        } else {
            SaveSettings();
            EditMode = 0;
            Enable(AddButton, true);
            SetBackColor(UrlField, White);
        }
    } else {
        Enable(DeleteButton, false);
        Enable(IntervalCombo, false);
        Enable(OpenButton, false);
        EditMode = 0;
        SetBackColor(UrlField, White);
        if (!ControlText(UrlField).empty()) Enable(AddButton, true);
    }
    LastSelectedRow = row;
}

void OnListEvent(int type) {
    if (QueueRunning == 0) {
        OnListEventWhileStopped(type);
        return;
    }
    int row = SelectedIndex(LinkList);
    if (row >= 0) {
        SetControlText(UrlField, RowText(row, ColumnUrl));
        Enable(UrlField, true);
    }
}

// A row's first check is due one period after its last retry, so that a long
// interval comes round even for someone who restarts the program more often.
void ArmIdleSlots() {
    const int rows = CountItems(LinkList);
    const DateValue now = LocalNow();
    for (int i = 0; i < rows && i < SlotCount; ++i) {
        if (!SameText(RowText(i, ColumnStatus), StatusIdle)) continue;
        ArmSlot(i, FirstCheckDelayMs(RowText(i, ColumnLastRetry), PeriodOfRow(i), now));
        OfflineRetries[i] = 0;
        SetItemText(LinkList, i, StatusTrying, ColumnStatus);
    }
}

void StartQueue() {
    if (!AskYesNo("Just one more thing....",
                  "Do you want to start the queue of checking?\nPlease go over once more to "
                  "double check, or just hit Yes!")) {
        ShowMessageBox("Columbo is always right...", "...you DO need to double check!", ButtonsOk);
        return;
    }
    QueueRunning = 1;
    for (int control :
         {UrlField, DeleteButton, DeleteAllButton, AddButton, OpenButton, IntervalCombo})
        Enable(control, false);
    SetControlText(StartButton, "Stop");
    ArmIdleSlots();
}

// Said Yes to during a link check's transfer, carried out by the next pass.
bool StopAfterCheck = false;
bool QuitAfterCheck = false;

bool AskToStop() {
    return AskYesNo("Question", "Do you want to stop checking all?");
}

bool AskToQuit() {
    return AskYesNo("Quit now, then?", "Do you really want to quit?");
}

void StopQueueNow() {
    QueueRunning = 0;
    EditMode = 0;
    Enable(UrlField, true);
    Enable(DeleteButton, false);
    Enable(DeleteAllButton, true);
    Enable(AddButton, true);
    Enable(OpenButton, false);
    SetControlText(StartButton, "Start");
    const int rows = CountItems(LinkList);
    for (int i = 0; i < rows; ++i) {
        if (!SameText(RowText(i, ColumnStatus), StatusTrying)) continue;
        SetItemText(LinkList, i, StatusIdle, ColumnStatus);
        StopSlotTimer(MainWindow, i);
    }
}

void OnStartButton() {
    if (QueueRunning == 0) {
        StartQueue();
    } else if (AskToStop()) {
        StopQueueNow();
    }
}

void OnDeleteAll() {
    if (!AskYesNo("Question", "Do you want to delete all entries?")) return;
    ClearItems(LinkList);
    Enable(DeleteButton, false);
    Enable(OpenButton, false);
    Enable(StartButton, false);
    Enable(AddButton, true);
    SetBackColor(UrlField, White);
    SaveSettings();
}

void OnDelete() {
    const int row = SelectedIndex(LinkList);
    if (row == -1) return;
    if (AskYesNo("Question",
                 "Do you want to delete this entry?\n(Possible file downloaded correctly will not "
                 "be deleted!)")) {
        RemoveItem(LinkList, row);
        SaveSettings();
    }
    Enable(StartButton, HasRows());
}

void OnFieldEdit() {
    const std::string typed = ControlText(UrlField);
    const std::string trimmed = TrimSpaces(typed);
    const int row = SelectedIndex(LinkList);
    if (EditMode == 0) Enable(AddButton, !trimmed.empty());
    if (!trimmed.empty() && EditMode == 1 && row >= 0 && row == LastSelectedRow) {
        SetItemText(LinkList, row, AsciiLink(typed), ColumnUrl);
        SetItemTip(LinkList, row, "", ColumnStatus);  // the last outcome was another link's
    }
}

void OnAdd() {
    const std::string link = TrimSpaces(ControlText(UrlField));
    if (link.empty()) return;
    if (CountItems(LinkList) < SlotCount) {
        int row = AddItem(LinkList, -1, AsciiLink(link));
        SetItemText(LinkList, row, DefaultInterval, ColumnInterval);
        SetItemText(LinkList, row, StatusIdle, ColumnStatus);
        SetItemText(LinkList, row, DateStamp(), ColumnLastRetry);
        SelectIndex(LinkList, row);
        SetItemText(LinkList, row, "0", ColumnTried);
        SaveSettings();
    } else {
        ShowMessageBox("Information!", "Sorry, only max 30 links can be monitored!", ButtonsOk);
    }
    if (HasRows()) Enable(StartButton, true);
}

// Enter in the field is a click on Add, where Add could be clicked.
void OnEnterInField() {
    if (ControlEnabled(AddButton)) OnAdd();
}

void OnOpen() {
    int row = SelectedIndex(LinkList);
    if (row < 0) return;
    OpenWithDefaultApplication(TargetPathOf(RowText(row, ColumnUrl)));
}

void OnIntervalChoice() {
    const int choice = SelectedIndex(IntervalCombo);
    const int row = SelectedIndex(LinkList);
    if (choice <= 0 || row < 0) return;
    SetItemText(LinkList, row, ItemText(IntervalCombo, choice, 0), ColumnInterval);
    SaveSettings();
    SelectIndex(IntervalCombo, 0);
}

// Our own words; the first paragraph says what the program is for.
std::string AboutText() {
    return VersionText +
           "\n\n"
           "A small clever program to check when a possible offline file is available for "
           "download again within predefined intervals, and you don't have the time or brain "
           "cells available to remember to check manually.\n\n"
           "No skins, no animations, no bloat: just a window that does its job. Free software "
           "deserves more of that.\n\n"
           "It was made to show that good design, a clear concept, usefulness and simplicity fit "
           "in one small program.\n\n"
           "It was made because its author wanted exactly this tool and could not find it.\n\n" +
           std::string(InstalledMode == 1 ? "It is installed for you: everything it keeps lives in "
                                          : "It is portable: everything it keeps lives in ") +
           ProgramDir + SettingsFileName +
           ". This build runs on " TAVIMOR_BUILT_FOR
           ".\n\n"
           "Home page: the Tavimor project README. Motto: patience, checked hourly.";
}

void OnAbout() {
    Enable(AddButton, true);
    ShowMessageBox("About TVX", AboutText(), ButtonsOk);
}

void RunCommand(int control, int type) {
    switch (control) {
        case LinkList:
            return OnListEvent(type);
        case StartButton:
            return OnStartButton();
        case DeleteButton:
            return OnDelete();
        case DeleteAllButton:
            return OnDeleteAll();
        case UrlField:
            if (QueueRunning != 0) return;
            return type == FieldEnter ? OnEnterInField() : OnFieldEdit();
        case AddButton:
            return OnAdd();
        case OpenButton:
            return OnOpen();
        case IntervalCombo:
            return OnIntervalChoice();
        case AboutButton:
            return OnAbout();
        default:
            return;
    }
}

// True when the user confirmed; the settings are saved then.
bool ConfirmQuit() {
    if (!AskToQuit()) return false;
    SaveSettings();
    return true;
}

}  // namespace

bool AnswerCommandsDuringCheck() {
    if (StopAfterCheck || QuitAfterCheck) return false;
    if (TakeQueuedEvent(CloseRequest, MainWindow, 0) && AskToQuit()) QuitAfterCheck = true;
    if (!QuitAfterCheck && QueueRunning == 1 &&
        TakeQueuedEvent(ControlEvent, StartButton, ButtonClick) && AskToStop())
        StopAfterCheck = true;
    return StopAfterCheck || QuitAfterCheck;
}

int RunMainPass() {
    const int kind = WaitEvent(-1);
    WindowPosX = WindowLeft(MainWindow);
    WindowPosY = WindowTop(MainWindow);
    CurrentDate = LocalNow();
    RefreshDateStamp();
    HandleFinishedSlots();
    HandleRetryRequests();
    HandleSaveRequest();
    if (QuitAfterCheck) {
        QuitAfterCheck = false;
        SaveSettings();
        return 0;
    }
    if (StopAfterCheck) {
        StopAfterCheck = false;
        if (QueueRunning == 1) StopQueueNow();
    }
    if (kind == ControlEvent) RunCommand(EventControl(), EventType());
    if (kind == CloseRequest && ConfirmQuit()) return 0;
    return 1;
}

void RunMainLoop() {
    while (RunMainPass() != 0) {
    }
}
