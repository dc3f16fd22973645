// The settings file on Windows disks: read whole, replaced whole through a
// temporary file. A file that another program holds open without letting us
// write it (a sharing violation) or that is marked read-only counts as locked.
#include <windows.h>

#include <string>

#include "runtime/settings_disk.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr DWORD MaxChunk = 0x40000000;

bool NamesAFile(std::string_view path) {
    return !path.empty() && path.find('\0') == path.npos;
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (Valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

std::optional<std::string> ReadAll(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return std::nullopt;
    std::string content(static_cast<size_t>(size.QuadPart) + 1, '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == content.size()) content.resize(content.size() * 2);
        size_t room = content.size() - filled;
        DWORD got = 0;
        if (!ReadFile(file, content.data() + filled, room > MaxChunk ? MaxChunk : DWORD(room), &got,
                      nullptr)) {
            return std::nullopt;
        }
        if (got == 0) break;
        filled += got;
    }
    content.resize(filled);
    return content;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD put = 0;
        DWORD chunk = bytes.size() > MaxChunk ? MaxChunk : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file, bytes.data(), chunk, &put, nullptr) || put == 0) return false;
        bytes.remove_prefix(put);
    }
    return true;
}

std::wstring DirectoryPart(const std::wstring& path) {
    size_t last = path.find_last_of(L"\\/");
    return last == path.npos ? std::wstring() : path.substr(0, last + 1);
}

bool IsDirectory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.empty() ? L"." : path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the target as the store would keep it: for reading and writing, others
// allowed only to read. It fails when another program writes it or shares it
// with nobody, and for a read-only file; nothing of the file changes.
bool ExistingFileWritable(const std::wstring& path) {
    Handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && GetFileType(file.Get()) == FILE_TYPE_DISK;
}

bool TargetWritable(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        if (!ExistingFileWritable(path)) return false;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;  // the directory is missing, or the name is not a file's
    }
    return IsDirectory(DirectoryPart(path));
}

// Named after the target, the writer's process and a count, like
// ".Tavimor.ini.1234.1.tmp"; nobody else opens it while we write.
HANDLE CreateTemporaryFile(const std::wstring& path, std::wstring& temp_path) {
    static unsigned counter = 0;
    std::wstring directory = DirectoryPart(path);
    std::wstring prefix = directory + L"." + path.substr(directory.size()) + L".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = prefix + std::to_wstring(GetCurrentProcessId()) + L"." +
                    std::to_wstring(++counter) + L".tmp";
        HANDLE file = CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::optional<std::string> ReadSettingsBytes(std::string_view path) {
    if (!NamesAFile(path)) return std::nullopt;
    // Reading only, and sharing everything: another program may have the file
    // open for writing and we still see what it holds.
    Handle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || GetFileType(file.Get()) != FILE_TYPE_DISK) return std::nullopt;
    return ReadAll(file.Get());
}

bool SettingsTargetWritable(std::string_view path) {
    return NamesAFile(path) && TargetWritable(WideFromUtf8(path));
}

bool ReplaceSettingsFile(std::string_view path, std::string_view bytes) {
    if (!SettingsTargetWritable(path)) return false;
    std::wstring target = WideFromUtf8(path);
    std::wstring temp_path;
    bool written = false;
    {
        Handle temp(CreateTemporaryFile(target, temp_path));
        if (!temp.Valid()) return false;
        written = WriteAll(temp.Get(), bytes) && FlushFileBuffers(temp.Get());
    }
    // A plain rename, not ReplaceFileW: that one may leave a file of its own
    // behind when it fails, and the settings file has no attributes to keep.
    if (!written || !MoveFileExW(temp_path.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp_path.c_str());
        return false;
    }
    return true;
}
