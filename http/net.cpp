// The sockets layer's policy, the same on every platform; the platform's own
// calls are behind net_platform.h.
#include "http/net.h"

#include <string>

#include "http/net_platform.h"

std::optional<NetConnection> NetConnectAny(NetAddresses& addresses, NetClock::time_point deadline,
                                           NetOpenFailure& why) {
    why = NetOpenFailure::Other;
    const std::size_t count = addresses.Count();
    for (std::size_t index = 0; index < count; ++index) {
        NetClock::time_point now = NetClock::now();
        if (now >= deadline) break;
        auto share = (deadline - now) / static_cast<NetClock::rep>(count - index);
        NetSocket socket = addresses.ConnectBefore(index, now + share, why);
        if (socket != NoSocket) {
            why = NetOpenFailure::None;
            return NetConnection{socket};
        }
    }
    if (NetClock::now() >= deadline) why = NetOpenFailure::TimedOut;
    return std::nullopt;
}

std::optional<NetConnection> NetOpen(std::string_view host, int port,
                                     std::chrono::milliseconds limit, NetOpenFailure* why) {
    NetOpenFailure ignored;
    NetOpenFailure& failure = why ? *why : ignored;
    failure = NetOpenFailure::Other;
    if (!NetPlatformStarted() || port <= 0 || port > 65535) return std::nullopt;
    if (host.empty() || host.find('\0') != std::string_view::npos) return std::nullopt;
    NetClock::time_point deadline = NetClock::now() + limit;
    std::unique_ptr<NetAddresses> addresses = NetResolve(std::string(host), port, failure);
    if (!addresses) return std::nullopt;
    return NetConnectAny(*addresses, deadline, failure);
}

int NetSendAll(NetConnection& connection, const char* data, std::size_t length,
               std::chrono::milliseconds limit) {
    NetClock::time_point deadline = NetClock::now() + limit;
    std::size_t sent = 0;
    while (sent < length) {
        int64_t count = NetTrySend(connection, data + sent, length - sent);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count != NetWouldBlock || !NetWaitReady(connection, true, deadline)) {
            return 0;
        }
    }
    return 1;
}

int64_t NetReceive(NetConnection& connection, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit) {
    if (max_length == 0) return -1;
    NetClock::time_point deadline = NetClock::now() + limit;
    for (;;) {
        // Try first and wait only when nothing is there: one call per receive
        // while data keep coming, and a closed connection shows at once as 0.
        int64_t count = NetTryReceive(connection, buffer, max_length);
        if (count >= 0) return count;
        if (count != NetWouldBlock || !NetWaitReady(connection, false, deadline)) return -1;
    }
}
