// TLS over OpenSSL 3. The socket stays non-blocking: every OpenSSL call is tried
// first, and only when it asks to read or write does the session wait on the
// socket, up to the caller's deadline. Each session owns its own SSL_CTX, so
// nothing is shared between threads and SSL_CERT_FILE is read afresh each time.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <cerrno>
#include <new>
#include <optional>
#include <string>

#include "http/tls.h"
#include "http/tls_platform.h"

struct TlsSession {
    NetConnection connection;  // a copy: the caller's may move, the socket does not
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    bool closed_by_peer = false;  // close_notify received
    bool failed = true;  // no close_notify of ours makes sense before a handshake or after a fault
    std::optional<int64_t> end;  // 0 or -1, seen while returning bytes, owed next time
};

namespace {

using Clock = std::chrono::steady_clock;

// Bytes beyond one record are taken in the same receive while they are there.
constexpr std::size_t MaxReceive = 64 * 1024;

int SocketOf(BIO* bio) {
    return static_cast<int>(static_cast<NetConnection*>(BIO_get_data(bio))->socket);
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a peer
// that has gone away; this one sends with MSG_NOSIGNAL, as NetSendAll does.
int SocketWrite(BIO* bio, const char* data, std::size_t length, std::size_t* written) {
    BIO_clear_retry_flags(bio);
    ssize_t count = send(SocketOf(bio), data, length, MSG_NOSIGNAL);
    if (count >= 0) {
        *written = static_cast<std::size_t>(count);
        return 1;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(bio);
    return 0;
}

int SocketRead(BIO* bio, char* buffer, std::size_t length, std::size_t* got) {
    BIO_clear_retry_flags(bio);
    ssize_t count = recv(SocketOf(bio), buffer, length, 0);
    if (count > 0) {
        *got = static_cast<std::size_t>(count);
        return 1;
    }
    // OpenSSL asks BIO_eof before it takes a bare close as the end of the stream.
    if (count == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return 0;
}

long SocketControl(BIO* bio, int command, long, void*) {
    if (command == BIO_CTRL_EOF) return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

// Made once: BIO type numbers are few, and the method is never changed after.
const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_TYPE_SOURCE_SINK, "tavimor socket");
        if (made &&
            (!BIO_meth_set_write_ex(made, SocketWrite) || !BIO_meth_set_read_ex(made, SocketRead) ||
             !BIO_meth_set_ctrl(made, SocketControl))) {
            BIO_meth_free(made);
            made = nullptr;
        }
        return made;
    }();
    return method;
}

// After a call that did not finish with error: true when it may be tried again
// because the socket became ready before the deadline.
bool WaitFor(TlsSession& session, int error, Clock::time_point deadline) {
    if (error == SSL_ERROR_WANT_READ) return NetWaitReady(session.connection, false, deadline);
    if (error == SSL_ERROR_WANT_WRITE) return NetWaitReady(session.connection, true, deadline);
    session.failed = true;
    return false;
}

bool SetPeer(SSL* ssl, const TlsPeer& peer) {
    if (peer.address_size != 0)
        return X509_VERIFY_PARAM_set1_ip(SSL_get0_param(ssl), peer.address, peer.address_size) == 1;
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return SSL_set_tlsext_host_name(ssl, peer.name.c_str()) == 1 &&
           SSL_set1_host(ssl, peer.name.c_str()) == 1;
}

bool Configure(TlsSession& session, const TlsPeer& peer) {
    session.context = SSL_CTX_new(TLS_client_method());
    SSL_CTX* context = session.context;
    if (!context || !SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) ||
        SSL_CTX_set_default_verify_paths(context) != 1)
        return false;
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Many servers end a body by closing TCP without close_notify.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
    // Without read-ahead each record costs two receives, its header and then
    // its body. With it, and room for a full receive beside a record left
    // half read, one receive of the socket serves one of ours.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 2 * MaxReceive);
    session.ssl = SSL_new(context);
    if (!session.ssl || !SetPeer(session.ssl, peer)) return false;
    const BIO_METHOD* method = SocketMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return false;
    BIO_set_data(bio, &session.connection);
    BIO_set_init(bio, 1);
    SSL_set_bio(session.ssl, bio, bio);
    return true;
}

TlsFailure FailureOf(long verify_result) {
    switch (verify_result) {
        case X509_V_OK:
            return TlsFailure::Other;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TlsFailure::Expired;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TlsFailure::WrongName;
        default:
            return TlsFailure::Untrusted;
    }
}

TlsFailure Handshake(TlsSession& session, Clock::time_point deadline) {
    for (;;) {
        ERR_clear_error();
        int result = SSL_connect(session.ssl);
        long verified = SSL_get_verify_result(session.ssl);
        // Without a certificate (anonymous suites) there would be nothing verified.
        if (result == 1) {
            if (verified != X509_V_OK) return FailureOf(verified);
            bool certified = SSL_get0_peer_certificate(session.ssl) != nullptr;
            return certified ? TlsFailure::None : TlsFailure::Untrusted;
        }
        int error = SSL_get_error(session.ssl, result);
        if (!WaitFor(session, error, deadline)) {
            if (verified != X509_V_OK) return FailureOf(verified);
            bool waiting = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
            return waiting ? TlsFailure::TimedOut : TlsFailure::Other;
        }
    }
}

}  // namespace

