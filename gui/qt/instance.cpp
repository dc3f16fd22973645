// One running program per settings file. The claim is a lock on a file in a
// directory only this user can enter ($XDG_RUNTIME_DIR, else /tmp/tavimor-<uid>
// made 0700), so no other user can take the name first; the kernel drops the
// lock when the process ends, however it ends, so a crash never blocks the
// next start. Beside the lock listens a socket: a later start connects to it,
// which brings this window to the front.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

QLocalServer* Claim = nullptr;
int ClaimLock = -1;

// Ours alone: a real directory (no link to one), owned by us, closed to others.
bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & 077) == 0;
}

// "" when neither place is private: a directory someone else made in /tmp
// first is never used.
std::string PrivateDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateDirectory(runtime)) return runtime;
    std::string fallback = "/tmp/tavimor-" + std::to_string(getuid());
    mkdir(fallback.c_str(), 0700);
    return IsPrivateDirectory(fallback) ? fallback : "";
}

// Short enough for a socket's path wherever the runtime directory is.
std::string NameFor(std::string_view key) {
    QByteArray bytes(key.data(), static_cast<qsizetype>(key.size()));
    return "tavimor-" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)
                            .toHex()
                            .left(32)
                            .toStdString();
}

void BringWindowToFront() {
    QWidget* window = WindowWidget(ControlWindowNumber());
    if (!window) return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void Listen(const QString& socket) {
    // A socket left by a holder that crashed: the lock says it is nobody's.
    QLocalServer::removeServer(socket);
    auto* server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socket)) {
        // The claim stands on the lock; only coming to the front is lost.
        delete server;
        return;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket* caller = server->nextPendingConnection()) {
            caller->deleteLater();
            BringWindowToFront();
        }
    });
    Claim = server;
}

}  // namespace

int ClaimInstance(std::string_view key) {
    if (!QCoreApplication::instance()) return 1;
    // A claim that cannot be made must not keep the program from starting.
    const std::string directory = PrivateDirectory();
    if (directory.empty()) return 1;
    const std::string base = directory + "/" + NameFor(key);
    int lock = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return 1;
    const QString socket = QString::fromStdString(base);
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        bool taken = errno == EWOULDBLOCK;
        close(lock);
        if (!taken) return 1;
        QLocalSocket caller;
        caller.connectToServer(socket);
        caller.waitForConnected(1000);
        return 0;
    }
    ReleaseInstance();
    ClaimLock = lock;
    Listen(socket);
    return 1;
}

void ReleaseInstance() {
    delete Claim;
    Claim = nullptr;
    // The lock file stays: removing it would let two starts lock two files.
    if (ClaimLock >= 0) close(ClaimLock);
    ClaimLock = -1;
}
