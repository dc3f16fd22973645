#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "tests/support/server_sockets.h"

namespace {

constexpr std::size_t MaxRequestBytes = 64 * 1024;
constexpr std::chrono::seconds RequestWait{5};

SOCKET Win(std::intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

// The servers may start before the code under test starts the network layer,
// and must outlive its shutdown: they hold a start of their own.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

sockaddr_in Loopback4(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    return address;
}

SOCKET NewSocket(int family) {
    if (!StartWinsock()) return INVALID_SOCKET;
    return WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

bool Connect4(SOCKET socket, int port) {
    sockaddr_in address = Loopback4(port);
    return socket != INVALID_SOCKET &&
           connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// 1 when first is readable, 2 when second is, 0 on time-out, -1 on an error.
int WaitEither(SOCKET first, SOCKET second, int timeout) {
    WSAPOLLFD entries[2] = {{first, POLLRDNORM, 0}, {second, POLLRDNORM, 0}};
    int ready = WSAPoll(entries, 2, timeout);
    if (ready <= 0) return ready;
    return entries[1].revents != 0 ? 2 : 1;
}

}  // namespace

// Only sockets can be waited on together with sockets: the signal is a
// connected pair on the loopback, and a byte sent makes its far end readable.
WakeSignal::WakeSignal() {
    int port = 0;
    ServerSocket listener = ListenOnLoopback(port, 1, "wake signal");
    if (listener == NoServerSocket) return;
    SOCKET writer = NewSocket(AF_INET);
    SOCKET reader =
        Connect4(writer, port) ? accept(Win(listener), nullptr, nullptr) : INVALID_SOCKET;
    CloseServerSocket(listener);
    if (reader == INVALID_SOCKET) {
        if (writer != INVALID_SOCKET) closesocket(writer);
        return;
    }
    read_ = static_cast<std::intptr_t>(reader);
    write_ = static_cast<std::intptr_t>(writer);
}

WakeSignal::~WakeSignal() {
    CloseServerSocket(read_);
    CloseServerSocket(write_);
}

bool WakeSignal::Signal(std::string_view who) {
    char wake = 1;
    if (write_ != NoServerSocket && send(Win(write_), &wake, 1, 0) == 1) return true;
    ADD_FAILURE() << "cannot wake the " << who;
    return false;
}

ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6) {
    sockaddr_storage address{};
    int size = 0;
    if (ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        size = sizeof *in6;
    } else {
        *reinterpret_cast<sockaddr_in*>(&address) = Loopback4(0);
        size = sizeof(sockaddr_in);
    }
    SOCKET socket = NewSocket(address.ss_family);
    if (socket == INVALID_SOCKET ||
        bind(socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(socket, backlog) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << who << " cannot listen: error " << WSAGetLastError();
        if (socket != INVALID_SOCKET) closesocket(socket);
        return NoServerSocket;
    }
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return static_cast<ServerSocket>(socket);
}

bool HaveIpv6Loopback() {
    SOCKET socket = NewSocket(AF_INET6);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool ok = socket != INVALID_SOCKET &&
              bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (socket != INVALID_SOCKET) closesocket(socket);
    return ok;
}

bool AcceptsConnections(int port) {
    SOCKET socket = NewSocket(AF_INET);
    bool accepted = Connect4(socket, port);
    if (socket != INVALID_SOCKET) closesocket(socket);
    return accepted;
}

bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler) {
    listener = ListenOnLoopback(port, 0, "full listener");
    if (listener == NoServerSocket) return false;
    SOCKET socket = NewSocket(AF_INET);
    filler = socket == INVALID_SOCKET ? NoServerSocket : static_cast<ServerSocket>(socket);
    return Connect4(socket, port);
}

bool WaitReadable(ServerSocket socket, const WakeSignal& wake) {
    return WaitEither(Win(socket), Win(wake.Handle()), -1) == 1;
}

ServerSocket AcceptClient(ServerSocket listener) {
    SOCKET socket = accept(Win(listener), nullptr, nullptr);
    return socket == INVALID_SOCKET ? NoServerSocket : static_cast<ServerSocket>(socket);
}

int CloseWaitingClients(ServerSocket listener) {
    u_long nonblocking = 1;
    ioctlsocket(Win(listener), FIONBIO, &nonblocking);
    int count = 0;
    for (SOCKET socket; (socket = accept(Win(listener), nullptr, nullptr)) != INVALID_SOCKET;
         ++count)
        closesocket(socket);
    return count;
}

std::string ReceiveRequest(ServerSocket socket) {
    BOOL on = TRUE;
    setsockopt(Win(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + RequestWait;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < MaxRequestBytes &&
           std::chrono::steady_clock::now() < deadline) {
        WSAPOLLFD entry{Win(socket), POLLRDNORM, 0};
        if (WSAPoll(&entry, 1, 50) <= 0) continue;
        char chunk[4096];
        int count = recv(Win(socket), chunk, sizeof chunk, 0);
        if (count <= 0) break;
        request.append(chunk, static_cast<std::size_t>(count));
    }
    return request;
}

void SendAll(ServerSocket socket, std::string_view bytes) {
    while (!bytes.empty()) {
        int piece = bytes.size() > (1u << 30) ? (1 << 30) : static_cast<int>(bytes.size());
        int count = send(Win(socket), bytes.data(), piece, 0);
        if (count <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

void DrainUntilClosed(ServerSocket socket, const WakeSignal& wake) {
    while (WaitEither(Win(socket), Win(wake.Handle()), -1) == 1) {
        char sink[4096];
        if (recv(Win(socket), sink, sizeof sink, 0) <= 0) return;
    }
}

bool PauseUnlessWoken(const WakeSignal& wake, std::chrono::milliseconds pause) {
    WSAPOLLFD entry{Win(wake.Handle()), POLLRDNORM, 0};
    return WSAPoll(&entry, 1, pause.count() < 0 ? -1 : static_cast<int>(pause.count())) == 0;
}

void CloseServerSocket(ServerSocket socket, bool reset) {
    if (socket == NoServerSocket) return;
    if (reset) {
        linger abort{1, 0};  // closing with a zero linger sends RST instead of FIN
        setsockopt(Win(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
    }
    closesocket(Win(socket));
}
