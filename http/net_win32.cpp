// The sockets layer over Winsock 2.2. Sockets are non-blocking from the start,
// so every send, receive and connect waits only as long as its limit allows.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "http/net.h"
#include "runtime/wide_text_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

bool NetStarted = false;

SOCKET Handle(const NetConnection& connection) {
    return static_cast<SOCKET>(connection.socket);
}

// Winsock's waits are trusted for at most a slice: Wine's WSAPoll has been seen
// to sleep through a readiness, which then costs one slice instead of the
// whole limit, since every caller tries its operation again after each wait.
constexpr int SliceMs = 250;

// Whole milliseconds left until deadline, rounded up so a limit never ends
// early, at most one slice; -1 when past.
int SliceLeft(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return -1;
    return left.count() > SliceMs ? SliceMs : static_cast<int>(left.count());
}

// True when socket may be ready: its wait said so, or a slice passed with time
// left. False once deadline has passed, or on an error.
bool WaitUntil(SOCKET socket, short events, Clock::time_point deadline) {
    int timeout = SliceLeft(deadline);
    if (timeout < 0) return false;
    WSAPOLLFD entry{socket, events, 0};
    return WSAPoll(&entry, 1, timeout) >= 0;
}

NetOpenFailure FailureOf(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return NetOpenFailure::Refused;
        case WSAETIMEDOUT:
            return NetOpenFailure::TimedOut;
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return NetOpenFailure::Unreachable;
        default:
            return NetOpenFailure::Other;
    }
}

// The error a connect in progress ended with; 0 when it connected, or is still going.
int ConnectError(SOCKET socket) {
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return WSAGetLastError();
    return error;
}

bool HasPeer(SOCKET socket) {
    sockaddr_storage peer{};
    int size = sizeof peer;
    return getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
}

// select, not WSAPoll: older Windows' WSAPoll never reports a refused connect,
// which would turn a refusal into a wait for the whole limit. After a slice
// that reported nothing, the socket itself is asked. false also when the
// connect failed; timed_out tells the two apart.
bool WaitConnected(SOCKET socket, Clock::time_point deadline, bool& timed_out) {
    for (;;) {
        int timeout = SliceLeft(deadline);
        timed_out = timeout < 0;
        if (timed_out) return false;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval wait{timeout / 1000, (timeout % 1000) * 1000};
        int ready = select(0, nullptr, &writable, &failed, &wait);
        if (ready > 0) return FD_ISSET(socket, &writable) && !FD_ISSET(socket, &failed);
        if (ready < 0 || ConnectError(socket) != 0) return false;
        if (HasPeer(socket)) return true;
    }
}

SOCKET ConnectBefore(const ADDRINFOW& address, Clock::time_point deadline, NetOpenFailure& why) {
    SOCKET socket = WSASocketW(address.ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return INVALID_SOCKET;
    u_long nonblocking = 1;
    int error = WSAEINVAL;
    if (ioctlsocket(socket, FIONBIO, &nonblocking) == 0) {
        error = connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0
                    ? 0
                    : WSAGetLastError();
        bool timed_out = false;
        if (error == WSAEWOULDBLOCK) {
            bool connected = WaitConnected(socket, deadline, timed_out);
            error = timed_out ? WSAETIMEDOUT : ConnectError(socket);
            // A failed wait that left no error behind is still no connection.
            if (!connected && error == 0) error = WSAECONNABORTED;
        }
    }
    if (error == 0) return socket;
    why = FailureOf(error);
    closesocket(socket);
    return INVALID_SOCKET;
}

bool WouldBlock() {
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

}  // namespace

int NetStartup() {
    if (NetStarted) return 1;
    WSADATA data;
    NetStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return NetStarted ? 1 : 0;
}

void NetShutdown() {
    if (NetStarted) WSACleanup();
    NetStarted = false;
}

std::optional<NetConnection> NetOpen(std::string_view host, int port,
                                     std::chrono::milliseconds limit, NetOpenFailure* why) {
    NetOpenFailure ignored;
    NetOpenFailure& failure = why ? *why : ignored;
    failure = NetOpenFailure::Other;
    if (!NetStarted || port <= 0 || port > 65535) return std::nullopt;
    if (host.empty() || host.find('\0') != std::string_view::npos) return std::nullopt;
    Clock::time_point deadline = Clock::now() + limit;
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    ADDRINFOW* found = nullptr;
    int resolved =
        GetAddrInfoW(WideFromUtf8(host).c_str(), std::to_wstring(port).c_str(), &hints, &found);
    if (resolved != 0) {
        if (resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA || resolved == WSANO_RECOVERY)
            failure = NetOpenFailure::NotResolved;
        return std::nullopt;
    }
    int count = 0;
    for (ADDRINFOW* address = found; address; address = address->ai_next)
        ++count;
    SOCKET socket = INVALID_SOCKET;
    for (ADDRINFOW* address = found; address && socket == INVALID_SOCKET;
         address = address->ai_next, --count) {
        // Each address gets an equal share of what is left, the last one all of it.
        Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        socket = ConnectBefore(*address, now + (deadline - now) / count, failure);
    }
    FreeAddrInfoW(found);
    if (socket == INVALID_SOCKET) {
        if (Clock::now() >= deadline) failure = NetOpenFailure::TimedOut;
        return std::nullopt;
    }
    failure = NetOpenFailure::None;
    return NetConnection{static_cast<NetSocket>(socket)};
}

bool NetWaitReady(NetConnection& connection, bool forWrite, Clock::time_point deadline) {
    return WaitUntil(Handle(connection), forWrite ? POLLWRNORM : POLLRDNORM, deadline);
}

int NetSendAll(NetConnection& connection, const char* data, std::size_t length,
               std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < length) {
        std::size_t piece = length - sent > (1u << 30) ? (1u << 30) : length - sent;
        int count = send(Handle(connection), data + sent, static_cast<int>(piece), 0);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count == SOCKET_ERROR && WouldBlock()) {
            if (!WaitUntil(Handle(connection), POLLWRNORM, deadline)) return 0;
        } else {
            return 0;
        }
    }
    return 1;
}

int64_t NetReceive(NetConnection& connection, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit) {
    if (max_length == 0) return -1;
    Clock::time_point deadline = Clock::now() + limit;
    int wanted = max_length > (1u << 30) ? (1 << 30) : static_cast<int>(max_length);
    for (;;) {
        // Try first and wait only when nothing is there, as on every platform.
        int count = recv(Handle(connection), buffer, wanted, 0);
        if (count >= 0) return count;
        if (!WouldBlock()) return -1;
        if (!WaitUntil(Handle(connection), POLLRDNORM, deadline)) return -1;
    }
}

int64_t NetPending(NetConnection& connection) {
    u_long waiting = 0;
    if (ioctlsocket(Handle(connection), FIONREAD, &waiting) != 0) return 0;
    return static_cast<int64_t>(waiting);
}

void NetClose(NetConnection& connection) {
    if (connection.socket != NoSocket) closesocket(Handle(connection));
    connection.socket = NoSocket;
}
