// https servers on loopback for tests, and the certificates they present.
//
// A test run makes a test CA and server certificates once, with the openssl
// command, and names their directory in TAVIMOR_TEST_CERTS; a test program run
// by itself makes its own (in a temporary directory removed at exit).
// TrustTestCa() points SSL_CERT_FILE and SSL_CERT_DIR at that CA alone, so the
// client under test trusts it and nothing else. TlsServer runs tests/support/tls_server.py, which
// is Python's ssl module, not our code, as a child process: it listens on
// 127.0.0.1 and, when the machine has it, ::1 at one free port, presents the
// certificate asked for, and on each connection answers the request (read up to
// its empty line) with canned bytes (the script can also serve a directory, for
// the end-to-end test of the Windows program). It is killed
// in the destructor, and ends by itself when the test program dies.
//
// Under Wine the script runs as a Unix process too; there, the test run adds
// the test CA to the user's ROOT store of the Wine prefix with trust_ca.exe
// before its first test, and a program run by itself adds its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/temp_dir.h"

enum class TlsCert {
    Good,         // for localhost, 127.0.0.1 and ::1, signed by the test CA
    WrongName,    // for wrong.test and 127.0.0.2 (its CN still says localhost)
    Expired,      // the good names, expired in 2020
    UntrustedCa,  // the good names, signed by a CA that is not trusted
    None,         // no TLS: answers whatever arrives at once, as a plain HTTP
                  // server answers a TLS hello with its 400
};

// How a server ends each connection after its answer.
enum class TlsServerEnd {
    CloseNotify,  // sends close_notify, then waits for the client's or its close
    TcpClose,     // closes TCP without close_notify, as many servers do
    Hold,         // stays open and silent until the client goes
};

// Finds or makes the test certificates on the first call, then (every call)
// points the TLS client at the test CA (on Windows: trusts it besides the
// system's roots).
// False, with a test failure, when they cannot be made or trusted.
bool TrustTestCa();

// Whether the TLS client can take up a handshake that a server starts in the
// middle of a stream. Wine's SChannel cannot: it fails the connection instead.
bool ClientRenegotiates();

class TlsServer {
  public:
    // Answers each request with answer, the whole response from its status line.
    // With renegotiate_to, it speaks TLS 1.2 and, halfway through the answer,
    // shakes hands again presenting that certificate; the rest follows only
    // when the client takes it.
    explicit TlsServer(std::string_view answer, TlsCert cert = TlsCert::Good,
                       TlsServerEnd end = TlsServerEnd::CloseNotify,
                       std::optional<TlsCert> renegotiate_to = std::nullopt);
    // Runs script, another server script that reports its port and ends as
    // tls_server.py does, with args alone.
    TlsServer(std::string script, std::vector<std::string> args);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // Waits up to 10 seconds for the server to listen; false when it never does.
    bool Ready();
    int Port() const { return port_; }
    // Whether it listens on ::1 too.
    bool HasIpv6() const { return ipv6_; }
    // "https://<host>:<port>/<path>"; an IPv6 host gets its brackets.
    std::string Url(std::string_view path, std::string_view host = "localhost") const;
    // The first request received with a canned answer, up to its empty line.
    std::string Request() const;
    // The server name (SNI) the first client that sent one asked for; "" when none did.
    std::string ServerName() const;

  private:
    void Start(std::vector<std::string> args, TlsCert cert, TlsServerEnd end,
               std::optional<TlsCert> renegotiate_to);
    // The platform's half: starts the script with args.
    void Launch(std::vector<std::string> args);

    std::string script_;  // "" for tls_server.py
    TempDir dir_;
    std::intptr_t process_ = -1;   // the child, where the platform can name it
    std::intptr_t lifeline_ = -1;  // the server's standard input: it ends when this closes
    std::intptr_t output_ = -1;
    int port_ = 0;
    bool ipv6_ = false;
};
