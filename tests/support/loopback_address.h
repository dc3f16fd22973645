// The loopback address the test servers listen on, the same on both platforms.
// Included after the platform's own socket headers (<sys/socket.h>,
// <netinet/in.h> and <arpa/inet.h>, or <winsock2.h> and <ws2tcpip.h>), which
// give the same names.
#pragma once

struct LoopbackAddress {
    sockaddr_storage storage{};
    socklen_t size = 0;

    // 127.0.0.1, or ::1 with ipv6, at port (0: any free one).
    LoopbackAddress(bool ipv6, int port) {
        if (ipv6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            in6->sin6_port = htons(static_cast<unsigned short>(port));
            size = sizeof *in6;
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
            in4->sin_family = AF_INET;
            in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            in4->sin_port = htons(static_cast<unsigned short>(port));
            size = sizeof *in4;
        }
    }
    int Family() const { return storage.ss_family; }
    sockaddr* Get() { return reinterpret_cast<sockaddr*>(&storage); }
    int Port() const {
        return ntohs(storage.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
};
