// What the files of the Win32 backend share among themselves, file by file in
// the order of their layers: the fonts and the registry at the bottom, the
// controls, lists, events, notifications and instance above them, and the
// frame's window procedure (window.cpp) on top, which hands the frame's
// messages to their handlers below. No file calls one above it, and no two
// call each other. Not part of the seam; app/ never sees it.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "gui/backend.h"

// The frame's window class, which a later start looks for (instance.cpp).
extern const wchar_t FrameClassName[];

// Messages to the frame, posted from elsewhere in the program or the shell.
constexpr UINT RunPendingTicksMessage = WM_APP + 1;
constexpr UINT TrayIconMessage = WM_APP + 2;
constexpr UINT ComeToFrontMessage = WM_APP + 3;
// The one WM_TIMER of the frame: the alarm at the earliest slot deadline.
constexpr UINT_PTR AlarmTimerId = 1;

// ---- fonts.cpp ----

// Makes the desktop's message font at the system's DPI; returns that DPI.
int StartFonts();
// Whether font is 0 (the message font) or a font of MakeFont.
bool IsFont(FontHandle font);
// The HFONT behind a handle; nullptr for no font.
HFONT FontOf(FontHandle font);
// Makes every font again at dpi behind the same handles; returns the old
// HFONTs, to be deleted once no control uses them.
std::vector<HFONT> RemakeFonts(int dpi);
void ReleaseFonts();

// ---- registry.cpp ----

// Where the program put a control, in 96-dpi pixels: the place on any monitor
// is worked out from this, never from the last one, so that no rounding adds up.
struct ControlPlacement {
    int x, y, width, height;
};

struct ControlEntry {
    ControlKind kind;
    HWND handle;
    ControlPlacement logical;
    FontHandle font;       // 0 for the desktop's message font
    HWND label = nullptr;  // hidden static text that names it to screen readers
};

// Opens the registry with the layout shown at dpi.
void StartRegistry(int dpi);
// True between StartGui and ReleaseGui.
bool GuiStarted();
// Files the frame under its window number.
void RegisterFrame(HWND frame, int number);
// The DPI the layout is shown at: that of the frame's monitor.
int CurrentDpi();
void SetCurrentDpi(int dpi);
// Pixels of the 96-dpi layout at the current DPI.
int Scaled(int pixels);

// The frame of a window number, the window of a control number; nullptr when
// the number names nothing.
HWND WindowHandle(int window);
HWND ControlHandle(int control);
// The frame holding the controls; nullptr when there is none.
HWND FrameHandle();
// The control number of a child window; -1 for any other window.
int ControlNumberOf(HWND child);
// The window and its children.
bool InsideFrame(HWND window);
// The window of a control of that kind; nullptr for any other control.
HWND ControlOfKind(int control, ControlKind kind);
// Every control, by number.
const std::map<int, ControlEntry>& ControlEntries();
void NoteControlFont(int control, FontHandle font);
// Creates a visible child of the frame that takes part in the Tab order, at a
// rectangle given in 96-dpi pixels, in the default GUI font, and files it under
// its number. nullptr when there is no frame, the number is taken or Windows
// refuses.
HWND AddControl(int control, ControlKind kind, const wchar_t* windowClass, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, std::string_view text);
// Gives a control a hidden label of that text, the name screen readers read
// for it; a second call changes the text.
void LabelControl(int control, std::string_view name);

// The owner of a modal dialog: the frame while it is on screen.
HWND DialogOwner();
// The program's icon at the small or the large system size.
HICON ProgramIcon(bool small);
// Forgets the frame and the controls, which are gone already.
void ReleaseRegistry();

// ---- Handlers the frame's window procedure hands its messages to ----

// controls.cpp: a button's or the text field's notification; false for
// another control's.
bool OnControlCommand(int control, int code);
// controls.cpp: the brush of a field's colour, after setting it and a text
// colour to match on dc; nullptr for a field without one, and for every field
// while the desktop is in high contrast.
HBRUSH FieldBrush(HWND field, HDC dc);
// controls.cpp: the desktop's colours or high-contrast setting may have changed.
void OnSystemColoursChanged();
void OnListNotify(const NMHDR& header);      // list_view.cpp
void OnComboCommand(int control, int code);  // list_view.cpp
void OnFontChanged(int control);             // list_view.cpp
void OnListsDpiChanged(int dpiBefore);       // list_view.cpp
void OnAlarm();                              // events_timers.cpp
void OnTrayIcon(LPARAM event);               // notify.cpp
// notify.cpp: the shell's message that its task bar is new (Explorer started
// again), and what the frame does on it.
UINT TaskbarCreatedMessage();
void OnTaskbarCreated();
void BringFrameToFront();               // instance.cpp
void MarkFrameForInstance(HWND frame);  // instance.cpp

// ---- window.cpp ----

// Registers the frame's class and starts the fonts and the registry.
bool StartWindows();

// ---- Each file's share of ReleaseGui ----

void ReleaseWindow();  // the frame and its controls, their colours and fonts
void ReleaseFieldColours();
void ReleaseLists();
void ReleaseEvents();
void ReleaseInstance();
void ReleaseNotify();
