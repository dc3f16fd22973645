// A stand-in for the desktop's notification server, for the tests: it owns
// org.freedesktop.Notifications on the session bus that DBUS_SESSION_BUS_ADDRESS
// names, prints "ready" once it does, and then one line per Notify call:
//   notify <id> <app>|<icon>|<summary>|<body>|<actions>|<category>|<desktop-entry>
// (actions comma-separated, the last two from the hints)
// Lines on its standard input make it signal as a server does when the user acts:
//   invoke <id> <action>    ActionInvoked
//   close <id>              NotificationClosed (reason 2, dismissed)
// It ends when its input does.
//
// Usage: notification_standin [plain]   (plain: no body markup among its capabilities)
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <string>

namespace {

const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");

class Server : public QDBusVirtualObject {
  public:
    explicit Server(bool markup) : markup_(markup) {}

    // Runs on Qt's D-Bus thread.
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        if (member == "GetCapabilities") {
            QStringList caps = {"actions", "body"};
            if (markup_) caps << "body-markup";
            return bus.send(message.createReply(QVariant(caps)));
        }
        if (member == "GetServerInformation")
            return bus.send(message.createReply({"stand-in", "tavimor", "1", "1.2"}));
        if (member == "Notify") return bus.send(message.createReply(QVariant(Record(message))));
        if (member == "CloseNotification") return bus.send(message.createReply());
        return false;
    }
    QString introspect(const QString&) const override { return {}; }

  private:
    uint Record(const QDBusMessage& message) {
        const QVariantList a = message.arguments();
        uint id = ++last_id_;
        QStringList fields = {a.value(0).toString(), a.value(2).toString(), a.value(3).toString(),
                              a.value(4).toString(), a.value(5).toStringList().join(',')};
        QVariantMap hints = qdbus_cast<QVariantMap>(a.value(6));
        fields << hints.value("category").toString() << hints.value("desktop-entry").toString();
        std::printf("notify %u %s\n", id, fields.join('|').toUtf8().constData());
        std::fflush(stdout);
        return id;
    }

    bool markup_;
    std::atomic<uint> last_id_{0};
};

void Emit(const QDBusConnection& bus, const QString& name, const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath, Interface, name);
    signal.setArguments(arguments);
    bus.send(signal);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Server server(!app.arguments().contains("plain"));
    if (!bus.registerVirtualObject(ObjectPath, &server) ||
        bus.interface()->registerService(Interface) != QDBusConnectionInterface::ServiceRegistered)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[512];
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) QCoreApplication::quit();
        pending.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            QStringList words = QString::fromStdString(pending.substr(0, end)).split(' ');
            pending.erase(0, end + 1);
            uint id = words.value(1).toUInt();
            if (words[0] == "invoke") Emit(bus, "ActionInvoked", {id, words.value(2)});
            if (words[0] == "close") Emit(bus, "NotificationClosed", {id, 2u});
        }
    });
    return app.exec();
}
