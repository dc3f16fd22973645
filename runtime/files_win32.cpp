// Files and paths on Windows: every path crosses into the W functions as UTF-16,
// so a program directory of any script works; the handles beneath the
// FileTable let others read and delete the file while it is open.
#include <windows.h>

#include <optional>

#include "runtime/files.h"
#include "runtime/native_file.h"
#include "runtime/wide_text_win32.h"

namespace {

// A NUL would silently cut the path to some other file at the system call.
bool UsablePath(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "C:" or "C:\": a drive root, which has no directory entry of its own.
bool IsDriveRoot(std::string_view path) {
    return (path.size() == 2 || (path.size() == 3 && IsSeparator(path[2]))) && path[1] == ':';
}

int64_t DriveRootSize(std::string_view path) {
    std::wstring root = WideFromUtf8(path.substr(0, 2)) + L"\\";
    switch (GetDriveTypeW(root.c_str())) {
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE:
        case DRIVE_REMOTE:
        case DRIVE_CDROM:
        case DRIVE_RAMDISK:
            return -2;
        default:
            return -1;
    }
}

}  // namespace

const char PathSeparator = '\\';

uint64_t ThisProcessNumber() {
    return GetCurrentProcessId();
}

bool ProcessGone(uint64_t number) {
    if (number == 0 || number > 0xFFFFFFFFu) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(number));
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    bool exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return exited;
}

void LoadLibrariesFromTheSystemOnly() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string ExecutablePath() {
    // The answer is cut, without an error, when the buffer is too small.
    for (DWORD size = 260; size <= (DWORD{1} << 20); size *= 2) {
        std::wstring path(size, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) return "";
        if (length < size) return Utf8FromWide(std::wstring_view(path).substr(0, length));
    }
    return "";
}

std::optional<std::string> ResolvedPath(std::string_view path) {
    if (!UsablePath(path)) return std::nullopt;
    // No access asked: a file another program holds open is resolved too, and
    // a directory needs the backup flag to be opened at all.
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    constexpr DWORD Flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring name(GetFinalPathNameByHandleW(file, nullptr, 0, Flags), L'\0');
    DWORD length = name.empty() ? 0
                                : GetFinalPathNameByHandleW(file, name.data(),
                                                            static_cast<DWORD>(name.size()), Flags);
    CloseHandle(file);
    if (length == 0 || length >= name.size()) return std::nullopt;
    name.resize(length);
    // "\\?\C:\x" and "\\?\UNC\server\share\x" as they are usually written.
    if (name.starts_with(L"\\\\?\\UNC\\"))
        name = L"\\\\" + name.substr(8);
    else if (name.starts_with(L"\\\\?\\"))
        name = name.substr(4);
    return Utf8FromWide(name);
}

std::string CurrentDirectory() {
    // The first call tells the size; the directory may change between calls.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = GetCurrentDirectoryW(0, nullptr);
        if (needed == 0) return "";
        std::wstring path(needed, L'\0');
        DWORD length = GetCurrentDirectoryW(needed, path.data());
        if (length == 0) return "";
        if (length >= needed) continue;
        std::string directory = Utf8FromWide(std::wstring_view(path).substr(0, length));
        if (!directory.empty() && directory.back() != '\\') directory += '\\';
        return directory;
    }
    return "";
}

int64_t QueryFileSize(std::string_view path) {
    if (!UsablePath(path)) return -1;
    if (IsDriveRoot(path)) return DriveRootSize(path);
    std::string name(path);
    while (name.size() > 1 && IsSeparator(name.back()))
        name.pop_back();
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(WideFromUtf8(name).c_str(), GetFileExInfoStandard, &info)) return -1;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
    return static_cast<int64_t>(uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
}

int RemoveFile(std::string_view path) {
    if (!UsablePath(path)) return 0;
    std::wstring name = WideFromUtf8(path);
    // Deleted the POSIX way the name goes at once, even while a link check still
    // reads the file; a plain delete would leave it listed until then.
    HANDLE file =
        CreateFileW(name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    // FileDispositionInfoEx (21) with DELETE | POSIX_SEMANTICS, spelled out
    // since the headers hide it from programs that also run before Windows 10,
    // where the call fails and the plain delete below does the work.
    struct {
        DWORD flags;
    } disposition{0x1 | 0x2};
    bool removed = SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21),
                                              &disposition, sizeof disposition) != 0;
    CloseHandle(file);
    return removed || DeleteFileW(name.c_str()) ? 1 : 0;
}

namespace {

// Opens an existing file on a disk: pipes, consoles and devices are no
// downloaded files.
// With follow false, a reparse point (a symbolic link, a junction) is refused.
NativeFile OpenOnDisk(std::string_view path, DWORD access, DWORD sharing, bool follow = true) {
    if (!UsablePath(path)) return NoNativeFile;
    HANDLE file =
        CreateFileW(WideFromUtf8(path).c_str(), access, sharing, nullptr, OPEN_EXISTING,
                    follow ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return NoNativeFile;
    BY_HANDLE_FILE_INFORMATION info{};
    bool link = !follow && (!GetFileInformationByHandle(file, &info) ||
                            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    if (link || GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return NoNativeFile;
    }
    return reinterpret_cast<NativeFile>(file);
}

}  // namespace

NativeFile OpenNativeForReading(std::string_view path) {
    // Sharing delete lets RemoveFile take a file that a link check still reads;
    // sharing write lets the check read a body whose file is still open.
    return OpenOnDisk(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

size_t ReadNative(NativeFile file, char* buffer, size_t size) {
    DWORD got = 0;
    DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, wanted, &got, nullptr)) return 0;
    return got;
}

bool CloseNative(NativeFile file) {
    return file == NoNativeFile || CloseHandle(reinterpret_cast<HANDLE>(file)) != 0;
}

NativeFile CreateNativeFile(std::string_view path, bool& taken) {
    taken = false;
    if (!UsablePath(path)) return NoNativeFile;
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<NativeFile>(file);
    DWORD error = GetLastError();
    taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return NoNativeFile;
}

NativeFile OpenNativeForAppend(std::string_view path) {
    // A link put in a part's place must not lead the rest of a download into
    // some other file.
    return OpenOnDisk(path, FILE_APPEND_DATA, FILE_SHARE_READ, false);
}

bool WriteNative(NativeFile file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD piece = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data(), piece, &written, nullptr) ||
            written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool FlushNative(NativeFile file) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0;
}

bool RenameNativeOver(std::string_view from, std::string_view to) {
    if (!UsablePath(from) || !UsablePath(to)) return false;
    // A plain rename, not ReplaceFileW: that one may leave a file of its own
    // behind when it fails. Write-through: the move is on the disk when it returns.
    return MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
