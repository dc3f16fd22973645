// What every backend of gui.h must do, run against each of them: the headless
// double, Qt on the offscreen platform, and Win32 under Wine. The user's hand
// and the clock come from the backend's driver (gui_driver.h).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gui/gui.h"
#include "tests/gui/gui_driver.h"

namespace {

constexpr int List = 0, Start = 1, Field = 4, Add = 5, Combo = 7;

using Events = std::vector<std::pair<int, int>>;  // control, type

// Everything the backend has for the main loop now, without waiting.
Events TakeEvents() {
    Events events;
    for (int kind; (kind = WaitEvent(0)) != 0;) {
        if (kind == ControlEvent) events.emplace_back(EventControl(), EventType());
    }
    return events;
}

Events ListEvents(const std::vector<int>& types) {
    Events events;
    for (int type : types)
        events.emplace_back(List, type);
    return events;
}

std::vector<int> Ticks;
void RecordTick(int identifier) {
    Ticks.push_back(identifier);
}

class GuiContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(driver::Start());
        Ticks.clear();
        ASSERT_NE(CreateWindowFrame(MainWindow, 0, 0, 549, 140, "Tavimor test",
                                    WindowCentered | WindowHidden),
                  0);
        CreateListView(List, 0, 20, 550, 100, "Link", 260);
        AddListColumn(List, 1, "Interval", 60);
        CreateButton(Start, 510, 120, 40, 20, "Start!");
        CreateTextField(Field, 0, 0, 510, 20, "");
        CreateDropDownList(Combo, 210, 120, 100, 20);
        CreateButton(Add, 510, 0, 40, 20, "Add");
        for (const char* item : {"Check interval:", "1 hour", "2 hours"})
            AddItem(Combo, -1, item);
        for (const char* row : {"row 0", "row 1", "row 2"})
            AddItem(List, -1, row);
        ShowWindowFrame(MainWindow);
        ASSERT_TRUE(driver::WindowShown());
        TakeEvents();
    }
    void TearDown() override { driver::Stop(); }
};

TEST_F(GuiContract, ListGesturesQueueWhatTheListRaisesInOrder) {
    const struct {
        int selected_before, row, type;
        std::vector<int> expected;
        int selected_after;
    } cases[] = {
        {-1, 1, LeftClick, {SelectionChange, LeftClick}, 1},
        {1, 1, LeftClick, {LeftClick}, 1},
        {1, 9, LeftClick, {SelectionChange, LeftClick}, -1},  // the empty area clears it
        {-1, 9, RightClick, {RightClick}, -1},
        {0, 2, RightClick, {SelectionChange, RightClick}, 2},
        {0, 2, LeftDoubleClick, {SelectionChange, LeftClick, LeftDoubleClick}, 2},
        {2, 2, RightDoubleClick, {RightClick, RightDoubleClick}, 2},
        {-1, 0, DragStart, {SelectionChange, DragStart}, 0},
    };
    for (const auto& c : cases) {
        SelectIndex(List, c.selected_before);
        TakeEvents();
        driver::Gesture(List, c.row, c.type);
        EXPECT_EQ(TakeEvents(), ListEvents(c.expected)) << "row " << c.row << " type " << c.type;
        EXPECT_EQ(SelectedIndex(List), c.selected_after) << "row " << c.row << " type " << c.type;
    }
}

// Only the program's own change of the list's selection is told; rows that come
// and go, texts, focus and the drop-down list's choice raise nothing.
TEST_F(GuiContract, TheProgramsOwnChangesRaiseNothingButItsListSelection) {
    SelectIndex(List, 2);
    SelectIndex(List, 2);  // no change
    EXPECT_EQ(TakeEvents(), ListEvents({SelectionChange}));
    RemoveItem(List, 0);
    EXPECT_EQ(SelectedIndex(List), 1);
    AddItem(List, 0, "new");
    EXPECT_EQ(SelectedIndex(List), 2);
    SetItemText(List, 2, "rewritten", 0);
    RemoveItem(List, 9);
    RemoveItem(List, 2);
    EXPECT_EQ(SelectedIndex(List), -1);
    EXPECT_EQ(ItemText(List, 1, 0), "row 1");
    SelectIndex(Combo, 2);
    RemoveItem(Combo, 2);
    EXPECT_EQ(SelectedIndex(Combo), -1);
    SetControlText(Field, "typed by the program");
    DisableControl(Field, 1);
    DisableControl(Field, 0);
    FocusControl(Field);
    EXPECT_EQ(TakeEvents(), Events{});
    SelectIndex(List, 1);
    SelectIndex(List, 40);  // names no row: a second change, equal to the one still queued
    EXPECT_EQ(TakeEvents(), ListEvents({SelectionChange}));
    EXPECT_EQ(SelectedIndex(List), -1);
}