TlsSession* TlsNewSession(NetConnection& connection) {
    TlsSession* session = new (std::nothrow) TlsSession;
    if (session) session->connection = connection;
    return session;
}

TlsFailure TlsHandshake(TlsSession& session, const TlsPeer& peer,
                        std::chrono::steady_clock::time_point deadline) {
    TlsFailure failure =
        Configure(session, peer) ? Handshake(session, deadline) : TlsFailure::Other;
    session.failed = failure != TlsFailure::None;
    return failure;
}

int TlsSendAll(TlsSession& session, const char* data, std::size_t length,
               std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < length) {
        ERR_clear_error();
        std::size_t count = 0;
        int result = SSL_write_ex(session.ssl, data + sent, length - sent, &count);
        if (result == 1) {
            sent += count;
        } else if (!WaitFor(session, SSL_get_error(session.ssl, result), deadline)) {
            // A record may be half sent: no close_notify can follow it.
            session.failed = true;
            return 0;
        }
    }
    return 1;
}

int64_t TlsReceive(TlsSession& session, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit) {
    if (max_length == 0) return -1;
    if (session.end) return *session.end;
    Clock::time_point deadline = Clock::now() + limit;
    std::size_t wanted = max_length < MaxReceive ? max_length : MaxReceive;
    std::size_t got = 0;
    for (;;) {
        ERR_clear_error();
        std::size_t count = 0;
        int result = SSL_read_ex(session.ssl, buffer + got, wanted - got, &count);
        if (result == 1) {
            got += count;
            if (got == wanted) return static_cast<int64_t>(got);
            continue;
        }
        int error = SSL_get_error(session.ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            // The end, or a fault, seen after some bytes is owed to the next receive.
            // Many servers end by closing TCP without close_notify: that is an
            // end too, but not one that proves the data whole.
            session.closed_by_peer = error == SSL_ERROR_ZERO_RETURN;
            bool eof = error == SSL_ERROR_SSL &&
                       ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
            session.end = session.closed_by_peer || eof ? 0 : -1;
            session.failed = !session.closed_by_peer;
            return got > 0 ? static_cast<int64_t>(got) : *session.end;
        }
        if (got > 0) return static_cast<int64_t>(got);
        if (!WaitFor(session, error, deadline)) return -1;
    }
}

bool TlsClosedByPeer(const TlsSession& session) {
    return session.closed_by_peer;
}

void TlsEnd(TlsSession* session) {
    if (!session) return;
    // One try at close_notify, without waiting: the connection is closing anyway.
    if (session->ssl && !session->failed) {
        ERR_clear_error();
        SSL_shutdown(session->ssl);
    }
    SSL_free(session->ssl);
    SSL_CTX_free(session->context);
    ERR_clear_error();
    delete session;
}
