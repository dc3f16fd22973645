// The GUI seam: the one window, its numbered controls, the event wait, the slot
// timers and the dialogs, as free functions. The logic addresses the window by its
// window number and each control by its control number; it never sees a toolkit.
//
// Three implementations exist, chosen at link time: the Qt backend (gui/qt/) of
// the Linux program, the Win32 backend (gui/win32/) of the Windows program, and
// the headless double (tests/support/gui_double.h) that the logic tests link.
// All take their queue and tick rules from gui/event_core.h, and what they
// would write alike from gui/backend.h.
//
// Every operation runs on the GUI thread. A window or control number that names
// nothing makes an operation do nothing and return 0, -1 where an index is
// expected, or "".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// ---- Numbers and constants ----

constexpr int MainWindow = 1000;

// Event kinds returned by WaitEvent. Any other kind is a window message that
// carries no command (TimerMessage after a slot tick, for example); 0 means a
// time limit passed with nothing to report.
constexpr int ControlEvent = 13100;
constexpr int CloseRequest = 16;
constexpr int TimerMessage = 275;

// Event types of LinkList events.
constexpr int LeftClick = 0;
constexpr int RightClick = 1;
// Also Enter (Return or keypad Enter) pressed in the list while a row is
// selected: the keyboard's way to open a row, which the program treats alike.
constexpr int LeftDoubleClick = 2;
constexpr int RightDoubleClick = 3;
constexpr int SelectionChange = 768;  // also the type of a combo-box choice
constexpr int DragStart = 14002;
// Type of a push button's click.
constexpr int ButtonClick = 0;
// Types of the text field's events (the main loop treats these three alike): the
// user changed its text, or it gained or lost the keyboard focus by the user's doing.
constexpr int FieldFocusGained = 256;
constexpr int FieldFocusLost = 512;
constexpr int FieldTextChange = 768;
// The user pressed Enter (Return or keypad Enter) in the text field; the
// number is the carriage return that Enter types.
constexpr int FieldEnter = 13;

// Window options for CreateWindowFrame.
constexpr int WindowCentered = 1;  // centre on the screen; x and y are ignored
constexpr int WindowHidden = 2;    // created invisible

// Message-box buttons and answers.
constexpr int ButtonsOk = 0;
constexpr int ButtonsYesNo = 4;
constexpr int AnswerOk = 1;
constexpr int AnswerYes = 6;
constexpr int AnswerNo = 7;

// A font made by MakeFont; 0 is no font.
using FontHandle = int64_t;
// red + green * 256 + blue * 65536
using Colour = int64_t;

// ---- Window ----

// Creates the top-level window with a fixed client area of clientWidth x
// clientHeight, a title bar with minimise and close boxes, no maximise box and
// no sizing border. Nonzero on success.
int CreateWindowFrame(int window, int x, int y, int clientWidth, int clientHeight,
                      std::string_view title, int options);
// Top-left corner of the outer frame in screen coordinates. While the window is
// minimised, the last position seen while it was not.
int64_t WindowLeft(int window);
int64_t WindowTop(int window);
// Moves the outer frame's top-left corner; size, activation and stacking unchanged.
// Coordinates are clamped to -32768..32767, the range a window system can place.
void MoveWindowTo(int window, int64_t x, int64_t y);
void ShowWindowFrame(int window);
// 1 when some part of the window's title bar would lie on a screen present now
// (within its work area: the screen less task bars and panels) with the outer
// frame's top-left corner at x, y; 0 when it would lie on none, as a place
// saved on a monitor that has gone since does, and for a window that does not
// exist. x and y are clamped as MoveWindowTo clamps them.
int WindowPlaceVisible(int window, int64_t x, int64_t y);

// ---- Controls: creation (each returns nonzero on success) ----
// The Tab key visits the controls in the order they sit in the window, row by
// row from the top and left to right within a row, whatever order they were
// created in; disabled controls are passed over.

// A report-style list: single selection, whole-row selection that stays visible
// without focus, grid lines; one column titled firstTitle.
int CreateListView(int control, int x, int y, int width, int height, std::string_view firstTitle,
                   int firstWidth);
