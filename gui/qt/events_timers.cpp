// The event queue and the waits, and the slot timers whose ticks run inside them.
//
// Every control event goes through the queue, so no wait can lose one. A tick
// runs only where a wait allows it: one per WaitEvent, any number inside a modal
// dialog, none inside a link check's transfer or closing paint; a tick that falls
// due elsewhere is kept pending (one per timer) and runs at the next wait.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <limits>
#include <map>
#include <system_error>
#include <thread>
#include <utility>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
using Key = std::pair<int, int>;  // window, identifier

struct Event {
    int kind = 0, window = 0, control = 0, type = -1;
    bool operator==(const Event&) const = default;
};

struct SlotTimer {
    int64_t period_ms;
    SlotProcedure procedure;
    Clock::time_point due;
    int qt_id = 0;
};

// How many ticks may run now, and whether only while no event is waiting.
struct TickPolicy {
    int budget = 0;
    bool idle_only = false;
};

constexpr int64_t ShortestPeriodMs = 10;
// Keeps deadlines far from the clock's overflow.
constexpr int64_t LongestPeriodMs = int64_t{100} * 366 * 24 * 3600 * 1000;
// Qt's timers take int milliseconds: long periods are reached in steps of a day.
constexpr int64_t LongestStepMs = 24 * 3600 * 1000;

class TimerHost : public QObject {
  protected:
    void timerEvent(QTimerEvent* event) override;
};

Event Record;
std::deque<Event> Queue;
int QuietFocusDepth = 0;
TickPolicy Policy;
std::map<Key, SlotTimer> Timers;
std::map<int, Key> KeyOfQtTimer;
std::deque<Key> PendingTicks;
TimerHost* Host = nullptr;

class PolicyScope {
  public:
    PolicyScope(int budget, bool idle_only) : saved_(Policy) { Policy = {budget, idle_only}; }
    ~PolicyScope() { Policy = saved_; }
    PolicyScope(const PolicyScope&) = delete;
    PolicyScope& operator=(const PolicyScope&) = delete;

  private:
    TickPolicy saved_;
};

void Push(const Event& event, bool collapse) {
    if (collapse && !Queue.empty() && Queue.back() == event) return;
    Queue.push_back(event);
}

bool TakeQueued() {
    if (Queue.empty()) return false;
    Record = Queue.front();
    Queue.pop_front();
    return true;
}

TimerHost* TheHost() {
    if (!Host && QCoreApplication::instance()) Host = new TimerHost;
    return Host;
}

void Arm(const Key& key, SlotTimer& timer) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - Clock::now()).count();
    auto step = std::chrono::milliseconds(std::clamp<int64_t>(left, 0, LongestStepMs));
    timer.qt_id = TheHost() ? Host->startTimer(step, Qt::PreciseTimer) : 0;
    if (timer.qt_id != 0) KeyOfQtTimer[timer.qt_id] = key;
}

void Disarm(SlotTimer& timer) {
    if (timer.qt_id == 0) return;
    Host->killTimer(timer.qt_id);
    KeyOfQtTimer.erase(timer.qt_id);
    timer.qt_id = 0;
}

bool MayRunTick() {
    return Policy.budget > 0 && !(Policy.idle_only && !Queue.empty());
}

void RunTick(const Key& key) {
    auto it = Timers.find(key);
    if (it == Timers.end()) return;
    SlotProcedure procedure = it->second.procedure;
    --Policy.budget;
    PolicyScope inside_tick(0, false);
    procedure(key.second);
}

void RunPendingTicks() {
    while (!PendingTicks.empty() && MayRunTick()) {
        Key key = PendingTicks.front();
        PendingTicks.pop_front();
        RunTick(key);
    }
}

void FallDue(const Key& key) {
    if (MayRunTick()) return RunTick(key);
    if (std::find(PendingTicks.begin(), PendingTicks.end(), key) == PendingTicks.end()) {
        PendingTicks.push_back(key);
    }
}

void TimerHost::timerEvent(QTimerEvent* event) {
    auto found = KeyOfQtTimer.find(event->timerId());
    if (found == KeyOfQtTimer.end()) return killTimer(event->timerId());
    Key key = found->second;
    SlotTimer& timer = Timers.at(key);
    Disarm(timer);
    Clock::time_point now = Clock::now();
    if (now >= timer.due) {
        // A late tick does not make up for the periods it missed.
        timer.due += std::chrono::milliseconds(timer.period_ms);
        if (timer.due <= now) timer.due = now + std::chrono::milliseconds(timer.period_ms);
        Arm(key, timer);
        FallDue(key);
    } else {
        Arm(key, timer);
    }
}

