#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>

#include "http/download_file.h"

bool IsDownloadDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<DiskSpace> QueryDiskSpace(const std::string& directory) {
    struct statvfs disk {};
    if (statvfs(directory.empty() ? "." : directory.c_str(), &disk) != 0) return std::nullopt;
    auto block = static_cast<int64_t>(disk.f_frsize);
    return DiskSpace{static_cast<int64_t>(disk.f_bavail) * block,
                     static_cast<int64_t>(disk.f_blocks) * block};
}

std::optional<uint64_t> SystemRandom64() {
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value))
        return std::nullopt;
    return value;
}

void MarkDownloadedFile(NativeFile file, const std::string&, std::string_view) {
    // Created 0666 less the umask; setuid, setgid and sticky bits go too.
    int fd = static_cast<int>(file);
    struct stat info {};
    if (fstat(fd, &info) == 0 && (info.st_mode & 07111) != 0) fchmod(fd, info.st_mode & 0666);
}

std::optional<std::string> ReadSmallDownloadFile(const std::string& name, std::size_t limit) {
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) <= limit) {
        text.emplace(static_cast<std::size_t>(info.st_size), '\0');
        ssize_t count = read(fd, text->data(), text->size());
        if (count != static_cast<ssize_t>(text->size())) text.reset();
    }
    close(fd);
    return text;
}

std::vector<DownloadFolderEntry> ListDownloadFolder(const std::string& directory) {
    std::vector<DownloadFolderEntry> entries;
    DIR* folder = opendir(directory.empty() ? "." : directory.c_str());
    if (!folder) return entries;
    while (dirent* entry = readdir(folder)) {
        struct stat info {};
        std::string name = entry->d_name;
        if (stat((directory + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            entries.push_back({name, static_cast<int64_t>(info.st_mtime)});
    }
    closedir(folder);
    return entries;
}
