#include "http/transport.h"

Transport& Transport::operator=(Transport&& other) noexcept {
    if (this != &other) {
        TransportClose(*this);
        connection = std::exchange(other.connection, {});
        tls = std::exchange(other.tls, nullptr);
    }
    return *this;
}

Transport::~Transport() {
    TransportClose(*this);
}

std::optional<Transport> TransportOpen(std::string_view host, int port, bool secure,
                                       std::chrono::milliseconds limit, TransportFailure* why) {
    TransportFailure ignored;
    TransportFailure& failure = why ? *why : ignored;
    failure = TransportFailure{};
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::optional<NetConnection> connection = NetOpen(host, port, limit, &failure.net);
    if (!connection) return std::nullopt;
    Transport transport(*connection, nullptr);
    if (secure) transport.tls = TlsStart(transport.connection, host, deadline, &failure.tls);
    if (secure && !transport.tls) return std::nullopt;
    return transport;
}

bool TransportStartTls(Transport& transport, std::string_view host,
                       std::chrono::steady_clock::time_point deadline, TlsFailure* why) {
    transport.tls = TlsStart(transport.connection, host, deadline, why);
    return transport.tls != nullptr;
}

int TransportSendAll(Transport& transport, const char* data, std::size_t length,
                     std::chrono::milliseconds limit) {
    if (transport.tls) return TlsSendAll(*transport.tls, data, length, limit);
    return NetSendAll(transport.connection, data, length, limit);
}

int64_t TransportReceive(Transport& transport, char* buffer, std::size_t max_length,
                         std::chrono::milliseconds limit) {
    if (transport.tls) return TlsReceive(*transport.tls, buffer, max_length, limit);
    return NetReceive(transport.connection, buffer, max_length, limit);
}

bool TransportEndProven(const Transport& transport) {
    return !transport.tls || TlsClosedByPeer(*transport.tls);
}

void TransportClose(Transport& transport) {
    TlsEnd(transport.tls);
    transport.tls = nullptr;
    NetClose(transport.connection);
}
