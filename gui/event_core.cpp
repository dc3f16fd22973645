#include "gui/event_core.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <utility>

namespace {

using Key = std::pair<int, int>;  // window, identifier

struct Timer {
    int64_t period_ms;
    SlotProcedure procedure;
    int64_t due_ms;
};

constexpr int64_t ShortestPeriodMs = 10;
// Keeps deadlines far from overflow.
constexpr int64_t LongestPeriodMs = int64_t{100} * 366 * 24 * 3600 * 1000;
// Less time asleep than this between two looks is the clocks' own drift.
constexpr int64_t NoticedSleepMs = 5000;

GuiEvent Record;
std::deque<GuiEvent> Queue;
std::map<Key, Timer> Timers;
std::deque<Key> PendingTicks;
int TicksAllowed = 0;
bool IdleOnly = false;
bool TickOwed = false;
int TicksHeldDepth = 0;
int64_t LastAsleepMs = -1;  // -1 before the first look

bool MayRunTick() {
    return TicksHeldDepth <= 0 && TicksAllowed > 0 && !(IdleOnly && !Queue.empty());
}

void RunTick(const Key& key) {
    auto it = Timers.find(key);
    if (it == Timers.end()) return;
    SlotProcedure procedure = it->second.procedure;
    --TicksAllowed;
    TickOwed = true;
    TicksHeld inside_tick;
    procedure(key.second);
}

void FallDue(const Key& key) {
    if (MayRunTick()) return RunTick(key);
    if (std::find(PendingTicks.begin(), PendingTicks.end(), key) == PendingTicks.end())
        PendingTicks.push_back(key);
}

}  // namespace

void ResetEventCore() {
    Record = {};
    Queue.clear();
    Timers.clear();
    PendingTicks.clear();
    TicksAllowed = 0;
    IdleOnly = false;
    TickOwed = false;
    TicksHeldDepth = 0;
    LastAsleepMs = -1;
}

void QueueGuiEvent(const GuiEvent& event, bool collapse) {
    if (collapse && !Queue.empty() && Queue.back() == event) return;
    Queue.push_back(event);
}

bool TakeQueuedGuiEvent(const GuiEvent& event) {
    auto found = std::find(Queue.begin(), Queue.end(), event);
    if (found == Queue.end()) return false;
    Queue.erase(found);
    return true;
}

int CountQueuedEvents() {
    return static_cast<int>(Queue.size());
}

const GuiEvent& CurrentEvent() {
    return Record;
}

int TakeReadyEvent() {
    Record = {};
    if (!Queue.empty()) {
        Record = Queue.front();
        Queue.pop_front();
        return FinishWait(Record.kind);
    }
    return TickOwed ? FinishWait(TimerMessage) : 0;
}

int FinishWait(int kind) {
    // Whatever the wait returns, the pass after it runs the housekeeping that
    // a tick's flags ask for.
    TickOwed = false;
    Record.kind = kind;
    return kind;
}

void ArmSlotTimer(int window, int identifier, int64_t periodMs, SlotProcedure procedure,
                  int64_t nowMs, int64_t firstMs) {
    Key key{window, identifier};
    std::erase(PendingTicks, key);
    int64_t period = std::clamp(periodMs, ShortestPeriodMs, LongestPeriodMs);
    int64_t first = firstMs < 0 ? period : std::min(firstMs, LongestPeriodMs);
    Timers[key] = {period, procedure, nowMs + first};
}

void DropSlotTimer(int window, int identifier) {
    Key key{window, identifier};
    Timers.erase(key);
    std::erase(PendingTicks, key);
}

std::vector<SlotTimerInfo> ArmedSlotTimers() {
    std::vector<SlotTimerInfo> armed;
    for (const auto& [key, timer] : Timers)
        armed.push_back({key.first, key.second, timer.period_ms, timer.procedure, timer.due_ms});
    return armed;
}

int64_t NextSlotDeadline() {
    int64_t next = std::numeric_limits<int64_t>::max();
    for (const auto& [key, timer] : Timers)
        next = std::min(next, timer.due_ms);
    return next;
}

void ExpireSlotTimers(int64_t nowMs, int64_t asleepMs) {
    if (LastAsleepMs >= 0 && asleepMs - LastAsleepMs >= NoticedSleepMs) {
        for (auto& [key, timer] : Timers)
            timer.due_ms = std::max(timer.due_ms, nowMs + WakeUpGraceMs);
    }
    LastAsleepMs = asleepMs;
    std::vector<Key> due;
    for (auto& [key, timer] : Timers) {
        if (timer.due_ms > nowMs) continue;
        // A late tick does not make up for the periods it missed.
        timer.due_ms += timer.period_ms;
        if (timer.due_ms <= nowMs) timer.due_ms = nowMs + timer.period_ms;
        due.push_back(key);
    }
    // A tick may stop or re-arm timers, so the map is not walked meanwhile.
    for (const Key& key : due)
        FallDue(key);
}

bool SlotFallsDue(int window, int identifier) {
    Key key{window, identifier};
    if (!Timers.count(key)) return false;
    FallDue(key);
    return true;
}

TickAllowance::TickAllowance(int ticks, bool idleOnly)
    : saved_ticks_(TicksAllowed), saved_idle_only_(IdleOnly) {
    TicksAllowed = ticks;
    IdleOnly = idleOnly;
}

TickAllowance::~TickAllowance() {
    TicksAllowed = saved_ticks_;
    IdleOnly = saved_idle_only_;
}

bool TickAllowance::Spent() const {
    return TicksAllowed <= 0;
}

bool HavePendingTicks() {
    return !PendingTicks.empty();
}

void RunPendingTicks() {
    while (!PendingTicks.empty() && MayRunTick()) {
        Key key = PendingTicks.front();
        PendingTicks.pop_front();
        RunTick(key);
    }
}

TicksHeld::TicksHeld() {
    ++TicksHeldDepth;
}

TicksHeld::~TicksHeld() {
    --TicksHeldDepth;
}

bool RunOnePendingTick() {
    if (PendingTicks.empty() || TicksHeldDepth > 0) return false;
    TickAllowance one(1, false);
    RunPendingTicks();
    return one.Spent();
}

namespace {
int ProgramChangeDepth = 0;
}  // namespace

ProgramChange::ProgramChange() {
    ++ProgramChangeDepth;
}
ProgramChange::~ProgramChange() {
    --ProgramChangeDepth;
}
bool ProgramChange::Active() {
    return ProgramChangeDepth > 0;
}
