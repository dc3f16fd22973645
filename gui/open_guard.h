// Which downloaded files Open may hand to their application: documents, media
// and archives on an allow list, nothing else. Anything that is not on it (a
// program, an installer, a script, a launcher, a disk image, a type nobody
// thought of) is shown in its folder instead. Portable: each backend finds
// the file's type its own way and asks here.
#pragma once

#include <string_view>

// Windows, by name: true when the extension of the file path names (letter
// case ignored, trailing dots and blanks dropped as Windows drops them) is on
// the allow list. False for a name without an extension and for a stream of a
// file (a ":" in the name).
bool MayOpenByName(std::string_view path);

// Linux, by MIME type: true when type, the one the desktop's opener would go
// by (name and content together), is on the allow list, and the content alone
// does not say otherwise: contentType must be allowed too, or tell nothing
// ("application/octet-stream", or ""). So a program named "report.pdf" is
// refused.
bool MayOpenByType(std::string_view type, std::string_view contentType);
