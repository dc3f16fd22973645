#include "http/url.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

TEST(UrlPart, FollowsTheTextualScanningRules) {
    const std::string full = "http://u:p@h:8080/d/f.zip?a=1&b=2#top";
    const struct {
        std::string url;
        const char* selector;
        const char* expected;
    } cases[] = {
        {full, "/PC/", "http"},
        {full, "/US/", "u"},
        {full, "/PS/", "p"},
        {full, "/WS/", "h"},
        {full, "/PO/", "8080"},
        {full, "/PT/", "d/f.zip"},
        {full, "/PM/", "a=1&b=2"},
        {full, "/AN/", "top"},
        {full, "B", "2"},
        {full, "c", ""},
        {full, "/pt/", ""},
        // Without "://" only the query, the fragment and parameters are found.
        {"u@h:1/f?a=1#t", "/WS/", ""},
        {"u@h:1/f?a=1#t", "a", "1"},
        {"u@h:1/f?a=1#t", "/AN/", "t"},
        // The path: no leading "/", no query, but a fragment when there is no "?".
        {"http://h", "/PT/", ""},
        {"http://h/dir/", "/PT/", "dir/"},
        {"http://h/f#x", "/PT/", "f#x"},
        {"http://h/get.php?id=5", "/PT/", "get.php"},
        // User information, host and port lie inside the authority alone, which
        // ends at the first "/", "?" or "#"; its last "@" ends user information.
        {"http://h/a:b/c", "/PO/", ""},
        {"http://h/m@x/f", "/WS/", "h"},
        {"http://h/m@x/f", "/US/", ""},
        {"http://u@h/f", "/PS/", ""},
        {"http://u:p@ss@h:1/f", "/PS/", "p@ss"},
        {"http://u:p@ss@h:1/f", "/WS/", "h"},
        {"http://h?x=1", "/WS/", "h"},
        {"http://h?x=1", "/PT/", ""},
        {"http://h#a:1", "/PO/", ""},
        // Query and fragment are searched from the start of the URL.
        {"http://h/a#b?c", "/PM/", "c"},
        {"http://h/a#b?c", "/AN/", "b?c"},
        // Parameters: the first match wins; only the last value ends at "#".
        {"http://h/?&&a=1&&b=2", "b", "2"},
        {"http://h/?a=1&a=2", "a", "1"},
        {"http://h/?id=5#top", "ID", "5"},
        {"http://h/?id=5#t&x=1", "id", "5#t"},
        {"http://h/?=v", "", "v"},
        // A URL is a text that ends at its first zero byte.
        {"http://h/a\0b/c"s, "/PT/", "a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlPart(c.url, c.selector), c.expected) << c.url << " " << c.selector;
    }
}

}  // namespace
