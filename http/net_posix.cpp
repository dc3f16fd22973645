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
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

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
            return NetOpenFailure::Unreachable;
        default:
            return NetOpenFailure::Other;
    }
}

// The socket is non-blocking so that the connect, and later every send and
// receive, waits only as long as its limit allows. -1 when it does not connect.
int ConnectBefore(const addrinfo& address, Clock::time_point deadline, NetOpenFailure& why) {
    int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
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
    return -1;
}

}  // namespace

int NetStartup() {
    NetStarted = true;
    return 1;
}

void NetShutdown() {
    NetStarted = false;
}

std::optional<NetConnection> NetOpen(std::string_view host, int port,
                                     std::chrono::milliseconds limit, NetOpenFailure* why) {
    NetOpenFailure ignored;
    NetOpenFailure& failure = why ? *why : ignored;
    failure = NetOpenFailure::Other;
    if (!NetStarted || port <= 0 || port > 65535) return std::nullopt;
    std::string name(host);
    if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
    Clock::time_point deadline = Clock::now() + limit;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        if (resolved == EAI_NONAME || resolved == EAI_NODATA || resolved == EAI_FAIL)
            failure = NetOpenFailure::NotResolved;
        return std::nullopt;
    }
    int count = 0;
    for (addrinfo* address = found; address; address = address->ai_next)
        ++count;
    int fd = -1;
    for (addrinfo* address = found; address && fd < 0; address = address->ai_next, --count) {
        // An address that swallows packets must leave time for the others: each
        // gets an equal share of what is left, the last one all of it.
        Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        fd = ConnectBefore(*address, now + (deadline - now) / count, failure);
    }
    freeaddrinfo(found);
    if (fd < 0) {
        if (Clock::now() >= deadline) failure = NetOpenFailure::TimedOut;
        return std::nullopt;
    }
    failure = NetOpenFailure::None;
    return NetConnection{fd};
}

bool NetWaitReady(NetConnection& connection, bool forWrite, Clock::time_point deadline) {
    return WaitUntil(connection.socket, forWrite ? POLLOUT : POLLIN, deadline);
}

int NetSendAll(NetConnection& connection, const char* data, std::size_t length,
               std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < length) {
        // MSG_NOSIGNAL: a peer that has gone away is an error result, not SIGPIPE.
        ssize_t count =
            send(static_cast<int>(connection.socket), data + sent, length - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntil(connection.socket, POLLOUT, deadline)) return 0;
        } else if (count < 0 && errno != EINTR) {
            return 0;
        }
    }
    return 1;
}

int64_t NetReceive(NetConnection& connection, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit) {
    if (max_length == 0) return -1;
    Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        // Try first and wait only when nothing is there: one call per receive
        // while data keep coming, and a closed connection shows at once as 0.
        ssize_t count = recv(static_cast<int>(connection.socket), buffer, max_length, 0);
        if (count >= 0) return count;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!WaitUntil(connection.socket, POLLIN, deadline)) return -1;
    }
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
