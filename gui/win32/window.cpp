// The frame: its window procedure, a flat dispatch of the frame's messages to
// the file that handles each, and the frame's own place, size, activation and
// DPI, and the end of the session, which Windows tells the frame. This is the
// top of the Win32 backend: it calls the other files, and none of them calls it.
//
// Controls sit at fixed places of a 96-dpi layout, scaled to the frame's
// monitor and scaled anew when the frame moves to a monitor of another DPI,
// and take their Tab order from their places (registry.cpp).
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "gui/gui.h"
#include "gui/placement.h"
#include "gui/win32/dpi_scale.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

const wchar_t FrameClassName[] = L"TavimorFrame";

namespace {

constexpr DWORD FrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// What the frame keeps of itself beside its handle and number (registry.cpp).
struct Frame {
    int number = 0;
    POINT last_normal{};
    HWND focus_before_deactivation = nullptr;
    bool shown_once = false;
    SIZE client{};  // 96-dpi pixels, the same on every monitor
};

Frame Window;

// Windows may end the process at any moment once WM_ENDSESSION has been
// answered, so the save is made when the session asks whether it may end; an
// end that comes unasked saves then. A cancelled end saves again next time.
bool SavedForSessionEnd = false;

void OnQueryEndSession() {
    if (!SavedForSessionEnd) RunSessionEndProcedure();
    SavedForSessionEnd = true;
}

void OnEndSession(bool ending) {
    if (ending && !SavedForSessionEnd) RunSessionEndProcedure();
    SavedForSessionEnd = false;
}

void NotePosition() {
    RECT outer;
    HWND frame = FrameHandle();
    if (frame && !IsIconic(frame) && GetWindowRect(frame, &outer)) {
        Window.last_normal = {outer.left, outer.top};
    }
}

void OnCommand(WPARAM wParam, LPARAM lParam) {
    int control = ControlNumberOf(reinterpret_cast<HWND>(lParam));
    if (control < 0) return;
    int code = HIWORD(wParam);
    if (!OnControlCommand(control, code)) OnComboCommand(control, code);
}

// The control that had the focus gets it back when the frame is active again,
// as a dialog box does; the frame itself holds it otherwise.
bool OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        Window.focus_before_deactivation =
            focus && focus != FrameHandle() && InsideFrame(focus) ? focus : nullptr;
        return false;
    }
    HWND back = Window.focus_before_deactivation;
    if (HIWORD(wParam) || !back || !IsWindow(back) || !IsWindowEnabled(back)) return false;
    ProgramChange own;
    SetFocus(back);
    return true;
}

// Functions of Windows 10 (1607) and later, which Wine may lack too: looked up,
// not linked, so that the program still starts without them.
template <typename Function>
Function User32Function(const char* name) {
    FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// The outer size of a frame around a client area of the layout at a DPI. The
// caption and borders of another monitor have their own sizes, which the
// older call, at the system's DPI, does not know.
SIZE OuterSize(SIZE client, int dpi) {
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = User32Function<AdjustForDpi>("AdjustWindowRectExForDpi");
    RECT outer{0, 0, Rescale(client.cx, dpi, 96), Rescale(client.cy, dpi, 96)};
    if (!adjust || !adjust(&outer, FrameStyle, FALSE, 0, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&outer, FrameStyle, FALSE, 0);
    }
    return {outer.right - outer.left, outer.bottom - outer.top};
}

// The DPI of the monitor the frame is on; the start's DPI where Windows cannot tell.
int FrameDpi(HWND frame) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpi_for = User32Function<DpiForWindow>("GetDpiForWindow");
    int dpi = dpi_for ? static_cast<int>(dpi_for(frame)) : 0;
    return dpi > 0 ? dpi : CurrentDpi();
}

