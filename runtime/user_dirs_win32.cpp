// The user's folders on Windows, from the shell's known folders.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "runtime/user_dirs.h"
#include "runtime/wide_text_win32.h"

namespace {

// The folder with a trailing "\"; "" when the shell does not know it.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr) {
        folder = path;
    }
    CoTaskMemFree(path);
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder;
}

bool MakeDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool DirectoryWritable(std::string_view directory) {
    if (directory.empty() || directory.find('\0') != directory.npos) return false;
    std::wstring path = WideFromUtf8(directory);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    // Permissions on Windows are lists that only the attempt itself reads
    // right, so make a file that goes away as soon as it is closed.
    if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += L".tavimor-write-test-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
    return true;
}

std::string UserSettingsDirectory() {
    std::wstring roaming = KnownFolder(FOLDERID_RoamingAppData);
    if (roaming.empty()) return "";
    std::wstring directory = roaming + L"Tavimor\\";
    if (!MakeDirectory(directory)) return "";
    return Utf8FromWide(directory);
}

std::string UserDownloadDirectory() {
    return Utf8FromWide(KnownFolder(FOLDERID_Downloads));
}
