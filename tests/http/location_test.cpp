#include "http/location.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

struct Case {
    std::string base;
    std::string location;
    std::optional<std::string> expected;
};

// The examples of RFC 3986, 5.4, on an http base. Differences from the RFC's
// results are ours: an empty path is written "/", and an empty reference or
// one that is not http leads nowhere.
TEST(ResolveLocation, ResolvesTheRfcExamples) {
    const std::string base = "http://a/b/c/d;p?q";
    const Case cases[] = {
        {base, "g:h", std::nullopt},
        {base, "g", "http://a/b/c/g"},
        {base, "./g", "http://a/b/c/g"},
        {base, "g/", "http://a/b/c/g/"},
        {base, "/g", "http://a/g"},
        {base, "//g", "http://g/"},
        {base, "?y", "http://a/b/c/d;p?y"},
        {base, "g?y", "http://a/b/c/g?y"},
        {base, "#s", "http://a/b/c/d;p?q#s"},
        {base, "g#s", "http://a/b/c/g#s"},
        {base, "g?y#s", "http://a/b/c/g?y#s"},
        {base, ";x", "http://a/b/c/;x"},
        {base, "g;x", "http://a/b/c/g;x"},
        {base, "g;x?y#s", "http://a/b/c/g;x?y#s"},
        {base, "", std::nullopt},
        {base, ".", "http://a/b/c/"},
        {base, "./", "http://a/b/c/"},
        {base, "..", "http://a/b/"},
        {base, "../", "http://a/b/"},
        {base, "../g", "http://a/b/g"},
        {base, "../..", "http://a/"},
        {base, "../../", "http://a/"},
        {base, "../../g", "http://a/g"},
        {base, "../../../g", "http://a/g"},
        {base, "../../../../g", "http://a/g"},
        {base, "/./g", "http://a/g"},
        {base, "/../g", "http://a/g"},
        {base, "g.", "http://a/b/c/g."},
        {base, ".g", "http://a/b/c/.g"},
        {base, "g..", "http://a/b/c/g.."},
        {base, "..g", "http://a/b/c/..g"},
        {base, "./../g", "http://a/b/g"},
        {base, "./g/.", "http://a/b/c/g/"},
        {base, "g/./h", "http://a/b/c/g/h"},
        {base, "g/../h", "http://a/b/c/h"},
        {base, "g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {base, "g;x=1/../y", "http://a/b/c/y"},
        {base, "g?y/./x", "http://a/b/c/g?y/./x"},
        {base, "g?y/../x", "http://a/b/c/g?y/../x"},
        {base, "g#s/./x", "http://a/b/c/g#s/./x"},
        {base, "g#s/../x", "http://a/b/c/g#s/../x"},
        // Strict: a scheme in the reference is never the base's own.
        {base, "http:g", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveLocation(c.base, c.location), c.expected) << c.location;
}

// What the fetch meets: scheme changes, hosts in every form, and Locations
// that must lead nowhere.
TEST(ResolveLocation, GivesOnlyUrlsTheFetchReadsBack) {
    const std::string base = "http://a/b/c";
    const Case cases[] = {
        {base, "https://s.example/f.zip", "https://s.example/f.zip"},
        {"https://a/b", "//cdn.example/x?y", "https://cdn.example/x?y"},
        {base, "HTTPS://Host.Example/F", "https://Host.Example/F"},
        {base, " \tg \t", "http://a/b/g"},
        {"http://a", "?y", "http://a/?y"},
        {"http://a/b/./c/../d?q", "#f", "http://a/b/d?q#f"},
        // The base is read by RFC 3986, not by the fetch's splitting.
        {"http://h?x=1", "g", "http://h/g"},
        {"http://h/m@x/f", "g", "http://h/m@x/g"},
        {"http://a/b\0/c"s, "g", "http://a/g"},
        {"a/b", "g", std::nullopt},
        // IPv6 literals and ports.
        {"http://[::1]:8080/d/f", "g", "http://[::1]:8080/d/g"},
        {base, "//[2001:db8::7]:81/x", "http://[2001:db8::7]:81/x"},
        {base, "http://[::ffff:10.0.0.1]/", "http://[::ffff:10.0.0.1]/"},
        {base, "http://h:/x", "http://h/x"},
        {base, "/t?at=12:30", "http://a/t?at=12:30"},
        {"https://[::1]/x", "File:F.jpg", std::nullopt},
        {"https://[::1]/x", "./File:F.jpg", "https://[::1]/File:F.jpg"},
        {"http://a:8080/x", "#at:1", "http://a:8080/x#at:1"},
        {base, "http://[::1/x", std::nullopt},
        {base, "http://[::1]80/", std::nullopt},
        {base, "http://[::g]/", std::nullopt},
        {base, "http://h:8x/", std::nullopt},
        {base, "http://h:1:2/", std::nullopt},
        // Credentials are dropped.
        {base, "http://good.example@evil.example/x", "http://evil.example/x"},
        {"http://u:p@h/d/f", "g", "http://h/d/g"},
        {base, "http://a@b@c/", std::nullopt},
        {base, "/@user/f?m=a@b#c@d", "http://a/@user/f?m=a@b#c@d"},
        // The fetch escapes the path itself.
        {base, "/dir name/caf\xC3\xA9?q=1 2", "http://a/dir name/caf\xC3\xA9?q=1 2"},
        // Other schemes, and nothing at all.
        {base, "ftp://a/f", std::nullopt},
        {base, "mailto:u@a", std::nullopt},
        {base, "javascript:alert(1)", std::nullopt},
        {base, "httpx://a/", std::nullopt},
        {base, "https:/x", std::nullopt},
        {base, ":g", std::nullopt},
        {base, " \t ", std::nullopt},
        // Hostile hosts.
        {base, "http://", std::nullopt},
        {base, "http:///x", std::nullopt},
        {base, "http://@/x", std::nullopt},
        {base, "http://h\x01/x", std::nullopt},
        {base, "http://h\r\nX-Injected: 1/x", std::nullopt},
        {base, "http://h\x7F/x", std::nullopt},
        {base, "http://a b/x", std::nullopt},
        {base, "http://h[1]/x", std::nullopt},
        {base, "g\0h"s, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveLocation(c.base, c.location), c.expected) << c.base << " " << c.location;
}

}  // namespace
