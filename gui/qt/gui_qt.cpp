// The toolkit's start and end, the modal dialogs and the random numbers of the
// Qt backend, and the hand-over of a file to the desktop (or, for a file that
// is no document, media or archive, to the file manager). Both dialogs keep slot
// ticks running while they are open.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QSessionManager>
#include <QUrl>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/gui.h"
#include "gui/open_guard.h"
#include "gui/qt/qt_backend.h"
#include "gui/random.h"

namespace {

QApplication* App = nullptr;
// QApplication keeps references to both for its whole life.
int ArgCount = 0;
std::vector<char*> Args;
char ProgramName[] = "tavimor";

// Without a display Qt would abort; failing is the caller's to handle.
bool DisplayReachable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Dialogs belong to the window while it is on screen.
QWidget* DialogOwner() {
    QWidget* window = WindowWidget(ControlWindowNumber());
    return window && window->isVisible() ? window : nullptr;
}

// The file manager's window on the folder with the file selected, through
// its D-Bus interface; without one, the folder alone. Nothing waits for the
// answer, which comes in through the event loop.
void ShowInFolder(const QString& file) {
    QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    const QString name = QStringLiteral("org.freedesktop.FileManager1");
    QDBusMessage message = QDBusMessage::createMethodCall(
        name, QStringLiteral("/org/freedesktop/FileManager1"), name, QStringLiteral("ShowItems"));
    message.setArguments({QStringList{QUrl::fromLocalFile(file).toString()}, QString()});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), App);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, App,
                     [folder](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) QDesktopServices::openUrl(folder);
                     });
}

}  // namespace

bool MayOpenWithApplication(const QString& file) {
    // Both as Qt finds them: by name and content, as an opener would, and by
    // content alone, which a name cannot disguise.
    QMimeDatabase types;
    return MayOpenByType(
        types.mimeTypeForFile(file).name().toStdString(),
        types.mimeTypeForFile(file, QMimeDatabase::MatchContent).name().toStdString());
}

int StartGui(int argc, char** argv) {
    if (App) return 1;
    if (QCoreApplication::instance() || !DisplayReachable()) return 0;
    Args.clear();
    if (argc > 0 && argv) Args.assign(argv, argv + argc);
    if (Args.empty()) Args.push_back(ProgramName);
    ArgCount = static_cast<int>(Args.size());
    Args.push_back(nullptr);
    App = new QApplication(ArgCount, Args.data());
    // Lets the desktop match the window to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName("io.github.tavimor.Tavimor");
    QApplication::setWindowIcon(QIcon::fromTheme("tavimor"));
    // The session manager asks for the save before it ends the session, which
    // it may still cancel: the program goes on until it is ended.
    QObject::connect(App, &QGuiApplication::commitDataRequest, App,
                     [](QSessionManager&) { RunSessionEndProcedure(); });
    return 1;
}

void ReleaseGui() {
    ReleaseSessionEnd();
    ReleaseInstance();
    ReleaseControls();
    ReleaseEvents();  // after the controls, which may raise events as they go
    delete App;
    App = nullptr;
}

void ReportStartFailure(std::string_view text) {
    std::string line = "tavimor: " + std::string(text) + "\n";
    std::fputs(line.c_str(), stderr);
}

int ShowMessageBox(std::string_view title, std::string_view text, int buttons) {
    if (!App) return AnswerNo;
    bool yes_no = buttons == ButtonsYesNo;
    QMessageBox box(QMessageBox::NoIcon, ToQt(title), ToQt(text),
                    yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, DialogOwner());
    ProgramChange own;
    TicksRunFreely ticks;
    int answer = box.exec();
    if (answer == QMessageBox::Yes) return AnswerYes;
    if (answer == QMessageBox::Ok) return AnswerOk;
    return AnswerNo;
}

std::string ChooseFolder(std::string_view title, std::string_view initialFolder) {
    if (!App) return "";
    QString start = QFile::decodeName(
        QByteArray(initialFolder.data(), static_cast<qsizetype>(initialFolder.size())));
    // The folder itself is preselected, not its contents; the root keeps its "/".
    if (start.size() > 1 && start.endsWith('/')) start.chop(1);
    ProgramChange own;
    TicksRunFreely ticks;
    QString chosen = QFileDialog::getExistingDirectory(DialogOwner(), ToQt(title), start,
                                                       QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return "";
    std::string path = QFile::encodeName(chosen).toStdString();
    if (path.back() != '/') path += '/';
    return path;
}

int RandomInt(int max) {
    return UniformUpTo(max, NextRandom32);
}

void OpenWithDefaultApplication(std::string_view path) {
    if (!App || path.empty()) return;
    QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    QString file = QFile::decodeName(bytes);
    // The desktop's opener (xdg-open or the portal) picks the application by
    // the file's type and starts it detached; where Wine or Java are set up,
    // that application runs a program. Only what is on the allow list goes.
    if (MayOpenWithApplication(file))
        QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    else
        ShowInFolder(file);
}
