#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "tests/support/loopback_address.h"
#include "tests/support/server_sockets.h"

namespace {

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

SOCKET NewSocket(int family) {
    if (!StartWinsock()) return INVALID_SOCKET;
    return WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

bool Connect4(SOCKET socket, int port) {
    LoopbackAddress address(false, port);
    return socket != INVALID_SOCKET && connect(socket, address.Get(), address.size) == 0;
}

bool SetNonBlocking(SOCKET socket) {
    u_long nonblocking = 1;
    return ioctlsocket(socket, FIONBIO, &nonblocking) == 0;
}

bool WouldBlock() {
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

}  // namespace

// Only sockets can be waited on together with sockets: the signal is a
// connected pair on the loopback, and a byte sent makes its far end readable.
WakeSignal::WakeSignal() {
    int port = 0;
    ServerSocket listener = ListenOnLoopback(port, 1, "wake signal");
    if (listener == NoServerSocket) return;
    SOCKET writer = NewSocket(AF_INET);
    SOCKET reader = INVALID_SOCKET;
    if (Connect4(writer, port)) {
        // The listener does not block: the connection has five seconds to arrive.
        for (int tries = 0; reader == INVALID_SOCKET && tries < 100; ++tries) {
            reader = accept(Win(listener), nullptr, nullptr);
            if (reader == INVALID_SOCKET) Sleep(50);
        }
    }
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
    signalled_ = true;
    char wake = 1;
    if (write_ != NoServerSocket && send(Win(write_), &wake, 1, 0) == 1) return true;
    ADD_FAILURE() << "cannot wake the " << who;
    return false;
}

ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6) {
    LoopbackAddress address(ipv6, 0);
    SOCKET socket = NewSocket(address.Family());
    if (socket == INVALID_SOCKET || bind(socket, address.Get(), address.size) != 0 ||
        listen(socket, backlog) != 0 || !SetNonBlocking(socket) ||
        getsockname(socket, address.Get(), &address.size) != 0) {
        ADD_FAILURE() << who << " cannot listen: error " << WSAGetLastError();
        if (socket != INVALID_SOCKET) closesocket(socket);
        return NoServerSocket;
    }
    port = address.Port();
    return static_cast<ServerSocket>(socket);
}

bool HaveIpv6Loopback() {
    SOCKET socket = NewSocket(AF_INET6);
    LoopbackAddress address(true, 0);
    bool ok = socket != INVALID_SOCKET && bind(socket, address.Get(), address.size) == 0;
    if (socket != INVALID_SOCKET) closesocket(socket);
    return ok;
}

bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler) {
    listener = ListenOnLoopback(port, 0, "full listener");
    if (listener == NoServerSocket) return false;
    SOCKET socket = NewSocket(AF_INET);
    filler = socket == INVALID_SOCKET ? NoServerSocket : static_cast<ServerSocket>(socket);
    return Connect4(socket, port);
}

ServerSocket TryAccept(ServerSocket listener) {
    // The accepted socket inherits the listener's non-blocking mode.
    SOCKET socket = accept(Win(listener), nullptr, nullptr);
    if (socket == INVALID_SOCKET) return NoServerSocket;
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<ServerSocket>(socket);
}

int64_t TryReceive(ServerSocket socket, char* buffer, std::size_t size) {
    int wanted = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    int count = recv(Win(socket), buffer, wanted, 0);
    if (count >= 0) return count;
    return WouldBlock() ? -1 : -2;
}

int64_t TrySend(ServerSocket socket, std::string_view bytes) {
    int piece = bytes.size() > (1u << 30) ? (1 << 30) : static_cast<int>(bytes.size());
    int count = send(Win(socket), bytes.data(), piece, 0);
    if (count > 0) return count;
    return count == SOCKET_ERROR && WouldBlock() ? -1 : -2;
}

void WaitSlice(ServerSocket socket, bool forWrite, const WakeSignal& wake,
               std::chrono::milliseconds slice) {
    WSAPOLLFD entries[2] = {
        {Win(wake.Handle()), POLLRDNORM, 0},
        {Win(socket), static_cast<short>(forWrite ? POLLWRNORM : POLLRDNORM), 0}};
    WSAPoll(entries, socket == NoServerSocket ? 1 : 2, static_cast<int>(slice.count()));
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
