// The frame, the registry of controls, buttons and the text field, fonts and
// colours. Controls sit at fixed places of a 96-dpi layout, scaled to the
// frame's monitor and scaled anew when the frame moves to a monitor of another
// DPI, and take their Tab order from the order of their creation (Windows
// keeps children in that order).
//
// The frame's window procedure is where the controls' notifications become
// events of the queue; the list and the combo box have theirs in list_view.cpp.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/win32/dpi_scale.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

const wchar_t FrameClassName[] = L"TavimorFrame";

namespace {

constexpr DWORD FrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Child ids stay clear of IDOK and IDCANCEL, which keys may send on their own.
constexpr int FirstChildId = 100;
constexpr UINT_PTR FieldSubclassId = 1;

struct Frame {
    HWND handle = nullptr;
    int number = 0;
    POINT last_normal{};
    HWND focus_before_deactivation = nullptr;
    bool shown_once = false;
    SIZE client{};  // 96-dpi pixels, the same on every monitor
};

// Where the program put a control, in 96-dpi pixels: the place on any monitor
// is worked out from this, never from the last one, so that no rounding adds up.
struct Placement {
    int x, y, width, height;
};

struct Entry {
    ControlKind kind;
    HWND handle;
    Placement logical;
    FontHandle font;  // 0 for the desktop's message font
};

// A font of MakeFont, kept by what it was asked for so it can be made again
// at another DPI; the program's handle is its place in Fonts plus one.
struct MadeFont {
    HFONT handle;
    std::wstring face;
    int points;
};

struct Brush {
    HBRUSH handle;
    int users;
};

bool Started = false;
int Dpi = 96;
// The DPI the desktop's metrics are given at, whatever monitor the frame is on.
int SystemDpi = 96;
Frame Window;
std::map<int, Entry> Controls;
std::vector<MadeFont> Fonts;
LOGFONTW GuiFontShape{};
HFONT GuiFont = nullptr;
// Brushes by colour, shared by the fields painted in it.
std::map<COLORREF, Brush> Brushes;
std::map<int, COLORREF> FieldColours;

void NotePosition() {
    RECT outer;
    if (Window.handle && !IsIconic(Window.handle) && GetWindowRect(Window.handle, &outer)) {
        Window.last_normal = {outer.left, outer.top};
    }
}

// The text field tells its focus changes here, where the other window is known:
// only a move between the frame's own controls is the user's, while focus that
// leaves and comes back with the frame's activation never left the field
// within the window.
LRESULT CALLBACK FieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR control) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(field, FieldProc, FieldSubclassId);
    LRESULT result = DefSubclassProc(field, message, wParam, lParam);
    if ((message == WM_SETFOCUS || message == WM_KILLFOCUS) && !ProgramChange::Active() &&
        InsideFrame(reinterpret_cast<HWND>(wParam))) {
        QueueControlEvent(static_cast<int>(control),
                          message == WM_SETFOCUS ? FieldFocusGained : FieldFocusLost, false);
    }
    return result;
}

void OnCommand(WPARAM wParam, LPARAM lParam) {
    int control = ControlNumberOf(reinterpret_cast<HWND>(lParam));
    if (control < 0) return;
    int code = HIWORD(wParam);
    if (ControlOfKind(control, ControlKind::Button)) {
        if (code == BN_CLICKED) QueueControlEvent(control, ButtonClick, false);
    } else if (ControlOfKind(control, ControlKind::Field)) {
        if (code == EN_CHANGE && !ProgramChange::Active()) {
            QueueControlEvent(control, FieldTextChange, false);
        }
    } else {
        OnComboCommand(control, code);
    }
}

HBRUSH FieldBrush(HWND field, HDC dc) {
    auto colour = FieldColours.find(ControlNumberOf(field));
    if (colour == FieldColours.end()) return nullptr;
    SetBkColor(dc, colour->second);
    return Brushes[colour->second].handle;
}

// The control that had the focus gets it back when the frame is active again,
// as a dialog box does; the frame itself holds it otherwise.
bool OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        Window.focus_before_deactivation =
            focus && focus != Window.handle && InsideFrame(focus) ? focus : nullptr;
        return false;
    }
    HWND back = Window.focus_before_deactivation;
    if (HIWORD(wParam) || !back || !IsWindow(back) || !IsWindowEnabled(back)) return false;
    ProgramChange own;
    SetFocus(back);
    return true;
}

void ApplyDpi(int dpi, POINT at);

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
    }
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

bool FaceInstalled(const std::wstring& face) {
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    face.copy(wanted.lfFaceName, face.size());
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The desktop's own font for dialogs and messages.
LOGFONTW MessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(LOGFONTW), &metrics.lfMessageFont);
    }
    return metrics.lfMessageFont;
}

void ReleaseBrushOf(int control) {
    auto colour = FieldColours.find(control);
    if (colour == FieldColours.end()) return;
    auto brush = Brushes.find(colour->second);
    if (brush != Brushes.end() && --brush->second.users == 0) {
        DeleteObject(brush->second.handle);
        Brushes.erase(brush);
    }
    FieldColours.erase(colour);
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
    return dpi > 0 ? dpi : Dpi;
}

