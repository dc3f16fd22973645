// TLS over SChannel. SChannel only turns bytes into records and back: every byte
// goes through the sockets layer (NetSendAll, NetReceive), so each wait is
// bounded by the caller's deadline as on every platform. The certificate is
// checked here after the handshake, by the chain engine against the user's and
// the machine's root stores and by the SSL policy for the host name, so the
// checks are the same on every Windows and under Wine and none can be skipped.
// Winsock first (windows.h would bring the old one), then what SCH_CREDENTIALS
// needs before schannel.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <subauth.h>
#include <wincrypt.h>
#include <wininet.h>  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID only
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#define SECURITY_WIN32
#include <security.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "http/tls.h"
#include "http/tls_platform.h"
#include "runtime/wide_text_win32.h"

struct TlsSession {
    NetConnection connection;  // a copy: the caller's may move, the socket does not
    CredHandle credentials{};
    CtxtHandle context{};
    bool have_credentials = false;
    bool have_context = false;
    std::wstring target;  // the name for SNI and the check; empty for an IP literal
    TlsPeer peer;         // checked again after every later handshake
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> incoming;  // records as received, not yet decrypted
    std::size_t incoming_used = 0;
    std::vector<char> plain;  // one decrypted record, not yet handed out
    std::size_t plain_taken = 0;
    bool closed_by_peer = false;  // close_notify received
    bool failed = true;  // no close_notify of ours makes sense before a handshake or after a fault
    std::optional<int64_t> end;  // 0 or -1, seen while returning bytes, owed next time
};

namespace {

using Clock = std::chrono::steady_clock;

// The time a handshake inside the stream has, whatever is left of its receive.
constexpr std::chrono::seconds InStreamHandshakeTime{10};
// Bytes beyond one record are taken in the same receive while they are there.
constexpr std::size_t MaxReceive = 64 * 1024;
// Room for a full receive beside a record left half read; a handshake may grow
// it up to the largest, where a peer sending more without a record ends is refused.
constexpr std::size_t IncomingSize = 2 * MaxReceive;
constexpr std::size_t MaxIncoming = 1 << 20;
// The content type of a TLS record that carries an alert, close_notify among them.
constexpr unsigned char AlertRecord = 21;

constexpr ULONG ContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                               ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_EXTENDED_ERROR | ISC_REQ_MANUAL_CRED_VALIDATION;

std::chrono::milliseconds Left(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? std::chrono::milliseconds(0) : left;
}

bool SendRaw(TlsSession& session, const void* data, std::size_t length,
             Clock::time_point deadline) {
    return length == 0 || NetSendAll(session.connection, static_cast<const char*>(data), length,
                                     Left(deadline)) == 1;
}

// Appends what the socket holds, waiting until deadline for the first byte. As
// NetReceive; -1 too when the buffer may grow no more.
int64_t ReceiveRaw(TlsSession& session, Clock::time_point deadline) {
    std::vector<char>& incoming = session.incoming;
    if (session.incoming_used == incoming.size()) {
        if (incoming.size() >= MaxIncoming) {
            session.failed = true;
            session.end = -1;
            return -1;
        }
        incoming.resize(incoming.size() * 2);
    }
    int64_t count = NetReceive(session.connection, incoming.data() + session.incoming_used,
                               incoming.size() - session.incoming_used, Left(deadline));
    if (count > 0) session.incoming_used += static_cast<std::size_t>(count);
    return count;
}

// Keeps only the bytes a call left unread, which SChannel names at the end of
// what it was given.
void KeepExtra(TlsSession& session, const SecBuffer* extra) {
    std::size_t keep = extra ? std::min<std::size_t>(extra->cbBuffer, session.incoming_used) : 0;
    std::memmove(session.incoming.data(), session.incoming.data() + session.incoming_used - keep,
                 keep);
    session.incoming_used = keep;
}

const SecBuffer* FindBuffer(const SecBuffer* buffers, int count, unsigned long type) {
    for (int i = 0; i < count; ++i) {
        if (buffers[i].BufferType == type) return &buffers[i];
    }
    return nullptr;
}

bool AcquireWith(TlsSession& session, void* credentials) {
    session.have_credentials =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                  nullptr, credentials, nullptr, nullptr, &session.credentials,
                                  nullptr) == SEC_E_OK;
    return session.have_credentials;
}

