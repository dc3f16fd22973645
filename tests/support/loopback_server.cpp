#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/server_sockets.h"

using namespace std::chrono_literals;

std::vector<ServerPiece> Pieces(std::string_view bytes, const std::vector<std::size_t>& sizes,
                                std::chrono::milliseconds pause) {
    std::vector<ServerPiece> pieces;
    for (std::size_t size : sizes) {
        if (bytes.empty()) break;
        size = std::min(size, bytes.size());
        pieces.push_back({std::string(bytes.substr(0, size)), pieces.empty() ? 0ms : pause});
        bytes.remove_prefix(size);
    }
    if (!bytes.empty()) pieces.push_back({std::string(bytes), pieces.empty() ? 0ms : pause});
    return pieces;
}

std::vector<ServerPiece> EveryBytes(std::string_view bytes, std::size_t size,
                                    std::chrono::milliseconds pause) {
    std::vector<std::size_t> sizes(size == 0 ? 0 : bytes.size() / size, size);
    return Pieces(bytes, sizes, pause);
}

LoopbackServer::LoopbackServer(std::vector<ServerPiece> answer, ServerEnd end)
    : answer_(std::move(answer)), end_(end) {
    listen_fd_ = ListenOnLoopback(port_, 16, "loopback server");
    if (listen_fd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "loopback server cannot start";
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::LoopbackServer(std::string_view answer)
    : LoopbackServer(std::vector<ServerPiece>{{std::string(answer), 0ms}}) {}

LoopbackServer::~LoopbackServer() {
    Stop();
    for (int fd : {listen_fd_, wake_[0], wake_[1]}) {
        if (fd >= 0) close(fd);
    }
}

std::string LoopbackServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}

void LoopbackServer::Stop() {
    if (!thread_.joinable()) return;
    char wake = 1;
    if (write(wake_[1], &wake, 1) != 1) ADD_FAILURE() << "cannot wake the loopback server";
    thread_.join();
}

std::string LoopbackServer::Request() const {
    std::lock_guard lock(mutex_);
    return request_;
}

int LoopbackServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void LoopbackServer::Run() {
    for (;;) {
        pollfd entries[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(entries, 2, -1) < 0 && errno != EINTR) break;
        if (entries[1].revents != 0) break;
        if (entries[0].revents == 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int first = 0;
        {
            std::lock_guard lock(mutex_);
            first = ++connections_ == 1;
        }
        if (first) Serve(fd);
        close(fd);
    }
    CountPending();
}

// Connections the client completed but nobody accepted yet still count.
void LoopbackServer::CountPending() {
    int flags = fcntl(listen_fd_, F_GETFL);
    fcntl(listen_fd_, F_SETFL, flags | O_NONBLOCK);
    for (int fd; (fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        close(fd);
        std::lock_guard lock(mutex_);
        ++connections_;
    }
}

// Returns false when the server was told to stop during the pause.
bool LoopbackServer::WaitWake(std::chrono::milliseconds pause) const {
    return PauseUnlessWoken(wake_[0], pause);
}

void LoopbackServer::Serve(int fd) {
    std::string request = ReceiveRequest(fd);
    {
        std::lock_guard lock(mutex_);
        request_ = request;
    }
    for (const ServerPiece& piece : answer_) {
        if (piece.pause.count() > 0 && !WaitWake(piece.pause)) return;
        SendAll(fd, piece.bytes);
    }
    if (end_ == ServerEnd::Stall) WaitWake(std::chrono::milliseconds(-1));
}

namespace {

bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

}  // namespace

PythonWebServer::PythonWebServer(const std::string& directory) {
    // The port is found free and then handed over; nothing else here takes ports.
    int probe = ListenOnLoopback(port_, 1, "python web server");
    if (probe >= 0) close(probe);
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
    waitpid(pid_, nullptr, 0);
}

bool PythonWebServer::Ready() {
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
        if (Accepts(port_)) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

std::string PythonWebServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}
