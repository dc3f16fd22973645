// The settings file on Windows disks: read whole, replaced whole
// (FileReplacement). A file that another program holds open without letting us
// write it (a sharing violation) or that is marked read-only counts as locked.
// Virus scanners, the search indexer and sync clients open a file for a moment
// after it changes: a save that meets such a lock tries again a few times
// before it fails.
#include <windows.h>

#include <optional>
#include <string>

#include "runtime/files.h"
#include "runtime/replace_file.h"
#include "runtime/settings_disk.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr DWORD MaxChunk = 0x40000000;

constexpr int PassingLockRetries = 5;
constexpr DWORD PassingLockPauseMs = 100;

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

// Temporary names are this prefix, the writer's process id, "." and a count,
// then ".tmp", like ".Tavimor.ini.1234.1.tmp".
std::wstring TemporaryPrefix(const std::wstring& path) {
    return L"." + path.substr(DirectoryPart(path).size()) + L".";
}

bool AllDigits(std::wstring_view text) {
    return !text.empty() && text.find_first_not_of(L"0123456789") == text.npos;
}

// The writer's process id in one of our temporary names, or 0 for any other name.
DWORD TemporaryOwner(std::wstring_view name, std::wstring_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(L".tmp")) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = name.find(L'.');
    if (dot == name.npos || dot > 9 || !AllDigits(name.substr(0, dot))) return 0;
    if (!AllDigits(name.substr(dot + 1))) return 0;
    return static_cast<DWORD>(std::stoul(std::wstring(name.substr(0, dot))));
}

// A writer that was killed or lost power mid-save left its temporary file; the
// next save removes it, unless that writer is still alive.
void RemoveStaleTemporaries(const std::wstring& path) {
    std::wstring directory = DirectoryPart(path);
    std::wstring prefix = TemporaryPrefix(path);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + prefix + L"*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DWORD owner = TemporaryOwner(entry.cFileName, prefix);
        if (owner != 0 && owner != GetCurrentProcessId() && ProcessGone(owner))
            DeleteFileW((directory + entry.cFileName).c_str());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// A new file beside the target; a name that is taken is never reused.
void CreateTemporaryFile(const std::wstring& path, std::optional<FileReplacement>& file) {
    static unsigned counter = 0;
    std::wstring prefix = DirectoryPart(path) + TemporaryPrefix(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.emplace(Utf8FromWide(prefix + std::to_wstring(GetCurrentProcessId()) + L"." +
                                  std::to_wstring(++counter) + L".tmp"));
        if (!file->Taken()) return;
    }
}

// What another program's open handle makes a save fail with, for as long as it
// holds the file.
bool PassingLock(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// Why the last call failed; 0 stands for no reason given (ERROR_WRITE_PROTECT then).
DWORD LastFailure() {
    DWORD error = GetLastError();
    return error != 0 ? error : DWORD{ERROR_WRITE_PROTECT};
}

// Runs attempt (0 when done, else the error that stopped it) until it is done,
// tries again while the error is a passing lock, at most PassingLockRetries
// times.
template <typename Attempt>
bool ThroughPassingLocks(Attempt attempt) {
    for (int retry = 0;; ++retry) {
        SetLastError(0);
        DWORD error = attempt();
        if (error == 0) return true;
        if (retry == PassingLockRetries || !PassingLock(error)) return false;
        Sleep(PassingLockPauseMs);
    }
}

DWORD ReplaceOnce(std::string_view path, std::string_view bytes) {
    std::wstring target = WideFromUtf8(path);
    if (!TargetWritable(target)) return LastFailure();
    RemoveStaleTemporaries(target);
    std::optional<FileReplacement> file;
    CreateTemporaryFile(target, file);
    SetLastError(0);
    // Read before the temporary's removal can change it.
    if (!file || !file->Write(bytes) || !file->Commit(std::string(path))) return LastFailure();
    return 0;
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
    if (!NamesAFile(path)) return false;
    std::wstring target = WideFromUtf8(path);
    return ThroughPassingLocks([&] { return TargetWritable(target) ? 0 : LastFailure(); });
}

bool ReplaceSettingsFile(std::string_view path, std::string_view bytes) {
    return NamesAFile(path) && ThroughPassingLocks([&] { return ReplaceOnce(path, bytes); });
}
