#include "tests/support/tls_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Starts python3 on the server script with args. With lifeline, its standard
// input is a pipe whose writing end lands there, and its output a pipe whose
// reading end lands in output; without, its output goes to /dev/null. -1 on failure.
pid_t RunScript(std::vector<std::string> args, int* lifeline, int* output) {
    args.insert(args.begin(), {"python3", TAVIMOR_TLS_SERVER_SCRIPT});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (lifeline && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (lifeline) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (lifeline) {
        close(in[0]);
        close(out[1]);
        *lifeline = in[1];
        *output = out[0];
    }
    return pid;
}

// A test program runs its tests one after another, so the files are made once.
struct TestFiles {
    TestFiles() {
        pid_t pid = RunScript({"make-certs", dir.Path()}, nullptr, nullptr);
        int status = 0;
        made = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
        std::filesystem::create_directory(dir.File("no-more-cas"));
    }
    TempDir dir;
    bool made = false;
};

const TestFiles& Files() {
    static const TestFiles files;
    return files;
}

std::string_view CertName(TlsCert cert) {
    switch (cert) {
        case TlsCert::Good:
            return "good";
        case TlsCert::WrongName:
            return "wrong-name";
        case TlsCert::Expired:
            return "expired";
        case TlsCert::UntrustedCa:
            return "untrusted";
        case TlsCert::None:
            return "";
    }
    return "";
}

std::string_view EndName(TlsServerEnd end) {
    switch (end) {
        case TlsServerEnd::CloseNotify:
            return "close-notify";
        case TlsServerEnd::TcpClose:
            return "tcp-close";
        case TlsServerEnd::Hold:
            return "hold";
    }
    return "";
}

}  // namespace

bool TrustTestCa() {
    const TestFiles& files = Files();
    if (!files.made) {
        ADD_FAILURE() << "cannot make the test certificates: are python3 and openssl installed?";
        return false;
    }
    // The CA alone, with an empty directory instead of the system's.
    setenv("SSL_CERT_FILE", files.dir.File("ca.pem").c_str(), 1);
    setenv("SSL_CERT_DIR", files.dir.File("no-more-cas").c_str(), 1);
    return true;
}

TlsServer::TlsServer(std::string_view answer, TlsCert cert, TlsServerEnd end) {
    Start({"--answer", dir_.Write("answer", answer)}, cert, end);
}

TlsServer::TlsServer(const TlsServedDirectory& directory, TlsCert cert) {
    Start({"--directory", directory.path}, cert, TlsServerEnd::CloseNotify);
}

void TlsServer::Start(std::vector<std::string> args, TlsCert cert, TlsServerEnd end) {
    const TestFiles& files = Files();
    args.insert(args.begin(),
                {"serve", "--log-dir", dir_.Path(), "--end", std::string(EndName(end))});
    if (cert == TlsCert::None) {
        args.push_back("--plain");
    } else {
        args.insert(args.end(), {"--cert", files.dir.File(CertName(cert)) + ".pem", "--key",
                                 files.dir.File("server.key")});
    }
    pid_ = RunScript(args, &lifeline_, &output_);
}

TlsServer::~TlsServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {lifeline_, output_}) {
        if (fd >= 0) close(fd);
    }
}

bool TlsServer::Ready() {
    if (port_ > 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string line;
    while (pid_ > 0 && line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{output_, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[64];
        ssize_t count = read(output_, chunk, sizeof chunk);
        if (count <= 0) break;
        line.append(chunk, static_cast<std::size_t>(count));
    }
    int ipv6 = 0;
    if (std::sscanf(line.c_str(), "%d %d", &port_, &ipv6) != 2) port_ = 0;
    ipv6_ = ipv6 == 1;
    return port_ > 0;
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
