// One running program per settings file. The claim is a listening socket in
// Linux's abstract namespace: no file is left behind, and the kernel releases
// the name when the process ends, however it ends, so a crash never blocks
// the next start. A later start connects to it, which brings this window to
// the front.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

QLocalServer* Claim = nullptr;

QString NameFor(std::string_view key) {
    QByteArray bytes(key.data(), static_cast<qsizetype>(key.size()));
    return "tavimor-" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

void BringWindowToFront() {
    QWidget* window = WindowWidget(ControlWindowNumber());
    if (!window) return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

int ClaimInstance(std::string_view key) {
    if (!QCoreApplication::instance()) return 1;
    const QString name = NameFor(key);
    auto* server = new QLocalServer;
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server->listen(name)) {
        QObject::connect(server, &QLocalServer::newConnection, server, [server] {
            while (QLocalSocket* caller = server->nextPendingConnection()) {
                caller->deleteLater();
                BringWindowToFront();
            }
        });
        delete Claim;
        Claim = server;
        return 1;
    }
    bool taken = server->serverError() == QAbstractSocket::AddressInUseError;
    delete server;
    // A claim that cannot be made for another reason must not keep the
    // program from starting.
    if (!taken) return 1;
    QLocalSocket caller;
    caller.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    caller.connectToServer(name);
    caller.waitForConnected(1000);
    return 0;
}

void ReleaseInstance() {
    delete Claim;
    Claim = nullptr;
}