// New fonts behind the same handles, every control at its place and size at
// dpi; the old fonts go once no control uses them.
void RescaleControls() {
    std::vector<HFONT> old = RemakeFonts(CurrentDpi());
    for (const auto& [number, entry] : ControlEntries()) {
        SendMessageW(entry.handle, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(entry.font)), FALSE);
        const ControlPlacement& at = entry.logical;
        SetWindowPos(entry.handle, nullptr, Scaled(at.x), Scaled(at.y), Scaled(at.width),
                     Scaled(at.height), SWP_NOZORDER | SWP_NOACTIVATE);
        OnFontChanged(number);
    }
    for (HFONT font : old)
        DeleteObject(font);
}

// The frame keeps its corner at `at` and the client area its logical size.
void ApplyDpi(int dpi, POINT at) {
    HWND frame = FrameHandle();
    if (!frame || dpi < 1) return;
    int before = CurrentDpi();
    SetCurrentDpi(dpi);
    RescaleControls();
    OnListsDpiChanged(before);
    SIZE outer = OuterSize(Window.client, dpi);
    SetWindowPos(frame, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // The main loop decides whether the window closes.
            QueueCloseRequest(Window.number);
            return 0;
        case WM_COMMAND:
            OnCommand(wParam, lParam);
            return 0;
        case WM_NOTIFY:
            OnListNotify(*reinterpret_cast<const NMHDR*>(lParam));
            return 0;
        case WM_CTLCOLOREDIT:
            if (HBRUSH brush =
                    FieldBrush(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            break;
        case WM_ACTIVATE:
            if (OnActivate(wParam)) return 0;
            break;
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            OnSystemColoursChanged();
            break;
        case WM_WINDOWPOSCHANGED:
            NotePosition();
            break;
        case WM_DPICHANGED: {
            // Only the suggested corner is taken: the size follows from the
            // layout, whose frame does not grow in proportion to its client area.
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            ApplyDpi(HIWORD(wParam), {suggested.left, suggested.top});
            return 0;
        }
        case WM_TIMER:
            if (wParam != AlarmTimerId) break;
            OnAlarm();
            return 0;
        case WM_POWERBROADCAST:
            // Deadlines that passed asleep are met at the wake-up.
            if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) OnAlarm();
            return TRUE;
        case RunPendingTicksMessage:
            RunPendingTicks();
            return 0;
        case TrayIconMessage:
            OnTrayIcon(lParam);
            return 0;
        case ComeToFrontMessage:
            BringFrameToFront();
            return 0;
        case WM_QUERYENDSESSION:
            OnQueryEndSession();
            return TRUE;
        case WM_ENDSESSION:
            OnEndSession(wParam != FALSE);
            return 0;
    }
    // A registered message, not a constant: the shell's number for it (0 if none).
    if (UINT created = TaskbarCreatedMessage(); created != 0 && message == created)
        OnTaskbarCreated();
    return DefWindowProcW(frame, message, wParam, lParam);
}

int ClampCoordinate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, -32768, 32767));
}

// Top-left corner that centres an outer frame of that size in the primary
// screen's work area (the screen less the task bar).
POINT CentredOnWorkArea(int width, int height) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        return {0, 0};
    }
    const RECT& area = monitor.rcWork;
    int outer_width = std::min<int>(width, area.right - area.left);
    int outer_height = std::min<int>(height, area.bottom - area.top);
    return {area.left + (area.right - area.left - outer_width) / 2,
            area.top + (area.bottom - area.top - outer_height) / 2};
}

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, RECT*, LPARAM screens) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        const RECT& area = info.rcWork;
        reinterpret_cast<std::vector<ScreenRect>*>(screens)->push_back(
            {area.left, area.top, area.right, area.bottom});
    }
    return TRUE;
}

}  // namespace

