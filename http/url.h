// URL splitting: purely textual, nothing is validated, decoded or normalised.
// Every search is a case-sensitive search for the first occurrence of its
// delimiter. A URL is a text that ends at its first zero byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// One part of url, chosen by selector:
//   "/PC/" scheme        text before the first "://"
//   "/WS/" host          after "://" and after the first "@" anywhere in the rest;
//                        up to the first ":" or "/" after that start, or the end;
//                        a host that starts with "[" (an IPv6 literal) runs to the
//                        first "]", brackets included, so its colons are its own
//   "/PO/" port          after the first ":" that follows the host start (the "]"
//                        of an IPv6 literal); up to the next "/" or the end
//   "/US/" user name     after "://", up to the first ":" when it comes before the "@",
//                        else up to the "@"; "" without an "@" after "://"
//   "/PS/" password      after the first ":" after "://", up to the first "@" after
//                        "://"; "" without such an "@" or a ":" before it
//   "/PM/" query         after the first "?" in the URL, up to the next "#" or the end
//   "/AN/" fragment      after the first "#" in the URL
//   "/PT/" path          after the first "/" that follows "://", up to the next "?" or
//                        the end (no leading "/", no query)
// Selectors are compared exactly, letter case included ("/pt/" is not "/PT/").
// "/PC/", "/WS/", "/PO/", "/US/", "/PS/" and "/PT/" need a "://".
// Any other selector names a query parameter: the result is the value of the
// first pair whose name equals the selector regardless of letter case; the value
// of the last pair ends at the first "#" after it.
// Returns "" when the URL lacks the part (an empty URL lacks every part).
std::string UrlPart(std::string_view url, std::string_view selector);

// The fields the HTTP fetch takes from a link.
enum class HttpField {
    Host,           // as "/WS/"
    Port,           // as "/PO/", the text as written (the fetch reads its number)
    PathWithQuery,  // everything after the first "/" following "://": query and fragment kept
};

// The fetch's own splitting, on the same scanning rules as UrlPart. Returns
// nothing, rather than "", when url has no "://" or the field is missing or empty.
std::optional<std::string> HttpUrlField(std::string_view url, HttpField field);

enum class HttpScheme { Http, Https };

// The scheme before the first "://" when it is "http" or "https" in any letter
// case; nothing for any other scheme, or none.
std::optional<HttpScheme> HttpSchemeOf(std::string_view url);

// The port a scheme means when the URL names none.
int DefaultPort(HttpScheme scheme);
