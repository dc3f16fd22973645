#include "tests/support/python_web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <thread>

#include "tests/support/loopback_address.h"
#include "tests/support/server_sockets.h"

using namespace std::chrono_literals;

namespace {

// Whether a connection to port on 127.0.0.1 is accepted now.
bool AcceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackAddress address(false, port);
    bool accepted = connect(fd, address.Get(), address.size) == 0;
    close(fd);
    return accepted;
}

}  // namespace

PythonWebServer::PythonWebServer(const std::string& directory) {
    // The port is found free and then handed over; nothing else here takes ports.
    ServerSocket probe = ListenOnLoopback(port_, 1, "python web server");
    CloseServerSocket(probe);
    std::string port_text = std::to_string(port_);
    const char* argv[] = {"python3", "-m",        "http.server", port_text.c_str(),
                          "--bind",  "127.0.0.1", "--directory", directory.c_str(),
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char* const*>(argv),
                     environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

PythonWebServer::~PythonWebServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    // A server that ignores the request to end is ended after five seconds.
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(50ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

bool PythonWebServer::Ready() {
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
        if (AcceptsConnections(port_)) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

std::string PythonWebServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}
