// What each TLS library's file (tls_openssl.cpp, tls_schannel.cpp) gives the
// portable half in tls.cpp, and the peer as both see it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "http/tls.h"

// The peer as TLS sees it: a name, sent as SNI and checked against the
// certificate's names, or an IP literal, never sent as SNI and checked
// against its address entries alone.
struct TlsPeer {
    std::string name;  // without a final dot; empty for an IP literal
    unsigned char address[16] = {};
    std::size_t address_size = 0;  // 4 or 16 for an IP literal, else 0
};

// host as a peer; nothing when it cannot be one (empty, or with a NUL).
std::optional<TlsPeer> TlsPeerOf(std::string_view host);

// The library's half of TlsStart, for a peer that TlsPeerOf gave: a session
// over connection (nullptr without memory), and its handshake with the check of
// the peer before deadline. TlsEnd sends close_notify only after a handshake
// that succeeded.
TlsSession* TlsNewSession(NetConnection& connection);
TlsFailure TlsHandshake(TlsSession& session, const TlsPeer& peer,
                        std::chrono::steady_clock::time_point deadline);
