#include "http/proxy.h"

#include <algorithm>
#include <cstdlib>

#include "http/request_plan.h"
#include "http/url.h"
#include "runtime/text.h"

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// The pieces of text between separators, blanks trimmed, empty ones left out.
std::vector<std::string_view> Items(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> items;
    while (!text.empty()) {
        std::size_t end = std::min(text.find_first_of(separators), text.size());
        if (std::string_view item = Trim(text.substr(0, end)); !item.empty()) items.push_back(item);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return items;
}

std::string WithoutBrackets(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return std::string(host);
}

bool IsAddressLiteral(std::string_view host) {
    return host.find(':') != std::string_view::npos ||
           host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// "*" matches any text, everything else itself; letter case was made alike.
bool Matches(std::string_view pattern, std::string_view text) {
    std::size_t star = pattern.find('*');
    if (star == std::string_view::npos) return pattern == text;
    if (!text.starts_with(pattern.substr(0, star))) return false;
    std::string_view rest = pattern.substr(star + 1);
    for (std::size_t from = star; from <= text.size(); ++from) {
        if (Matches(rest, text.substr(from))) return true;
    }
    return false;
}

std::optional<std::string> FirstSet(
    const std::function<std::optional<std::string>(const char*)>& variable,
    std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::optional<std::string> value = variable(name);
        if (value && !Trim(*value).empty()) return std::string(Trim(*value));
    }
    return std::nullopt;
}

}  // namespace

ProxySettings ProxySettingsFrom(
    const std::function<std::optional<std::string>(const char*)>& variable) {
    ProxySettings settings;
    std::string all = FirstSet(variable, {"all_proxy", "ALL_PROXY"}).value_or("");
    settings.http = FirstSet(variable, {"http_proxy"}).value_or(all);
    settings.https = FirstSet(variable, {"https_proxy", "HTTPS_PROXY"}).value_or(all);
    settings.no_proxy = FirstSet(variable, {"no_proxy", "NO_PROXY"}).value_or("");
    return settings;
}

ProxySettings ProxySettingsFromSystem(std::string_view proxy, std::string_view bypass) {
    ProxySettings settings;
    if (proxy.find('=') == std::string_view::npos) {
        settings.http = settings.https = std::string(Trim(proxy));
    } else {
        for (std::string_view item : Items(proxy, "; \t")) {
            std::size_t equals = item.find('=');
            std::string scheme = LowerText(item.substr(0, std::min(equals, item.size())));
            std::string server(equals == std::string_view::npos ? "" : item.substr(equals + 1));
            if (scheme == "http") settings.http = server;
            if (scheme == "https") settings.https = server;
        }
    }
    for (std::string_view item : Items(bypass, "; \t\r\n"))
        settings.bypass.emplace_back(item);
    return settings;
}

ProxySettings CurrentProxySettings() {
    ProxySettings settings = ProxySettingsFrom([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
    if (!settings.http.empty() || !settings.https.empty()) return settings;
    return SystemProxySettings().value_or(ProxySettings{});
}

bool NoProxyExempts(std::string_view list, std::string_view host) {
    const std::string name = LowerText(WithoutBrackets(host));
    for (std::string_view item : Items(list, ",")) {
        if (item == "*") return true;
        std::string entry = LowerText(WithoutBrackets(item));
        if (entry.starts_with('.')) entry.erase(0, 1);
        if (entry.empty()) continue;
        if (name == entry) return true;
        if (!IsAddressLiteral(name) && name.ends_with("." + entry)) return true;
    }
    return false;
}

bool BypassExempts(const std::vector<std::string>& patterns, std::string_view host) {
    const std::string name = LowerText(WithoutBrackets(host));
    for (const std::string& pattern : patterns) {
        std::string entry = LowerText(pattern);
        if (entry == "<local>") {
            if (name.find('.') == std::string::npos && name.find(':') == std::string::npos)
                return true;
            continue;
        }
        if (std::size_t scheme = entry.find("://"); scheme != std::string::npos)
            entry.erase(0, scheme + 3);
        if (Matches(entry, name)) return true;
    }
    return false;
}

ProxyRoute RouteFor(const ProxySettings& settings, std::string_view url) {
    ProxyRoute route;
    std::optional<HttpScheme> scheme = HttpSchemeOf(url);
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    if (!scheme || !host) return route;
    std::string proxy = *scheme == HttpScheme::Https ? settings.https : settings.http;
    if (proxy.empty() || NoProxyExempts(settings.no_proxy, *host) ||
        BypassExempts(settings.bypass, *host))
        return route;
    // A proxy named without a scheme is an http one, as curl takes it.
    std::size_t marker = proxy.find("://");
    if (marker == std::string::npos) {
        proxy = "http://" + proxy;
    } else if (LowerText(proxy.substr(0, marker)) != "http") {
        route.unsupported = proxy.substr(0, marker);
        return route;
    }
    ProxyServer server;
    server.host = WithoutBrackets(HttpUrlField(proxy, HttpField::Host).value_or(""));
    // Without a port of its own a proxy is at curl's 1080; a port that is no
    // port leaves none to reach.
    server.port = HttpUrlField(proxy, HttpField::Port) ? HttpPortOf(proxy).value_or(0) : 1080;
    server.authorization = AuthorizationLine(proxy, "Proxy-Authorization");
    route.proxy = server;
    return route;
}
