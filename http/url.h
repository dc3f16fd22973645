// URL splitting: purely textual, nothing is validated, decoded or normalised.
// Every search is a case-sensitive search for the first occurrence of its
// delimiter, except the "@" that ends user information. A URL is a text that
// ends at its first zero byte. The authority of a URL with "://" runs from
// there to the first "/", "?" or "#" after it, or the end (RFC 3986, 3.2):
// user information, host and port are read inside it alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// One part of url, chosen by selector:
//   "/PC/" scheme        text before the first "://"
//   "/WS/" host          in the authority, after its last "@"; up to the first ":",
//                        or the authority's end; a host that starts with "[" (an
//                        IPv6 literal) runs to the first "]", brackets included,
//                        so its colons are its own
//   "/PO/" port          after the first ":" that follows the host, up to the
//                        authority's end
//   "/US/" user name     the authority before its last "@", up to the first ":"
//                        in it; "" without an "@" in the authority
//   "/PS/" password      after that first ":", up to the last "@"; "" without
//                        either
//   "/PM/" query         after the first "?" in the URL, up to the next "#" or the end
//   "/AN/" fragment      after the first "#" in the URL
//   "/PT/" path          after the "/" that ends the authority, up to the next "?"
//                        or the end (no leading "/", no query); "" when the
//                        authority ends otherwise
// Selectors are compared exactly, letter case included ("/pt/" is not "/PT/").
// "/PC/", "/WS/", "/PO/", "/US/", "/PS/" and "/PT/" need a "://".
// Any other selector names a query parameter: the result is the value of the
// first pair whose name equals the selector regardless of letter case; the value
// of the last pair ends at the first "#" after it.
// Returns "" when the URL lacks the part (an empty URL lacks every part).
std::string UrlPart(std::string_view url, std::string_view selector);

// An authority's parts, as views into it.
struct UrlAuthority {
    std::string_view user_info;  // before the last "@"
    bool has_user_info = false;  // there is an "@"
    std::string_view host;       // IPv6 brackets kept
    std::string_view port;       // after the ":" that follows the host; "" without
};

// The parts of authority, the text between "://" and the end of the authority,
// read as "/US/", "/PS/", "/WS/" and "/PO/" read them.
UrlAuthority ReadAuthority(std::string_view authority);

// url with the user information of its authority and its "@" left out, for
// anything shown or written but the link itself; url as it is without any.
std::string WithoutUserInfo(std::string_view url);

// The fields the HTTP fetch takes from a link.
enum class HttpField {
    Host,           // as "/WS/"
    Port,           // as "/PO/", the text as written (the fetch reads its number)
    PathWithQuery,  // everything after the authority but its leading "/": query and
                    // fragment kept
};

// The fetch's own splitting, on the same rules as UrlPart. Returns
// nothing, rather than "", when url has no "://" or the field is missing or empty.
std::optional<std::string> HttpUrlField(std::string_view url, HttpField field);

enum class HttpScheme { Http, Https };

// The scheme before the first "://" when it is "http" or "https" in any letter
// case; nothing for any other scheme, or none.
std::optional<HttpScheme> HttpSchemeOf(std::string_view url);

// The port a scheme means when the URL names none.
int DefaultPort(HttpScheme scheme);

// The port an http or https url connects to: its own when written (digits
// alone, 1 to 65535), else its scheme's; nothing for any other port text or
// scheme.
std::optional<int> HttpPortOf(std::string_view url);
