#include "tests/support/server_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <gtest/gtest.h>

namespace {

constexpr std::size_t MaxRequestBytes = 64 * 1024;
constexpr std::chrono::seconds RequestWait{5};

}  // namespace

int ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6) {
    sockaddr_storage address{};
    socklen_t size = 0;
    if (ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        size = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        size = sizeof *in4;
    }
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << who << " cannot listen: errno " << errno;
        if (fd >= 0) close(fd);
        return -1;
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

std::string ReceiveRequest(int fd) {
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

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

bool PauseUnlessWoken(int wake_fd, std::chrono::milliseconds pause) {
    pollfd entry{wake_fd, POLLIN, 0};
    return poll(&entry, 1, pause.count() < 0 ? -1 : static_cast<int>(pause.count())) == 0;
}
