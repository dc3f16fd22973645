// The arrival notice of the Qt backend: a notification through the desktop's
// org.freedesktop.Notifications service on the session bus, and the taskbar's
// request for attention.
//
// Nothing here waits for the bus to answer: the server's capabilities and each
// notification are asked for asynchronously, and the answers and the server's
// action signals come in through the GUI thread's event loop, which every wait
// of the main loop turns. The bus is joined at the first arrival, not at start:
// a program that never sees a file arrive keeps no connection and no thread for it.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <map>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString ConnectionName = QStringLiteral("tavimor-notifications");

struct Arrival {
    QString file_name, link;
    std::string path;
};

// One per QApplication, as its child: it leaves the bus when the application goes.
class Notifier : public QObject {
    Q_OBJECT

  public:
    explicit Notifier(QObject* parent) : QObject(parent), bus_(QString()) {}
    ~Notifier() override { QDBusConnection::disconnectFromBus(ConnectionName); }
    void Post(Arrival arrival);

  private slots:
    void OnActionInvoked(uint id, const QString& action, const QDBusMessage& signal);
    void OnClosed(uint id, uint reason, const QDBusMessage& signal);

  private:
    enum class Markup { Unknown, Asking, No, Yes };
    bool Join();
    void AskCapabilities();
    void OnCapabilities(const QDBusMessage& reply);
    void Send(const Arrival& arrival);
    void OnNotified(const QDBusMessage& reply, const std::string& path);
    template <typename Done>
    void Call(const QString& method, const QVariantList& arguments, Done done);

    QDBusConnection bus_;
    Markup markup_ = Markup::Unknown;
    std::vector<Arrival> waiting_;  // for the server's capabilities
    // Ids are the server's own, so they count only from the server that gave them.
    QString server_;
    std::map<uint, std::string> paths_;  // of the notifications still open
};

QPointer<Notifier> TheNotifier;

// Joining is the one step that talks to the bus before returning, and on a
// local socket it takes a moment or fails at once. A failure (no session bus)
// is forgotten, so that a later arrival tries again.
bool Notifier::Join() {
    if (bus_.isConnected()) return true;
    QDBusConnection::disconnectFromBus(ConnectionName);
    bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, ConnectionName);
    markup_ = Markup::Unknown;
    server_.clear();
    paths_.clear();
    if (!bus_.isConnected()) {
        QDBusConnection::disconnectFromBus(ConnectionName);
        bus_ = QDBusConnection(QString());
        return false;
    }
    // From any sender: naming the service would make Qt look up its owner, and
    // wait for the answer. The sender is checked against the server instead.
    bus_.connect(QString(), ObjectPath, Service, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString, QDBusMessage)));
    bus_.connect(QString(), ObjectPath, Service, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnClosed(uint, uint, QDBusMessage)));
    return true;
}

template <typename Done>
void Notifier::Call(const QString& method, const QVariantList& arguments, Done done) {
    QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Service, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                done(finished->reply());
            });
}

void Notifier::Post(Arrival arrival) {
    if (!Join()) return;
    if (markup_ == Markup::Yes || markup_ == Markup::No) {
        Send(arrival);
        return;
    }
    waiting_.push_back(std::move(arrival));
    if (markup_ == Markup::Unknown) AskCapabilities();
}

// Servers that read the body as markup would swallow a link's "&" and "<"; the
// others would show an escaped one verbatim. A server that does not say gets
// plain text, and is asked again at the next arrival.
void Notifier::AskCapabilities() {
    markup_ = Markup::Asking;
    Call(QStringLiteral("GetCapabilities"), {},
         [this](const QDBusMessage& reply) { OnCapabilities(reply); });
}

void Notifier::OnCapabilities(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage) {
        markup_ = Markup::Unknown;
    } else {
        QStringList capabilities = reply.arguments().value(0).toStringList();
        markup_ = capabilities.contains("body-markup") ? Markup::Yes : Markup::No;
    }
    for (const Arrival& arrival : std::exchange(waiting_, {}))
        Send(arrival);
}

void Notifier::Send(const Arrival& arrival) {
    QString body = QStringLiteral("Downloaded from ") +
                   (markup_ == Markup::Yes ? arrival.link.toHtmlEscaped() : arrival.link);
    // "default" is a click on the notification itself.
    QStringList actions = {"default", "Open", "open", "Open"};
    QVariantMap hints = {{"category", QStringLiteral("transfer.complete")}};
    // The desktop shows the menu entry's name and icon beside the notification.
    if (!QGuiApplication::desktopFileName().isEmpty())
        hints.insert("desktop-entry", QGuiApplication::desktopFileName());
    QVariantList arguments = {QStringLiteral("Tavimor"),
                              QVariant::fromValue(0u),
                              QStringLiteral("tavimor"),
                              QStringLiteral("File arrived: ") + arrival.file_name,
                              body,
                              actions,
                              hints,
                              QVariant::fromValue(-1)};
    Call(QStringLiteral("Notify"), arguments,
         [this, path = arrival.path](const QDBusMessage& reply) { OnNotified(reply, path); });
}

void Notifier::OnNotified(const QDBusMessage& reply, const std::string& path) {
    if (reply.type() != QDBusMessage::ReplyMessage) return;
    if (reply.service() != server_) {
        paths_.clear();  // a new server: the old one's notifications are gone
        server_ = reply.service();
    }
    paths_[reply.arguments().value(0).toUInt()] = path;
}

void Notifier::OnActionInvoked(uint id, const QString& action, const QDBusMessage& signal) {
    auto found = paths_.find(id);
    if (signal.service() != server_ || found == paths_.end()) return;
    if (action == "default" || action == "open") OpenWithDefaultApplication(found->second);
}

void Notifier::OnClosed(uint id, uint, const QDBusMessage& signal) {
    if (signal.service() == server_) paths_.erase(id);
}

}  // namespace

void NotifyArrival(std::string_view fileName, std::string_view link, std::string_view path) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    // Only a window that is not already active is marked, until the user comes to it.
    if (QWidget* window = WindowWidget(ControlWindowNumber())) QApplication::alert(window, 0);
    if (!TheNotifier) TheNotifier = new Notifier(app);
    TheNotifier->Post({ToQt(fileName), ToQt(link), std::string(path)});
}

#include "notify_dbus.moc"
