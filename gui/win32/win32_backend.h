// What the files of the Win32 backend share among themselves: the window and
// the controls behind their numbers, how notifications reach the event queue,
// and the window messages of our own. Not part of the seam; app/ never sees it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "gui/backend.h"

// The frame's window class, which a later start looks for (instance.cpp).
extern const wchar_t FrameClassName[];

// Messages to the frame, posted from elsewhere in the program or the shell.
constexpr UINT RunPendingTicksMessage = WM_APP + 1;
constexpr UINT TrayIconMessage = WM_APP + 2;
constexpr UINT ComeToFrontMessage = WM_APP + 3;
// The one WM_TIMER of the frame: the alarm at the earliest slot deadline.
constexpr UINT_PTR AlarmTimerId = 1;

// True between StartGui and ReleaseGui.
bool GuiStarted();

// The frame of a window number, the window of a control number; nullptr when
// the number names nothing.
HWND WindowHandle(int window);
HWND ControlHandle(int control);
// The frame holding the controls and its number; nullptr and 0 when there is none.
HWND FrameHandle();
// The control number of a child window; -1 for any other window.
int ControlNumberOf(HWND child);
// The window and its children.
bool InsideFrame(HWND window);

// The window of a control of that kind; nullptr for any other control.
HWND ControlOfKind(int control, ControlKind kind);
// Creates a visible child of the frame that takes part in the Tab order, at a
// rectangle given in 96-dpi pixels, in the default GUI font, and files it under
// its number. nullptr when there is no frame, the number is taken or Windows
// refuses.
HWND AddControl(int control, ControlKind kind, const wchar_t* windowClass, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, std::string_view text);
// Pixels of the 96-dpi layout at the DPI of the frame's monitor.
int Scaled(int pixels);

// The owner of a modal dialog: the frame while it is on screen.
HWND DialogOwner();
// The program's icon at the small or the large system size.
HICON ProgramIcon(bool small);

// Handlers the frame's window procedure hands its messages to.
void OnListNotify(const NMHDR& header);      // list_view.cpp
void OnComboCommand(int control, int code);  // list_view.cpp
void OnFontChanged(int control);             // list_view.cpp
void OnListsDpiChanged(int dpiBefore);       // list_view.cpp
void OnAlarm();                              // events_timers.cpp
void OnTrayIcon(LPARAM event);               // notify.cpp
void BringFrameToFront();                    // instance.cpp
void MarkFrameForInstance(HWND frame);       // instance.cpp

// Each file's share of ReleaseGui.
void ReleaseControls();
void ReleaseLists();
void ReleaseEvents();
void ReleaseInstance();
void ReleaseNotify();
