// One running program per settings file. The claim is a named mutex in the
// machine's namespace (Global\), so that two users' sessions on one portable
// copy meet on it too; Windows releases it when the process ends, however it
// ends, so a crash never blocks the next start. A later start in the same
// session finds the first one's frame by its class and the claim's mark, and
// asks it to come forward.
#include <windows.h>

#include <cstdint>
#include <string>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr wchar_t MarkProperty[] = L"Tavimor.Claim";
// The first start makes its frame a moment after its claim.
constexpr int FrameSearches = 20;
constexpr DWORD FrameSearchPauseMs = 50;

HANDLE Claim = nullptr;
uintptr_t ClaimMark = 0;

// Written out by hand: wsprintfW documents no 64-bit length modifier.
std::wstring Hex(uint64_t value) {
    std::wstring text;
    for (int shift = 60; shift >= 0; shift -= 4)
        text += L"0123456789abcdef"[(value >> shift) & 0xF];
    return text;
}

// The file's identity rather than its spelling: the volume's serial number and
// the index of its directory (which exists even before a first run writes the
// file), and its lower-cased name. A link, an 8.3 name, a mapped drive or a
// share name all come to the same. Where the directory cannot be opened, the
// path itself, which Windows reads regardless of letter case and slash.
std::wstring IdentityOf(std::string_view key) {
    std::wstring path = WideFromUtf8(key);
    if (!path.empty()) CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return path;
    HANDLE directory = CreateFileW(path.substr(0, cut + 1).c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE) return path;
    BY_HANDLE_FILE_INFORMATION info{};
    bool known = GetFileInformationByHandle(directory, &info) != FALSE;
    CloseHandle(directory);
    if (!known) return path;
    uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return Hex(info.dwVolumeSerialNumber) + L":" + Hex(index) + path.substr(cut);
}

uintptr_t MarkFor(std::string_view key) {
    uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
    for (wchar_t c : IdentityOf(key))
        hash = (hash ^ static_cast<uint64_t>(c)) * 0x100000001b3;
    return static_cast<uintptr_t>(hash | 1);  // a property of 0 would be none
}

// A mutex of another user's session is there but closed to us: taken all the same.
HANDLE CreateClaim(const std::wstring& name, bool& taken) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    DWORD error = GetLastError();
    taken = mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
    return mutex;
}

HWND FrameMarked(uintptr_t mark) {
    HWND frame = nullptr;
    while ((frame = FindWindowExW(nullptr, frame, FrameClassName, nullptr))) {
        if (reinterpret_cast<uintptr_t>(GetPropW(frame, MarkProperty)) == mark) return frame;
    }
    return nullptr;
}

void AskToComeForward(uintptr_t mark) {
    for (int search = 0; search < FrameSearches; ++search) {
        if (HWND frame = FrameMarked(mark)) {
            DWORD process = 0;
            GetWindowThreadProcessId(frame, &process);
            // Windows lets a program take the foreground only when the one in front allows it.
            AllowSetForegroundWindow(process);
            PostMessageW(frame, ComeToFrontMessage, 0, 0);
            return;
        }
        Sleep(FrameSearchPauseMs);
    }
    // No window of this session holds the claim: another user's does, and this
    // start would otherwise end without a word.
    MessageBoxW(nullptr, L"Tavimor already runs with this settings file, in another session.",
                L"Tavimor", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TASKMODAL);
}

}  // namespace

int ClaimInstance(std::string_view key) {
    uintptr_t mark = MarkFor(key);
    bool taken = false;
    HANDLE mutex = CreateClaim(L"Global\\Tavimor-" + Hex(mark), taken);
    // A system without the machine's namespace (or one that refuses it for
    // another reason) still keeps one program per file within the session.
    if (!mutex && !taken) mutex = CreateClaim(L"Local\\Tavimor-" + Hex(mark), taken);
    if (!taken) {
        // A claim that cannot be made for another reason must not keep the
        // program from starting.
        if (!mutex) return 1;
        if (Claim) CloseHandle(Claim);
        Claim = mutex;
        ClaimMark = mark;
        if (FrameHandle()) MarkFrameForInstance(FrameHandle());
        return 1;
    }
    if (mutex) CloseHandle(mutex);
    AskToComeForward(mark);
    return 0;
}

void MarkFrameForInstance(HWND frame) {
    if (ClaimMark) SetPropW(frame, MarkProperty, reinterpret_cast<HANDLE>(ClaimMark));
}

void BringFrameToFront() {
    HWND frame = FrameHandle();
    // Not yet shown (a first start still asks for its folder), it shows when ready.
    if (!frame || !IsWindowVisible(frame)) return;
    if (IsIconic(frame)) ShowWindow(frame, SW_RESTORE);
    SetForegroundWindow(frame);
}

void ReleaseInstance() {
    if (HWND frame = FrameHandle()) RemovePropW(frame, MarkProperty);
    if (Claim) CloseHandle(Claim);
    Claim = nullptr;
    ClaimMark = 0;
}
