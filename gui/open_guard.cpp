#include "gui/open_guard.h"

#include <algorithm>
#include <iterator>

namespace {

// Documents, media and archives whose applications show them rather than run
// them. Office formats with macros in their name (".docm"...), pages and
// pictures that carry script (".html", ".svg"), PostScript and disk images
// stay out.
constexpr std::string_view OpenableExtensions[] = {
    "txt",  "csv",  "pdf",  "rtf",  "epub", "doc",  "docx", "xls",  "xlsx", "ppt",  "pptx",
    "odt",  "ods",  "odp",  "png",  "jpg",  "jpeg", "jfif", "gif",  "bmp",  "webp", "tif",
    "tiff", "ico",  "heic", "avif", "mp3",  "wav",  "flac", "ogg",  "oga",  "opus", "m4a",
    "aac",  "wma",  "mid",  "midi", "mp4",  "m4v",  "mkv",  "webm", "avi",  "mov",  "wmv",
    "mpg",  "mpeg", "ogv",  "3gp",  "flv",  "ts",   "zip",  "7z",   "rar",  "tar",  "gz",
    "tgz",  "xz",   "txz",  "bz2",  "tbz",  "tbz2", "zst"};

// The same on Linux, by the names shared-mime-info gives (older names too,
// since a type's canonical name has changed between its releases).
constexpr std::string_view OpenableTypes[] = {
    "text/plain",
    "text/csv",
    "application/pdf",
    "application/rtf",
    "application/epub+zip",
    "application/msword",
    "application/vnd.ms-excel",
    "application/vnd.ms-powerpoint",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
    "application/vnd.openxmlformats-officedocument.presentationml.presentation",
    "application/vnd.oasis.opendocument.text",
    "application/vnd.oasis.opendocument.spreadsheet",
    "application/vnd.oasis.opendocument.presentation",
    "application/zip",
    "application/x-7z-compressed",
    "application/vnd.rar",
    "application/x-rar",
    "application/x-rar-compressed",
    "application/x-tar",
    "application/gzip",
    "application/x-gzip",
    "application/x-compressed-tar",
    "application/x-xz",
    "application/x-xz-compressed-tar",
    "application/x-bzip",
    "application/x-bzip2",
    "application/x-bzip-compressed-tar",
    "application/x-bzip2-compressed-tar",
    "application/zstd",
    "application/x-zstd-compressed-tar",
    // What the content alone says of an empty file, of unknown bytes, and of
    // the container every older office document is: no sign of a program.
    "application/x-zerosize",
    "application/octet-stream",
    "application/x-ole-storage",
    "",
};
// Only as what the content says, never as the type the opener goes by.
constexpr std::size_t ContentOnlyTypes = 4;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

bool Listed(std::string_view type, std::size_t count) {
    return std::any_of(std::begin(OpenableTypes), std::begin(OpenableTypes) + count,
                       [type](std::string_view listed) { return SameLetters(listed, type); });
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && SameLetters(text.substr(0, start.size()), start);
}

bool OpenableType(std::string_view type, std::size_t count) {
    // Pictures that carry script open in a browser.
    if (StartsWith(type, "image/")) return !SameLetters(type, "image/svg+xml");
    return StartsWith(type, "audio/") || StartsWith(type, "video/") || Listed(type, count);
}

}  // namespace

bool MayOpenByName(std::string_view path) {
    std::string_view name = path.substr(path.find_last_of("\\/") + 1);
    if (name.find(':') != std::string_view::npos) return false;
    // Windows opens "setup.exe. " as "setup.exe".
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view extension = name.substr(dot + 1);
    return std::any_of(
        std::begin(OpenableExtensions), std::end(OpenableExtensions),
        [extension](std::string_view listed) { return SameLetters(listed, extension); });
}

bool MayOpenByType(std::string_view type, std::string_view contentType) {
    return OpenableType(type, std::size(OpenableTypes) - ContentOnlyTypes) &&
           OpenableType(contentType, std::size(OpenableTypes));
}
