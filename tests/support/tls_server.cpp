#include "tests/support/tls_server.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>

#include <gtest/gtest.h>

#include "tests/support/tls_server_process.h"

namespace {

// The files of the test run (ctest makes them before the first test and names
// their directory in TAVIMOR_TEST_CERTS), else this program's own, made once.
struct TestFiles {
    TestFiles() {
        const char* run = std::getenv("TAVIMOR_TEST_CERTS");
        from_run = run && *run;
        if (from_run) {
            dir = LocalPath(run) + static_cast<char>(std::filesystem::path::preferred_separator);
        } else {
            own.emplace();
            dir = own->Path();
            MakeTestCerts(dir);
        }
        made = !ReadWholeFile(File("made")).empty();
    }
    std::string File(std::string_view name) const { return dir + std::string(name); }

    std::optional<TempDir> own;
    std::string dir;  // ends with the separator
    bool from_run = false;
    bool made = false;
};

const TestFiles& Files() {
    static const TestFiles files;
    return files;
}

// The certificates' and the ends' names for the server script, in the order of their enums.
constexpr std::string_view CertNames[] = {"good", "wrong-name", "expired", "untrusted", ""};
constexpr std::string_view EndNames[] = {"close-notify", "tcp-close", "hold"};

}  // namespace

bool TrustTestCa() {
    const TestFiles& files = Files();
    if (!files.made) {
        ADD_FAILURE() << "cannot make the test certificates: are python3 and openssl installed?";
        return false;
    }
    if (TrustCaFile(files.File("ca.pem"), files.File("no-more-cas"), files.from_run)) return true;
    ADD_FAILURE() << "cannot make the TLS client trust the test CA";
    return false;
}

TlsServer::TlsServer(std::string_view answer, TlsCert cert, TlsServerEnd end,
                     std::optional<TlsCert> renegotiate_to) {
    Start({"--answer", ScriptPath(dir_.Write("answer", answer))}, cert, end, renegotiate_to);
}

void TlsServer::Start(std::vector<std::string> args, TlsCert cert, TlsServerEnd end,
                      std::optional<TlsCert> renegotiate_to) {
    const TestFiles& files = Files();
    auto pem = [&](TlsCert which) {
        return ScriptPath(files.File(CertNames[static_cast<int>(which)]) + ".pem");
    };
    args.insert(args.begin(), {"serve", "--log-dir", ScriptPath(dir_.Path()), "--end",
                               std::string(EndNames[static_cast<int>(end)])});
    if (cert == TlsCert::None) {
        args.push_back("--plain");
    } else {
        args.insert(args.end(),
                    {"--cert", pem(cert), "--key", ScriptPath(files.File("server.key"))});
    }
    if (renegotiate_to) args.insert(args.end(), {"--renegotiate-to", pem(*renegotiate_to)});
    Launch(std::move(args));
}

TlsServer::TlsServer(std::string script, std::vector<std::string> args)
    : script_(std::move(script)) {
    Launch(std::move(args));
}

std::string TlsServer::Url(std::string_view path, std::string_view host) const {
    std::string name(host);
    if (name.find(':') != std::string::npos) name = "[" + name + "]";
    return "https://" + name + ":" + std::to_string(port_) + "/" + std::string(path);
}

std::string TlsServer::Request() const {
    return ReadWholeFile(dir_.File("request"));
}

std::string TlsServer::ServerName() const {
    return ReadWholeFile(dir_.File("sni"));
}
