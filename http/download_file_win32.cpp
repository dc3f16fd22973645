#include <windows.h>

#include <bcrypt.h>

#include <chrono>
#include <cstdio>

#include "http/download_file.h"
#include "runtime/wide_text_win32.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE Handle(DownloadHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

std::optional<std::string> DownloadDirectoryOf(const std::string& path) {
    if (path.empty() || IsSeparator(path.back()) || IsDirectory(path)) return std::nullopt;
    std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return std::string();
    std::string directory = path.substr(0, separator + 1);
    if (!IsDirectory(directory)) return std::nullopt;
    return directory;
}

std::string UniqueDownloadSuffix() {
    static uint64_t counter = 0;
    uint64_t value = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        value = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    value ^= (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ ++counter;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

DownloadHandle CreateDownloadFile(const std::string& name, bool& taken) {
    HANDLE file = CreateFileW(WideFromUtf8(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return NoDownloadHandle;
    }
    taken = false;
    return reinterpret_cast<DownloadHandle>(file);
}

bool WriteDownloadFile(DownloadHandle file, std::string_view data) {
    while (!data.empty()) {
        DWORD piece = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!WriteFile(Handle(file), data.data(), piece, &written, nullptr) || written == 0)
            return false;
        data.remove_prefix(written);
    }
    return true;
}

bool CloseDownloadFile(DownloadHandle file) {
    return CloseHandle(Handle(file)) != 0;
}

bool MoveDownloadOver(const std::string& from, const std::string& to) {
    // Write-through: the move is on the disk before the fetch reports success.
    return MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveDownloadFile(const std::string& name) {
    DeleteFileW(WideFromUtf8(name).c_str());
}

DownloadHandle OpenDownloadForAppend(const std::string& name) {
    HANDLE file = CreateFileW(WideFromUtf8(name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? NoDownloadHandle : reinterpret_cast<DownloadHandle>(file);
}

std::optional<std::string> ReadSmallDownloadFile(const std::string& name, std::size_t limit) {
    HANDLE file = CreateFileW(WideFromUtf8(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    std::optional<std::string> text;
    if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) <= limit) {
        text.emplace(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (!ReadFile(file, text->data(), static_cast<DWORD>(text->size()), &got, nullptr) ||
            got != text->size())
            text.reset();
    }
    CloseHandle(file);
    return text;
}

std::vector<DownloadFolderEntry> ListDownloadFolder(const std::string& directory) {
    // FILETIME counts 100 ns steps from 1601; this many seconds lie before 1970.
    constexpr int64_t SecondsFrom1601To1970 = 11644473600;
    std::vector<DownloadFolderEntry> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WideFromUtf8(directory + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        ULARGE_INTEGER time{};
        time.LowPart = found.ftLastWriteTime.dwLowDateTime;
        time.HighPart = found.ftLastWriteTime.dwHighDateTime;
        int64_t seconds = static_cast<int64_t>(time.QuadPart / 10000000) - SecondsFrom1601To1970;
        entries.push_back({Utf8FromWide(found.cFileName), seconds});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}
