// The contract suite's driver for the Win32 backend under Wine on a virtual
// display: real mouse input through SendInput, the tip the list's tooltip
// holds for the cell under the mouse, real time.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"
#include "tests/gui/gui_driver.h"

namespace driver {
namespace {

using Clock = std::chrono::steady_clock;

UINT_PTR SafetyTimer = 0;

// Handles the thread's messages for a while, as the user's input arrives.
void Pump(std::chrono::milliseconds time) {
    for (auto end = Clock::now() + time; Clock::now() < end;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// The centre of a cell on the screen; below the rows for a row that does not
// exist.
POINT CellPoint(int list, int row, int column) {
    HWND view = ControlHandle(list);
    RECT cell{};
    if (row >= CountItems(list)) {
        GetClientRect(view, &cell);
        cell.top = cell.bottom - 6;
    } else {
        cell.top = column;
        cell.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
        SendMessageW(view, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&cell));
    }
    POINT at{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    if (row >= CountItems(list)) at.x = cell.left + 20;
    ClientToScreen(view, &at);
    return at;
}

INPUT Mouse(POINT at, DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    return input;
}

// The tooltip the backend made for the list's cell tips.
HWND TipWindowOf(HWND list) {
    struct Search {
        HWND owner, found;
    } search{GetAncestor(list, GA_ROOT), nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            wchar_t name[64] = L"";
            GetClassNameW(window, name, 64);
            if (lstrcmpiW(name, TOOLTIPS_CLASSW) != 0 || GetWindow(window, GW_OWNER) != s.owner)
                return TRUE;
            s.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND OpenBox() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            wchar_t name[16] = L"";
            GetClassNameW(window, name, 16);
            if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

bool Start() {
    return StartGui(0, nullptr) != 0;
}

void Stop() {
    if (SafetyTimer) KillTimer(nullptr, std::exchange(SafetyTimer, 0));
    ReleaseGui();
}

bool WindowShown() {
    SetForegroundWindow(FrameHandle());
    Pump(std::chrono::milliseconds(200));
    return IsWindowVisible(FrameHandle()) != 0;
}

// The whole gesture goes in at once, as the mouse would send it: the list's
// own loop that tells a click from a drag waits for the rest of it.
void Gesture(int list, int row, int type) {
    POINT at = CellPoint(list, row, 0);
    bool right = type == RightClick || type == RightDoubleClick;
    DWORD down = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    DWORD up = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    std::vector<INPUT> inputs{Mouse(at, 0), Mouse(at, down)};
    if (type == DragStart) {
        POINT to{at.x + 40, at.y + 30};
        inputs.insert(inputs.end(), {Mouse({at.x + 20, at.y + 15}, 0), Mouse(to, 0)});
        at = to;
    }
    inputs.push_back(Mouse(at, up));
    if (type == LeftDoubleClick || type == RightDoubleClick)
        inputs.insert(inputs.end(), {Mouse(at, down), Mouse(at, up)});
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    // A single click must not make a double one with the next gesture.
    Pump(std::chrono::milliseconds(GetDoubleClickTime() + 100));
}

std::string TipShown(int list, int row, int column) {
    HWND view = ControlHandle(list);
    POINT at = CellPoint(list, row, column);
    SetCursorPos(at.x, at.y);
    POINT inside = at;
    ScreenToClient(view, &inside);
    SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(inside.x, inside.y));
    HWND tip = TipWindowOf(view);
    if (!tip) return "";
    wchar_t text[512] = L"";
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = view;
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return Utf8FromWide(text);
}

// The key goes in as the keyboard would send it, and the backend's own
// dispatch (which moves the focus on Tab) handles it.
void PressKey(Key key) {
    INPUT inputs[2]{};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key == Key::Tab ? VK_TAB : VK_RETURN;
        if (key == Key::KeypadEnter) input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
    for (auto end = Clock::now() + std::chrono::milliseconds(200); Clock::now() < end;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        DispatchWaitingInput();
    }
}

int FocusedControl() {
    HWND focus = GetFocus();
    // A control's own child (the list's header) stands for the control.
    while (focus && GetParent(focus) != FrameHandle())
        focus = GetParent(focus);
    return ControlNumberOf(focus);
}

// As MSAA (and UI Automation's proxy for it) finds it.
std::string AccessibleName(int control) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(ControlHandle(control), static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
        return "";
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result;
    if (object->get_accName(self, &name) == S_OK && name) result = Utf8FromWide(name);
    SysFreeString(name);
    object->Release();
    return result;
}

void LetTimePass(int64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TickDuringNextBox(int) {
    // Ends the box if the tick never comes: the box's own loop runs this timer.
    SafetyTimer = SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        if (HWND box = OpenBox()) PostMessageW(box, WM_CLOSE, 0, 0);
    });
}

void AnswerOpenBox(int answer) {
    if (HWND box = OpenBox()) PostMessageW(box, WM_COMMAND, answer == AnswerYes ? IDYES : IDNO, 0);
}

bool WorkRunsAside() {
    return true;
}

void Minimise() {
    ShowWindow(FrameHandle(), SW_MINIMIZE);
}

bool Minimised() {
    Pump(std::chrono::milliseconds(50));
    return IsIconic(FrameHandle()) != 0;
}

}  // namespace driver
