// The registry beneath every file of the Win32 backend: the frame and the
// controls behind their numbers, the DPI the layout is shown at, the owner of
// dialogs and the program's icon. It calls no other file of the backend but
// the fonts.
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "gui/gui.h"
#include "gui/win32/dpi_scale.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

// Child ids stay clear of IDOK and IDCANCEL, which keys may send on their own.
constexpr int FirstChildId = 100;

bool Started = false;
HWND Frame = nullptr;
int FrameNumber = 0;
int Dpi = 96;
std::map<int, ControlEntry> Controls;

// Windows tabs through the frame's children in their stacking order, and a
// screen reader names a field or a list by the static text stacked right
// before it: both are laid anew along the window's rows.
void FollowTabOrder() {
    std::vector<PlacedControl> placed;
    for (const auto& [number, entry] : Controls)
        placed.push_back({number, entry.logical.x, entry.logical.y});
    HWND previous = HWND_TOP;
    auto stack = [&previous](HWND window) {
        SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = window;
    };
    for (int number : TabOrder(placed)) {
        const ControlEntry& entry = Controls[number];
        if (entry.label) stack(entry.label);
        stack(entry.handle);
    }
}

}  // namespace

void StartRegistry(int dpi) {
    Dpi = dpi;
    Started = true;
}

bool GuiStarted() {
    return Started;
}

void RegisterFrame(HWND frame, int number) {
    Frame = frame;
    FrameNumber = number;
}

int CurrentDpi() {
    return Dpi;
}

void SetCurrentDpi(int dpi) {
    Dpi = dpi;
}

int Scaled(int pixels) {
    return Rescale(pixels, Dpi, 96);
}

HWND WindowHandle(int window) {
    return Frame && FrameNumber == window ? Frame : nullptr;
}

HWND FrameHandle() {
    return Frame;
}

int ControlWindowNumber() {
    return Frame ? FrameNumber : 0;
}

HWND ControlHandle(int control) {
    auto it = Controls.find(control);
    return it == Controls.end() ? nullptr : it->second.handle;
}

HWND ControlOfKind(int control, ControlKind kind) {
    auto it = Controls.find(control);
    return it != Controls.end() && it->second.kind == kind ? it->second.handle : nullptr;
}

int ControlNumberOf(HWND child) {
    if (!child) return -1;
    for (const auto& [number, entry] : Controls) {
        if (entry.handle == child) return number;
    }
    return -1;
}

bool InsideFrame(HWND window) {
    return Frame && window && (window == Frame || IsChild(Frame, window));
}

const std::map<int, ControlEntry>& ControlEntries() {
    return Controls;
}

void NoteControlFont(int control, FontHandle font) {
    auto it = Controls.find(control);
    if (it != Controls.end()) it->second.font = font;
}

HWND AddControl(int control, ControlKind kind, const wchar_t* windowClass, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, std::string_view text) {
    if (!Frame || Controls.count(control)) return nullptr;
    ProgramChange own;
    // WS_GROUP ends Windows' search for a control's label at the control
    // before it, so that a label names only the control right after it (Wine
    // searches on regardless).
    HWND child =
        CreateWindowExW(exStyle, windowClass, WideFromUtf8(text).c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | style, Scaled(x), Scaled(y),
                        Scaled(std::max(width, 0)), Scaled(std::max(height, 0)), Frame,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstChildId + control)),
                        GetModuleHandleW(nullptr), nullptr);
    if (!child) return nullptr;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(0)), FALSE);
    Controls[control] = {kind, child, {x, y, std::max(width, 0), std::max(height, 0)}, 0};
    FollowTabOrder();
    return child;
}

void LabelControl(int control, std::string_view name) {
    auto it = Controls.find(control);
    if (it == Controls.end()) return;
    std::wstring text = WideFromUtf8(name);
    if (HWND label = it->second.label) {
        SetWindowTextW(label, text.c_str());
        return;
    }
    it->second.label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | SS_LEFT, 0, 0, 0, 0,
                                       Frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (it->second.label) FollowTabOrder();
}

HWND DialogOwner() {
    return Frame && IsWindowVisible(Frame) ? Frame : nullptr;
}

HICON ProgramIcon(bool small) {
    int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    // Resource 1 is the program's icon; a test program without it gets Windows' own.
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size,
                             LR_DEFAULTCOLOR | LR_SHARED);
    return icon ? static_cast<HICON>(icon) : LoadIconW(nullptr, IDI_APPLICATION);
}

void ReleaseRegistry() {
    Frame = nullptr;
    FrameNumber = 0;
    Controls.clear();
    Started = false;
}
