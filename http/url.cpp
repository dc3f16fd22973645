#include "http/url.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::string_view AsText(std::string_view url) {
    return url.substr(0, url.find('\0'));
}

std::string Between(std::string_view url, std::size_t start, std::size_t end) {
    if (end == npos) end = url.size();
    if (start >= end) return {};
    return std::string(url.substr(start, end - start));
}

// An absolute URL's pieces, as views into it (RFC 3986, 3.2): the authority
// runs from "://" to the first "/", "?" or "#" after it, and user information,
// host and port are read inside it alone, whatever the rest holds.
struct Pieces {
    std::string_view scheme;
    UrlAuthority authority;
    std::string_view rest;  // from the end of the authority: path, query, fragment
};

std::optional<Pieces> SplitAbsolute(std::string_view url) {
    std::size_t marker = url.find("://");
    if (marker == npos) return std::nullopt;
    std::size_t start = marker + 3;
    std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    return Pieces{url.substr(0, marker), ReadAuthority(url.substr(start, end - start)),
                  url.substr(end)};
}

std::string UserName(const UrlAuthority& authority) {
    return std::string(authority.user_info.substr(0, authority.user_info.find(':')));
}

std::string Password(const UrlAuthority& authority) {
    std::size_t colon = authority.user_info.find(':');
    return colon == npos ? std::string() : std::string(authority.user_info.substr(colon + 1));
}

// No leading "/" and no query; a fragment stays when no "?" comes before it.
std::string Path(std::string_view rest) {
    if (!rest.starts_with('/')) return {};
    return Between(rest, 1, rest.find('?', 1));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::size_t SkipAmpersands(std::string_view url, std::size_t pos) {
    while (pos < url.size() && url[pos] == '&')
        ++pos;
    return pos;
}

// The first pair whose name matches wins; only the last pair's value is cut at "#".
std::string QueryParameter(std::string_view url, std::string_view name) {
    std::size_t question = url.find('?');
    if (question == npos) return {};
    std::size_t pos = SkipAmpersands(url, question + 1);
    std::size_t value = npos;
    for (;;) {
        std::size_t equals = url.find('=', pos);
        if (equals == npos) return {};
        if (SameIgnoringCase(url.substr(pos, equals - pos), name)) value = equals + 1;
        std::size_t amp = url.find('&', equals + 1);
        if (amp == npos) break;
        if (value != npos) return Between(url, value, amp);
        pos = SkipAmpersands(url, amp);
    }
    if (value == npos) return {};
    return Between(url, value, url.find('#', value));
}

}  // namespace

std::string UrlPart(std::string_view url, std::string_view selector) {
    url = AsText(url);
    if (selector == "/PM/") {
        std::size_t question = url.find('?');
        return question == npos ? std::string()
                                : Between(url, question + 1, url.find('#', question + 1));
    }
    if (selector == "/AN/") {
        std::size_t hash = url.find('#');
        return hash == npos ? std::string() : Between(url, hash + 1, npos);
    }
    bool needs_authority = selector == "/PC/" || selector == "/WS/" || selector == "/PO/" ||
                           selector == "/US/" || selector == "/PS/" || selector == "/PT/";
    if (!needs_authority) return QueryParameter(url, selector);
    std::optional<Pieces> pieces = SplitAbsolute(url);
    if (!pieces) return {};
    if (selector == "/PC/") return std::string(pieces->scheme);
    if (selector == "/WS/") return std::string(pieces->authority.host);
    if (selector == "/PO/") return std::string(pieces->authority.port);
    if (selector == "/US/") return UserName(pieces->authority);
    if (selector == "/PS/") return Password(pieces->authority);
    return Path(pieces->rest);
}

UrlAuthority ReadAuthority(std::string_view authority) {
    UrlAuthority parts;
    std::size_t at = authority.rfind('@');
    if (at != npos) {
        parts.user_info = authority.substr(0, at);
        parts.has_user_info = true;
        authority.remove_prefix(at + 1);
    }
    // An IPv6 literal keeps its colons: the host runs to its "]".
    std::size_t close = authority.starts_with('[') ? authority.find(']') : npos;
    std::size_t host_end =
        close != npos ? close + 1 : std::min(authority.find(':'), authority.size());
    parts.host = authority.substr(0, host_end);
    std::size_t colon = authority.find(':', host_end);
    if (colon != npos) parts.port = authority.substr(colon + 1);
    return parts;
}

std::optional<std::string> HttpUrlField(std::string_view url, HttpField field) {
    std::optional<Pieces> pieces = SplitAbsolute(AsText(url));
    if (!pieces) return std::nullopt;
    std::string_view text;
    switch (field) {
        case HttpField::Host:
            text = pieces->authority.host;
            break;
        case HttpField::Port:
            text = pieces->authority.port;
            break;
        case HttpField::PathWithQuery:
            text = pieces->rest.substr(pieces->rest.starts_with('/') ? 1 : 0);
            break;
    }
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

std::string WithoutUserInfo(std::string_view url) {
    url = AsText(url);
    std::optional<Pieces> pieces = SplitAbsolute(url);
    if (!pieces || !pieces->authority.has_user_info) return std::string(url);
    const UrlAuthority& authority = pieces->authority;
    auto start = static_cast<std::size_t>(authority.user_info.data() - url.data());
    return std::string(url.substr(0, start)) +
           std::string(url.substr(start + authority.user_info.size() + 1));
}

std::optional<int> HttpPortOf(std::string_view url) {
    std::optional<HttpScheme> scheme = HttpSchemeOf(url);
    std::optional<std::string> text = HttpUrlField(url, HttpField::Port);
    if (!scheme) return std::nullopt;
    if (!text) return DefaultPort(*scheme);
    if (text->size() > 5 || text->find_first_not_of("0123456789") != npos) return std::nullopt;
    int port = std::stoi(*text);
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::optional<HttpScheme> HttpSchemeOf(std::string_view url) {
    url = AsText(url);
    std::size_t marker = url.find("://");
    if (marker == npos) return std::nullopt;
    std::string_view scheme = url.substr(0, marker);
    if (SameIgnoringCase(scheme, "http")) return HttpScheme::Http;
    if (SameIgnoringCase(scheme, "https")) return HttpScheme::Https;
    return std::nullopt;
}

int DefaultPort(HttpScheme scheme) {
    return scheme == HttpScheme::Https ? 443 : 80;
}
