// The arrival notice of the Qt backend, against a stand-in notification server
// on a session bus of the test's own: what each arrival sends, and which file
// the server's action signals open. And with no bus at all, an arrival that
// returns at once and breaks nothing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui/gui.h"

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// dbus-daemon on the test's own configuration, run by a shell that ends it when
// the test program's end of a pipe closes, however the program ends.
class PrivateBus {
  public:
    PrivateBus() {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::string script =
            "dbus-daemon --nofork --print-address=1 --config-file=\"$0\" & "
            "read -r _; kill $!";
        std::string config = TAVIMOR_PRIVATE_BUS_CONFIG;
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), script.data(),
                        config.data(), nullptr};
        if (posix_spawnp(&pid_, "sh", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        lifeline_ = in[1];
        address_ = ReadLine(out[0]);
        close(out[0]);
    }
    ~PrivateBus() {
        close(lifeline_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    const std::string& Address() const { return address_; }

  private:
    static std::string ReadLine(int fd) {
        std::string line;
        char c = 0;
        pollfd ready = {fd, POLLIN, 0};
        while (poll(&ready, 1, 10000) == 1 && read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return c == '\n' ? line : "";
    }
    pid_t pid_ = -1;
    int lifeline_ = -1;
    std::string address_;
};

// Stands in for the desktop's opener: the files handed to it.
class Opener : public QObject {
    Q_OBJECT

  public:
    Q_INVOKABLE void Open(const QUrl& url) { opened.push_back(url.toLocalFile().toStdString()); }
    Lines opened;
};

// Turns the GUI's waits, as the main loop does, until test() holds; false after 5 s.
bool WaitFor(const std::function<bool()>& test) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!test()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitEvent(20);
    }
    return true;
}

class QtNotify : public ::testing::Test {
  protected:
    // libdbus reads the session bus's address once per process, so the bus
    // lives as long as the test program.
    static void SetUpTestSuite() {
        static PrivateBus bus;
        address = bus.Address();
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }

    void SetUp() override {
        ASSERT_NE(address, "") << "no dbus-daemon (Debian package dbus-daemon)";
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ASSERT_TRUE(StartGui(0, nullptr));
        CreateWindowFrame(MainWindow, 0, 0, 200, 100, "Tavimor test", WindowHidden);
        QDesktopServices::setUrlHandler("file", &opener, "Open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        server.close();
        ReleaseGui();
    }

    void StartServer(const QStringList& arguments = {}) {
        server.start(TAVIMOR_NOTIFICATION_STANDIN, arguments);
        ASSERT_TRUE(WaitFor([&] { return Read() == Lines{"ready"}; }));
        notices.clear();
    }
    // What the server has printed so far.
    const Lines& Read() {
        while (server.canReadLine())
            notices.push_back(server.readLine().trimmed().toStdString());
        return notices;
    }
    void Tell(const char* line) { server.write(QByteArray(line) + "\n"); }

    static std::string address;
    QProcess server;
    Lines notices;
    Opener opener;
};
std::string QtNotify::address;

TEST_F(QtNotify, EachArrivalSendsOneNoticeNamingFileAndLinkWithAnOpenAction) {
    StartServer();
    NotifyArrival("r&d <1>.zip", "http://example.org/get?a=1&b=<2>", "/dl/r&d <1>.zip");
    NotifyArrival("second.bin", "http://example.org/second.bin", "/dl/second.bin");
    // The second notice comes after the first on the one connection: a repeated
    // first would already be here.
    ASSERT_TRUE(WaitFor([&] { return Read().size() >= 2; }));
    EXPECT_EQ(notices, (Lines{"notify 1 Tavimor|tavimor|File arrived: r&d <1>.zip|Downloaded from "
                              "http://example.org/get?a=1&amp;b=&lt;2&gt;|default,Open,open,Open|"
                              "transfer.complete|io.github.tavimor.Tavimor",
                              "notify 2 Tavimor|tavimor|File arrived: second.bin|Downloaded from "
                              "http://example.org/second.bin|default,Open,open,Open|"
                              "transfer.complete|io.github.tavimor.Tavimor"}));
}

TEST_F(QtNotify, AServerWithoutMarkupGetsTheLinkAsItIs) {
    StartServer({"plain"});
    NotifyArrival("f.zip", "http://example.org/get?a=1&b=<2>", "/dl/f.zip");
    ASSERT_TRUE(WaitFor([&] { return !Read().empty(); }));
    EXPECT_EQ(notices[0],
              "notify 1 Tavimor|tavimor|File arrived: f.zip|Downloaded from "
              "http://example.org/get?a=1&b=<2>|default,Open,open,Open|"
              "transfer.complete|io.github.tavimor.Tavimor");
}

TEST_F(QtNotify, OnlyTheServersOwnOpenActionsOpenTheFileOfTheirNotice) {
    StartServer();
    NotifyArrival("first.zip", "http://example.org/first.zip", "/dl/first.zip");
    NotifyArrival("second.zip", "http://example.org/second.zip", "/dl/second.zip");
    ASSERT_TRUE(WaitFor([&] { return Read().size() >= 2; }));
    // Another client of the bus claims to be the server; the bus has it before
    // the server's own signals below.
    EXPECT_EQ(QProcess::execute(
                  "dbus-send",
                  {"--session", "--type=signal", "/org/freedesktop/Notifications",
                   "org.freedesktop.Notifications.ActionInvoked", "uint32:2", "string:open"}),
              0);
    Tell("invoke 7 open");
    Tell("invoke 2 other");
    Tell("invoke 2 open");
    Tell("invoke 1 default");
    ASSERT_TRUE(WaitFor([&] { return opener.opened.size() >= 2; }));
    EXPECT_EQ(opener.opened, (Lines{"/dl/second.zip", "/dl/first.zip"}));

    // A closed notice is forgotten.
    Tell("close 1");
    Tell("invoke 1 open");
    Tell("invoke 2 open");
    ASSERT_TRUE(WaitFor([&] { return opener.opened.size() >= 3; }));
    EXPECT_EQ(opener.opened, (Lines{"/dl/second.zip", "/dl/first.zip", "/dl/second.zip"}));
}

// In a process of its own, since libdbus keeps the first address it reads.
TEST(QtNotifyWithoutBus, AnArrivalReturnsAtOnceAndNothingFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavimor-bus", 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
            StartGui(0, nullptr);
            CreateWindowFrame(MainWindow, 0, 0, 200, 100, "Tavimor test", WindowHidden);
            auto start = std::chrono::steady_clock::now();
            NotifyArrival("f.zip", "http://example.org/f.zip", "/dl/f.zip");
            NotifyArrival("g.zip", "http://example.org/g.zip", "/dl/g.zip");
            bool quick = std::chrono::steady_clock::now() - start < 1s;
            WaitEvent(100);
            ReleaseGui();
            std::exit(quick ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace

#include "notify_test.moc"
