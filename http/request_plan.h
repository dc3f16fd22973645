// The request a fetch sends for a URL, planned before any traffic.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where a fetch connects and the exact bytes it sends.
struct HttpRequestPlan {
    std::string host;     // as written in the URL, user information skipped, IPv6 brackets removed
    int port = 80;        // the URL's own, else the scheme's
    bool secure = false;  // https: TLS over the connection
    std::string
        authority;  // the Host header's value: the host as written, ":<port>" unless the scheme's
    std::string request;
};

// The plan for fetching url: "GET /<path> HTTP/1.1", "Accept: */*", the Host
// header (the host as written, plus ":<port>" unless the port is the scheme's
// default), "User-Agent: Tavimor/<version>" and "Connection: close", each ended
// by CR LF, then an empty line. The path is everything after the authority
// but its leading "/", query and fragment included, with every byte below
// 0x21, 0x7F and every byte of 0x80 and above written as %XX. Nothing when the
// scheme is not http or https (any letter case), the host is empty or holds a
// byte below 0x21, 0x7F or 0x80 and above, or the port is not 1 to 65535
// (HttpPortOf).
std::optional<HttpRequestPlan> PlanHttpRequest(std::string_view url);

// Adds lines, each ended by CR LF, to the plan's request, before the empty line
// that ends it.
void AddHeaderLines(HttpRequestPlan& plan, std::string_view lines);

// The header line that sends url's user information ("user:password", each
// part percent-decoded) as Basic credentials, ended by CR LF; "" when url has
// none. A link's are sent only to its own origin (OriginOf).
std::string AuthorizationLine(std::string_view url, std::string_view header = "Authorization");

// The plan's request as a proxy takes it: its target in absolute form
// ("GET http://host:port/path HTTP/1.1").
void UseAbsoluteForm(HttpRequestPlan& plan);

// The scheme, host and port url reaches, as one text ("https://h:443", the
// scheme and host in lower case): two URLs share an origin when these agree.
// "" for a URL with no plan.
std::string OriginOf(std::string_view url);
