#include "tests/support/scripted_web_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <gtest/gtest.h>

#include "tests/support/server_sockets.h"

namespace {

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

ScriptedWebServer::ScriptedWebServer(bool ipv6) : ipv6_(ipv6) {
    listen_fd_ = ListenOnLoopback(port_, 64, "scripted web server", ipv6);
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
    std::string host = ipv6_ ? "[::1]" : "127.0.0.1";
    return "http://" + host + ":" + std::to_string(port_) + std::string(target);
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
    return PauseUnlessWoken(wake_[0], pause);
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
    std::string request = ReceiveRequest(fd);
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
