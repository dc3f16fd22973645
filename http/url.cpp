#include "http/url.h"

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

// Where the authority starts (just after "://"); npos without "://".
std::size_t AuthorityStart(std::string_view url) {
    std::size_t marker = url.find("://");
    return marker == npos ? npos : marker + 3;
}

// The host start: after the user information, which is recognised by an "@"
// anywhere in the rest of the URL, path included.
std::size_t HostStart(std::string_view url, std::size_t authority) {
    std::size_t at = url.find('@', authority);
    return at == npos ? authority : at + 1;
}

// Where the search for the end of the host begins: an IPv6 literal ("[" up to
// the first "]", before any "/") keeps its colons.
std::size_t HostScanStart(std::string_view url, std::size_t start) {
    if (start >= url.size() || url[start] != '[') return start;
    std::size_t close = url.find(']', start);
    std::size_t slash = url.find('/', start);
    return close != npos && (slash == npos || close < slash) ? close + 1 : start;
}

std::string Host(std::string_view url, std::size_t authority) {
    std::size_t start = HostStart(url, authority);
    std::size_t from = HostScanStart(url, start);
    std::size_t colon = url.find(':', from);
    std::size_t slash = url.find('/', from);
    std::size_t end = (colon != npos && (slash == npos || colon < slash)) ? colon : slash;
    return Between(url, start, end);
}

std::string Port(std::string_view url, std::size_t authority) {
    std::size_t start = HostStart(url, authority);
    std::size_t colon = url.find(':', HostScanStart(url, start));
    if (colon == npos) return {};
    return Between(url, colon + 1, url.find('/', colon + 1));
}

std::string UserName(std::string_view url, std::size_t authority) {
    std::size_t at = url.find('@', authority);
    if (at == npos) return {};
    std::size_t colon = url.find(':', authority);
    return Between(url, authority, colon != npos && colon < at ? colon : at);
}

std::string Password(std::string_view url, std::size_t authority) {
    std::size_t at = url.find('@', authority);
    std::size_t colon = url.find(':', authority);
    if (at == npos || colon == npos || colon > at) return {};
    return Between(url, colon + 1, at);
}

std::string Path(std::string_view url, std::size_t authority) {
    std::size_t slash = url.find('/', authority);
    if (slash == npos) return {};
    return Between(url, slash + 1, url.find('?', slash + 1));
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
    std::size_t authority = AuthorityStart(url);
    bool needs_authority = selector == "/PC/" || selector == "/WS/" || selector == "/PO/" ||
                           selector == "/US/" || selector == "/PS/" || selector == "/PT/";
    if (!needs_authority) return QueryParameter(url, selector);
    if (authority == npos) return {};
    if (selector == "/PC/") return Between(url, 0, authority - 3);
    if (selector == "/WS/") return Host(url, authority);
    if (selector == "/PO/") return Port(url, authority);
    if (selector == "/US/") return UserName(url, authority);
    if (selector == "/PS/") return Password(url, authority);
    return Path(url, authority);
}

std::optional<std::string> HttpUrlField(std::string_view url, HttpField field) {
    url = AsText(url);
    std::size_t authority = AuthorityStart(url);
    if (authority == npos) return std::nullopt;
    std::string text;
    switch (field) {
        case HttpField::Host:
            text = Host(url, authority);
            break;
        case HttpField::Port:
            text = Port(url, authority);
            break;
        case HttpField::PathWithQuery: {
            std::size_t slash = url.find('/', authority);
            if (slash != npos) text = Between(url, slash + 1, npos);
            break;
        }
    }
    if (text.empty()) return std::nullopt;
    return text;
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
