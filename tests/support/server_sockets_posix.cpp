#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <gtest/gtest.h>

#include "tests/support/server_sockets.h"

namespace {

constexpr std::size_t MaxRequestBytes = 64 * 1024;
constexpr std::chrono::seconds RequestWait{5};

int Fd(std::intptr_t socket) {
    return static_cast<int>(socket);
}

sockaddr_in Loopback4(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// Waits for the first of the two to become readable; -1 on an error.
int WaitEither(int first, int second, int timeout) {
    pollfd entries[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
    for (;;) {
        int ready = poll(entries, 2, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready;
        return entries[1].revents != 0 ? 2 : 1;
    }
}

}  // namespace

WakeSignal::WakeSignal() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    read_ = ends[0];
    write_ = ends[1];
}

WakeSignal::~WakeSignal() {
    for (std::intptr_t fd : {read_, write_}) {
        if (fd != NoServerSocket) close(Fd(fd));
    }
}

bool WakeSignal::Signal(std::string_view who) {
    char wake = 1;
    if (write_ != NoServerSocket && write(Fd(write_), &wake, 1) == 1) return true;
    ADD_FAILURE() << "cannot wake the " << who;
    return false;
}

ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6) {
    sockaddr_storage address{};
    socklen_t size = 0;
    if (ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        size = sizeof *in6;
    } else {
        *reinterpret_cast<sockaddr_in*>(&address) = Loopback4(0);
        size = sizeof(sockaddr_in);
    }
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << who << " cannot listen: errno " << errno;
        if (fd >= 0) close(fd);
        return NoServerSocket;
    }
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

bool HaveIpv6Loopback() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

bool AcceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback4(port);
    bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler) {
    listener = ListenOnLoopback(port, 0, "full listener");
    if (listener == NoServerSocket) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback4(port);
    filler = fd;
    return fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool WaitReadable(ServerSocket socket, const WakeSignal& wake) {
    return WaitEither(Fd(socket), Fd(wake.Handle()), -1) == 1;
}

ServerSocket AcceptClient(ServerSocket listener) {
    int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? NoServerSocket : fd;
}

int CloseWaitingClients(ServerSocket listener) {
    int flags = fcntl(Fd(listener), F_GETFL);
    fcntl(Fd(listener), F_SETFL, flags | O_NONBLOCK);
    int count = 0;
    for (int fd; (fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++count)
        close(fd);
    return count;
}

std::string ReceiveRequest(ServerSocket socket) {
    int fd = Fd(socket);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + RequestWait;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < MaxRequestBytes &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0) continue;
        char chunk[4096];
        ssize_t count = recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0) break;
        request.append(chunk, static_cast<std::size_t>(count));
    }
    return request;
}

void SendAll(ServerSocket socket, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = send(Fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

void DrainUntilClosed(ServerSocket socket, const WakeSignal& wake) {
    while (WaitEither(Fd(socket), Fd(wake.Handle()), -1) == 1) {
        char sink[4096];
        if (recv(Fd(socket), sink, sizeof sink, 0) <= 0) return;
    }
}

bool PauseUnlessWoken(const WakeSignal& wake, std::chrono::milliseconds pause) {
    pollfd entry{Fd(wake.Handle()), POLLIN, 0};
    return poll(&entry, 1, pause.count() < 0 ? -1 : static_cast<int>(pause.count())) == 0;
}

void CloseServerSocket(ServerSocket socket, bool reset) {
    if (socket == NoServerSocket) return;
    if (reset) {
        linger abort{1, 0};  // closing with a zero linger sends RST instead of FIN
        setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(Fd(socket));
}
