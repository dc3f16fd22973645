// Proxies: where the environment (as curl and wget read it) or, on Windows,
// the user's own setting says a link must go through one. Automatic
// configuration scripts are not read.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What names the proxies of this process.
struct ProxySettings {
    std::string http;      // the proxy URL for plain links; "" for none
    std::string https;     // the proxy URL for https links; "" for none
    std::string no_proxy;  // the exemptions as the variables write them
    // The exemptions of the user's Windows setting: patterns where "*" stands
    // for any text, and "<local>" for every name without a dot.
    std::vector<std::string> bypass;
};

// The settings the environment names, read by variable (its value, or nothing
// when unset): http_proxy (lower case alone, as curl reads it, since a CGI
// server sets HTTP_PROXY from a request's header) for plain links,
// https_proxy or HTTPS_PROXY for https links, all_proxy or ALL_PROXY for
// either when those are unset, no_proxy or NO_PROXY for the exemptions. A
// variable set to "" counts as unset.
ProxySettings ProxySettingsFrom(
    const std::function<std::optional<std::string>(const char*)>& variable);

// The settings of the user's Windows proxy setting: proxy as Windows writes it
// ("host:port" for every scheme, or "http=host:port;https=host:port"), and its
// exemptions separated by ";" or blanks.
ProxySettings ProxySettingsFromSystem(std::string_view proxy, std::string_view bypass);

// The user's own proxy setting, where the system has one (Windows; neither
// its automatic script nor detection); nothing on Linux, where the
// environment is the setting. In the platform's network file.
std::optional<ProxySettings> SystemProxySettings();

// The settings a fetch uses: the environment's when it names any proxy, else
// the user's system setting (on Windows), else none.
ProxySettings CurrentProxySettings();

// Whether the no_proxy list exempts host (no brackets around an IPv6 literal):
// a comma list, blanks trimmed; "*" exempts every host, an IP literal only
// itself, and a name (with or without a leading dot) itself and every name
// that ends in "." and it. Letter case is ignored.
bool NoProxyExempts(std::string_view list, std::string_view host);

// Whether a Windows exemption pattern list exempts host.
bool BypassExempts(const std::vector<std::string>& patterns, std::string_view host);

// One proxy server as a fetch reaches it.
struct ProxyServer {
    std::string host;  // brackets of an IPv6 literal removed
    int port = 1080;   // curl's when the URL names none
    // "Proxy-Authorization: Basic ...\r\n" from the URL's user information, or "".
    std::string authorization;
};

// How a link is reached.
struct ProxyRoute {
    std::optional<ProxyServer> proxy;  // nothing: directly
    // The scheme of a proxy URL that cannot be used ("socks5"): the fetch
    // fails rather than going direct.
    std::string unsupported;
};

// The route to url under settings.
ProxyRoute RouteFor(const ProxySettings& settings, std::string_view url);
