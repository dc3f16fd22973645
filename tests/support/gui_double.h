// The headless stand-in for the GUI seam: every operation of gui/gui.h over plain
// data, plus what a test needs to act as the user and to see what the program did.
//
// Events follow the Qt backend: a user action queues its events in the order Qt
// raises them; list, drop-down and close events are not queued again while an
// equal event is the newest one waiting. The queue, the timers and the tick
// rules are the backends' own (gui/event_core.h). WaitEvent never blocks: with
// nothing queued, no tick owed and none pending, it returns 0.
//
// Start each test with ResetGuiDouble(). Control numbers are whatever the code
// under test created; a number that names no control of the right kind, or a
// disabled control, takes no user action (the action returns false).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/gui.h"
#include "gui/placement.h"

// Everything back to the start state: no window, controls, fonts or timers, an
// empty queue and event record, no scripts, no records, counters at 0.
void ResetGuiDouble();

// ---- Acting as the user ----
// A mouse action first moves the keyboard focus to its control, so a text field
// that had the focus queues FieldFocusLost before the action's own events.

// A click on a push button: queues ButtonClick.
bool PressButton(int control);
// One gesture of type (LeftClick, RightClick, LeftDoubleClick, RightDoubleClick,
// DragStart) on row of the list; a row that does not exist is the empty area
// below the rows. The press selects the row, or on the empty area clears the
// selection, and queues SelectionChange when that changed the selection. Then a
// click queues its type; a double-click queues its single click's type and then
// its own; a drag queues DragStart.
bool UserSelectsRow(int row, int type);
// Queues one list event of type as the list raises it, selection untouched.
bool ListEvent(int type);
// The user clicks into the text field and replaces its text: FieldFocusGained
// when it did not have the focus, then FieldTextChange.
bool UserTypes(std::string_view text);
// The user chooses item index of a drop-down list: it becomes the selected item
// and SelectionChange is queued, also when it was selected already.
bool UserChoosesItem(int control, int index);
// The user clicks the window's close box: CloseRequest is queued; the window stays.
void RequestClose();
// The user presses Enter where the keyboard focus is: in the text field it
// queues FieldEnter; in the list, LeftDoubleClick when a row is selected. False
// when the focus is elsewhere.
bool UserPressesEnter();
// The user presses Tab: the focus moves on to the next enabled control in the
// window's Tab order (TabOrder in gui/backend.h), from the window itself to
// the first, and round from the last to the first.
bool UserPressesTab();

// ---- Scripted dialogs and random numbers ----

// Answers for the next Yes/No message boxes, in order, after any still unused;
// when they run out, AnswerNo. OK boxes answer AnswerOk and use no answer.
void ScriptAnswers(std::vector<int> answers);
// The result of the next ChooseFolder, after any still unused; when none is
// left, "" (cancelled). A folder without a trailing "/" gets one.
void ScriptFolder(std::string folder);
// Results of the next RandomInt calls, each brought into 0..max; when they run
// out, the real generator.
void ScriptRandom(std::vector<int> values);

struct ShownBox {
    std::string title, text;
    int buttons;
};
// Every message box shown since the reset, oldest first.
const std::vector<ShownBox>& ShownBoxes();
struct ShownChooser {
    std::string title, initialFolder;
};
const std::vector<ShownChooser>& ShownChoosers();
// Every path given to OpenWithDefaultApplication since the reset, oldest first.
const std::vector<std::string>& OpenedFiles();

// ---- Looking at the window and the controls ----

struct WindowInfo {
    bool exists = false;
    int window = 0;
    int x = 0, y = 0;  // outer frame; a centred window sits on a 1920 x 1080 screen
    int clientWidth = 0, clientHeight = 0;
    int options = 0;
    std::string title;
    bool shown = false;
};
WindowInfo WindowState();

struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
};
// All zero for an unknown control.
Placement ControlPlacement(int control);
// A list column's width (0 when it does not exist).
int ColumnWidth(int control, int column);
// (Whether a control is enabled is gui.h's ControlEnabled.)
// The text field's background (white until set); -1 for any other control.
Colour BackColorOf(int control);
// The control holding the keyboard focus, -1 for none.
int FocusedControl();
// The name SetAccessibleName gave a control; "" for none.
std::string AccessibleNameOf(int control);
// The font set on a control, 0 for none.
FontHandle FontOf(int control);
// The face of a font made by MakeFont; "" for an unknown handle.
std::string FontFace(FontHandle font);
// Events waiting in the queue.
int QueuedEventCount();

// ---- Slot timers and the waits of a link check ----

struct ArmedTimer {
    int window, id;
    int64_t period;
    SlotProcedure procedure;
    int64_t first;  // from now to the next tick
};
// The timers armed now, ordered by window and identifier.
std::vector<ArmedTimer> ArmedTimers();
// The timer (MainWindow, identifier) falls due: the next WaitEvent that finds the
// queue empty runs its procedure and returns TimerMessage. Ticks do not pile up;
// stopping or re-arming the timer first drops the tick. False when not armed.
bool TickSlot(int identifier);
// The double's boot clock moves on by ms, as time awake or a sleep would: every
// armed timer whose deadline it passes falls due once.
void AdvanceClock(int64_t ms);
// While the next message box is open, the timer (MainWindow, identifier) ticks:
// its procedure runs (if armed then) before the box is answered.
void TickDuringNextMessageBox(int identifier);
// The user acts while the next transfer (KeepPaintingWhile) runs: user runs
// once, on the GUI thread, in the first of the transfer's waits that begins
// after (PressButton, RequestClose...).
void DuringNextTransfer(std::function<void()> user,
                        std::chrono::milliseconds after = std::chrono::milliseconds(0));
// Every text the program set in a cell of a list (SetItemText), oldest first,
// since the reset. KeepPaintingWhile runs its work on a thread of its own and
// its refresh meanwhile, so progress shown in a cell lands here.
std::vector<std::string> CellWrites(int control, int row, int column);
// The tooltip of a list cell as SetItemTip left it; "" for none or no such cell.
std::string ItemTip(int control, int row, int column);

// Every NotifyArrival since the reset, oldest first.
struct Arrival {
    std::string fileName, link, path;
};
const std::vector<Arrival>& Arrivals();

// Another process holds the instance for key: ClaimInstance(key) answers 0.
void HoldInstanceElsewhere(std::string key);

// The work areas of the screens present, for WindowPlaceVisible; one of 1920 x
// 1080 at 0,0 until set. The double's frame is its client area, with a title
// bar of DoubleTitleBarHeight.
constexpr int DoubleTitleBarHeight = 20;
void SetScreens(std::vector<ScreenRect> screens);
// The desktop session ends: the procedure of SetSessionEndProcedure runs (and
// the process goes on). False when none is set.
bool EndSession();
// Every text given to ReportStartFailure since the reset.
const std::vector<std::string>& StartFailures();

// How often KeepPaintingWhile and PaintPending have been called.
int KeepPaintingCount();
int PaintPendingCount();
