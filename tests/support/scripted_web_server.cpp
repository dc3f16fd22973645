#include "tests/support/scripted_web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <gtest/gtest.h>

namespace {

constexpr std::size_t MaxRequestBytes = 64 * 1024;
constexpr std::chrono::seconds RequestWait{5};

int ListenOnLoopback(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(fd, 64) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << "scripted web server cannot listen: errno " << errno;
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;  // the client has gone; the test judges what it got
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

// "GET /a/b HTTP/1.1" gives "/a/b".
std::string TargetOf(const std::string& request) {
    std::size_t start = request.find(' ');
    if (start == std::string::npos) return "";
    std::size_t end = request.find_first_of(" \r\n", start + 1);
    return request.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

ServerAnswer NotFound() {
    return {{{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", {}}},
            AnswerEnd::Close};
}

}  // namespace

ScriptedWebServer::ScriptedWebServer() {
    listen_fd_ = ListenOnLoopback(port_);
    if (listen_fd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "scripted web server cannot start";
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

ScriptedWebServer::~ScriptedWebServer() {
    Stop();
    for (int fd : {listen_fd_, wake_[0], wake_[1]}) {
        if (fd >= 0) close(fd);
    }
}

std::string ScriptedWebServer::Url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void ScriptedWebServer::Answer(const std::string& target, ServerAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_[target] = std::move(answer);
}

int ScriptedWebServer::Accepted() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

int ScriptedWebServer::Served() const {
    std::lock_guard lock(mutex_);
    return served_;
}

bool ScriptedWebServer::WaitServed(int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return served_changed_.wait_for(lock, limit, [&] { return served_ >= count; });
}

std::vector<std::string> ScriptedWebServer::UnexpectedTargets() const {
    std::lock_guard lock(mutex_);
    return unexpected_;
}

std::vector<std::string> ScriptedWebServer::UnusedTargets() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> unused;
    for (const auto& [target, answer] : answers_)
        unused.push_back(target);
    return unused;
}

void ScriptedWebServer::Stop() {
    if (!thread_.joinable()) return;
    char wake = 1;
    if (write(wake_[1], &wake, 1) != 1) ADD_FAILURE() << "cannot wake the scripted web server";
    thread_.join();
}

void ScriptedWebServer::Run() {
    for (;;) {
        pollfd entries[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(entries, 2, -1) < 0 && errno != EINTR) return;
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex_);
            ++accepted_;
        }
        Serve(fd);
        {
            std::lock_guard lock(mutex_);
            ++served_;
        }
        served_changed_.notify_all();
    }
}

// Takes the answer for the request's target out of the script.
ServerAnswer ScriptedWebServer::AnswerFor(const std::string& request) {
    std::string target = TargetOf(request);
    std::lock_guard lock(mutex_);
    auto found = answers_.find(target);
    if (found == answers_.end()) {
        unexpected_.push_back(target);
        return NotFound();
    }
    ServerAnswer answer = std::move(found->second);
    answers_.erase(found);
    return answer;
}

// Returns false when the server was told to stop during the pause.
bool ScriptedWebServer::Pause(std::chrono::milliseconds pause) const {
    pollfd entry{wake_[0], POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(pause.count())) == 0;
}

// Silence until the client gives up: whatever it still sends is read and dropped.
void ScriptedWebServer::StallUntilClientCloses(int fd) const {
    for (;;) {
        pollfd entries[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(entries, 2, -1) < 0 && errno != EINTR) return;
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        char sink[4096];
        if (recv(fd, sink, sizeof sink, 0) <= 0) return;
    }
}

void ScriptedWebServer::Serve(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + RequestWait;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < MaxRequestBytes &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0) continue;
        char chunk[4096];
        ssize_t count = recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0) break;
        request.append(chunk, static_cast<std::size_t>(count));
    }
    ServerAnswer answer = AnswerFor(request);
    for (const ServerPiece& piece : answer.pieces) {
        if (piece.pause.count() > 0 && !Pause(piece.pause)) break;
        SendAll(fd, piece.bytes);
    }
    if (answer.end == AnswerEnd::Stall) StallUntilClientCloses(fd);
    if (answer.end == AnswerEnd::Reset) {
        linger abort{1, 0};  // closing with a zero linger sends RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(fd);
}