// The message font comes at the system's DPI and is scaled from there.
HFONT CreateGuiFont(int dpi) {
    LOGFONTW shape = GuiFontShape;
    shape.lfHeight = Rescale(shape.lfHeight, dpi, SystemDpi);
    return CreateFontIndirectW(&shape);
}

HFONT CreateMadeFont(const MadeFont& font, int dpi) {
    return CreateFontW(-Rescale(font.points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, font.face.c_str());
}

HFONT FontOf(FontHandle font) {
    return font == 0 ? GuiFont : Fonts[static_cast<size_t>(font - 1)].handle;
}

// A font Windows refuses to make keeps its old size rather than vanish.
void Swap(HFONT& font, HFONT made, std::vector<HFONT>& old) {
    if (!made) return;
    old.push_back(std::exchange(font, made));
}

// New HFONTs behind the same handles; the old ones go once no control uses them.
void RemakeFonts() {
    std::vector<HFONT> old;
    Swap(GuiFont, CreateGuiFont(Dpi), old);
    for (MadeFont& font : Fonts)
        Swap(font.handle, CreateMadeFont(font, Dpi), old);
    for (const auto& [number, entry] : Controls)
        SendMessageW(entry.handle, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(entry.font)), FALSE);
    for (HFONT font : old)
        DeleteObject(font);
}

void PlaceControls() {
    for (const auto& [number, entry] : Controls) {
        const Placement& at = entry.logical;
        SetWindowPos(entry.handle, nullptr, Scaled(at.x), Scaled(at.y), Scaled(at.width),
                     Scaled(at.height), SWP_NOZORDER | SWP_NOACTIVATE);
        OnFontChanged(number);
    }
}

// The frame keeps its corner at `at` and the client area its logical size.
void ApplyDpi(int dpi, POINT at) {
    if (!Window.handle || dpi < 1) return;
    int before = std::exchange(Dpi, dpi);
    RemakeFonts();
    PlaceControls();
    OnListsDpiChanged(before);
    SIZE outer = OuterSize(Window.client, Dpi);
    SetWindowPos(Window.handle, nullptr, at.x, at.y, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(Window.handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace

bool GuiStarted() {
    return Started;
}

// Called by StartGui once the common controls are there.
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
    HDC screen = GetDC(nullptr);
    SystemDpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    if (SystemDpi <= 0) SystemDpi = 96;
    Dpi = SystemDpi;
    GuiFontShape = MessageFont();
    GuiFont = CreateGuiFont(Dpi);
    Started = true;
    return true;
}

int Scaled(int pixels) {
    return Rescale(pixels, Dpi, 96);
}

HWND WindowHandle(int window) {
    return Window.handle && Window.number == window ? Window.handle : nullptr;
}

HWND FrameHandle() {
    return Window.handle;
}

int ControlWindowNumber() {
    return Window.handle ? Window.number : 0;
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
    return Window.handle && window && (window == Window.handle || IsChild(Window.handle, window));
}

HWND AddControl(int control, ControlKind kind, const wchar_t* windowClass, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, std::string_view text) {
    if (!Window.handle || Controls.count(control)) return nullptr;
    ProgramChange own;
    HWND child =
        CreateWindowExW(exStyle, windowClass, WideFromUtf8(text).c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, Scaled(x), Scaled(y),
                        Scaled(std::max(width, 0)), Scaled(std::max(height, 0)), Window.handle,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstChildId + control)),
                        GetModuleHandleW(nullptr), nullptr);
    if (!child) return nullptr;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont), FALSE);
    Controls[control] = {kind, child, {x, y, std::max(width, 0), std::max(height, 0)}, 0};
    return child;
}

HWND DialogOwner() {
    return Window.handle && IsWindowVisible(Window.handle) ? Window.handle : nullptr;
}

HICON ProgramIcon(bool small) {
    int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    // Resource 1 is the program's icon; a test program without it gets Windows' own.
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size,
                             LR_DEFAULTCOLOR | LR_SHARED);
    return icon ? static_cast<HICON>(icon) : LoadIconW(nullptr, IDI_APPLICATION);
}

void ReleaseControls() {
    ProgramChange own;
    if (Window.handle) DestroyWindow(Window.handle);  // and its controls with it
    Window = {};
    Controls.clear();
    for (const MadeFont& font : Fonts)
        DeleteObject(font.handle);
    Fonts.clear();
    for (auto& [colour, brush] : Brushes)
        DeleteObject(brush.handle);
    Brushes.clear();
    FieldColours.clear();
    if (GuiFont) DeleteObject(GuiFont);
    GuiFont = nullptr;
    Started = false;
}