// TLS 1.2 or later, no client certificate, and no check by SChannel itself:
// ours follows the handshake.
bool AcquireCredentials(TlsSession& session) {
    DWORD flags =
        SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = flags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    if (AcquireWith(session, &current)) return true;
    // Windows before 10 1809, and some Wine versions, know only the older form.
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = flags;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    return AcquireWith(session, &older);
}

// One call of the handshake on what has arrived (nothing on the first); its
// answer, or an alert, is sent at once.
SECURITY_STATUS Step(TlsSession& session, Clock::time_point deadline) {
    SecBuffer in[2] = {{static_cast<unsigned long>(session.incoming_used), SECBUFFER_TOKEN,
                        session.incoming.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
    ULONG attributes = 0;
    bool first = !session.have_context;
    SECURITY_STATUS status = InitializeSecurityContextW(
        &session.credentials, first ? nullptr : &session.context,
        session.target.empty() ? nullptr : session.target.data(), ContextFlags, 0, 0,
        first ? nullptr : &in_desc, 0, &session.context, &out_desc, &attributes, nullptr);
    if (first) session.have_context = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
    if (out[0].pvBuffer) {
        bool sent = SendRaw(session, out[0].pvBuffer, out[0].cbBuffer, deadline);
        FreeContextBuffer(out[0].pvBuffer);
        if (!sent && !FAILED(status)) status = SEC_E_INTERNAL_ERROR;
    }
    if (!first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
        KeepExtra(session, FindBuffer(in, 2, SECBUFFER_EXTRA));
    return status;
}

// Drives the handshake to its end; also takes up the messages that follow a
// finished one (TLS 1.3 tickets and key updates), which arrive in incoming.
TlsFailure Handshake(TlsSession& session, Clock::time_point deadline) {
    for (bool retried = false;;) {
        SECURITY_STATUS status = Step(session, deadline);
        if (status == SEC_E_OK) return TlsFailure::None;
        // The server asked for a client certificate: we go on without one.
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !retried) {
            retried = true;
            continue;
        }
        if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE)
            return TlsFailure::Other;
        // Steps on bytes in hand wait for nothing, so the deadline is checked here too.
        if (Clock::now() > deadline) return TlsFailure::TimedOut;
        bool need_more = status == SEC_E_INCOMPLETE_MESSAGE || session.incoming_used == 0;
        if (need_more && ReceiveRaw(session, deadline) <= 0)
            return Clock::now() >= deadline ? TlsFailure::TimedOut : TlsFailure::Other;
    }
}

// An IP literal must be one of the certificate's address entries; a name that
// looks like it, or the common name, does not count.
bool HasAddress(PCCERT_CONTEXT cert, const TlsPeer& peer) {
    PCERT_EXTENSION extension = CertFindExtension(
        szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!extension || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME,
                                           extension->Value.pbData, extension->Value.cbData,
                                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found =
            found || (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                      entry.IPAddress.cbData == peer.address_size &&
                      std::memcmp(entry.IPAddress.pbData, peer.address, peer.address_size) == 0);
    }
    LocalFree(names);
    return found;
}

// What the chain engine's and the policy's errors mean to the user; time
// first, since an expired certificate of a trusted CA is the common case.
TlsFailure FailureOf(DWORD chain_errors, DWORD policy_error) {
    if ((chain_errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0 ||
        policy_error == static_cast<DWORD>(CERT_E_EXPIRED))
        return TlsFailure::Expired;
    if (chain_errors != CERT_TRUST_NO_ERROR) return TlsFailure::Untrusted;
    if (policy_error == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return TlsFailure::WrongName;
    return policy_error == 0 ? TlsFailure::None : TlsFailure::Untrusted;
}

// The chain up to a trusted root, every certificate in its validity, and the
// name, all judged by the SSL policy; an address is matched by HasAddress.
TlsFailure ChainFailure(PCCERT_CONTEXT cert, const TlsPeer& peer) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chain_para, 0, nullptr,
                                 &chain))
        return TlsFailure::Untrusted;
    std::wstring name = WideFromUtf8(peer.name);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = name.empty() ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID : 0;
    ssl.pwszServerName = name.empty() ? nullptr : name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    // Wine's policy lets a chain pass that ends short of any root it knows, as
    // one signed by a CA nobody trusts does: the chain's own errors count too.
    // Revocation was not asked for, so its status is unknown by design.
    DWORD errors = chain->TrustStatus.dwErrorStatus &
                   ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                       CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        status.dwError = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    CertFreeCertificateChain(chain);
    return FailureOf(errors, status.dwError);
}

