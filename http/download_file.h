// The file-system side of a download: the body's file until it is complete
// (download_file.cpp, over FileReplacement), and the folder queries that each
// platform's file gives. The fetch holds no platform call of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/replace_file.h"

// The body's file until it is complete: a new dot file beside the target,
// removed unless it is moved into place (or kept as a part), or a kept part
// opened to continue, which stays whatever happens.
class BodyFile {
  public:
    // A new file in directory (the target's, ending with a separator).
    explicit BodyFile(const std::string& directory);
    // The part kept at part, to continue.
    struct Continue {};
    BodyFile(Continue, const std::string& part);
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    bool IsOpen() const { return file_ && file_->IsOpen(); }
    // Small receives are gathered into one block before they go to the disk,
    // which halves the system calls per byte and keeps memory flat.
    bool Write(std::string_view data);
    // Puts every byte on the disk and renames the file over name.
    bool MoveTo(const std::string& name);
    // Puts every byte on the disk and closes the file, which stays.
    bool Close();
    // Hands what is gathered to the file, where a reader of Path() sees it.
    bool Flush();
    // Marks the file as downloaded from link (MarkDownloadedFile), before it
    // is moved into place.
    void MarkDownloaded(std::string_view link);
    const std::string& Path() const { return file_->Path(); }

  private:
    std::unique_ptr<char[]> block_;
    std::size_t pending_ = 0;
    std::optional<FileReplacement> file_;
};

// The directory part of path, up to and including its last separator, with the
// separator path itself uses; "" for a bare file name. Nothing when path is
// empty, ends with a separator, names a directory, or lies in a directory that
// does not exist.
std::optional<std::string> DownloadDirectoryOf(const std::string& path);

// The number of this process, "-", and 16 lower-case hex digits, random and
// different for every call: what names our temporary files (".tavimor-<suffix>
// .part" and ".record"), so that a later start knows whose they were.
std::string UniqueDownloadSuffix();

// What a file downloaded from link carries in its "Zone.Identifier" stream on
// Windows: that it came from the Internet zone, and from where. The link's user
// information (all before the first "@" after "://", as the fetch reads it) is
// left out, and a control byte is written as %XX, which keeps the link one line.
std::string ZoneIdentifierFor(std::string_view link);

// ---- The platform's half ----

// Marks the body's file, open as file at path, as downloaded from link: on
// POSIX it loses every execute bit (a continued part may have been given one),
// on Windows it gets ZoneIdentifierFor(link) in its Zone.Identifier stream,
// which goes with it when it is renamed. Best effort: a download never fails
// for it.
void MarkDownloadedFile(NativeFile file, const std::string& path, std::string_view link);

// Whether path names a directory.
bool IsDownloadDirectory(const std::string& path);
// The room on the disk that holds directory, in bytes; nothing when the system
// does not tell.
struct DiskSpace {
    int64_t free = 0;  // for this user
    int64_t total = 0;
};
std::optional<DiskSpace> QueryDiskSpace(const std::string& directory);
// 64 bits from the system's random source; nothing when it has none to give.
std::optional<uint64_t> SystemRandom64();

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