int CreateWindowFrame(int window, int x, int y, int clientWidth, int clientHeight,
                      std::string_view title, int options) {
    if (Window.handle || !Started || clientWidth < 0 || clientHeight < 0) return 0;
    if (clientWidth > 32767 || clientHeight > 32767) return 0;
    SIZE client{clientWidth, clientHeight};
    SIZE outer = OuterSize(client, Dpi);
    POINT at = options & WindowCentered ? CentredOnWorkArea(outer.cx, outer.cy)
                                        : POINT{ClampCoordinate(x), ClampCoordinate(y)};
    HWND frame =
        CreateWindowExW(0, FrameClassName, WideFromUtf8(title).c_str(), FrameStyle, at.x, at.y,
                        outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!frame) return 0;
    Window = {frame, window, at, nullptr, false, client};
    // Windows tells no change for a frame born on a monitor of another DPI.
    if (FrameDpi(frame) != Dpi) ApplyDpi(FrameDpi(frame), at);
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
    if (IsIconic(Window.handle)) {
        // Minimised, the frame is placed where it will come back to. The normal
        // place is kept in work-area coordinates, so it is moved by the difference.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(Window.handle, &placement);
        OffsetRect(&placement.rcNormalPosition, to.x - Window.last_normal.x,
                   to.y - Window.last_normal.y);
        SetWindowPlacement(Window.handle, &placement);
        Window.last_normal = to;
        return;
    }
    SetWindowPos(Window.handle, nullptr, to.x, to.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    NotePosition();
}

void ShowWindowFrame(int window) {
    if (!WindowHandle(window)) return;
    // The first show takes the state the program was started in (a shortcut
    // may ask for it minimised); later ones keep the state the frame has.
    ShowWindow(Window.handle, Window.shown_once ? SW_SHOW : SW_SHOWDEFAULT);
    Window.shown_once = true;
    UpdateWindow(Window.handle);
    // The frame holds the focus until the user or the program gives it to a
    // control: the first keys pressed must not move the list's selection.
    if (GetActiveWindow() == Window.handle && !GetFocus()) SetFocus(Window.handle);
}

int CreateButton(int control, int x, int y, int width, int height, std::string_view text) {
    return AddControl(control, ControlKind::Button, L"BUTTON", BS_PUSHBUTTON, 0, x, y, width,
                      height, text)
               ? 1
               : 0;
}

int CreateTextField(int control, int x, int y, int width, int height, std::string_view text) {
    HWND field = AddControl(control, ControlKind::Field, L"EDIT", ES_LEFT | ES_AUTOHSCROLL,
                            WS_EX_CLIENTEDGE, x, y, width, height, text);
    if (!field) return 0;
    SendMessageW(field, EM_SETLIMITTEXT, 0, 0);  // no limit of its own
    SetWindowSubclass(field, FieldProc, FieldSubclassId, static_cast<DWORD_PTR>(control));
    return 1;
}

void SetControlFont(int control, FontHandle font) {
    HWND child = ControlHandle(control);
    if (!child || font < 0 || font > static_cast<FontHandle>(Fonts.size())) return;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(font)), TRUE);
    Controls[control].font = font;
    OnFontChanged(control);
}

void DisableControl(int control, int disabled) {
    HWND child = ControlHandle(control);
    if (!child) return;
    ProgramChange own;
    EnableWindow(child, disabled == 0);
    // Windows takes the focus from a control it disables and gives it to no
    // one; the frame keeps it, so that Tab still works.
    if (!GetFocus() && GetActiveWindow() == Window.handle) SetFocus(Window.handle);
}

void FocusControl(int control) {
    ProgramChange own;
    if (HWND child = ControlHandle(control)) SetFocus(child);
}

void SetControlText(int control, std::string_view text) {
    HWND child = ControlOfKind(control, ControlKind::Button);
    if (!child) child = ControlOfKind(control, ControlKind::Field);
    if (!child) return;
    ProgramChange own;
    SetWindowTextW(child, WideFromUtf8(text).c_str());
}

std::string ControlText(int control) {
    HWND child = ControlOfKind(control, ControlKind::Button);
    if (!child) child = ControlOfKind(control, ControlKind::Field);
    if (!child) return "";
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(child, text.data(), static_cast<int>(text.size()))));
    return Utf8FromWide(text);
}

void SetBackColor(int control, Colour colour) {
    HWND field = ControlOfKind(control, ControlKind::Field);
    if (!field) return;
    COLORREF rgb = static_cast<COLORREF>(colour & 0xFFFFFF);  // the same packing as Win32's
    ReleaseBrushOf(control);
    auto brush = Brushes.find(rgb);
    if (brush == Brushes.end()) {
        HBRUSH made = CreateSolidBrush(rgb);
        if (!made) return;
        brush = Brushes.emplace(rgb, Brush{made, 0}).first;
    }
    ++brush->second.users;
    FieldColours[control] = rgb;
    InvalidateRect(field, nullptr, TRUE);
}

FontHandle MakeFont(std::string_view face, int points) {
    if (!Started || points < 1 || points > 1000) return 0;
    std::wstring name = WideFromUtf8(face);
    if (!FaceInstalled(name)) name = MessageFont().lfFaceName;
    MadeFont font{nullptr, name, points};
    font.handle = CreateMadeFont(font, Dpi);
    if (!font.handle) return 0;
    Fonts.push_back(std::move(font));
    return static_cast<FontHandle>(Fonts.size());
}
