// A web server on 127.0.0.1 that serves any number of connections, one after
// another in a thread of its own, each with the answer a test set for the
// request's target beforehand. Where LoopbackServer scripts one connection,
// this one stays up for a whole run of many fetches.
//
// A request is read up to its first empty line; its target (the second word
// of the request line) picks the answer, which is used once. A request whose
// target has no answer gets "404 Not Found" and is remembered as unexpected.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/server_sockets.h"

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
    // Connections accepted, and connections served to their end and closed.
    int Accepted() const;
    int Served() const;
    // Waits until Served() is at least count; false when limit passed first.
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
    ServerAnswer AnswerFor(const std::string& request);
    bool Pause(std::chrono::milliseconds pause) const;

    ServerSocket listener_ = NoServerSocket;
    WakeSignal wake_;
    int port_ = 0;
    bool ipv6_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable served_changed_;
    std::multimap<std::string, ServerAnswer> answers_;  // in order for each target
    std::vector<std::string> unexpected_;
    std::vector<std::string> requests_;
    int accepted_ = 0;
    int served_ = 0;
    std::thread thread_;
};
