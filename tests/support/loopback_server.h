// Web servers on 127.0.0.1 for tests.
//
// LoopbackServer is scripted: It listens on 127.0.0.1 on a free port and
// serves one connection in a thread of its own: it records the request (the
// bytes up to the first empty line), then sends the answer in the pieces a
// test chose, each after its pause, and then closes the connection or stalls
// until the server is stopped. Further connections are counted and closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/server_sockets.h"

struct ServerPiece {
    std::string bytes;
    std::chrono::milliseconds pause{0};  // waited before the bytes are sent
};

enum class ServerEnd { Close, Stall };

// bytes cut into pieces of the given sizes, the last piece taking the rest;
// every piece but the first is sent after pause.
std::vector<ServerPiece> Pieces(std::string_view bytes, const std::vector<std::size_t>& sizes,
                                std::chrono::milliseconds pause);

// bytes cut into pieces of size bytes each, each but the first sent after pause.
std::vector<ServerPiece> EveryBytes(std::string_view bytes, std::size_t size,
                                    std::chrono::milliseconds pause);

class LoopbackServer {
  public:
    explicit LoopbackServer(std::vector<ServerPiece> answer, ServerEnd end = ServerEnd::Close);
    // A whole answer sent at once, then the connection closed.
    explicit LoopbackServer(std::string_view answer);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/" followed by path.
    std::string Url(std::string_view path) const;

    // Ends a stall and waits for the serving thread; idempotent. Connections
    // made before it are counted once it returns.
    void Stop();
    // The request received on the first connection ("" before one came).
    std::string Request() const;
    // The connections accepted so far.
    int Connections() const;

  private:
    void Run();
    void Serve(ServerSocket client);
    bool WaitWake(std::chrono::milliseconds pause) const;
    void CountPending();

    std::vector<ServerPiece> answer_;
    ServerEnd end_;
    ServerSocket listener_ = NoServerSocket;
    WakeSignal wake_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::string request_;
    int connections_ = 0;
    std::thread thread_;
};
