#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <gtest/gtest.h>

#include "tests/support/loopback_address.h"
#include "tests/support/server_sockets.h"

namespace {

int Fd(std::intptr_t socket) {
    return static_cast<int>(socket);
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
    signalled_ = true;
    char wake = 1;
    if (write_ != NoServerSocket && write(Fd(write_), &wake, 1) == 1) return true;
    ADD_FAILURE() << "cannot wake the " << who;
    return false;
}

ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6) {
    LoopbackAddress address(ipv6, 0);
    int fd = socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, address.Get(), address.size) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, address.Get(), &address.size) != 0) {
        ADD_FAILURE() << who << " cannot listen: errno " << errno;
        if (fd >= 0) close(fd);
        return NoServerSocket;
    }
    port = address.Port();
    return fd;
}

bool HaveIpv6Loopback() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackAddress address(true, 0);
    bool ok = fd >= 0 && bind(fd, address.Get(), address.size) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler) {
    listener = ListenOnLoopback(port, 0, "full listener");
    if (listener == NoServerSocket) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackAddress address(false, port);
    filler = fd;
    return fd >= 0 && connect(fd, address.Get(), address.size) == 0;
}

ServerSocket TryAccept(ServerSocket listener) {
    int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return NoServerSocket;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int64_t TryReceive(ServerSocket socket, char* buffer, std::size_t size) {
    ssize_t count = recv(Fd(socket), buffer, size, 0);
    if (count >= 0) return count;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

int64_t TrySend(ServerSocket socket, std::string_view bytes) {
    ssize_t count = send(Fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count > 0) return count;
    return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : -2;
}

void WaitSlice(ServerSocket socket, bool forWrite, const WakeSignal& wake,
               std::chrono::milliseconds slice) {
    // poll passes over a negative descriptor.
    pollfd entries[2] = {{Fd(wake.Handle()), POLLIN, 0},
                         {Fd(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}};
    poll(entries, 2, static_cast<int>(slice.count()));
}

void CloseServerSocket(ServerSocket socket, bool reset) {
    if (socket == NoServerSocket) return;
    if (reset) {
        linger abort{1, 0};  // closing with a zero linger sends RST instead of FIN
        setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(Fd(socket));
}