int AddListColumn(int control, int position, std::string_view title, int width);
int CreateButton(int control, int x, int y, int width, int height, std::string_view text);
int CreateTextField(int control, int x, int y, int width, int height, std::string_view text);
// A drop-down list the user can only choose from; its opened list is 350 pixels tall.
int CreateDropDownList(int control, int x, int y, int width, int height);

// ---- Controls: state and contents ----

void SetControlFont(int control, FontHandle font);
// 1 greys the control out and blocks its input; 0 enables it.
void DisableControl(int control, int disabled);
// False after DisableControl(control, 1), and for a number that names nothing.
bool ControlEnabled(int control);
void FocusControl(int control);
// A button's caption or the text field's whole content. Raises no event.
void SetControlText(int control, std::string_view text);
std::string ControlText(int control);
// The text field's background; its text takes black or white, whichever
// contrasts more (TextColourOn in gui/backend.h). Where the desktop asks for
// its own high-contrast colours (Windows), those win over both.
void SetBackColor(int control, Colour colour);
// The name a screen reader gives a control that shows none of its own (the
// text field, the list); buttons are named by their captions.
void SetAccessibleName(int control, std::string_view name);

// List: inserts a row whose column 0 is text (a line feed starts the next
// column); position -1, or one at or beyond the row count, appends.
// Drop-down list: inserts an item; -1, or one at or beyond the item count,
// appends. In both, a position below -1 does nothing, and rows or items at and
// after the position (the selected one too) move down by one.
// Returns the index of the new row or item, -1 when nothing was inserted.
int AddItem(int control, int position, std::string_view text);
// Removing rows raises no event; when the selected row goes, nothing is
// selected afterwards. An index that names no row does nothing.
void RemoveItem(int control, int index);
void ClearItems(int control);
int CountItems(int control);
// -1 when nothing is selected.
int SelectedIndex(int control);
// -1, or an index that names no row or item, selects nothing. Selecting a list
// row scrolls it into view. The program's own selection in the list raises a
// selection-change event when it changes which row is selected; in the
// drop-down list it raises none.
void SelectIndex(int control, int index);
// A cell (list) or item (drop-down list, column 0), whole; "" when it does not exist.
// Index -1 of the list addresses the column title.
std::string ItemText(int control, int index, int column);
// Ignored for a row that does not exist.
void SetItemText(int control, int index, std::string_view text, int column);
// The tooltip the user sees while the mouse rests on a list cell; "" removes it.
// A tip belongs to its row: it moves when rows are inserted or removed above,
// and goes with the row when the row is removed or the list cleared. Ignored
// for a row or column that does not exist, and for the drop-down list.
void SetItemTip(int control, int index, std::string_view text, int column);

// ---- Fonts and colours ----

// A font of the face at points / 72 inch; the desktop's sans-serif font when the
// face is missing. 0 when no font can be made, or points is not 1 to 1000.
FontHandle MakeFont(std::string_view face, int points);
// Components outside 0..255 are clamped into it.
Colour RgbColor(int red, int green, int blue);

// ---- Events ----

// Waits for the next event: limitMs -1 waits without limit (and without using
// the processor), 0 does not wait, a positive number waits at most that long.
// Queued events are taken oldest first before anything new is read; every
// control event and the close request is queued, so none is lost between
// waits. A slot tick that falls due runs its procedure inside this wait, which
// then returns TimerMessage (at most one tick per call). When a tick ran
// elsewhere since the last wait returned (inside a message box), this wait
// returns TimerMessage at once, before any timer may tick again.
int WaitEvent(int64_t limitMs);
// Control number and type of the current event; the type is -1 for an event
// without one.
int EventControl();
int EventType();

// Repaints what needs painting, at once, and dispatches nothing else: no
// command, no close request, no slot tick. The closing wait of a link check.
void PaintPending();

// Takes the oldest queued event of that kind, control and type out of the
// queue (for a close request, control is the window); false when none is
// queued. For a command that must not wait behind a transfer.
bool TakeQueuedEvent(int kind, int control, int type);

