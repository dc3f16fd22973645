#include "runtime/files.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t FileBufferSize = 4096;
constexpr size_t InitialSlots = 16;

// A NUL would silently cut the path to some other file at the system call.
bool UsablePath(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

std::string_view WithoutLeadingQuote(std::string_view path) {
    if (!path.empty() && path.front() == '"') path.remove_prefix(1);
    return path;
}

struct OpenFile {
    int fd = -1;
    size_t filled = 0;  // bytes in buffer
    size_t next = 0;    // first byte of buffer not yet read
    std::array<char, FileBufferSize> buffer;

    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() { close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Makes at least one unread byte available; false at the end of the file
    // (a read error counts as the end: a reading loop must be able to stop).
    bool Fill() {
        if (next < filled) return true;
        ssize_t got;
        do {
            got = read(fd, buffer.data(), buffer.size());
        } while (got < 0 && errno == EINTR);
        filled = got > 0 ? static_cast<size_t>(got) : 0;
        next = 0;
        return filled > 0;
    }
};

// Built on first use, so that no start-up order can find it missing.
std::vector<std::unique_ptr<OpenFile>>& FileTable() {
    static std::vector<std::unique_ptr<OpenFile>> table(InitialSlots);
    return table;
}

OpenFile* SlotFile(int number) {
    if (number < 0 || static_cast<size_t>(number) >= FileTable().size()) return nullptr;
    return FileTable()[static_cast<size_t>(number)].get();
}

}  // namespace

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

std::string DirectoryOf(std::string_view path) {
    path = WithoutLeadingQuote(path);
    path = path.substr(0, path.find('|'));
    size_t last = path.find_last_of("/\\");
    return last == std::string_view::npos ? "" : std::string(path.substr(0, last + 1));
}

std::string FileNameOf(std::string_view path) {
    path = WithoutLeadingQuote(path);
    size_t last = path.find_last_of("/\\");
    if (last != std::string_view::npos) path.remove_prefix(last + 1);
    return std::string(path.substr(0, path.find('"')));
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

int FileOpenRead(int number, std::string_view path) {
    if (number < 0 || number > MaxFileNumber) return 0;
    FileClose(number);
    if (!UsablePath(path)) return 0;
    // Non-blocking so that a FIFO cannot hang the open; it is refused below anyway.
    int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return 0;
    }
    auto slot = static_cast<size_t>(number);
    if (slot >= FileTable().size()) FileTable().resize(slot + InitialSlots);
    FileTable()[slot] = std::make_unique<OpenFile>(fd);
    return 1;
}

std::string FileReadLine(int number) {
    OpenFile* file = SlotFile(number);
    std::string line;
    if (file == nullptr) return line;
    while (file->Fill()) {
        const char* begin = file->buffer.data() + file->next;
        const char* end = file->buffer.data() + file->filled;
        const char* stop = begin;
        while (stop < end && *stop != '\n' && *stop != '\r' && *stop != '\0')
            ++stop;
        line.append(begin, stop);
        file->next = static_cast<size_t>(stop - file->buffer.data());
        if (stop == end) continue;
        ++file->next;
        // The LF of a CR LF may sit in the next block.
        if (*stop == '\r' && file->Fill() && file->buffer[file->next] == '\n') ++file->next;
        break;
    }
    return line;
}

bool FileAtEnd(int number) {
    OpenFile* file = SlotFile(number);
    return file == nullptr || !file->Fill();
}

void FileClose(int number) {
    if (SlotFile(number) != nullptr) FileTable()[static_cast<size_t>(number)].reset();
}

void FileCloseAll() {
    for (auto& slot : FileTable())
        slot.reset();
}
