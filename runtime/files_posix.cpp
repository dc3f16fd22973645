// Files and paths on POSIX: the program's location, size queries, deletion and
// the descriptors beneath the FileTable.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "runtime/files.h"
#include "runtime/native_file.h"

namespace {

// A NUL would silently cut the path to some other file at the system call.
bool UsablePath(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

}  // namespace

const char PathSeparator = '/';

uint64_t ThisProcessNumber() {
    return static_cast<uint64_t>(getpid());
}

bool ProcessGone(uint64_t number) {
    if (number == 0 || number > static_cast<uint64_t>(std::numeric_limits<pid_t>::max()))
        return false;
    return kill(static_cast<pid_t>(number), 0) != 0 && errno == ESRCH;
}

void LoadLibrariesFromTheSystemOnly() {}

std::string ExecutablePath() {
    // readlink does not say how long the link is; grow until it fits.
    for (size_t size = 256; size <= (size_t{1} << 20); size *= 2) {
        std::string path(size, '\0');
        ssize_t length = readlink("/proc/self/exe", path.data(), size);
        if (length < 0) return "";
        if (static_cast<size_t>(length) < size) return path.substr(0, static_cast<size_t>(length));
    }
    return "";
}

std::optional<std::string> ResolvedPath(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
    char* resolved = realpath(std::string(path).c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string text(resolved);
    free(resolved);
    return text;
}

std::string CurrentDirectory() {
    for (size_t size = 256; size <= (size_t{1} << 20); size *= 2) {
        std::string path(size, '\0');
        if (getcwd(path.data(), size) != nullptr) {
            path.resize(path.find('\0'));
            if (path.empty() || path.back() != '/') path += '/';
            return path;
        }
        if (errno != ERANGE) return "";
    }
    return "";
}

int64_t QueryFileSize(std::string_view path) {
    if (!UsablePath(path)) return -1;
    std::string name(path);
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return -1;
    if (S_ISDIR(info.st_mode)) return -2;
    return static_cast<int64_t>(info.st_size);
}

int RemoveFile(std::string_view path) {
    if (!UsablePath(path)) return 0;
    return unlink(std::string(path).c_str()) == 0 ? 1 : 0;
}

namespace {

// Opens an existing regular file, non-blocking so that a FIFO cannot hang the
// open; anything but a regular file is refused once open.
NativeFile OpenRegular(std::string_view path, int flags) {
    if (!UsablePath(path)) return NoNativeFile;
    int fd = open(std::string(path).c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return NoNativeFile;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return NoNativeFile;
    }
    return fd;
}

}  // namespace

NativeFile OpenNativeForReading(std::string_view path) {
    return OpenRegular(path, O_RDONLY);
}

size_t ReadNative(NativeFile file, char* buffer, size_t size) {
    ssize_t got;
    do {
        got = read(static_cast<int>(file), buffer, size);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

bool CloseNative(NativeFile file) {
    return file == NoNativeFile || close(static_cast<int>(file)) == 0;
}

NativeFile CreateNativeFile(std::string_view path, bool& taken) {
    taken = false;
    if (!UsablePath(path)) return NoNativeFile;
    int fd = open(std::string(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    return fd < 0 ? NoNativeFile : fd;
}

NativeFile OpenNativeForAppend(std::string_view path) {
    // A symbolic link put in a part's place must not lead the rest of a
    // download into some other file.
    return OpenRegular(path, O_WRONLY | O_APPEND | O_NOFOLLOW);
}

bool WriteNative(NativeFile file, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t put = write(static_cast<int>(file), bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

bool FlushNative(NativeFile file) {
    return fsync(static_cast<int>(file)) == 0;
}

bool RenameNativeOver(std::string_view from, std::string_view to) {
    if (!UsablePath(from) || !UsablePath(to)) return false;
    std::string target(to);
    if (rename(std::string(from).c_str(), target.c_str()) != 0) return false;
    // The data are safe already; this makes the new name so too.
    std::string directory = DirectoryOf(target);
    int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
}
