#include "tests/support/scripted_web_server.h"

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
    listener_ = ListenOnLoopback(port_, 64, "scripted web server", ipv6);
    if (listener_ == NoServerSocket || !wake_.IsOpen()) {
        ADD_FAILURE() << "scripted web server cannot start";
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

ScriptedWebServer::~ScriptedWebServer() {
    Stop();
    CloseServerSocket(listener_);
}

std::string ScriptedWebServer::Url(std::string_view target) const {
    std::string host = ipv6_ ? "[::1]" : "127.0.0.1";
    return "http://" + host + ":" + std::to_string(port_) + std::string(target);
}

void ScriptedWebServer::Answer(const std::string& target, ServerAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.erase(target);
    answers_.emplace(target, std::move(answer));
}

void ScriptedWebServer::AnswerAgain(const std::string& target, ServerAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.emplace(target, std::move(answer));
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
    wake_.Signal("scripted web server");
    thread_.join();
}

void ScriptedWebServer::Run() {
    for (ServerSocket client; (client = AcceptUnlessWoken(listener_, wake_)) != NoServerSocket;) {
        {
            std::lock_guard lock(mutex_);
            ++accepted_;
        }
        Serve(client);
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
    requests_.push_back(request);
    auto found = answers_.find(target);
    if (found == answers_.end()) {
        unexpected_.push_back(target);
        return NotFound();
    }
    ServerAnswer answer = std::move(found->second);
    answers_.erase(found);
    return answer;
}

std::vector<std::string> ScriptedWebServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

// Returns false when the server was told to stop during the pause.
bool ScriptedWebServer::Pause(std::chrono::milliseconds pause) const {
    return PauseUnlessWoken(wake_, pause);
}

void ScriptedWebServer::Serve(ServerSocket client) {
    std::string request = ReceiveRequest(client, wake_);
    ServerAnswer answer = AnswerFor(request);
    for (const ServerPiece& piece : answer.pieces) {
        if (piece.pause.count() > 0 && !Pause(piece.pause)) break;
        SendAll(client, piece.bytes, wake_);
    }
    // A stall is silence until the client gives up; what it still sends is dropped.
    if (answer.end == AnswerEnd::Stall) DrainUntilClosed(client, wake_);
    CloseServerSocket(client, answer.end == AnswerEnd::Reset);
}