TlsFailure PeerFailure(TlsSession& session, const TlsPeer& peer) {
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesW(&session.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) !=
            SEC_E_OK ||
        !cert)
        return TlsFailure::Untrusted;
    TlsFailure failure = ChainFailure(cert, peer);
    if (failure == TlsFailure::None && peer.address_size != 0 && !HasAddress(cert, peer))
        failure = TlsFailure::WrongName;
    CertFreeCertificateContext(cert);
    return failure;
}

enum class Opened { Data, NeedMore, Closed, Failed };

// Decrypts the first record in incoming into plain, when it is all there.
Opened DecryptOne(TlsSession& session, Clock::time_point deadline) {
    if (session.incoming_used == 0) return Opened::NeedMore;
    SecBuffer buffers[4] = {{static_cast<unsigned long>(session.incoming_used), SECBUFFER_DATA,
                             session.incoming.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    bool alert = static_cast<unsigned char>(session.incoming[0]) == AlertRecord;
    SECURITY_STATUS status = DecryptMessage(&session.context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Opened::NeedMore;
    if (status == SEC_I_CONTEXT_EXPIRED) return Opened::Closed;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return Opened::Failed;
    // The data lie inside incoming: copied out before the rest moves up.
    session.plain.clear();
    if (const SecBuffer* data = FindBuffer(buffers, 4, SECBUFFER_DATA)) {
        const char* bytes = static_cast<const char*>(data->pvBuffer);
        session.plain.assign(bytes, bytes + data->cbBuffer);
        session.plain_taken = 0;
    }
    KeepExtra(session, FindBuffer(buffers, 4, SECBUFFER_EXTRA));
    // Wine's SChannel reports the peer's close_notify as an alert record that
    // decrypts to nothing, where Windows says SEC_I_CONTEXT_EXPIRED.
    if (status == SEC_E_OK && alert && session.plain.empty()) return Opened::Closed;
    // A handshake inside the stream (TLS 1.3's session tickets, or a new
    // certificate, which is checked as the first one was) cannot be taken up
    // again once cut off: it has its own time, not what is left of a receive
    // that may be given a mere slice.
    if (status == SEC_I_RENEGOTIATE) {
        Clock::time_point until = std::max(deadline, Clock::now() + InStreamHandshakeTime);
        if (Handshake(session, until) != TlsFailure::None ||
            PeerFailure(session, session.peer) != TlsFailure::None)
            return Opened::Failed;
    }
    return Opened::Data;
}

std::size_t TakePlain(TlsSession& session, char* out, std::size_t room) {
    std::size_t take = std::min(room, session.plain.size() - session.plain_taken);
    std::memcpy(out, session.plain.data() + session.plain_taken, take);
    session.plain_taken += take;
    if (session.plain_taken == session.plain.size()) {
        session.plain.clear();
        session.plain_taken = 0;
    }
    return take;
}

// One try at close_notify, without waiting: the connection is closing anyway.
void SendCloseNotify(TlsSession& session) {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc token_desc{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&session.context, &token_desc) != SEC_E_OK) return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    SECURITY_STATUS status = InitializeSecurityContextW(
        &session.credentials, &session.context,
        session.target.empty() ? nullptr : session.target.data(), ContextFlags, 0, 0, nullptr, 0,
        &session.context, &out_desc, &attributes, nullptr);
    if (!out.pvBuffer) return;
    if (!FAILED(status)) SendRaw(session, out.pvBuffer, out.cbBuffer, Clock::now());
    FreeContextBuffer(out.pvBuffer);
}

}  // namespace

TlsSession* TlsNewSession(NetConnection& connection) {
    TlsSession* session = new (std::nothrow) TlsSession;
    if (!session) return nullptr;
    session->connection = connection;
    session->incoming.resize(IncomingSize);
    return session;
}

TlsFailure TlsHandshake(TlsSession& session, const TlsPeer& peer,
                        std::chrono::steady_clock::time_point deadline) {
    session.target = WideFromUtf8(peer.name);
    session.peer = peer;
    if (!AcquireCredentials(session)) return TlsFailure::Other;
    TlsFailure failure = Handshake(session, deadline);
    if (failure != TlsFailure::None) return failure;
    if (QueryContextAttributesW(&session.context, SECPKG_ATTR_STREAM_SIZES, &session.sizes) !=
            SEC_E_OK ||
        session.sizes.cbMaximumMessage == 0)
        return TlsFailure::Other;
    failure = PeerFailure(session, peer);
    session.failed = failure != TlsFailure::None;
    return failure;
}

int TlsSendAll(TlsSession& session, const char* data, std::size_t length,
               std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    const SecPkgContext_StreamSizes& sizes = session.sizes;
    std::vector<char> record(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
    while (length > 0) {
        std::size_t piece = std::min<std::size_t>(length, sizes.cbMaximumMessage);
        std::memcpy(record.data() + sizes.cbHeader, data, piece);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        std::size_t size = 0;
        if (EncryptMessage(&session.context, 0, &desc, 0) == SEC_E_OK)
            size = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        // A record may be half sent: no close_notify can follow it.
        if (size == 0 || !SendRaw(session, record.data(), size, deadline)) {
            session.failed = true;
            return 0;
        }
        data += piece;
        length -= piece;
    }
    return 1;
}

int64_t TlsReceive(TlsSession& session, char* buffer, std::size_t max_length,
                   std::chrono::milliseconds limit) {
    if (max_length == 0) return -1;
    Clock::time_point deadline = Clock::now() + limit;
    std::size_t wanted = std::min(max_length, MaxReceive);
    std::size_t got = 0;
    for (;;) {
        got += TakePlain(session, buffer + got, wanted - got);
        if (got == wanted) return static_cast<int64_t>(got);
        // The end, or a fault, seen after some bytes is owed to the next receive.
        if (session.end) return got > 0 ? static_cast<int64_t>(got) : *session.end;
        Opened opened = DecryptOne(session, deadline);
        // Records that decrypt to nothing may come without end: they too wait
        // only until the deadline.
        if (opened == Opened::Data) {
            if (Clock::now() < deadline) continue;
            return got > 0 ? static_cast<int64_t>(got) : -1;
        }
        if (opened != Opened::NeedMore) {
            session.end = opened == Opened::Closed ? 0 : -1;
            session.closed_by_peer = opened == Opened::Closed;
            session.failed = opened == Opened::Failed;
            continue;
        }
        // Bytes in hand are returned rather than waited on with.
        int64_t count = ReceiveRaw(session, got > 0 ? Clock::now() : deadline);
        if (count > 0) continue;
        if (count == 0) {
            // Many servers end a body by closing TCP without close_notify; a
            // record cut off by that close is a fault, though.
            session.end = session.incoming_used == 0 ? 0 : -1;
            continue;
        }
        if (session.end) continue;
        return got > 0 ? static_cast<int64_t>(got) : -1;
    }
}

bool TlsClosedByPeer(const TlsSession& session) {
    return session.closed_by_peer;
}

void TlsEnd(TlsSession* session) {
    if (!session) return;
    if (session->have_context) {
        if (!session->failed) SendCloseNotify(*session);
        DeleteSecurityContext(&session->context);
    }
    if (session->have_credentials) FreeCredentialsHandle(&session->credentials);
    delete session;
}
