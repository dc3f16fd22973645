// The headless double's own logic beyond the contract of gui.h (gui_contract_test.cpp):
// the event queue with its duplicate rule, focus, and scripted dialogs and ticks.
// The logic tests rely on it behaving like the real backends.
#include "tests/support/gui_double.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int List = 0, Start = 1, Field = 4, Combo = 7;

using Events = std::vector<std::pair<int, int>>;  // control, type

// Takes every queued event; a close request shows as the window's number.
Events Drain() {
    Events events;
    while (WaitEvent(-1) != 0)
        events.push_back({EventControl(), EventType()});
    return events;
}

std::vector<int> Ticked;
void RecordTick(int identifier) {
    Ticked.push_back(identifier);
}

class GuiDouble : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetGuiDouble();
        Ticked.clear();
        CreateWindowFrame(MainWindow, 0, 0, 549, 140, "t", WindowCentered | WindowHidden);
        CreateListView(List, 0, 20, 550, 100, "Link", 260);
        CreateButton(Start, 510, 120, 40, 20, "Start!");
        CreateTextField(Field, 0, 0, 510, 20, "");
        CreateDropDownList(Combo, 210, 120, 100, 20);
        for (const char* row : {"a", "b", "c"})
            AddItem(List, -1, row);
        AddItem(Combo, -1, "Check interval:");
        AddItem(Combo, -1, "1 hour");
    }
};

TEST_F(GuiDouble, EqualQueuedListEventsCollapseButButtonClicksDoNot) {
    ListEvent(LeftClick);
    ListEvent(LeftClick);
    PressButton(Start);
    PressButton(Start);
    ListEvent(LeftClick);
    RequestClose();
    RequestClose();
    EXPECT_EQ(Drain(), (Events{{List, LeftClick},
                               {Start, ButtonClick},
                               {Start, ButtonClick},
                               {List, LeftClick},
                               {MainWindow, 0}}));
    EXPECT_EQ(EventType(), -1);
    // Once taken, the same event queues again.
    RequestClose();
    EXPECT_EQ(WaitEvent(-1), CloseRequest);
    ListEvent(LeftClick);
    EXPECT_EQ(Drain(), (Events{{List, LeftClick}}));
}

TEST_F(GuiDouble, UserActionsMoveTheFocusAndTheFieldReportsIt) {
    EXPECT_TRUE(UserTypes("http://x/a.zip"));
    EXPECT_TRUE(PressButton(Start));
    EXPECT_EQ(Drain(), (Events{{Field, FieldFocusGained},
                               {Field, FieldTextChange},
                               {Field, FieldFocusLost},
                               {Start, ButtonClick}}));
    EXPECT_EQ(FocusedControl(), Start);
    EXPECT_EQ(ControlText(Field), "http://x/a.zip");
}

TEST_F(GuiDouble, DisabledControlsTakeNoUserActionAndLoseTheFocusQuietly) {
    FocusControl(Field);
    DisableControl(Field, 1);
    EXPECT_EQ(FocusedControl(), List);  // the next enabled one in the Tab order
    DisableControl(Start, 1);
    EXPECT_FALSE(PressButton(Start));
    EXPECT_FALSE(UserTypes("x"));
    EXPECT_FALSE(UserChoosesItem(Combo, 5));
    EXPECT_FALSE(PressButton(List));  // not a button
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(ControlText(Field), "");
}

TEST_F(GuiDouble, ChoosingTheSameItemAgainStillQueuesAChoice) {
    EXPECT_TRUE(UserChoosesItem(Combo, 1));
    Drain();
    EXPECT_TRUE(UserChoosesItem(Combo, 1));
    EXPECT_EQ(Drain(), (Events{{Combo, SelectionChange}}));
    EXPECT_EQ(SelectedIndex(Combo), 1);
}

TEST_F(GuiDouble, MessageBoxesAnswerFromTheScriptAndRunTheirTicks) {
    StartSlotTimer(MainWindow, 2, 60000, RecordTick);
    ScriptAnswers({AnswerYes});
    TickDuringNextMessageBox(2);
    EXPECT_EQ(ShowMessageBox("Information!", "full", ButtonsOk), AnswerOk);
    EXPECT_EQ(Ticked, (std::vector<int>{2}));
    EXPECT_EQ(ShowMessageBox("Question", "sure?", ButtonsYesNo), AnswerYes);
    EXPECT_EQ(ShowMessageBox("Question", "again?", ButtonsYesNo), AnswerNo);
    ASSERT_EQ(ShownBoxes().size(), 3u);
    EXPECT_EQ(ShownBoxes()[1].text, "sure?");
    EXPECT_EQ(Ticked.size(), 1u);
}

TEST_F(GuiDouble, FolderScriptGetsItsSeparatorAndRunsOutIntoCancel) {
    ScriptFolder("/home/u/Downloads");
    EXPECT_EQ(ChooseFolder("Pick", "/start/"), "/home/u/Downloads/");
    EXPECT_EQ(ChooseFolder("Pick", "/start/"), "");
    ASSERT_EQ(ShownChoosers().size(), 2u);
    EXPECT_EQ(ShownChoosers()[0].initialFolder, "/start/");
}

TEST_F(GuiDouble, ScriptedRandomNumbersStayInRange) {
    ScriptRandom({4000, 9000, -3});
    EXPECT_EQ(RandomInt(4000), 4000);
    EXPECT_EQ(RandomInt(4000), 4000);
    EXPECT_EQ(RandomInt(4000), 0);
    EXPECT_EQ(RandomInt(0), 0);
}

}  // namespace
