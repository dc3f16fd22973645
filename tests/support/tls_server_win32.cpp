// Under Wine, CreateProcess starts a Unix program as a Unix process, so the
// script runs as it does on Linux. Wine gives no handle to wait on it or end
// it, nor its standard handles: the script reports through files in the
// server's directory and ends once a file there is gone.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "runtime/wide_text_win32.h"
#include "tests/support/tls_server.h"
#include "tests/support/tls_server_process.h"

namespace {

using namespace std::chrono_literals;

// Wine's own conversions between its Windows paths and the Unix paths;
// nullptr where they do not exist, that is outside Wine.
template <typename Function>
Function WineFunction(const char* name) {
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// One argument quoted by the rules of CommandLineToArgvW, by which Wine splits
// the command line into a Unix program's arguments.
std::wstring Quoted(const std::string& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : WideFromUtf8(arg)) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// Starts command; with wait, waits up to a minute for its exit code.
bool Run(std::wstring command, bool wait) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return false;
    DWORD code = 1;
    bool done = !wait || (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                          GetExitCodeProcess(process.hProcess, &code) && code == 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return done;
}

// script "" is tls_server.py.
bool RunScript(const std::string& script, const std::vector<std::string>& args) {
    std::wstring command =
        L"/usr/bin/python3 " + Quoted(script.empty() ? TAVIMOR_TLS_SERVER_SCRIPT : script);
    for (const std::string& arg : args)
        command += L" " + Quoted(arg);
    return Run(command, false);
}

// The first line of file once it has one; "" when limit passes first.
std::string AwaitLine(const std::string& file, std::chrono::seconds limit) {
    for (auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
        std::string text = ReadWholeFile(file);
        if (text.find('\n') != std::string::npos) return text;
    }
    return "";
}

}  // namespace

std::string ScriptPath(const std::string& path) {
    using ToUnix = char*(CDECL*)(const WCHAR*);
    static const ToUnix to_unix = WineFunction<ToUnix>("wine_get_unix_file_name");
    char* unix_path = to_unix ? to_unix(WideFromUtf8(path).c_str()) : nullptr;
    if (!unix_path) return path;
    std::string converted(unix_path);
    HeapFree(GetProcessHeap(), 0, unix_path);
    return converted;
}

std::string LocalPath(const std::string& script_path) {
    using ToDos = WCHAR*(CDECL*)(const char*);
    static const ToDos to_dos = WineFunction<ToDos>("wine_get_dos_file_name");
    WCHAR* dos_path = to_dos ? to_dos(script_path.c_str()) : nullptr;
    if (!dos_path) return script_path;
    std::string converted = Utf8FromWide(dos_path);
    HeapFree(GetProcessHeap(), 0, dos_path);
    return converted;
}

bool MakeTestCerts(const std::string& directory) {
    return RunScript("", {"make-certs", ScriptPath(directory)}) &&
           !AwaitLine(directory + "made", 60s).empty();
}

// Every write to the shared ROOT store risks a chain built meanwhile in
// another test process not finding its CA, so a test run trusts its CA once,
// before its first test; a program run by hand trusts its own.
bool TrustCaFile(const std::string& ca_pem, const std::string&, bool run_trusts_it) {
    static const bool trusted =
        run_trusts_it ||
        Run(L"\"" + WideFromUtf8(LocalPath(TAVIMOR_TRUST_CA_EXE)) + L"\" " + Quoted(ca_pem), true);
    return trusted;
}

bool ClientRenegotiates() {
    return !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
}

void TlsServer::Launch(std::vector<std::string> args) {
    args.insert(args.end(), {"--port-file", ScriptPath(dir_.File("port")), "--while-exists",
                             ScriptPath(dir_.Write("alive", "alive"))});
    process_ = RunScript(script_, args) ? 1 : -1;
}

TlsServer::~TlsServer() {
    DeleteFileW(WideFromUtf8(dir_.File("alive")).c_str());
}

bool TlsServer::Ready() {
    if (port_ > 0) return true;
    std::string line = process_ > 0 ? AwaitLine(dir_.File("port"), 10s) : "";
    int ipv6 = 0;
    if (std::sscanf(line.c_str(), "%d %d", &port_, &ipv6) != 2) port_ = 0;
    ipv6_ = ipv6 == 1;
    return port_ > 0;
}
