#include "tests/support/scripted_web_server.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

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

void ScriptedWebServer::AnswerOnlyTheFirst(ServerAnswer answer) {
    std::lock_guard lock(mutex_);
    only_answer_ = std::move(answer);
}

int ScriptedWebServer::Accepted() const {
    std::lock_guard lock(mutex_);
    return accepted_;
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

std::vector<std::string> ScriptedWebServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedWebServer::Stop() {
    if (!thread_.joinable()) return;
    wake_.Signal("scripted web server");
    thread_.join();
    // Connections the client completed but nobody accepted still count.
    int waiting = CloseWaitingClients(listener_);
    std::lock_guard lock(mutex_);
    accepted_ += waiting;
}

void ScriptedWebServer::Run() {
    for (ServerSocket client; (client = AcceptUnlessWoken(listener_, wake_)) != NoServerSocket;) {
        bool answer = true;
        {
            std::lock_guard lock(mutex_);
            ++accepted_;
            answer = !only_answer_ || !answered_;
        }
        if (answer)
            Serve(client);
        else
            CloseServerSocket(client);
        {
            std::lock_guard lock(mutex_);
            ++served_;
        }
        served_changed_.notify_all();
    }
}

// Takes the answer for the request's target out of the script; nothing for a
// request after the only one.
std::optional<ServerAnswer> ScriptedWebServer::AnswerFor(const std::string& request) {
    std::string target = TargetOf(request);
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (only_answer_) {
        if (std::exchange(answered_, true)) return std::nullopt;
        return *only_answer_;
    }
    auto found = answers_.find(target);
    if (found == answers_.end()) {
        unexpected_.push_back(target);
        return NotFound();
    }
    ServerAnswer answer = std::move(found->second);
    answers_.erase(found);
    return answer;
}

void ScriptedWebServer::Serve(ServerSocket client) {
    std::string request = ReceiveRequest(client, wake_);
    std::optional<ServerAnswer> answer = AnswerFor(request);
    if (answer) {
        for (const ServerPiece& piece : answer->pieces) {
            if (piece.pause.count() > 0 && !PauseUnlessWoken(wake_, piece.pause)) break;
            SendAll(client, piece.bytes, wake_);
        }
        // A stall is silence until the client gives up; what it still sends is dropped.
        if (answer->end == AnswerEnd::Stall) DrainUntilClosed(client, wake_);
    }
    CloseServerSocket(client, answer && answer->end == AnswerEnd::Reset);
}

LoopbackServer::LoopbackServer(std::vector<ServerPiece> answer, AnswerEnd end) {
    server_.AnswerOnlyTheFirst({std::move(answer), end});
}

LoopbackServer::LoopbackServer(std::string_view answer)
    : LoopbackServer(std::vector<ServerPiece>{{std::string(answer), 0ms}}) {}

std::string LoopbackServer::Url(std::string_view path) const {
    // Appended: g++ 12 warns falsely (-Wrestrict) of a literal put before a temporary.
    std::string target = "/";
    target += path;
    return server_.Url(target);
}

std::string LoopbackServer::Request() const {
    std::vector<std::string> requests = server_.Requests();
    return requests.empty() ? "" : requests.front();
}
