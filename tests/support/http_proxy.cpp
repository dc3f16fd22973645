#include "tests/support/http_proxy.h"

#include <string_view>
#include <utility>

#include "tests/support/tls_server_process.h"

namespace {

// The scripts sit together in this folder.
std::string ProxyScript() {
    std::string script = TAVIMOR_TLS_SERVER_SCRIPT;
    return script.replace(script.find_last_of("/\\") + 1, std::string::npos, "http_proxy.py");
}

// All but the unreserved characters escaped, so that any user name or password
// survives the URL.
std::string PercentEncoded(std::string_view text) {
    constexpr std::string_view Hex = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                     (byte >= '0' && byte <= '9') ||
                     std::string_view("-._~").find(c) != std::string_view::npos;
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 15];
        }
    }
    return out;
}

std::vector<std::string> Args(const HttpProxyOptions& options, const std::string& log_dir) {
    std::vector<std::string> args = {"serve", "--log-dir", ScriptPath(log_dir)};
    if (!options.user.empty())
        args.insert(args.end(), {"--user", options.user, "--password", options.password});
    if (options.refuse_connect != 0)
        args.insert(args.end(), {"--refuse-connect", std::to_string(options.refuse_connect)});
    return args;
}

}  // namespace

HttpProxy::HttpProxy(HttpProxyOptions options)
    : options_(std::move(options)), server_(ProxyScript(), Args(options_, dir_.Path())) {}

std::string HttpProxy::Url(bool with_credentials) const {
    std::string credentials;
    if (with_credentials)
        credentials = PercentEncoded(options_.user) + ":" + PercentEncoded(options_.password) + "@";
    return "http://" + credentials + "127.0.0.1:" + std::to_string(Port());
}

std::vector<std::string> HttpProxy::Requests() const {
    std::string log = ReadWholeFile(dir_.File("requests"));
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(log.substr(start, end - start));
    return lines;
}

std::string HttpProxy::Error() const {
    return ReadWholeFile(dir_.File("error"));
}
