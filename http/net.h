// The thin layer over the platform's TCP sockets that the HTTP fetch stands on:
// client connections over IPv4 and IPv6. Nothing here throws or shows a message; every
// wait is bounded by the limit it is given, measured on a steady clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The platform's socket handle held as an integer wide enough for each: a POSIX
// file descriptor, or a Winsock SOCKET (whose invalid value is all ones, -1 here).
using NetSocket = std::intptr_t;
inline constexpr NetSocket NoSocket = -1;

// One open TCP client connection. Made by NetOpen, released by NetClose.
struct NetConnection {
    NetSocket socket = NoSocket;
};

// Starts the network layer once at program start. Returns 1 on success, 0 on
// failure; until it has succeeded (and again after NetShutdown) NetOpen fails.
int NetStartup();

// Ends the network layer at program end. Harmless when it never started.
void NetShutdown();

// Why NetOpen gave nothing, as far as the platform tells.
enum class NetOpenFailure {
    None,
    NotResolved,  // the name has no address
    Refused,      // the host answered that nobody listens on the port
    TimedOut,     // no address connected within the limit
    Unreachable,  // no route to the host or its network, or no network at all
    Other,        // not started, a bad port or host, or another error
};

// Connects to host (an IPv4 or IPv6 address, without brackets, or a name that
// may resolve to addresses of both families) on port. Each address is tried in
// turn until one connects; all of them together take at most limit. Name
// resolution has only the platform's own limits. Returns nothing when the layer
// is not started, the port is 0, the name does not resolve, or no address
// connects in time; why, when given, then says which (for several addresses,
// what the last one tried met; TimedOut once the limit has passed).
std::optional<NetConnection> NetOpen(std::string_view host, int port,
                                     std::chrono::milliseconds limit,
                                     NetOpenFailure* why = nullptr);

// Waits until the connection can be read (forWrite false) or written, or
// deadline passes. True when it may be ready: the caller tries its operation
// and waits again if it would still block (a platform may return after a
// short slice, so that a readiness its wait missed costs no more). False once
// deadline has passed. For the layers above, such as TLS, that drive the
// socket themselves.
bool NetWaitReady(NetConnection& connection, bool forWrite,
                  std::chrono::steady_clock::time_point deadline);

// Sends all length bytes of data within limit. Returns 1 when every byte was
// sent, 0 on an error or when the limit passed with bytes unsent.
int NetSendAll(NetConnection& connection, const char* data, std::size_t length,
               std::chrono::milliseconds limit);

// Receives at most max_length bytes into buffer, waiting at most limit for the
// first of them. Returns the number of bytes received (at least 1); 0 when the
// peer has closed the connection and everything it sent has been read; -1 when
// nothing arrived within the limit, on an error, or when max_length is 0.
int64_t NetReceive(NetConnection& connection, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit);

// The number of bytes that can be received at once without waiting; 0 when
// none, or on an error.
int64_t NetPending(NetConnection& connection);

// Closes the connection; afterwards it holds no socket. Harmless when it holds none.
void NetClose(NetConnection& connection);
