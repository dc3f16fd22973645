// The boot-clock alarm: a timerfd on CLOCK_BOOTTIME, watched by Qt's event loop.
// The kernel expires it at the resume when its time passed during a suspend.
#include <sys/timerfd.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "gui/qt/qt_backend.h"

namespace {

int Fd = -1;
QSocketNotifier* Notifier = nullptr;
void (*OnAlarm)() = nullptr;

bool Open() {
    if (Fd >= 0) return true;
    if (!QCoreApplication::instance()) return false;
    Fd = timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (Fd < 0) return false;
    Notifier = new QSocketNotifier(Fd, QSocketNotifier::Read);
    QObject::connect(Notifier, &QSocketNotifier::activated, [] {
        uint64_t expirations = 0;
        if (read(Fd, &expirations, sizeof expirations) != sizeof expirations) return;
        if (OnAlarm) OnAlarm();
    });
    return true;
}

}  // namespace

void SetBootAlarm(int64_t leftMs, void (*onAlarm)()) {
    OnAlarm = onAlarm;
    if (!Open()) return;
    itimerspec value{};
    if (leftMs >= 0) {
        // An all-zero value would disarm it; a deadline that is due fires at once.
        int64_t ms = leftMs > 0 ? leftMs : 1;
        value.it_value.tv_sec = static_cast<time_t>(ms / 1000);
        value.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
    }
    timerfd_settime(Fd, 0, &value, nullptr);
}

void ReleaseBootAlarm() {
    delete Notifier;
    Notifier = nullptr;
    if (Fd >= 0) close(Fd);
    Fd = -1;
    OnAlarm = nullptr;
}
