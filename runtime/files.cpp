// The portable half of files and paths: path splitting and the FileTable. The
// platform's queries and handles are in files_posix.cpp and files_win32.cpp.
#include "runtime/files.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/native_file.h"

namespace {

constexpr size_t FileBufferSize = 4096;
constexpr size_t InitialSlots = 16;

std::string_view WithoutLeadingQuote(std::string_view path) {
    if (!path.empty() && path.front() == '"') path.remove_prefix(1);
    return path;
}

struct OpenFile {
    NativeFile handle = NoNativeFile;
    size_t filled = 0;  // bytes in buffer
    size_t next = 0;    // first byte of buffer not yet read
    std::array<char, FileBufferSize> buffer;

    explicit OpenFile(NativeFile file) : handle(file) {}
    ~OpenFile() { CloseNative(handle); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Makes at least one unread byte available; false at the end of the file
    // (a read error counts as the end: a reading loop must be able to stop).
    bool Fill() {
        if (next < filled) return true;
        filled = ReadNative(handle, buffer.data(), buffer.size());
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

std::string DirectoryOf(std::string_view path) {
    path = WithoutLeadingQuote(path);
    path = path.substr(0, path.find('|'));
    size_t last = path.find_last_of("/\\");
    return last == std::string_view::npos ? "" : std::string(path.substr(0, last + 1));
}

std::string CanonicalPath(std::string_view path) {
    if (std::optional<std::string> whole = ResolvedPath(path)) return *whole;
    std::size_t last = path.find_last_of("/\\");
    if (last == std::string_view::npos) return std::string(path);
    std::optional<std::string> directory = ResolvedPath(path.substr(0, last + 1));
    if (!directory) return std::string(path);
    if (directory->back() != '/' && directory->back() != '\\') *directory += PathSeparator;
    return *directory + std::string(path.substr(last + 1));
}

std::string FileNameOf(std::string_view path) {
    path = WithoutLeadingQuote(path);
    size_t last = path.find_last_of("/\\");
    if (last != std::string_view::npos) path.remove_prefix(last + 1);
    return std::string(path.substr(0, path.find('"')));
}

int FileOpenRead(int number, std::string_view path) {
    if (number < 0 || number > MaxFileNumber) return 0;
    FileClose(number);
    NativeFile file = OpenNativeForReading(path);
    if (file == NoNativeFile) return 0;
    auto slot = static_cast<size_t>(number);
    if (slot >= FileTable().size()) FileTable().resize(slot + InitialSlots);
    FileTable()[slot] = std::make_unique<OpenFile>(file);
    return 1;
}

std::string FileReadLine(int number, std::size_t limit) {
    OpenFile* file = SlotFile(number);
    std::string line;
    if (file == nullptr) return line;
    while (file->Fill()) {
        const char* begin = file->buffer.data() + file->next;
        const char* end = file->buffer.data() + file->filled;
        const char* stop = begin;
        while (stop < end && *stop != '\n' && *stop != '\r' && *stop != '\0')
            ++stop;
        line.append(begin, std::min<std::size_t>(static_cast<std::size_t>(stop - begin),
                                                 limit - line.size()));
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
