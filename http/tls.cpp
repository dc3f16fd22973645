// The start of a TLS session, the same for every library; each library's own
// half is behind tls_platform.h.
#include "http/tls.h"

#include "http/net_platform.h"
#include "http/tls_platform.h"

std::optional<TlsPeer> TlsPeerOf(std::string_view host) {
    if (host.empty() || host.find('\0') != std::string_view::npos) return std::nullopt;
    TlsPeer peer;
    peer.address_size = NetAddressOf(std::string(host), peer.address);
    if (peer.address_size != 0) return peer;
    peer.name = host;
    // "example.com." is the same host, but SNI carries no final dot.
    if (peer.name.size() > 1 && peer.name.back() == '.') peer.name.pop_back();
    return peer;
}

TlsSession* TlsStart(NetConnection& connection, std::string_view host,
                     std::chrono::steady_clock::time_point deadline, TlsFailure* why) {
    TlsFailure ignored;
    TlsFailure& failure = why ? *why : ignored;
    failure = TlsFailure::Other;
    std::optional<TlsPeer> peer = TlsPeerOf(host);
    if (!peer) return nullptr;
    TlsSession* session = TlsNewSession(connection);
    if (!session) return nullptr;
    failure = TlsHandshake(*session, *peer, deadline);
    if (failure == TlsFailure::None) return session;
    TlsEnd(session);
    return nullptr;
}
