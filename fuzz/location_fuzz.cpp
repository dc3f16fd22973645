// Redirect resolution with arbitrary base URLs and Location values.
// Input: the base URL, then a zero byte or a line break, then the Location.
// A resolved URL must be one the fetch's splitting reads back exactly: an
// http or https scheme, then the host and port it finds and nothing else up to
// the path, no user information, the Location's own fragment, and the
// same URL again when it is resolved as a reference of its own.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/location.h"
#include "http/url.h"

namespace {

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == text.npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

void CheckReadBack(const std::string& url) {
    FUZZ_CHECK(HttpSchemeOf(url).has_value());
    FUZZ_CHECK(url.starts_with("http://") || url.starts_with("https://"));
    FUZZ_CHECK(url.find('\0') == url.npos);
    std::size_t start = url.find("://") + 3;
    std::size_t slash = url.find('/', start);
    FUZZ_CHECK(slash != url.npos);
    std::string_view authority = std::string_view(url).substr(start, slash - start);
    FUZZ_CHECK(std::none_of(authority.begin(), authority.end(), IsControl));
    FUZZ_CHECK(authority.find_first_of("@?#") == authority.npos);
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    std::optional<std::string> port = HttpUrlField(url, HttpField::Port);
    FUZZ_CHECK(host && !host->empty());
    FUZZ_CHECK(authority == *host + (port ? ":" + *port : ""));
}

void CheckFragment(const std::string& url, std::string_view location) {
    std::size_t hash = location.find('#');
    if (hash == location.npos) {
        FUZZ_CHECK(url.find('#') == url.npos);
        return;
    }
    FUZZ_CHECK(url.substr(url.find('#') + 1) == location.substr(hash + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = std::min(input.find_first_of(std::string_view("\0\n", 2)), input.size());
    std::string_view base = input.substr(0, cut);
    std::string_view location = input.substr(std::min(cut + 1, input.size()));

    std::optional<std::string> url = ResolveLocation(base, location);
    if (Trim(location).empty()) FUZZ_CHECK(!url);
    if (!url) return 0;
    CheckReadBack(*url);
    CheckFragment(*url, Trim(location));
    // An absolute URL stands for itself, whatever it is read against.
    FUZZ_CHECK(ResolveLocation(*url, *url) == url);
    FUZZ_CHECK(ResolveLocation("", *url) == url);
    // Our own result read as a base: a fragment alone keeps all the rest.
    std::string without_fragment = url->substr(0, url->find('#'));
    FUZZ_CHECK(ResolveLocation(*url, "#f") == without_fragment + "#f");
    return 0;
}
