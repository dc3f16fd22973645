// The Qt side of the waits and the slot timers. The queue, the deadlines and the
// rules for when a tick may run live in gui/event_core; this file feeds them Qt's
// input and an alarm at the next deadline.
//
// A tick runs only where a wait allows it: one per WaitEvent, any number inside
// a modal dialog, none inside a link check's transfer or closing paint; a tick
// that falls due elsewhere is kept pending (one per timer) and runs at the next
// wait.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "gui/backend.h"
#include "gui/boot_clock.h"
#include "gui/event_core.h"
#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

// Qt's timers take int milliseconds and run on the steady clock: the alarm is
// reached in steps of at most a day, each measured again on the boot clock.
constexpr int64_t LongestStepMs = 24 * 3600 * 1000;

class TimerHost : public QObject {
  protected:
    void timerEvent(QTimerEvent* event) override;
};

TimerHost* Host = nullptr;
int AlarmId = 0;

TimerHost* TheHost() {
    if (!Host && QCoreApplication::instance()) Host = new TimerHost;
    return Host;
}

void OnAlarm() {
    ExpireSlotTimers(BootClockMs(), AsleepMs());
    RearmAlarm();
}

void TimerHost::timerEvent(QTimerEvent* event) {
    killTimer(event->timerId());
    if (event->timerId() != AlarmId) return;
    AlarmId = 0;
    OnAlarm();
}

}  // namespace

// One alarm for the earliest deadline: a Qt timer for the time awake, and the
// boot-clock alarm for a deadline that passes while the computer sleeps.
void RearmAlarm() {
    if (Host && AlarmId != 0) Host->killTimer(std::exchange(AlarmId, 0));
    int64_t next = NextSlotDeadline();
    if (next == std::numeric_limits<int64_t>::max() || !TheHost()) {
        SetBootAlarm(-1, nullptr);
        return;
    }
    int64_t left = std::max<int64_t>(next - BootClockMs(), 0);
    AlarmId = Host->startTimer(std::chrono::milliseconds(std::min(left, LongestStepMs)),
                               Qt::PreciseTimer);
    SetBootAlarm(left, OnAlarm);
}

int WaitForNewEvent(int64_t limit_ms) {
    // Qt deletes objects given to deleteLater only when an event loop asks for
    // it, and the main loop never runs one of Qt's own.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    TickAllowance one(1, true);
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
        if (one.Spent()) return FinishWait(TimerMessage);
        if (int kind = TakeReadyEvent()) return kind;
        if (expired) return FinishWait(0);
    }
}

void RunPendingTicksSoon() {
    if (TheHost()) QTimer::singleShot(0, Host, RunPendingTicks);
}

bool BackendRunning() {
    return QCoreApplication::instance() != nullptr;
}

void DispatchWaitingInput() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TimerWindowExists(int window) {
    return WindowWidget(window) && TheHost();
}

int64_t TimerClockMs() {
    return BootClockMs();
}

void ReleaseEvents() {
    SetBootAlarm(-1, nullptr);
    ReleaseBootAlarm();
    ResetEventCore();
    delete Host;
    Host = nullptr;
    AlarmId = 0;
}

void PaintPending() {
    // Widgets ask for their repaints with posted update requests; only those go.
    if (QCoreApplication::instance()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
}

namespace {
QAbstractEventDispatcher* TransferDispatcher = nullptr;
}

bool BeginTransferWait() {
    TransferDispatcher = QAbstractEventDispatcher::instance();
    return TransferDispatcher != nullptr;
}

void WakeTransferWait() {
    TransferDispatcher->wakeUp();
}

void WaitTransferSlice(std::chrono::milliseconds longest) {
    QTimer slice;
    slice.setSingleShot(true);
    slice.start(longest);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void EndTransferWait() {
    TransferDispatcher = nullptr;
}
