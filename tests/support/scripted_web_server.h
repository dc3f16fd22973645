// Web servers on loopback for tests, written once: ScriptedWebServer serves any
// number of connections, one after another in a thread of its own, each with
// the answer a test set for the request's target beforehand; LoopbackServer is
// its face for a test of one fetch, which answers the first request whatever
// its target.
//
// A request is read up to its first empty line; its target (the second word
// of the request line) picks the answer, which is used once. A request whose
// target has no answer gets "404 Not Found" and is remembered as unexpected.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/server_sockets.h"

struct ServerPiece {
    std::string bytes;
    std::chrono::milliseconds pause{0};  // waited before the bytes are sent
};

// bytes cut into pieces of the given sizes, the last piece taking the rest;
// every piece but the first is sent after pause.
std::vector<ServerPiece> Pieces(std::string_view bytes, const std::vector<std::size_t>& sizes,
                                std::chrono::milliseconds pause);

// bytes cut into pieces of size bytes each, each but the first sent after pause.
std::vector<ServerPiece> EveryBytes(std::string_view bytes, std::size_t size,
                                    std::chrono::milliseconds pause);

// How an answer ends once its pieces are sent: the connection is closed, or
// kept open without a word until the client closes it (or the server stops),
// or reset (TCP RST) at once.
enum class AnswerEnd { Close, Stall, Reset };

struct ServerAnswer {
    std::vector<ServerPiece> pieces;
    AnswerEnd end = AnswerEnd::Close;
};

class ScriptedWebServer {
  public:
    // On ::1 instead of 127.0.0.1 with ipv6.
    explicit ScriptedWebServer(bool ipv6 = false);
    ~ScriptedWebServer();
    ScriptedWebServer(const ScriptedWebServer&) = delete;
    ScriptedWebServer& operator=(const ScriptedWebServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "http://[::1]:<port>") followed by target,
    // which starts with "/".
    std::string Url(std::string_view target) const;

    // The answer to the next request for target; replaces one not used yet.
    void Answer(const std::string& target, ServerAnswer answer);
    // Another answer for target, used after those set before it.
    void AnswerAgain(const std::string& target, ServerAnswer answer);
    // The answer to the first request, whatever its target; every later
    // connection is closed unanswered. Before the first connection only.
    void AnswerOnlyTheFirst(ServerAnswer answer);
    // Connections accepted (after Stop, also those no one accepted any more).
    int Accepted() const;
    // Waits until count connections were served to their end and closed; false
    // when limit passed first.
    bool WaitServed(int count, std::chrono::milliseconds limit) const;
    // Targets requested without an answer set, oldest first; answers set and
    // never requested.
    std::vector<std::string> UnexpectedTargets() const;
    std::vector<std::string> UnusedTargets() const;
    // Every request received, up to its empty line, oldest first.
    std::vector<std::string> Requests() const;

    // Ends a stall, stops serving and waits for the thread; idempotent.
    void Stop();

  private:
    void Run();
    void Serve(ServerSocket client);
    std::optional<ServerAnswer> AnswerFor(const std::string& request);

    ServerSocket listener_ = NoServerSocket;
    WakeSignal wake_;
    int port_ = 0;
    bool ipv6_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable served_changed_;
    std::multimap<std::string, ServerAnswer> answers_;  // in order for each target
    std::optional<ServerAnswer> only_answer_;
    bool answered_ = false;  // with only_answer_: the first request has had it
    std::vector<std::string> unexpected_;
    std::vector<std::string> requests_;
    int accepted_ = 0;
    int served_ = 0;
    std::thread thread_;
};

// One scripted connection: the first request, whatever its target, gets the
// answer, in the pieces a test chose, each after its pause; later connections
// are counted and closed.
class LoopbackServer {
  public:
    explicit LoopbackServer(std::vector<ServerPiece> answer, AnswerEnd end = AnswerEnd::Close);
    // A whole answer sent at once, then the connection closed.
    explicit LoopbackServer(std::string_view answer);

    int Port() const { return server_.Port(); }
    // "http://127.0.0.1:<port>/" followed by path.
    std::string Url(std::string_view path) const;
    // Ends a stall and waits for the serving thread; idempotent. Connections
    // made before it are counted once it returns.
    void Stop() { server_.Stop(); }
    // The request received on the first connection ("" before one came).
    std::string Request() const;
    // The connections made so far.
    int Connections() const { return server_.Accepted(); }

  private:
    ScriptedWebServer server_;
};