bool StartWindows() {
    WNDCLASSEXW frame_class{};
    frame_class.cbSize = sizeof frame_class;
    frame_class.lpfnWndProc = FrameProc;
    frame_class.hInstance = GetModuleHandleW(nullptr);
    frame_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frame_class.lpszClassName = FrameClassName;
    frame_class.hIcon = ProgramIcon(false);
    frame_class.hIconSm = ProgramIcon(true);
    if (!RegisterClassExW(&frame_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    StartRegistry(StartFonts());
    return true;
}

void ReleaseWindow() {
    ProgramChange own;
    if (HWND frame = FrameHandle()) DestroyWindow(frame);  // and its controls with it
    Window = {};
    SavedForSessionEnd = false;
    ReleaseRegistry();
    ReleaseFieldColours();
    ReleaseFonts();
}

int CreateWindowFrame(int window, int x, int y, int clientWidth, int clientHeight,
                      std::string_view title, int options) {
    if (FrameHandle() || !GuiStarted() || clientWidth < 0 || clientHeight < 0) return 0;
    if (clientWidth > 32767 || clientHeight > 32767) return 0;
    SIZE client{clientWidth, clientHeight};
    SIZE outer = OuterSize(client, CurrentDpi());
    POINT at = options & WindowCentered ? CentredOnWorkArea(outer.cx, outer.cy)
                                        : POINT{ClampCoordinate(x), ClampCoordinate(y)};
    HWND frame =
        CreateWindowExW(0, FrameClassName, WideFromUtf8(title).c_str(), FrameStyle, at.x, at.y,
                        outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!frame) return 0;
    RegisterFrame(frame, window);
    Window = {window, at, nullptr, false, client};
    // Windows tells no change for a frame born on a monitor of another DPI.
    if (FrameDpi(frame) != CurrentDpi()) ApplyDpi(FrameDpi(frame), at);
    NotePosition();
    MarkFrameForInstance(frame);
    if (!(options & WindowHidden)) ShowWindowFrame(window);
    return 1;
}

int64_t WindowLeft(int window) {
    if (!WindowHandle(window)) return 0;
    NotePosition();
    return Window.last_normal.x;
}

int64_t WindowTop(int window) {
    if (!WindowHandle(window)) return 0;
    NotePosition();
    return Window.last_normal.y;
}

void MoveWindowTo(int window, int64_t x, int64_t y) {
    if (!WindowHandle(window)) return;
    POINT to{ClampCoordinate(x), ClampCoordinate(y)};
    if (IsIconic(FrameHandle())) {
        // Minimised, the frame is placed where it will come back to. The normal
        // place is kept in work-area coordinates, so it is moved by the difference.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(FrameHandle(), &placement);
        OffsetRect(&placement.rcNormalPosition, to.x - Window.last_normal.x,
                   to.y - Window.last_normal.y);
        SetWindowPlacement(FrameHandle(), &placement);
        Window.last_normal = to;
        return;
    }
    SetWindowPos(FrameHandle(), nullptr, to.x, to.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    NotePosition();
}

int WindowPlaceVisible(int window, int64_t x, int64_t y) {
    HWND frame = WindowHandle(window);
    if (!frame) return 0;
    // The frame's size and title bar as they are now; a minimised frame has
    // neither, and those of the layout at the current DPI stand in.
    SIZE outer = OuterSize(Window.client, CurrentDpi());
    int64_t bar = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFIXEDFRAME);
    RECT now;
    POINT client{0, 0};
    if (!IsIconic(frame) && GetWindowRect(frame, &now) && ClientToScreen(frame, &client)) {
        outer = {now.right - now.left, now.bottom - now.top};
        bar = client.y - now.top;
    }
    std::vector<ScreenRect> screens;
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&screens));
    const int64_t left = ClampCoordinate(x), top = ClampCoordinate(y);
    return TitleBarVisible({left, top, left + outer.cx, top + outer.cy}, bar, screens) ? 1 : 0;
}

void ShowWindowFrame(int window) {
    if (!WindowHandle(window)) return;
    // The first show takes the state the program was started in (a shortcut
    // may ask for it minimised); later ones keep the state the frame has.
    ShowWindow(FrameHandle(), Window.shown_once ? SW_SHOW : SW_SHOWDEFAULT);
    Window.shown_once = true;
    UpdateWindow(FrameHandle());
    // The frame holds the focus until the user or the program gives it to a
    // control: the first keys pressed must not move the list's selection.
    if (GetActiveWindow() == FrameHandle() && !GetFocus()) SetFocus(FrameHandle());
}