// Runs work to its end while the window keeps painting and taking the user's
// input; no command and no slot tick runs meanwhile: the input's events stay
// queued for later, and ticks that fall due run afterwards, at most one per
// slot, even when refresh shows a message box. Returns work's result. For the
// blocking transfer of a link check; work must not touch the GUI. refresh, when
// given, runs on the GUI thread while work runs, at most 4 times a second (to
// show its progress) and at once after input queued an event (to answer one
// that may not wait), and never after work has ended.
int KeepPaintingWhile(const std::function<int()>& work,
                      const std::function<void()>& refresh = nullptr);

// ---- Slot timers ----

using SlotProcedure = void (*)(int identifier);
// Arms (or re-arms) the periodic timer (window, identifier): the first tick one
// period after arming (or firstMs after it, when firstMs is 0 or more), then
// one per period. Periods are calendar time: the time
// the computer sleeps counts, and a timer that missed periods asleep ticks once
// at the wake-up. Periods are 64-bit and may exceed
// 2^31 ms; periods below 10 ms count as 10 ms, periods beyond 100 years as
// 100 years. Ticks do not pile up: at most one is pending per timer, and
// re-arming or stopping drops it. Ticks that fall due in the first minute
// after the computer wakes wait until that minute has passed. Does nothing
// for a window that does not exist or a null procedure.
void StartSlotTimer(int window, int identifier, int64_t periodMs, SlotProcedure procedure,
                    int64_t firstMs = -1);
// Stopping a timer that is not armed does nothing.
void StopSlotTimer(int window, int identifier);

// ---- Dialogs and random numbers ----

// Modal; text may hold line breaks; no icon. Slot ticks still run while it is
// open. buttons is ButtonsYesNo for Yes and No; any other value gives OK alone.
// Returns AnswerOk, AnswerYes or AnswerNo (anything else counts as No);
// AnswerNo when no box can be shown.
int ShowMessageBox(std::string_view title, std::string_view text, int buttons);
// Modal folder chooser with initialFolder preselected. The chosen folder ending
// with the platform's separator ("/", or "\" on Windows), or "" when the user
// cancels.
std::string ChooseFolder(std::string_view title, std::string_view initialFolder);
// A whole number from 0 to max inclusive, uniformly; seeded once per process.
int RandomInt(int max);

// Hands the file to the desktop's default application for its type, without
// waiting; never runs the file itself as a program. Nothing is reported.
void OpenWithDefaultApplication(std::string_view path);

// ---- Desktop integration ----

// Tells the user that a watched file has arrived: a desktop notification that
// names fileName and link, with an "Open" action that hands path to
// OpenWithDefaultApplication, and a request for attention in the taskbar.
// Returns at once; where the desktop has no notification service nothing
// happens and nothing fails.
void NotifyArrival(std::string_view fileName, std::string_view link, std::string_view path);

// Claims the one running instance for key (the settings file's path). 1: no
// other process holds it, and later claims on it bring this program's window
// to the front. 0: another process holds it and has been asked to come to the
// front (on Windows, one in another user's session on the same file has the
// user told so instead). A claim ends with its process, however that ends.
int ClaimInstance(std::string_view key);

// ---- The end of the session ----

// The program's last chance to save when the desktop session ends (log-off,
// shutdown) or the system asks the program to end (SIGTERM, SIGHUP or SIGINT on
// Linux). The backend runs the procedure on the GUI thread, to its end, wherever
// the program is waiting (the main wait, a message box, a transfer); never
// twice at once. After a signal's procedure the Linux backend ends the
// process with status 0; after a log-off Windows ends it. A session manager's
// request to save first (Qt's commitDataRequest) runs it and the program goes
// on. Until a procedure is set, the system's default holds (a signal ends the
// process unsaved); nullptr removes it.
using SessionEndProcedure = void (*)();
void SetSessionEndProcedure(SessionEndProcedure procedure);

// ---- Process ----

// Tells the user why the program cannot start: in a message box on Windows,
// whose desktop programs have no console to write to, on standard error on
// Linux. Works before StartGui, and after it failed.
void ReportStartFailure(std::string_view text);

// Starts the toolkit; before any other operation. Nonzero on success.
int StartGui(int argc, char** argv);
// Releases the window, its controls and fonts (end of program).
void ReleaseGui();
