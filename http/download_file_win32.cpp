#include <windows.h>

#include <bcrypt.h>

#include "http/download_file.h"
#include "runtime/wide_text_win32.h"

bool IsDownloadDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<DiskSpace> QueryDiskSpace(const std::string& directory) {
    ULARGE_INTEGER free{}, total{};
    if (!GetDiskFreeSpaceExW(WideFromUtf8(directory.empty() ? "." : directory).c_str(), &free,
                             &total, nullptr))
        return std::nullopt;
    return DiskSpace{static_cast<int64_t>(free.QuadPart), static_cast<int64_t>(total.QuadPart)};
}

std::optional<uint64_t> SystemRandom64() {
    uint64_t value = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::nullopt;
    return value;
}

void MarkDownloadedFile(NativeFile file, const std::string& path, std::string_view link) {
    // The Mark of the Web: Windows asks before it runs a file that has one,
    // and Office opens it in its protected view. Where the disk keeps no
    // streams (FAT, Wine's own folders), "<file>:Zone.Identifier" would be
    // refused, or made a file of that name beside the download.
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(reinterpret_cast<HANDLE>(file), nullptr, 0, nullptr, nullptr,
                                       &flags, nullptr, 0) ||
        (flags & FILE_NAMED_STREAMS) == 0)
        return;
    HANDLE stream = CreateFileW(WideFromUtf8(path + ":Zone.Identifier").c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) return;
    std::string text = ZoneIdentifierFor(link);
    DWORD written = 0;
    WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(stream);
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
