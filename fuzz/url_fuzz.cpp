// URL splitting and the request plan with arbitrary URLs and selectors.
// Input: one byte k; k % 16 below 8 picks one of the eight part selectors,
// otherwise the next k % 16 - 8 bytes are a parameter name; the rest is the URL.
// Every part must be a piece of the URL, the fetch's fields must agree with
// the parts, and a planned request must hold exactly its fixed lines: no URL
// may add a line, a header or a byte outside printable ASCII.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/request_plan.h"
#include "http/url.h"
#include "tavimor_version.h"

namespace {

constexpr std::array<std::string_view, 8> Selectors = {"/PC/", "/WS/", "/PO/", "/US/",
                                                       "/PS/", "/PM/", "/AN/", "/PT/"};

bool IsUnsafe(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x21 || byte >= 0x7F;
}

bool Contains(std::string_view text, char c) {
    return text.find(c) != text.npos;
}

void CheckPart(std::string_view url, std::string_view selector) {
    std::string part = UrlPart(url, selector);
    FUZZ_CHECK(!Contains(part, '\0'));
    FUZZ_CHECK(url.find(part) != url.npos);
    // Only an IPv6 literal in brackets keeps colons in the host, inside them.
    if (selector == "/WS/") {
        std::size_t close = part.starts_with('[') ? part.find(']') : part.npos;
        std::size_t colon = part.find(':', close == part.npos ? 0 : close);
        FUZZ_CHECK(!Contains(part, '/') && colon == part.npos);
    }
    // The authority's parts end before its first "/", "?" or "#"; a host never
    // holds an "@".
    bool in_authority =
        selector == "/WS/" || selector == "/PO/" || selector == "/US/" || selector == "/PS/";
    if (in_authority) FUZZ_CHECK(part.find_first_of("/?#") == part.npos);
    if (selector == "/WS/" || selector == "/PO/") FUZZ_CHECK(!Contains(part, '@'));
    if (selector == "/PM/") FUZZ_CHECK(!Contains(part, '#'));
    if (selector == "/PT/") FUZZ_CHECK(!Contains(part, '?'));
    if (selector == "/AN/" && !part.empty()) FUZZ_CHECK(url.ends_with("#" + part));
    if (selector == "/PC/" && !part.empty()) FUZZ_CHECK(url.starts_with(part + "://"));
    bool fixed = false;
    for (std::string_view s : Selectors)
        fixed = fixed || s == selector;
    if (!fixed) FUZZ_CHECK(!Contains(part, '&'));
}

// The fetch's fields are the parts, only missing rather than empty.
void CheckFields(std::string_view url) {
    const std::pair<HttpField, std::string_view> same[] = {{HttpField::Host, "/WS/"},
                                                           {HttpField::Port, "/PO/"}};
    for (const auto& [field, selector] : same) {
        std::string part = UrlPart(url, selector);
        FUZZ_CHECK(HttpUrlField(url, field) ==
                   (part.empty() ? std::nullopt : std::optional<std::string>(part)));
    }
    std::optional<std::string> target = HttpUrlField(url, HttpField::PathWithQuery);
    std::string path = UrlPart(url, "/PT/");
    if (!path.empty()) FUZZ_CHECK(target.has_value());
    if (target) FUZZ_CHECK(!target->empty() && target->starts_with(path) && url.ends_with(*target));
}

// The request target as it must be sent: unsafe bytes as %XX, others as they are.
bool IsEscapedForm(std::string_view sent, std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::size_t at = 0;
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        std::string expected =
            IsUnsafe(c) ? std::string{'%', hex[byte >> 4], hex[byte & 15]} : std::string(1, c);
        if (sent.substr(at, expected.size()) != expected) return false;
        at += expected.size();
    }
    return at == sent.size();
}

void CheckPlan(std::string_view url) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    std::optional<HttpScheme> scheme = HttpSchemeOf(url);
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    if (!plan) {
        FUZZ_CHECK(!scheme || !host || std::any_of(host->begin(), host->end(), IsUnsafe) ||
                   !HttpPortOf(url));
        return;
    }
    FUZZ_CHECK(scheme && host);
    bool literal = host->size() > 2 && host->front() == '[' && host->back() == ']';
    FUZZ_CHECK(plan->host == (literal ? host->substr(1, host->size() - 2) : *host));
    FUZZ_CHECK(std::none_of(plan->host.begin(), plan->host.end(), IsUnsafe));
    FUZZ_CHECK(plan->secure == (*scheme == HttpScheme::Https));
    FUZZ_CHECK(plan->port >= 1 && plan->port <= 65535 && plan->port == HttpPortOf(url));
    FUZZ_CHECK(HttpUrlField(url, HttpField::Port) || plan->port == DefaultPort(*scheme));
    std::string host_line = *host;
    if (plan->port != DefaultPort(*scheme)) host_line += ":" + std::to_string(plan->port);
    const std::string head = "GET /";
    const std::string tail = " HTTP/1.1\r\nAccept: */*\r\nHost: " + host_line +
                             "\r\nUser-Agent: Tavimor/" TAVIMOR_VERSION
                             "\r\nConnection: close\r\n\r\n";
    const std::string& request = plan->request;
    FUZZ_CHECK(request.starts_with(head) && request.ends_with(tail) &&
               request.size() >= head.size() + tail.size());
    std::string_view sent(request.data() + head.size(), request.size() - head.size() - tail.size());
    FUZZ_CHECK(std::none_of(sent.begin(), sent.end(), IsUnsafe));
    FUZZ_CHECK(IsEscapedForm(sent, HttpUrlField(url, HttpField::PathWithQuery).value_or("")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) return 0;
    std::size_t k = static_cast<unsigned char>(input[0]) % 16;
    input.remove_prefix(1);
    std::string_view selector = k < 8 ? Selectors[k] : input.substr(0, k - 8);
    if (k >= 8) input.remove_prefix(selector.size());
    std::string_view url = input;
    std::string_view text = url.substr(0, url.find('\0'));

    CheckPart(text, selector);
    FUZZ_CHECK(UrlPart(url, selector) == UrlPart(text, selector));
    for (std::string_view s : Selectors)
        CheckPart(text, s);
    CheckFields(text);
    FUZZ_CHECK(HttpUrlField(url, HttpField::PathWithQuery) ==
               HttpUrlField(text, HttpField::PathWithQuery));
    CheckPlan(url);
    FUZZ_CHECK(PlanHttpRequest(text).has_value() == PlanHttpRequest(url).has_value());
    return 0;
}
