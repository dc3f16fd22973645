#include "tests/support/server_sockets.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t MaxRequestBytes = 64 * 1024;
constexpr std::chrono::seconds RequestWait{5};
// What a readiness the platform's wait missed costs at most.
constexpr std::chrono::milliseconds Slice{100};

}  // namespace

ServerSocket AcceptUnlessWoken(ServerSocket listener, const WakeSignal& wake) {
    while (!wake.Signalled()) {
        ServerSocket client = TryAccept(listener);
        if (client != NoServerSocket) return client;
        WaitSlice(listener, false, wake, Slice);
    }
    return NoServerSocket;
}

int CloseWaitingClients(ServerSocket listener) {
    int count = 0;
    for (ServerSocket client; (client = TryAccept(listener)) != NoServerSocket; ++count)
        CloseServerSocket(client);
    return count;
}

std::string ReceiveRequest(ServerSocket socket, const WakeSignal& wake) {
    std::string request;
    const auto deadline = Clock::now() + RequestWait;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < MaxRequestBytes &&
           Clock::now() < deadline && !wake.Signalled()) {
        char chunk[4096];
        int64_t count = TryReceive(socket, chunk, sizeof chunk);
        if (count == -1) WaitSlice(socket, false, wake, Slice);
        if (count == 0 || count == -2) break;
        if (count > 0) request.append(chunk, static_cast<std::size_t>(count));
    }
    return request;
}

void SendAll(ServerSocket socket, std::string_view bytes, const WakeSignal& wake) {
    while (!bytes.empty() && !wake.Signalled()) {
        int64_t count = TrySend(socket, bytes);
        if (count == -2) return;
        if (count == -1) WaitSlice(socket, true, wake, Slice);
        if (count > 0) bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

void DrainUntilClosed(ServerSocket socket, const WakeSignal& wake) {
    while (!wake.Signalled()) {
        char sink[4096];
        int64_t count = TryReceive(socket, sink, sizeof sink);
        if (count == 0 || count == -2) return;
        if (count == -1) WaitSlice(socket, false, wake, Slice);
    }
}

bool PauseUnlessWoken(const WakeSignal& wake, std::chrono::milliseconds pause) {
    const auto deadline = pause.count() < 0 ? Clock::time_point::max() : Clock::now() + pause;
    while (!wake.Signalled()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return true;
        WaitSlice(NoServerSocket, false, wake, std::min(left, Slice));
    }
    return false;
}
