// What the contract suite of gui.h (gui_contract_test.cpp) needs of a backend
// beyond gui.h itself: its start, the user's hand, and time. Each backend's test
// program links the suite with its own driver: driver_double.cpp,
// driver_qt.cpp, driver_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace driver {

// Starts the toolkit; false when it cannot start here.
bool Start();
// Ends it, and everything the test made.
void Stop();
// Waits until the window just shown is on screen and active; false when it
// never is.
bool WindowShown();

// The user makes a gesture of type (LeftClick, RightClick, LeftDoubleClick,
// RightDoubleClick, DragStart) on row of the list; a row that does not exist
// is the empty area below the rows. A drag starts on the row and moves away.
void Gesture(int list, int row, int type);

// The tip the user sees while the mouse rests on a cell; "" when none shows.
std::string TipShown(int list, int row, int column);

enum class Key { Return, KeypadEnter, Tab };
// The user presses key; it goes where the keyboard focus is.
void PressKey(Key key);
// The control holding the keyboard focus; -1 for none.
int FocusedControl();
// The name a screen reader reads for a control.
std::string AccessibleName(int control);

// Lets ms of calendar time pass, as the slot timers count it.
void LetTimePass(int64_t ms);

// The next message box: the timer (MainWindow, identifier), armed with a short
// period, ticks while the box is open, and its procedure answers the box with
// AnswerOpenBox.
void TickDuringNextBox(int identifier);
// Answers the message box that is open now; for a tick's procedure.
void AnswerOpenBox(int answer);

// Whether the backend runs a link check's work aside on a thread of its own,
// so that time passes in the work itself (the double only pretends to).
bool WorkRunsAside();

// The window goes to the task bar; whether it is there now.
void Minimise();
bool Minimised();

}  // namespace driver
