// Push buttons and the text field, and what the program does to any control:
// its font, whether it is enabled, the focus, its text, its colour and its
// name for screen readers.
#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr UINT_PTR FieldSubclassId = 1;

struct Brush {
    HBRUSH handle;
    int users;
};

// Brushes by colour, shared by the fields painted in it.
std::map<COLORREF, Brush> Brushes;
std::map<int, COLORREF> FieldColours;
// The desktop asks for its own colours everywhere (high contrast).
bool HighContrast = false;

void ReadHighContrast() {
    HIGHCONTRASTW setting{};
    setting.cbSize = sizeof setting;
    HighContrast = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
                   (setting.dwFlags & HCF_HIGHCONTRASTON);
}

// The text field tells its focus changes here, where the other window is known:
// only a move between the frame's own controls is the user's, while focus that
// leaves and comes back with the frame's activation never left the field
// within the window. Enter is told here too, which a field outside a dialog
// box would only beep at.
LRESULT CALLBACK FieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR control) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(field, FieldProc, FieldSubclassId);
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        QueueControlEvent(static_cast<int>(control), FieldEnter, false);
        return 0;
    }
    if (message == WM_CHAR && (wParam == L'\r' || wParam == L'\n')) return 0;
    LRESULT result = DefSubclassProc(field, message, wParam, lParam);
    if ((message == WM_SETFOCUS || message == WM_KILLFOCUS) && !ProgramChange::Active() &&
        InsideFrame(reinterpret_cast<HWND>(wParam))) {
        QueueControlEvent(static_cast<int>(control),
                          message == WM_SETFOCUS ? FieldFocusGained : FieldFocusLost, false);
    }
    return result;
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

HWND TextControl(int control) {
    HWND child = ControlOfKind(control, ControlKind::Button);
    return child ? child : ControlOfKind(control, ControlKind::Field);
}

}  // namespace

bool OnControlCommand(int control, int code) {
    if (ControlOfKind(control, ControlKind::Button)) {
        if (code == BN_CLICKED) QueueControlEvent(control, ButtonClick, false);
        return true;
    }
    if (ControlOfKind(control, ControlKind::Field)) {
        if (code == EN_CHANGE && !ProgramChange::Active())
            QueueControlEvent(control, FieldTextChange, false);
        return true;
    }
    return false;
}

HBRUSH FieldBrush(HWND field, HDC dc) {
    auto colour = FieldColours.find(ControlNumberOf(field));
    if (colour == FieldColours.end() || HighContrast) return nullptr;
    SetBkColor(dc, colour->second);
    // Colour and COLORREF pack red, green and blue alike.
    SetTextColor(dc, static_cast<COLORREF>(TextColourOn(colour->second)));
    return Brushes[colour->second].handle;
}

void OnSystemColoursChanged() {
    ReadHighContrast();
    // Common controls learn of new colours only from their parent.
    for (const auto& [number, entry] : ControlEntries()) {
        SendMessageW(entry.handle, WM_SYSCOLORCHANGE, 0, 0);
        InvalidateRect(entry.handle, nullptr, TRUE);
    }
}

void ReleaseFieldColours() {
    for (auto& [colour, brush] : Brushes)
        DeleteObject(brush.handle);
    Brushes.clear();
    FieldColours.clear();
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
    ReadHighContrast();
    return 1;
}

void SetControlFont(int control, FontHandle font) {
    HWND child = ControlHandle(control);
    if (!child || !IsFont(font)) return;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(font)), TRUE);
    NoteControlFont(control, font);
    OnFontChanged(control);
}

void DisableControl(int control, int disabled) {
    HWND child = ControlHandle(control);
    if (!child) return;
    ProgramChange own;
    EnableWindow(child, disabled == 0);
    // Windows takes the focus from a control it disables and gives it to no
    // one; the frame keeps it, so that Tab still works.
    if (!GetFocus() && GetActiveWindow() == FrameHandle()) SetFocus(FrameHandle());
}

bool ControlEnabled(int control) {
    HWND child = ControlHandle(control);
    return child && IsWindowEnabled(child);
}

void FocusControl(int control) {
    ProgramChange own;
    if (HWND child = ControlHandle(control)) SetFocus(child);
}

void SetControlText(int control, std::string_view text) {
    HWND child = TextControl(control);
    if (!child) return;
    ProgramChange own;
    SetWindowTextW(child, WideFromUtf8(text).c_str());
}

std::string ControlText(int control) {
    HWND child = TextControl(control);
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

// Windows names a field or a list after the static text stacked right before
// it; Wine names a list by its window text, which a list does not show.
void SetAccessibleName(int control, std::string_view name) {
    LabelControl(control, name);
    if (HWND list = ControlOfKind(control, ControlKind::List))
        SetWindowTextW(list, WideFromUtf8(name).c_str());
}
