// Where a redirect leads. The reference is resolved strictly by RFC 3986
// (section 5.2), and its authority read as the fetch reads a link's.
#include "http/location.h"

#include <algorithm>
#include <cstddef>

#include "http/url.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// A URI reference in its five parts. A missing part differs from an empty
// one: "?" alone replaces the base's query with an empty one.
struct Parts {
    std::optional<std::string_view> scheme;
    std::optional<std::string_view> authority;
    std::string path;
    std::optional<std::string_view> query;
    std::optional<std::string_view> fragment;
};

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Takes text up to the first of delimiters (or all of it) off the front of text.
std::string_view TakeUntil(std::string_view& text, std::string_view delimiters) {
    std::size_t end = std::min(text.find_first_of(delimiters), text.size());
    std::string_view taken = text.substr(0, end);
    text.remove_prefix(end);
    return taken;
}

// Any ":" before the first "/", "?" or "#" ends a scheme, so "mailto:x" and
// ":x" are never read as relative paths on the same host.
Parts Split(std::string_view text) {
    Parts parts;
    std::size_t colon = text.find(':');
    if (colon != npos && colon < text.find_first_of("/?#")) {
        parts.scheme = text.substr(0, colon);
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        parts.authority = TakeUntil(text, "/?#");
    }
    parts.path = TakeUntil(text, "?#");
    if (text.starts_with('?')) {
        text.remove_prefix(1);
        parts.query = TakeUntil(text, "#");
    }
    if (text.starts_with('#')) parts.fragment = text.substr(1);
    return parts;
}

void DropLastSegment(std::string& output) {
    std::size_t slash = output.rfind('/');
    output.erase(slash == npos ? 0 : slash);
}

// RFC 3986, 5.2.4, for a path that starts with "/", as every path under an
// authority does: its steps for a leading "." or ".." segment never apply.
std::string RemoveDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? "/" : input.substr(3);
            DropLastSegment(output);
        } else {
            std::size_t end = std::min(input.find('/', 1), input.size());
            output += input.substr(0, end);
            input.remove_prefix(end);
        }
    }
    return output;
}

// RFC 3986, 5.2.3.
std::string Merge(const Parts& base, std::string_view path) {
    // Built by appending: g++ 12 warns falsely (-Wrestrict) on "/" + string at -O3.
    std::string merged;
    if (base.authority && base.path.empty()) {
        merged = "/";
    } else {
        std::size_t slash = base.path.rfind('/');
        if (slash != npos) merged = base.path.substr(0, slash + 1);
    }
    merged += path;
    return merged;
}

// RFC 3986, 5.2.2, strict: a scheme in the reference is never taken for the
// base's own. Dot segments are removed from an inherited base path too, so
// that a result resolves to itself.
Parts Resolve(const Parts& base, const Parts& ref) {
    Parts target = ref;
    if (!ref.scheme) {
        target.scheme = base.scheme;
        if (!ref.authority) {
            target.authority = base.authority;
            if (ref.path.empty()) {
                target.path = base.path;
                if (!ref.query) target.query = base.query;
            } else if (!ref.path.starts_with('/')) {
                target.path = Merge(base, ref.path);
            }
        }
    }
    target.path = RemoveDotSegments(target.path);
    return target;
}

bool IsHostByte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7F && std::string_view(":/?#[]@").find(c) == npos;
}

// An IPv6 literal as the fetch's splitting keeps it whole: brackets around
// hex digits, colons and dots (an embedded IPv4 address), nothing else.
bool IsIpLiteral(std::string_view host) {
    if (host.size() < 3 || !host.starts_with('[') || !host.ends_with(']')) return false;
    return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
               c == ':' || c == '.';
    });
}

struct HostPort {
    std::string_view host;
    std::string_view port;  // digits, or "" for the scheme's own
};

// Host and port of an authority, the user information dropped: the fetch
// sends no credentials. "host", "host:port" or "host:", nothing else.
std::optional<HostPort> SplitAuthority(std::string_view authority) {
    UrlAuthority parts = ReadAuthority(authority);
    if (parts.user_info.find('@') != npos || parts.host.empty()) return std::nullopt;
    const std::string_view host = parts.host;
    if (!IsIpLiteral(host) && !std::all_of(host.begin(), host.end(), IsHostByte))
        return std::nullopt;
    // Nothing but a ":" and digits may follow the host.
    std::string_view after =
        authority.substr(static_cast<std::size_t>(host.data() + host.size() - authority.data()));
    if (after.empty()) return HostPort{host, after};
    after.remove_prefix(1);
    if (parts.port.data() != after.data() ||
        !std::all_of(after.begin(), after.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return HostPort{host, after};
}

// Path, query and fragment. An empty path is written "/", as the request has it.
std::string Tail(const Parts& target) {
    std::string tail = target.path.empty() ? "/" : target.path;
    if (target.query) (tail += '?') += *target.query;
    if (target.fragment) (tail += '#') += *target.fragment;
    return tail;
}

std::optional<HttpScheme> SchemeOf(std::optional<std::string_view> scheme) {
    if (!scheme) return std::nullopt;
    return HttpSchemeOf(std::string(*scheme) + "://");
}

// RFC 3986, 5.3.
std::optional<std::string> Compose(const Parts& target) {
    std::optional<HttpScheme> scheme = SchemeOf(target.scheme);
    if (!scheme || !target.authority) return std::nullopt;
    std::optional<HostPort> authority = SplitAuthority(*target.authority);
    if (!authority) return std::nullopt;
    std::string url = *scheme == HttpScheme::Https ? "https://" : "http://";
    url += authority->host;
    if (!authority->port.empty()) (url += ':') += authority->port;
    return url + Tail(target);
}

}  // namespace

std::optional<std::string> ResolveLocation(std::string_view base, std::string_view location) {
    location = Trim(location);
    // Past a zero byte the fetch would read no more of the URL.
    if (location.empty() || location.find('\0') != npos) return std::nullopt;
    return Compose(Resolve(Split(base.substr(0, base.find('\0'))), Split(location)));
}
