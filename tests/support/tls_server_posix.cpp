#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/support/tls_server.h"
#include "tests/support/tls_server_process.h"

namespace {

// Starts python3 on script (tls_server.py when "") with args. With lifeline,
// its standard input is a pipe whose writing end lands there, and its output a
// pipe whose reading end lands in output; without, its output goes to
// /dev/null. -1 on failure.
pid_t RunScript(std::string script, std::vector<std::string> args, std::intptr_t* lifeline,
                std::intptr_t* output) {
    if (script.empty()) script = TAVIMOR_TLS_SERVER_SCRIPT;
    args.insert(args.begin(), {"/usr/bin/python3", std::move(script)});
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
    if (posix_spawn(&pid, "/usr/bin/python3", &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (lifeline) {
        close(in[0]);
        close(out[1]);
        *lifeline = in[1];
        *output = out[0];
    }
    return pid;
}

}  // namespace

std::string ScriptPath(const std::string& path) {
    return path;
}

std::string LocalPath(const std::string& script_path) {
    return script_path;
}

bool MakeTestCerts(const std::string& directory) {
    pid_t pid = RunScript("", {"make-certs", directory}, nullptr, nullptr);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool TrustCaFile(const std::string& ca_pem, const std::string& empty_directory, bool) {
    // The CA alone, with an empty directory instead of the system's.
    setenv("SSL_CERT_FILE", ca_pem.c_str(), 1);
    setenv("SSL_CERT_DIR", empty_directory.c_str(), 1);
    return true;
}

void TlsServer::Launch(std::vector<std::string> args) {
    process_ = RunScript(script_, std::move(args), &lifeline_, &output_);
}

bool ClientRenegotiates() {
    return true;
}

TlsServer::~TlsServer() {
    if (process_ > 0) {
        kill(static_cast<pid_t>(process_), SIGTERM);
        waitpid(static_cast<pid_t>(process_), nullptr, 0);
    }
    for (std::intptr_t fd : {lifeline_, output_}) {
        if (fd >= 0) close(static_cast<int>(fd));
    }
}

bool TlsServer::Ready() {
    if (port_ > 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string line;
    while (process_ > 0 && line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{static_cast<int>(output_), POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[64];
        ssize_t count = read(static_cast<int>(output_), chunk, sizeof chunk);
        if (count <= 0) break;
        line.append(chunk, static_cast<std::size_t>(count));
    }
    int ipv6 = 0;
    if (std::sscanf(line.c_str(), "%d %d", &port_, &ipv6) != 2) port_ = 0;
    ipv6_ = ipv6 == 1;
    return port_ > 0;
}
