// The contract suite's driver for the headless double: its user actions, its
// tips and names as the program left them, and its clock moved by hand.
#include "gui/gui.h"
#include "tests/gui/gui_driver.h"
#include "tests/support/gui_double.h"

namespace driver {

bool Start() {
    ResetGuiDouble();
    return StartGui(0, nullptr) != 0;
}

void Stop() {
    ResetGuiDouble();
}

bool WindowShown() {
    return WindowState().shown;
}

void Gesture(int list, int row, int type) {
    (void)list;  // the double has one list
    UserSelectsRow(row, type);
}

std::string TipShown(int list, int row, int column) {
    return ItemTip(list, row, column);
}

void PressKey(Key key) {
    if (key == Key::Tab) {
        UserPressesTab();
    } else {
        UserPressesEnter();
    }
}

int FocusedControl() {
    return ::FocusedControl();
}

std::string AccessibleName(int control) {
    return AccessibleNameOf(control);
}

void LetTimePass(int64_t ms) {
    AdvanceClock(ms);
}

void TickDuringNextBox(int identifier) {
    ScriptAnswers({AnswerYes});
    TickDuringNextMessageBox(identifier);
}

void AnswerOpenBox(int) {}  // the script answers

bool WorkRunsAside() {
    return false;
}

void Minimise() {}

bool Minimised() {
    return false;
}

}  // namespace driver
