// The arrival notice of the Win32 backend: a balloon from the program's icon in
// the notification area, which Windows 10 and later show as a toast, and a
// flash of the task bar button. A click on the balloon opens the file; a click
// on the icon brings the window back and takes the icon away.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr UINT IconId = 1;

bool IconShown = false;
// Of the newest balloon: each replaces the one before.
std::string ArrivedPath;

NOTIFYICONDATAW IconOf(HWND frame) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = frame;
    icon.uID = IconId;
    return icon;
}

// Into a fixed field of the shell's record, shortened with an ellipsis,
// never in the middle of a surrogate pair.
template <size_t Size>
void CopyInto(wchar_t (&field)[Size], std::wstring text) {
    if (text.size() >= Size) {
        text.resize(Size - 2);
        if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
        text += L'\x2026';
    }
    text.copy(field, text.size());
    field[text.size()] = L'\0';
}

// The icon as it stays between balloons: its tip, and its clicks for the frame.
NOTIFYICONDATAW PlainIcon(HWND frame) {
    NOTIFYICONDATAW icon = IconOf(frame);
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = TrayIconMessage;
    icon.hIcon = ProgramIcon(true);
    CopyInto(icon.szTip, L"Tavimor");
    return icon;
}

void RemoveIcon() {
    if (!IconShown || !FrameHandle()) return;
    NOTIFYICONDATAW icon = IconOf(FrameHandle());
    Shell_NotifyIconW(NIM_DELETE, &icon);
    IconShown = false;
}

}  // namespace

void NotifyArrival(std::string_view fileName, std::string_view link, std::string_view path) {
    HWND frame = FrameHandle();
    if (!frame) return;
    // Only a window that is not already in front is marked, until the user comes to it.
    if (GetForegroundWindow() != frame) {
        FLASHWINFO flash{sizeof flash, frame, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
    }
    NOTIFYICONDATAW icon = PlainIcon(frame);
    icon.uFlags |= NIF_INFO;
    CopyInto(icon.szInfoTitle, L"File arrived: " + WideFromUtf8(fileName));
    CopyInto(icon.szInfo, L"Downloaded from " + WideFromUtf8(link));
    icon.dwInfoFlags = NIIF_INFO;
    // Where the shell has no notification area, nothing shows and nothing
    // fails. An icon the shell lost unnoticed is added anew.
    bool shown = IconShown && Shell_NotifyIconW(NIM_MODIFY, &icon);
    if (shown || Shell_NotifyIconW(NIM_ADD, &icon)) {
        IconShown = true;
        ArrivedPath = path;
    }
}

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

// Explorer started again with an empty notification area: the icon the user
// has not taken away yet comes back, without its balloon.
void OnTaskbarCreated() {
    if (!IconShown || !FrameHandle()) return;
    NOTIFYICONDATAW icon = PlainIcon(FrameHandle());
    IconShown = Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
}

void OnTrayIcon(LPARAM event) {
    switch (LOWORD(event)) {
        case NIN_BALLOONUSERCLICK:
            OpenWithDefaultApplication(ArrivedPath);
            break;
        case WM_LBUTTONUP:
        case NIN_SELECT:
            RemoveIcon();
            BringFrameToFront();
            break;
    }
}

void ReleaseNotify() {
    RemoveIcon();
    ArrivedPath.clear();
}
