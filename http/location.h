// Where a redirect leads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The URL that location, the value of a Location header, names when it is read
// against base, the URL that answered with it: resolved as a URI reference
// (RFC 3986, section 5), so absolute URLs, network paths ("//host/x"),
// absolute paths and relative paths with "." and ".." segments all work. The
// fragment of the result is location's own. Nothing when the result would not
// be an http or https URL (any letter case) with a host that the fetch's own
// splitting reads back, or when location is empty.
std::optional<std::string> ResolveLocation(std::string_view base, std::string_view location);
