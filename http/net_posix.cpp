// The sockets layer's primitives over POSIX sockets.
#include "http/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "http/net_platform.h"
#include "http/proxy.h"

namespace {

using Clock = NetClock;

// Mirrors the platforms whose socket library must be started before use, so a
// missing start-up shows here too and not only there.
bool NetStarted = false;

// Waits until the socket is ready for events or the deadline passes; whole milliseconds
// are rounded up so a limit never ends early. Returns true when ready.
bool WaitUntil(NetSocket handle, short events, Clock::time_point deadline) {
    int fd = static_cast<int>(handle);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) return false;
        int timeout = left.count() > 60000 ? 60000 : static_cast<int>(left.count());
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, timeout);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (ready == 0 && left.count() == 0) return false;
    }
}

NetOpenFailure FailureOf(int error) {
    switch (error) {
        case ECONNREFUSED:
            return NetOpenFailure::Refused;
        case ETIMEDOUT:
            return NetOpenFailure::TimedOut;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
            return NetOpenFailure::Unreachable;
        default:
            return NetOpenFailure::Other;
    }
}

// The socket is non-blocking so that the connect, and later every send and
// receive, waits only as long as its limit allows. NoSocket when it does not connect.
NetSocket ConnectAddress(const addrinfo& address, Clock::time_point deadline, NetOpenFailure& why) {
    int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return NoSocket;
    int error = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS || error == EINTR) {
        if (WaitUntil(fd, POLLOUT, deadline)) {
            socklen_t size = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        } else {
            error = ETIMEDOUT;
        }
    }
    if (error == 0) return fd;
    why = FailureOf(error);
    close(fd);
    return NoSocket;
}

using PosixAddresses = NetAddressChain<addrinfo, freeaddrinfo, ConnectAddress>;

// An error that means "try again once the socket is ready".
bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

int NetStartup() {
    NetStarted = true;
    return 1;
}

void NetShutdown() {
    NetStarted = false;
}

bool NetPlatformStarted() {
    return NetStarted;
}

std::unique_ptr<NetAddresses> NetResolve(const std::string& host, int port, NetOpenFailure& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved == 0) return std::make_unique<PosixAddresses>(found);
    if (resolved == EAI_NONAME || resolved == EAI_NODATA || resolved == EAI_FAIL)
        why = NetOpenFailure::NotResolved;
    return nullptr;
}

std::size_t NetAddressOf(const std::string& text, unsigned char (&bytes)[16]) {
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return 4;
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return 16;
    return 0;
}

bool NetWaitReady(NetConnection& connection, bool forWrite, Clock::time_point deadline) {
    return WaitUntil(connection.socket, forWrite ? POLLOUT : POLLIN, deadline);
}

int64_t NetTrySend(NetConnection& connection, const char* data, std::size_t length) {
    // MSG_NOSIGNAL: a peer that has gone away is an error result, not SIGPIPE.
    ssize_t count = send(static_cast<int>(connection.socket), data, length, MSG_NOSIGNAL);
    if (count >= 0) return count;
    return WouldBlock() ? NetWouldBlock : NetFailed;
}

int64_t NetTryReceive(NetConnection& connection, char* buffer, std::size_t max_length) {
    ssize_t count = recv(static_cast<int>(connection.socket), buffer, max_length, 0);
    if (count >= 0) return count;
    return WouldBlock() ? NetWouldBlock : NetFailed;
}

int64_t NetPending(NetConnection& connection) {
    int waiting = 0;
    if (ioctl(static_cast<int>(connection.socket), FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return waiting;
}

void NetClose(NetConnection& connection) {
    if (connection.socket != NoSocket) close(static_cast<int>(connection.socket));
    connection.socket = NoSocket;
}

std::optional<ProxySettings> SystemProxySettings() {
    return std::nullopt;
}
