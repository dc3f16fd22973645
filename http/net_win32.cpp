// The sockets layer's primitives over Winsock 2.2. Sockets are non-blocking from the start,
// so every send, receive and connect waits only as long as its limit allows.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: winhttp.h pulls in windows.h.
#include <winhttp.h>

#include <memory>
#include <string>
#include <vector>

#include "http/net.h"
#include "http/net_platform.h"
#include "http/proxy.h"
#include "runtime/wide_text_win32.h"

namespace {

using Clock = NetClock;

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
        case WSAENETDOWN:
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

NetSocket ConnectAddress(const ADDRINFOW& address, Clock::time_point deadline,
                         NetOpenFailure& why) {
    SOCKET socket = WSASocketW(address.ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return NoSocket;
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
    if (error == 0) return static_cast<NetSocket>(socket);
    why = FailureOf(error);
    closesocket(socket);
    return NoSocket;
}

void FreeAddresses(ADDRINFOW* found) {
    FreeAddrInfoW(found);
}

using Win32Addresses = NetAddressChain<ADDRINFOW, FreeAddresses, ConnectAddress>;

// What a failed send or receive means to the caller.
int64_t Failed() {
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR ? NetWouldBlock : NetFailed;
}

// Winsock counts in int: a larger piece goes in several calls.
int Piece(std::size_t length) {
    return length > (1u << 30) ? (1 << 30) : static_cast<int>(length);
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

bool NetPlatformStarted() {
    return NetStarted;
}

std::unique_ptr<NetAddresses> NetResolve(const std::string& host, int port, NetOpenFailure& why) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    ADDRINFOW* found = nullptr;
    int resolved =
        GetAddrInfoW(WideFromUtf8(host).c_str(), std::to_wstring(port).c_str(), &hints, &found);
    if (resolved == 0) return std::make_unique<Win32Addresses>(found);
    if (resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA || resolved == WSANO_RECOVERY)
        why = NetOpenFailure::NotResolved;
    return nullptr;
}

std::size_t NetAddressOf(const std::string& text, unsigned char (&bytes)[16]) {
    std::wstring wide = WideFromUtf8(text);
    if (InetPtonW(AF_INET, wide.c_str(), bytes) == 1) return 4;
    if (InetPtonW(AF_INET6, wide.c_str(), bytes) == 1) return 16;
    return 0;
}

bool NetWaitReady(NetConnection& connection, bool forWrite, Clock::time_point deadline) {
    return WaitUntil(Handle(connection), forWrite ? POLLWRNORM : POLLRDNORM, deadline);
}

int64_t NetTrySend(NetConnection& connection, const char* data, std::size_t length) {
    int count = send(Handle(connection), data, Piece(length), 0);
    return count == SOCKET_ERROR ? Failed() : count;
}

int64_t NetTryReceive(NetConnection& connection, char* buffer, std::size_t max_length) {
    int count = recv(Handle(connection), buffer, Piece(max_length), 0);
    return count == SOCKET_ERROR ? Failed() : count;
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

std::optional<ProxySettings> SystemProxySettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return std::nullopt;
    std::optional<ProxySettings> settings;
    if (config.lpszProxy && config.lpszProxy[0] != L'\0') {
        settings = ProxySettingsFromSystem(
            Utf8FromWide(config.lpszProxy),
            config.lpszProxyBypass ? Utf8FromWide(config.lpszProxyBypass) : std::string());
    }
    for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass}) {
        if (text) GlobalFree(text);
    }
    return settings;
}
