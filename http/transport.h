// The one seam between the fetch and the wire: plain TCP, or TLS over it. The
// fetch above it never asks which.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "http/net.h"
#include "http/tls.h"

// An open connection, plain or with TLS over it; closed when it goes.
struct Transport {
    Transport(NetConnection opened, TlsSession* session) : connection(opened), tls(session) {}
    Transport(Transport&& other) noexcept
        : connection(std::exchange(other.connection, {})), tls(std::exchange(other.tls, nullptr)) {}
    Transport& operator=(Transport&& other) noexcept;
    ~Transport();

    NetConnection connection;
    TlsSession* tls = nullptr;  // set for https
};

// Why TransportOpen gave nothing: the connection's reason, or TLS's once connected.
struct TransportFailure {
    NetOpenFailure net = NetOpenFailure::None;
    TlsFailure tls = TlsFailure::None;
};

// Connects to host on port and, when secure, speaks TLS over the connection.
// Connecting (every address of the name in turn) and the handshake together
// take at most limit. Nothing on any failure, with nothing left open; why,
// when given, then says what failed.
std::optional<Transport> TransportOpen(std::string_view host, int port, bool secure,
                                       std::chrono::milliseconds limit,
                                       TransportFailure* why = nullptr);

// Starts TLS with host over a plain transport that reaches it (a proxy's
// tunnel), as TransportOpen would have; false, with why set, when that fails.
bool TransportStartTls(Transport& transport, std::string_view host,
                       std::chrono::steady_clock::time_point deadline, TlsFailure* why);

// As NetSendAll and NetReceive.
int TransportSendAll(Transport& transport, const char* data, std::size_t length,
                     std::chrono::milliseconds limit);
int64_t TransportReceive(Transport& transport, char* buffer, std::size_t max_length,
                         std::chrono::milliseconds limit);

// Whether the 0 of a receive was the sender's own end of the data: for TLS only
// at close_notify; for plain TCP always, as nothing better exists there.
bool TransportEndProven(const Transport& transport);

// Ends TLS and closes the connection before the transport goes. Harmless on a
// closed transport.
void TransportClose(Transport& transport);
