#include "tests/support/loopback_server.h"

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

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
    listener_ = ListenOnLoopback(port_, 16, "loopback server");
    if (listener_ == NoServerSocket || !wake_.IsOpen()) {
        ADD_FAILURE() << "loopback server cannot start";
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::LoopbackServer(std::string_view answer)
    : LoopbackServer(std::vector<ServerPiece>{{std::string(answer), 0ms}}) {}

LoopbackServer::~LoopbackServer() {
    Stop();
    CloseServerSocket(listener_);
}

std::string LoopbackServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}

void LoopbackServer::Stop() {
    if (!thread_.joinable()) return;
    wake_.Signal("loopback server");
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
    for (ServerSocket client; (client = AcceptUnlessWoken(listener_, wake_)) != NoServerSocket;) {
        int first = 0;
        {
            std::lock_guard lock(mutex_);
            first = ++connections_ == 1;
        }
        if (first) Serve(client);
        CloseServerSocket(client);
    }
    CountPending();
}

// Connections the client completed but nobody accepted yet still count.
void LoopbackServer::CountPending() {
    int waiting = CloseWaitingClients(listener_);
    std::lock_guard lock(mutex_);
    connections_ += waiting;
}

// Returns false when the server was told to stop during the pause.
bool LoopbackServer::WaitWake(std::chrono::milliseconds pause) const {
    return PauseUnlessWoken(wake_, pause);
}

void LoopbackServer::Serve(ServerSocket client) {
    std::string request = ReceiveRequest(client, wake_);
    {
        std::lock_guard lock(mutex_);
        request_ = request;
    }
    for (const ServerPiece& piece : answer_) {
        if (piece.pause.count() > 0 && !WaitWake(piece.pause)) return;
        SendAll(client, piece.bytes, wake_);
    }
    if (end_ == ServerEnd::Stall) WaitWake(std::chrono::milliseconds(-1));
}
