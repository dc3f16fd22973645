// The ends of a session that come as signals: SIGTERM (a log-off, a shutdown,
// a service manager or kill), SIGHUP (the terminal went away) and SIGINT
// (Ctrl+C). The handler only writes a byte into a pipe of our own; Qt's event
// loop watches the other end and runs the program's save on the GUI thread,
// where nothing is half done, and then the process ends.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "gui/qt/qt_backend.h"

namespace {

constexpr int EndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

int Pipe[2] = {-1, -1};
QSocketNotifier* Notifier = nullptr;

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe holds a byte already: the end is on its way.
    [[maybe_unused]] ssize_t written = write(Pipe[1], &byte, 1);
    errno = saved;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : EndingSignals)
        sigaction(number, &action, nullptr);
}

// The save is made and on the disk; a link check's transfer may still run on
// its thread, which static destructors must not meet, so the process ends
// here without them (the kernel drops the instance's claim with it).
void EndAfterSave() {
    char bytes[16];
    while (read(Pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (!RunSessionEndProcedure()) return;  // one already runs and ends the process
    std::fflush(nullptr);
    std::_Exit(0);
}

bool Open() {
    if (Notifier) return true;
    if (!QCoreApplication::instance() || pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    Notifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read);
    QObject::connect(Notifier, &QSocketNotifier::activated, [] { EndAfterSave(); });
    return true;
}

void Close() {
    if (!Notifier) return;
    SetHandlers(SIG_DFL);
    delete Notifier;
    Notifier = nullptr;
    close(Pipe[0]);
    close(Pipe[1]);
    Pipe[0] = Pipe[1] = -1;
}

}  // namespace

void WatchSessionEnd(bool watch) {
    if (!watch) return Close();
    if (Open()) SetHandlers(OnSignal);
}

void ReleaseSessionEnd() {
    Close();
}
