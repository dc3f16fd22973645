// TLS for https links, over a TCP connection the caller has opened. One file per
// TLS library implements it, chosen by the build: tls_openssl.cpp on Linux,
// tls_schannel.cpp on Windows. The fetch sees it only through http/transport.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/net.h"

struct TlsSession;

// Why TlsStart gave nothing.
enum class TlsFailure {
    None,
    Expired,    // the certificate, or one of its chain, is out of its validity
    Untrusted,  // the chain leads to no trusted root
    WrongName,  // the certificate is for another name or address
    TimedOut,   // the deadline passed before the handshake was done
    Other,      // anything else: no TLS spoken, no common protocol, an alert...
};

// Speaks TLS 1.2 or later as a client over connection: SNI for a host name, the
// certificate chain verified against the system's trust store (with OpenSSL,
// SSL_CERT_FILE and SSL_CERT_DIR are honoured; on Windows, the user's and the
// machine's root stores), and the host name, or the IP literal, checked
// against the certificate. nullptr when any of that fails, or when deadline
// passes before the handshake is done; why, when given, then says which. The
// checks cannot be skipped. The connection stays the caller's, to close after
// TlsEnd.
TlsSession* TlsStart(NetConnection& connection, std::string_view host,
                     std::chrono::steady_clock::time_point deadline, TlsFailure* why = nullptr);

// As NetSendAll, over the session.
int TlsSendAll(TlsSession& session, const char* data, std::size_t length,
               std::chrono::milliseconds limit);

// As NetReceive, over the session: 0 at the peer's close_notify or at the end of
// the transport, -1 on a time-out or any other error.
int64_t TlsReceive(TlsSession& session, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit);

// Whether the peer ended the data with close_notify. A receive gives 0 at a TCP
// close without it too, which anyone on the path can forge.
bool TlsClosedByPeer(const TlsSession& session);

// Frees the session; nullptr is harmless.
void TlsEnd(TlsSession* session);
