// The settings file on POSIX disks: read whole, replaced whole (FileReplacement)
// with the old file's mode and owner kept.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "runtime/files.h"
#include "runtime/replace_file.h"
#include "runtime/settings_disk.h"

namespace {

bool NamesAFile(std::string_view path) {
    return !path.empty() && path.find('\0') == path.npos;
}

// One read in practice; the loop only covers short reads and a file that grows.
std::optional<std::string> ReadAll(int fd, size_t expected) {
    std::string content(expected + 1, '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == content.size()) content.resize(content.size() * 2);
        ssize_t got = read(fd, content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    content.resize(filled);
    return content;
}

}  // namespace

// O_NONBLOCK keeps a FIFO at this path from hanging the program.
std::optional<std::string> ReadSettingsBytes(std::string_view path) {
    if (!NamesAFile(path)) return std::nullopt;
    int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        content = ReadAll(fd, static_cast<size_t>(info.st_size));
    }
    close(fd);
    return content;
}

namespace {

struct ReplaceTarget {
    std::string path;       // symbolic links followed, so a linked file stays linked
    std::string directory;  // "" or ending in "/"
    std::optional<struct stat> existing;
};

// Without any write bit the file counts as locked even for the superuser, whom
// access() would let through.
bool MayWrite(const std::string& path, const struct stat& info, int access_mode) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           access(path.c_str(), access_mode) == 0;
}

std::string FollowLinks(std::string_view path) {
    std::string name(path);
    struct stat info {};
    if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
    char* real = realpath(name.c_str(), nullptr);
    if (real == nullptr) return name;
    std::string resolved(real);
    free(real);
    return resolved;
}

// The target when it may be replaced: an existing one must be a regular file
// we could open for reading and writing, and its directory must take new files.
std::optional<ReplaceTarget> FindWritableTarget(std::string_view path) {
    if (!NamesAFile(path)) return std::nullopt;
    ReplaceTarget target{FollowLinks(path), {}, {}};
    target.directory = target.path.substr(0, target.path.rfind('/') + 1);
    struct stat info {};
    if (stat(target.path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || !MayWrite(target.path, info, R_OK | W_OK)) return {};
        target.existing = info;
    } else if (errno != ENOENT) {
        return std::nullopt;
    }
    std::string directory = target.directory.empty() ? "." : target.directory;
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    if (!MayWrite(directory, info, W_OK | X_OK)) return std::nullopt;
    return target;
}

// Temporary files are named prefix + writer's pid + "." + count + ".tmp".
// Appended, not "." + substr(): g++ 12 warns falsely (-Wrestrict) when a
// literal is put before a temporary string.
std::string TemporaryPrefix(const ReplaceTarget& target) {
    std::string prefix = ".";
    prefix.append(target.path, target.directory.size(), 64);
    prefix += '.';
    return prefix;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == text.npos;
}

// The writer's pid of one of our temporary names, or 0 for any other name.
pid_t TemporaryOwner(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = name.find('.');
    if (dot == name.npos || dot > 9 || !AllDigits(name.substr(0, dot))) return 0;
    if (!AllDigits(name.substr(dot + 1))) return 0;
    return static_cast<pid_t>(std::stol(std::string(name.substr(0, dot))));
}

// A writer that was killed or lost power mid-save left its temporary file; the
// next save removes it, unless that writer is still alive.
void RemoveStaleTemporaries(const ReplaceTarget& target) {
    DIR* directory = opendir(target.directory.empty() ? "." : target.directory.c_str());
    if (directory == nullptr) return;
    std::string prefix = TemporaryPrefix(target);
    while (const dirent* entry = readdir(directory)) {
        pid_t owner = TemporaryOwner(entry->d_name, prefix);
        if (owner <= 0 || owner == getpid()) continue;
        if (ProcessGone(static_cast<uint64_t>(owner))) unlinkat(dirfd(directory), entry->d_name, 0);
    }
    closedir(directory);
}

// A new file beside the target; a name that is taken is never reused.
void CreateTemporaryFile(const ReplaceTarget& target, std::optional<FileReplacement>& file) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.emplace(target.directory + TemporaryPrefix(target) + std::to_string(getpid()) + "." +
                     std::to_string(++counter) + ".tmp");
        if (!file->Taken()) return;
    }
}

// The replacement keeps the old file's mode and, where allowed, its owner.
void KeepAttributes(int fd, const ReplaceTarget& target) {
    if (!target.existing) return;
    if (fchown(fd, target.existing->st_uid, target.existing->st_gid) != 0) {
        // Only the superuser may give a file away; the new file then stays ours.
    }
    fchmod(fd, target.existing->st_mode & 07777);
}

}  // namespace

bool SettingsTargetWritable(std::string_view path) {
    return FindWritableTarget(path).has_value();
}

bool ReplaceSettingsFile(std::string_view path, std::string_view bytes) {
    std::optional<ReplaceTarget> target = FindWritableTarget(path);
    if (!target) return false;
    RemoveStaleTemporaries(*target);
    std::optional<FileReplacement> file;
    CreateTemporaryFile(*target, file);
    if (!file || !file->IsOpen()) return false;
    KeepAttributes(static_cast<int>(file->Handle()), *target);
    return file->Write(bytes) && file->Commit(target->path);
}
