// One running program per settings file. The claim is a named mutex in the
// session's namespace: Windows releases it when the process ends, however it
// ends, so a crash never blocks the next start. A later start finds the first
// one's frame by its class and the claim's mark, and asks it to come forward.
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

// Windows' paths ignore letter case and take either slash: one file, one claim.
uintptr_t MarkFor(std::string_view key) {
    std::wstring path = WideFromUtf8(key);
    if (!path.empty()) CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
    uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
    for (wchar_t c : path) {
        hash = (hash ^ static_cast<uint64_t>(c == L'/' ? L'\\' : c)) * 0x100000001b3;
    }
    return static_cast<uintptr_t>(hash | 1);  // a property of 0 would be none
}

// Written out by hand: wsprintfW documents no 64-bit length modifier.
std::wstring ClaimName(uint64_t mark) {
    std::wstring name = L"Local\\Tavimor-";
    for (int shift = 60; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(mark >> shift) & 0xF];
    return name;
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
}

}  // namespace

int ClaimInstance(std::string_view key) {
    uintptr_t mark = MarkFor(key);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, ClaimName(mark).c_str());
    DWORD error = GetLastError();
    bool taken = mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
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
