// The file-system side of a download: the temporary file beside the target, and
// its move over the target once the body is complete. One file per platform
// implements it; the fetch holds no platform call of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's file handle held as an integer: a POSIX file descriptor, or a
// Win32 HANDLE (whose invalid value is all ones, -1 here).
using DownloadHandle = std::intptr_t;
inline constexpr DownloadHandle NoDownloadHandle = -1;

// The directory part of path, up to and including its last separator, with the
// separator path itself uses; "" for a bare file name. Nothing when path is
// empty, ends with a separator, names a directory, or lies in a directory that
// does not exist.
std::optional<std::string> DownloadDirectoryOf(const std::string& path);

// 16 lower-case hex digits, random, and different for every call in a process.
std::string UniqueDownloadSuffix();

// Creates name as a new file open for writing (others may only read it).
// NoDownloadHandle when that fails; taken tells whether it failed because the
// name exists already.
DownloadHandle CreateDownloadFile(const std::string& name, bool& taken);

// Writes all of data; false on any error.
bool WriteDownloadFile(DownloadHandle file, std::string_view data);

// Closes the file; false when the close reported an error.
bool CloseDownloadFile(DownloadHandle file);

// Renames from over to, replacing a file there, in one step.
bool MoveDownloadOver(const std::string& from, const std::string& to);

// Removes the file name; quietly does nothing when it cannot.
void RemoveDownloadFile(const std::string& name);

// Opens the existing file name for writing after its last byte (others may
// only read it). NoDownloadHandle when that fails or nothing is there.
DownloadHandle OpenDownloadForAppend(const std::string& name);

// The whole content of the file name; nothing when it is missing, unreadable,
// not a regular file, or larger than limit bytes.
std::optional<std::string> ReadSmallDownloadFile(const std::string& name, std::size_t limit);

// A regular file directly inside a folder.
struct DownloadFolderEntry {
    std::string name;      // the file name alone, UTF-8
    int64_t modified = 0;  // its last change, in seconds since 1970-01-01 UTC
};

// The regular files directly inside directory (which ends with a separator);
// empty when it cannot be read.
std::vector<DownloadFolderEntry> ListDownloadFolder(const std::string& directory);
