// What the backends share beyond the event core: the part of gui.h that every
// backend would write alike, written once in backend.cpp, and the hooks each
// backend (gui/qt, gui/win32, the test double) writes for it. Not part of the
// seam; app/ never sees it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "gui/event_core.h"

enum class ControlKind { List, Button, Field, Combo };

// Appends a control event of the controls' window to the queue. With collapse,
// an event equal to the newest one still queued is not appended again.
void QueueControlEvent(int control, int type, bool collapse);
// Queues the close request of a window (collapsed like list events).
void QueueCloseRequest(int window);

// While one of these lives, slot ticks that fall due run their procedures (a
// modal dialog's loop); pending ticks run as soon as that loop turns.
class TicksRunFreely {
  public:
    TicksRunFreely();

  private:
    TickAllowance allowance_;
};

// Runs the procedure of SetSessionEndProcedure, if any and not already running.
// True when it ran.
bool RunSessionEndProcedure();

// The cells of a list row, given as one text with "\n" between them.
std::vector<std::string_view> SplitColumns(std::string_view text);

// A control's number and the top-left corner it was created at.
struct PlacedControl {
    int control, x, y;
};
// The Tab order of the window's controls: by their top edges, and left to
// right among controls level with each other.
std::vector<int> TabOrder(std::vector<PlacedControl> controls);

// Black or white, whichever contrasts more with background (by relative
// luminance), so that no theme can make a field's text vanish into the
// background the program set.
Colour TextColourOn(Colour background);

// ---- What each backend writes for the shared half ----

// The number of the window that holds the controls; 0 when there is none.
int ControlWindowNumber();
// Whether the toolkit is up, so that a wait can look for input at all.
bool BackendRunning();
// Handles the input that has waited (behind a transfer, say), raising its events.
void DispatchWaitingInput();
// The backend's own wait, once nothing is ready: for input or a tick allowed by a
// TickAllowance of one, up to limitMs (0: only what is there; negative: no
// limit). Returns through FinishWait, or what TakeReadyEvent gave.
int WaitForNewEvent(int64_t limitMs);
// Whether window is one that slot timers may be started for.
bool TimerWindowExists(int window);
// Now on the clock the slot timers run on (the boot clock, asleep included).
int64_t TimerClockMs();
// Sets the backend's one alarm to the earliest slot deadline, or disarms it.
void RearmAlarm();
// Makes the backend run the pending ticks as soon as its loop turns.
void RunPendingTicksSoon();
// Starts watching what ends the session beyond the window's own messages (the
// signals on Linux), once a procedure is set; stops when it is removed.
void WatchSessionEnd(bool watch);

// A transfer's wait (KeepPaintingWhile). Begin says whether there is a window to
// keep painting; Wake comes from the worker thread when the work is done; a
// slice handles whatever comes (paint, input, timers, posted work) for up to
// longest, or until woken or an event is queued.
bool BeginTransferWait();
void WakeTransferWait();
void WaitTransferSlice(std::chrono::milliseconds longest);
void EndTransferWait();