TEST_F(GuiContract, TipsStayWithTheirRows) {
    SetItemTip(List, 0, "tip of row 0", 1);
    SetItemTip(List, 2, "tip of row 2 \xE2\x80\x94 07 Dec 2026@14:05", 1);
    SetItemTip(List, 5, "no such row", 1);
    SetItemTip(List, 1, "no such column", 5);
    SetItemTip(Combo, 0, "not a list", 0);
    AddItem(List, 0, "new");
    RemoveItem(List, 2);  // row 1
    const struct {
        int row, column;
        const char* tip;
    } shown[] = {{0, 1, ""},
                 {1, 1, "tip of row 0"},
                 {1, 0, ""},
                 {2, 1, "tip of row 2 \xE2\x80\x94 07 Dec 2026@14:05"}};
    for (const auto& s : shown)
        EXPECT_EQ(driver::TipShown(List, s.row, s.column), s.tip) << s.row << "," << s.column;
    SetItemTip(List, 2, "", 1);
    EXPECT_EQ(driver::TipShown(List, 2, 1), "");
    RemoveItem(List, 1);
    EXPECT_EQ(driver::TipShown(List, 1, 1), "");
    SetItemTip(List, 0, "goes with the rows", 1);
    ClearItems(List);
    AddItem(List, -1, "again");
    EXPECT_EQ(driver::TipShown(List, 0, 1), "");
}

// Enter in the field is told as such, and on the selected row as its
// double-click; nothing else comes of it.
TEST_F(GuiContract, EnterIsToldInTheFieldAndOnASelectedRow) {
    using driver::Key;
    const struct {
        int control, selected;
        Key key;
        Events expected;
    } cases[] = {
        {Field, -1, Key::Return, {{Field, FieldEnter}}},
        {Field, 1, Key::KeypadEnter, {{Field, FieldEnter}}},
        {List, 1, Key::Return, ListEvents({LeftDoubleClick})},
        {List, 2, Key::KeypadEnter, ListEvents({LeftDoubleClick})},
        {List, -1, Key::Return, {}},
    };
    for (const auto& c : cases) {
        SelectIndex(List, c.selected);
        FocusControl(c.control);
        TakeEvents();
        driver::PressKey(c.key);
        EXPECT_EQ(TakeEvents(), c.expected) << "control " << c.control << " row " << c.selected;
        EXPECT_EQ(SelectedIndex(List), c.selected);
    }
}

// Controls made in another order: the field (0,0) and Add (510,0), the list
// (0,20), then the drop-down list (210,120) and Start! (510,120) on the bottom row.
TEST_F(GuiContract, TabGoesRowByRowFromTheTopAndLeftToRightPassingDisabledControls) {
    auto tabs = [](int count) {
        std::vector<int> visited;
        for (int i = 0; i < count; ++i) {
            driver::PressKey(driver::Key::Tab);
            visited.push_back(driver::FocusedControl());
        }
        return visited;
    };
    FocusControl(Field);
    EXPECT_EQ(tabs(5), (std::vector<int>{Add, List, Combo, Start, Field}));
    DisableControl(Add, 1);
    EXPECT_EQ(tabs(4), (std::vector<int>{List, Combo, Start, Field}));
}

TEST_F(GuiContract, TheFieldAndTheListAreNamedForScreenReaders) {
    SetAccessibleName(Field, "Link");
    SetAccessibleName(List, "Links");
    SetAccessibleName(Field, "Link to watch");
    EXPECT_EQ(driver::AccessibleName(Field), "Link to watch");
    EXPECT_EQ(driver::AccessibleName(List), "Links");
}