// One pending tick; ticks of timers stopped meanwhile are gone already.
bool RunOnePendingTick() {
    if (PendingTicks.empty()) return false;
    PolicyScope one(1, false);
    RunPendingTicks();
    return Policy.budget == 0;
}

int WaitForNew(int64_t limit_ms) {
    // Qt deletes objects given to deleteLater only when an event loop asks for
    // it, and the main loop never runs one of Qt's own.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    PolicyScope one(1, true);
    bool expired = limit_ms == 0;
    QTimer limit;
    if (limit_ms > 0) {
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer);
        QObject::connect(&limit, &QTimer::timeout, [&expired] { expired = true; });
        limit.start(static_cast<int>(std::min<int64_t>(limit_ms, INT32_MAX)));
    }
    auto flags = limit_ms == 0 ? QEventLoop::AllEvents : QEventLoop::WaitForMoreEvents;
    while (true) {
        QCoreApplication::processEvents(flags);
        if (Policy.budget == 0) return Record.kind = TimerMessage;
        if (TakeQueued()) return Record.kind;
        if (expired) return 0;
    }
}

}  // namespace

QuietFocus::QuietFocus() {
    ++QuietFocusDepth;
}
QuietFocus::~QuietFocus() {
    --QuietFocusDepth;
}
bool QuietFocus::Active() {
    return QuietFocusDepth > 0;
}

TicksRunFreely::TicksRunFreely()
    : saved_budget_(Policy.budget), saved_idle_only_(Policy.idle_only) {
    Policy = {std::numeric_limits<int>::max(), false};
    if (!PendingTicks.empty() && TheHost()) QTimer::singleShot(0, Host, RunPendingTicks);
}

TicksRunFreely::~TicksRunFreely() {
    Policy = {saved_budget_, saved_idle_only_};
}

void QueueControlEvent(int control, int type, bool collapse) {
    Push({ControlEvent, ControlWindowNumber(), control, type}, collapse);
}

void QueueCloseRequest(int window) {
    Push({CloseRequest, window, window, 0}, true);
}

void ReleaseEvents() {
    for (auto& [key, timer] : Timers)
        Disarm(timer);
    Timers.clear();
    PendingTicks.clear();
    Queue.clear();
    Record = {};
    delete Host;
    Host = nullptr;
}

int WaitEvent(int64_t limitMs) {
    Record.kind = 0;
    Record.type = -1;
    if (TakeQueued()) return Record.kind;
    if (!QCoreApplication::instance()) return 0;
    if (!PendingTicks.empty()) {
        // Input that waited behind a transfer goes before the ticks deferred by it.
        {
            PolicyScope none(0, false);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        if (TakeQueued()) return Record.kind;
        if (RunOnePendingTick()) return Record.kind = TimerMessage;
    }
    return WaitForNew(limitMs);
}

int EventControl() {
    return Record.control;
}
int EventType() {
    return Record.type;
}

void PaintPending() {
    // Widgets ask for their repaints with posted update requests; only those go.
    if (QCoreApplication::instance()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}

int KeepPaintingWhile(const std::function<int()>& work) {
    if (!work) return 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return work();
    PolicyScope no_ticks(0, false);
    std::atomic<bool> done{false};
    int result = 0;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = work();
            done.store(true);
            dispatcher->wakeUp();
        });
    } catch (const std::system_error&) {
        return work();  // no thread to spare: the window just does not paint meanwhile
    }
    while (!done.load()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    }
    worker.join();
    return result;
}

void StartSlotTimer(int window, int identifier, int64_t periodMs, SlotProcedure procedure) {
    if (!WindowWidget(window) || !procedure || !TheHost()) return;
    StopSlotTimer(window, identifier);
    Key key{window, identifier};
    int64_t period = std::clamp(periodMs, ShortestPeriodMs, LongestPeriodMs);
    SlotTimer& timer = Timers[key];
    timer = {period, procedure, Clock::now() + std::chrono::milliseconds(period), 0};
    Arm(key, timer);
}

void StopSlotTimer(int window, int identifier) {
    Key key{window, identifier};
    auto it = Timers.find(key);
    if (it == Timers.end()) return;
    Disarm(it->second);
    Timers.erase(it);
    std::erase(PendingTicks, key);
}
