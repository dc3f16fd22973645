// What every backend shares about events and ticks, with no toolkit in it: the
// event queue and its duplicate rule, the current event record, the slot
// timers' deadlines, and the rules for when a slot tick may run.
//
// A backend feeds it: user input goes into the queue, its alarm calls
// ExpireSlotTimers with the boot clock, its waits say how many ticks may run.
// The core never blocks and never reads a clock; a time is always handed in,
// which is what lets the tests jump it the way a resume from sleep does.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/gui.h"

struct GuiEvent {
    int kind = 0, window = 0, control = 0, type = -1;
    bool operator==(const GuiEvent&) const = default;
};

// Everything back to the start: no events, no timers, no pending ticks.
void ResetEventCore();

// ---- The queue and the current event ----

// Appends an event. With collapse, an event equal to the newest one still
// queued is not appended again.
void QueueGuiEvent(const GuiEvent& event, bool collapse);
int CountQueuedEvents();
// Takes the oldest queued event equal to event out of the queue; false when
// none is queued.
bool TakeQueuedGuiEvent(const GuiEvent& event);
// The event the last wait returned, read by EventControl and EventType.
const GuiEvent& CurrentEvent();

// The first step of every WaitEvent: the oldest queued event, or else a
// TimerMessage owed for a tick that ran since the last wait returned (inside a
// message box, say), so that the main loop's next pass sees that slot's flags
// before the slot can tick again. Returns that kind, or 0 when the backend
// has to look for something new.
int TakeReadyEvent();
// Every WaitEvent returns through this: it records the kind and settles
// the tick owed.
int FinishWait(int kind);

// ---- Slot timers, on a clock that counts the time asleep ----

struct SlotTimerInfo {
    int window, identifier;
    int64_t period_ms;
    SlotProcedure procedure;
    int64_t due_ms;  // the next deadline
};

// Checks that fall due within this long of a wake-up wait until it has passed,
// since a network seldom comes back as soon as the computer does.
constexpr int64_t WakeUpGraceMs = 60 * 1000;

// Arms (or re-arms) a timer: first due firstMs after nowMs, or one period after
// it when firstMs is negative. Periods are clamped to 10 ms .. 100 years, and
// the first deadline to 0 .. the longest period. A pending tick of the timer
// is dropped.
void ArmSlotTimer(int window, int identifier, int64_t periodMs, SlotProcedure procedure,
                  int64_t nowMs, int64_t firstMs = -1);
// Stops a timer and drops its pending tick; nothing for a timer not armed.
void DropSlotTimer(int window, int identifier);
// The armed timers, ordered by window and identifier.
std::vector<SlotTimerInfo> ArmedSlotTimers();
// The earliest deadline of any timer; INT64_MAX when none is armed.
int64_t NextSlotDeadline();
// Every timer whose deadline is at or before nowMs falls due once, however
// many periods it missed (a long sleep), and its next deadline is one period
// on, or one period after nowMs when that has passed too. asleepMs is the
// time the computer has slept since boot: when it grew by some seconds since
// the last call, the computer has just woken, and every deadline before
// WakeUpGraceMs from now moves to then instead.
void ExpireSlotTimers(int64_t nowMs, int64_t asleepMs);
// Timer (window, identifier) falls due now; false when it is not armed.
bool SlotFallsDue(int window, int identifier);

// While one of these lives, what changes in the window is the program's own
// doing (a row added, a text set, the focus moved, a dialog shown) and raises
// no event: no selection, text or focus change.
class ProgramChange {
  public:
    ProgramChange();
    ~ProgramChange();
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;
    static bool Active();
};

// ---- When ticks run ----

// A tick that falls due runs at once while the innermost allowance has some
// left (and, with idleOnly, while no event is queued) and no TicksHeld lives;
// otherwise it waits, one per timer, for a wait that allows it.
class TickAllowance {
  public:
    static constexpr int Unlimited = 1 << 30;
    TickAllowance(int ticks, bool idleOnly);
    ~TickAllowance();
    TickAllowance(const TickAllowance&) = delete;
    TickAllowance& operator=(const TickAllowance&) = delete;
    // True once this allowance has run at least one tick and has none left.
    bool Spent() const;

  private:
    int saved_ticks_;
    bool saved_idle_only_;
};

// While one of these lives no tick runs, whatever allowance a wait inside it
// (a message box) makes: inside a tick, and during a link check's transfer,
// where a tick would start another check.
class TicksHeld {
  public:
    TicksHeld();
    ~TicksHeld();
    TicksHeld(const TicksHeld&) = delete;
    TicksHeld& operator=(const TicksHeld&) = delete;
};

bool HavePendingTicks();
// Runs pending ticks, oldest first, while the allowance permits.
void RunPendingTicks();
// Runs the oldest pending tick, whatever the allowance (unless held); false
// when none ran.
bool RunOnePendingTick();