TEST_F(GuiContract, SlotTimersTickOneAtATimeInsideTheWaitsUntilStopped) {
    StartSlotTimer(MainWindow, 3, 100, RecordTick);
    StartSlotTimer(MainWindow + 1, 1, 10, RecordTick);                   // no such window
    StartSlotTimer(MainWindow, 2, (int64_t{1} << 32) + 10, RecordTick);  // not cut to 10 ms
    StartSlotTimer(MainWindow, 4, 5184000000, RecordTick);               // two months
    driver::LetTimePass(130);
    EXPECT_EQ(WaitEvent(0), TimerMessage);
    EXPECT_EQ(EventType(), -1);
    EXPECT_EQ(WaitEvent(0), 0);
    // Missed periods do not pile up: one tick for all of them.
    driver::LetTimePass(450);
    EXPECT_EQ(WaitEvent(0), TimerMessage);
    EXPECT_EQ(WaitEvent(0), 0);
    EXPECT_EQ(Ticks, (std::vector<int>{3, 3}));
    StopSlotTimer(MainWindow, 3);
    StopSlotTimer(MainWindow, 3);
    driver::LetTimePass(250);
    EXPECT_EQ(WaitEvent(0), 0);
    EXPECT_EQ(Ticks.size(), 2u);
}

TEST_F(GuiContract, ATickDuringAMessageBoxRunsThereAndTheNextWaitTellsOfIt) {
    driver::TickDuringNextBox(6);
    StartSlotTimer(MainWindow, 6, 30, [](int identifier) {
        RecordTick(identifier);
        driver::AnswerOpenBox(AnswerYes);
    });
    EXPECT_EQ(ShowMessageBox("Question", "Line one\nline two", ButtonsYesNo), AnswerYes);
    ASSERT_FALSE(Ticks.empty());
    // Before the timer may tick again.
    const size_t ticks = Ticks.size();
    EXPECT_EQ(WaitEvent(0), TimerMessage);
    EXPECT_EQ(Ticks.size(), ticks);
    StopSlotTimer(MainWindow, 6);
    EXPECT_EQ(WaitEvent(0), 0);
}

// A link check's transfer: the window paints, but no command and no tick runs
// until the work is done; then each slot that fell due ticks once.
TEST_F(GuiContract, WorkAsideDefersTicksToOnePerSlotAndRefreshesFourTimesASecond) {
    if (!driver::WorkRunsAside()) GTEST_SKIP() << "the double runs no clock of its own";
    static std::atomic<bool> working{false};
    static bool ticked_while_working = false;
    ticked_while_working = false;
    auto tick = [](int identifier) {
        ticked_while_working |= working.load();
        RecordTick(identifier);
    };
    // Each slot falls due twice during the work, and next 400 ms after it.
    StartSlotTimer(MainWindow, 1, 500, tick);
    StartSlotTimer(MainWindow, 2, 500, tick);
    int refreshes = 0;
    int result = KeepPaintingWhile(
        [] {
            working = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            working = false;
            return 42;
        },
        [&] { ++refreshes; });
    EXPECT_EQ(result, 42);
    EXPECT_GE(refreshes, 2);
    EXPECT_LE(refreshes, 5);
    EXPECT_TRUE(Ticks.empty());
    EXPECT_EQ(WaitEvent(0), TimerMessage);
    EXPECT_EQ(WaitEvent(0), TimerMessage);
    EXPECT_EQ(WaitEvent(0), 0);
    EXPECT_EQ(Ticks, (std::vector<int>{1, 2}));
    EXPECT_FALSE(ticked_while_working);
}

// A place is kept only where some of the title bar stays on a present screen;
// every test display is smaller than 30000 pixels either way.
TEST_F(GuiContract, APlaceOffEveryScreenIsNotVisible) {
    EXPECT_EQ(WindowPlaceVisible(MainWindow, 40, 30), 1);
    EXPECT_EQ(WindowPlaceVisible(MainWindow, 30000, 30000), 0);
    EXPECT_EQ(WindowPlaceVisible(MainWindow, -30000, 40), 0);
    EXPECT_EQ(WindowPlaceVisible(MainWindow, 40, -30000), 0);
    EXPECT_EQ(WindowPlaceVisible(MainWindow, int64_t{1} << 40, 40), 0);
    EXPECT_EQ(WindowPlaceVisible(MainWindow + 1, 40, 30), 0);
}

// A second claim on the same key is refused and brings the window back.
TEST_F(GuiContract, OneInstancePerKeyAndALaterClaimBringsTheWindowBack) {
    const std::string key = "/tmp/tavimor-contract-" + std::to_string(getpid()) + "/Tavimor.ini";
    EXPECT_EQ(ClaimInstance(key), 1);
    driver::Minimise();
    EXPECT_EQ(ClaimInstance(key), 0);
    driver::LetTimePass(100);
    WaitEvent(0);
    EXPECT_FALSE(driver::Minimised());
    EXPECT_EQ(ClaimInstance(key + "2"), 1);
}

}  // namespace
