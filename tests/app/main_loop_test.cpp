#include "app/main_loop.h"

#include <chrono>
#include <filesystem>
#include <string>

#include "tavimor_version.h"
#include "tests/app/app_fixture.h"
#include "tests/support/scripted_web_server.h"

namespace {

using namespace std::chrono_literals;

const Colour White = 255 + 255 * 256 + 255 * 65536;
const Colour Yellow = 220 + 220 * 256;

class MainLoopTest : public AppTest {
  protected:
    // Runs passes until every queued event has been handled.
    void RunQueued() {
        for (int guard = 0; QueuedEventCount() > 0 && guard < 100; ++guard)
            ASSERT_EQ(RunMainPass(), 1);
    }
    void Press(int control) {
        ASSERT_TRUE(PressButton(control));
        RunQueued();
    }
    void Click(int row, int type = LeftClick) {
        ASSERT_TRUE(UserSelectsRow(row, type));
        RunQueued();
    }
    void Type(std::string_view text) {
        ASSERT_TRUE(UserTypes(text));
        RunQueued();
    }
    void PressEnter() {
        ASSERT_TRUE(UserPressesEnter());
        RunQueued();
    }
    void Add(std::string_view link) {
        Type(link);
        Press(AddButton);
    }
    // Starts the queue, answering the question with Yes.
    void StartQueue() {
        ScriptAnswers({AnswerYes});
        Press(StartButton);
    }
    const ShownBox& LastBox() const { return ShownBoxes().back(); }
};

TEST_F(MainLoopTest, AddAppendsAnIdleRowStampedNowSelectsItAndSaves) {
    StartUp(dir.Path());
    CurrentDate = LocalNow();
    RefreshDateStamp();
    const std::string before = DateStamp();
    Add("  http://example.com/f.zip  ");
    ASSERT_EQ(CountItems(LinkList), 1);
    LinkRow row = RowsOnScreen()[0];
    EXPECT_EQ(row,
              (LinkRow{"http://example.com/f.zip", "1 hour", "Idle", row[ColumnLastRetry], "0"}));
    EXPECT_TRUE(row[ColumnLastRetry] == before || row[ColumnLastRetry] == DateStamp());
    EXPECT_EQ(RowsInSettings(), RowsOnScreen());
    EXPECT_EQ(ControlText(UrlField), "http://example.com/f.zip");  // shown by the list event
    // The new row's selection came back as a list event in a later pass.
    EXPECT_EQ(SelectedIndex(LinkList), 0);
    EXPECT_EQ(EnabledControls(),
              (std::vector<int>{LinkList, StartButton, DeleteButton, UrlField, AddButton,
                                OpenButton, IntervalCombo, AboutButton}));
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(MainLoopTest, AddOfBlanksDoesNothingAndTheThirtyFirstLinkIsRefused) {
    StartUp(dir.Path());
    const std::string fresh = Settings();
    Type("    ");
    EXPECT_FALSE(ControlEnabled(AddButton));
    Press(AboutButton);  // the one way to reach Add with a blank field
    Press(AddButton);
    EXPECT_EQ(CountItems(LinkList), 0);
    EXPECT_FALSE(ControlEnabled(StartButton));
    EXPECT_EQ(Settings(), fresh);

    for (int i = 0; i < 30; ++i)
        Add("http://h/" + std::to_string(i));
    ASSERT_EQ(CountItems(LinkList), 30);
    const size_t boxes = ShownBoxes().size();
    Press(AddButton);
    EXPECT_EQ(CountItems(LinkList), 30);
    ASSERT_EQ(ShownBoxes().size(), boxes + 1);
    EXPECT_EQ(LastBox().title, "Information!");
    EXPECT_EQ(LastBox().text, "Sorry, only max 30 links can be monitored!");
    EXPECT_EQ(LastBox().buttons, ButtonsOk);
}

TEST_F(MainLoopTest, StartArmsOneTimerPerIdleSlotWithItsPeriodPlusUpToFourSeconds) {
    std::vector<LinkRow> rows = {
        Row("http://h/a", "Idle", "0", "2 hours"), Row("http://h/b", "DONE!"),
        Row("http://h/c", "Idle", "0", "2 months"), Row("http://h/d", "Idle", "0", "3 fortnights")};
    StartWithRows(rows);  // the finished row is dropped here
    AddItem(LinkList, -1, "http://h/done");
    SetItemText(LinkList, 3, "DONE!", ColumnStatus);
    ScriptRandom({0, 4000, 17});
    StartQueue();

    const std::vector<ArmedTimer> timers = ArmedTimers();
    ASSERT_EQ(timers.size(), 3u);
    EXPECT_EQ(timers[0].period, 7200000);
    EXPECT_EQ(timers[1].period, 5184000000LL + 4000);
    EXPECT_EQ(timers[2].period, 3600000 + 17);  // an unknown label is checked hourly
    // Last tried in 2020, so each is due at once, spread as its period is.
    EXPECT_EQ(timers[0].first, 0);
    EXPECT_EQ(timers[1].first, 4000);
    EXPECT_EQ(timers[2].first, 17);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(timers[i].id, i);
        EXPECT_EQ(timers[i].window, MainWindow);
        EXPECT_EQ(ItemText(LinkList, i, ColumnStatus), "Trying");
    }
    EXPECT_EQ(ItemText(LinkList, 3, ColumnStatus), "DONE!");
    EXPECT_EQ(ControlText(StartButton), "Stop");
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, StartButton, AboutButton}));
}

// Rows beyond the thirtieth get no slot.
TEST_F(MainLoopTest, RandomPartOfThePeriodStaysWithinItsBoundsForThirtySlots) {
    StartWithRows(std::vector<LinkRow>(32, Row("http://h/x", "Idle", "0", "4 days")));
    StartQueue();
    ASSERT_EQ(ArmedTimers().size(), 30u);
    for (const ArmedTimer& timer : ArmedTimers()) {
        EXPECT_GE(timer.period, 345600000);
        EXPECT_LE(timer.period, 345600000 + 4000);
    }
    EXPECT_EQ(ItemText(LinkList, 29, ColumnStatus), "Trying");
    EXPECT_EQ(ItemText(LinkList, 30, ColumnStatus), "Idle");
    EXPECT_EQ(ItemText(LinkList, 31, ColumnStatus), "Idle");
}

TEST_F(MainLoopTest, NoToTheStartQuestionInsistsOnADoubleCheckAndChangesNothing) {
    StartWithRows({Row("http://h/a")});
    Press(StartButton);
    ASSERT_EQ(ShownBoxes().size(), 2u);
    EXPECT_EQ(ShownBoxes()[0].title, "Just one more thing....");
    EXPECT_EQ(ShownBoxes()[0].text,
              "Do you want to start the queue of checking?\nPlease go over once more to double "
              "check, or just hit Yes!");
    EXPECT_EQ(ShownBoxes()[0].buttons, ButtonsYesNo);
    EXPECT_EQ(ShownBoxes()[1].title, "Columbo is always right...");
    EXPECT_EQ(ShownBoxes()[1].text, "...you DO need to double check!");
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(ControlText(StartButton), "Start!");
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "Idle");
}

TEST_F(MainLoopTest, StartWithoutIdleRowsStillRuns) {
    StartWithRows({Row("http://h/a")});
    SetItemText(LinkList, 0, "DONE!", ColumnStatus);
    StartQueue();
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(ControlText(StartButton), "Stop");
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, StartButton, AboutButton}));
}

TEST_F(MainLoopTest, StopTurnsTryingRowsIdleAndKeepsFinishedOnes) {
    StartWithRows({Row("http://h/a"), Row("http://h/b")});
    StartQueue();
    ASSERT_EQ(ArmedTimers().size(), 2u);
    SetItemText(LinkList, 1, "DONE!", ColumnStatus);  // as a check of slot 1 would
    SlotDoneFlags[1] = "1";
    Press(StartButton);  // answered No: keeps running
    EXPECT_EQ(LastBox().title, "Question");
    EXPECT_EQ(LastBox().text, "Do you want to stop checking all?");
    EXPECT_EQ(ControlText(StartButton), "Stop");
    EXPECT_EQ(ArmedTimers().size(), 1u);

    ScriptAnswers({AnswerYes});
    Press(StartButton);
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "Idle");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnStatus), "DONE!");
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(ControlText(StartButton), "Start");
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, StartButton, DeleteAllButton, UrlField,
                                                   AddButton, AboutButton}));
}

TEST_F(MainLoopTest, AFinishedSlotIsStoppedAndSavedInThePassThatRanItsCheck) {
    std::string body(6000, 'x');
    LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length: 6000\r\n\r\n" + body);
    StartWithRows({Row(server.Url("big.iso")), Row("http://127.0.0.1:1/other.iso")});
    StartQueue();
    ASSERT_TRUE(TickSlot(0));
    ASSERT_EQ(RunMainPass(), 1);
    EXPECT_EQ(ArmedTimers().size(), 1u);
    EXPECT_EQ(ArmedTimers()[0].id, 1);
    EXPECT_EQ(SlotDoneFlags[0], "0");
    EXPECT_EQ(SaveRequested, 0);
    const std::vector<LinkRow> saved = RowsInSettings();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0][ColumnStatus], "DONE!");
    EXPECT_EQ(saved[0][ColumnTried], "1");
    EXPECT_EQ(ReadWholeFile(dir.File("big.iso")), body);
    // Still running with nothing left to check for that slot.
    EXPECT_EQ(ControlText(StartButton), "Stop");
}

TEST_F(MainLoopTest, ATickDuringAQuestionIsHandledByTheNextPass) {
    StartWithRows({Row("http://127.0.0.1:1/a.iso"), Row("http://h/b")});
    StartQueue();
    TickDuringNextMessageBox(0);
    Press(StartButton);  // the stop question, answered No
    EXPECT_EQ(ItemText(LinkList, 0, ColumnTried), "1");
    EXPECT_EQ(SaveRequested, 1);
    ASSERT_EQ(RunMainPass(), 1);
    EXPECT_EQ(SaveRequested, 0);
    EXPECT_EQ(RowsInSettings()[0][ColumnTried], "1");
}

// The timer of a slot whose check finished inside a box comes round again before
// the user does anything: the pass after the box must stop it first.
TEST_F(MainLoopTest, ACheckFinishedInsideABoxIsNeitherRepeatedNorRunAfterAStop) {
    struct Case {
        const char* box;
        std::vector<int> answers;
        void (*open)();
    };
    const std::vector<Case> cases = {
        {"About", {}, [] { PressButton(AboutButton); }},
        {"stop answered No", {AnswerNo}, [] { PressButton(StartButton); }},
        {"stop answered Yes", {AnswerYes}, [] { PressButton(StartButton); }},
        {"quit answered No", {AnswerNo}, [] { RequestClose(); }},
    };
    const std::string body(6000, 'x');
    for (const Case& c : cases) {
        ResetGuiDouble();
        LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length: 6000\r\n\r\n" + body);
        StartWithRows({Row(server.Url("big.iso"))});
        StartQueue();
        TickDuringNextMessageBox(0);
        ScriptAnswers(c.answers);
        c.open();
        RunQueued();
        TickSlot(0);
        for (int pass = 0; pass < 3; ++pass)
            ASSERT_EQ(RunMainPass(), 1) << c.box;
        server.Stop();
        EXPECT_EQ(server.Connections(), 1) << c.box;
        EXPECT_TRUE(ArmedTimers().empty()) << c.box;
        EXPECT_EQ(RowsInSettings()[0][ColumnStatus], "DONE!") << c.box;
        EXPECT_EQ(RowsInSettings()[0][ColumnTried], "1") << c.box;
    }
}

// Stop! and the close request during a transfer ask at once; Yes ends the
// transfer (a large part kept) and the pass after it stops or quits without
// asking again; No lets it finish. Other commands wait for the check.
TEST_F(MainLoopTest, StopAndQuitAnswerDuringATransfer) {
    const std::string body(3'000'000, 'x');
    const struct {
        const char* what;
        bool quit;
        int answer;
        int pass;            // what the pass that runs the check returns
        const char* status;  // of the row afterwards
        const char* tip;     // how the check ended
    } cases[] = {
        {"stop, Yes", false, AnswerYes, 1, "Idle", "stopped at 40% (kept for the next check)"},
        {"stop, No", false, AnswerNo, 1, "DONE!", "file arrived (3.0 MB)"},
        {"quit, Yes", true, AnswerYes, 0, "Trying", "stopped at 40% (kept for the next check)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetGuiDouble();
        std::filesystem::remove(dir.File("big.iso"));
        std::filesystem::remove(dir.File("big.iso.part"));
        std::filesystem::remove(dir.File("big.iso.part.tavimor"));
        LoopbackServer server(
            {{"HTTP/1.1 200 OK\r\nETag: \"v\"\r\nContent-Length: 3000000\r\n\r\n" +
              body.substr(0, 1'200'000)},
             {body.substr(1'200'000), 1800ms}});
        StartWithRows({Row(server.Url("big.iso"))});
        StartQueue();
        ScriptAnswers({c.answer});
        // Once the first 1.2 MB are in, well before the rest comes.
        DuringNextTransfer(
            [&] {
                PressButton(AboutButton);  // waits for the check
                if (c.quit) {
                    RequestClose();
                } else {
                    PressButton(StartButton);
                }
            },
            500ms);
        const size_t boxes = ShownBoxes().size();
        ASSERT_TRUE(TickSlot(0));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunMainPass(), c.pass);  // the check, and what was said Yes to during it
        auto took = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(ShownBoxes().size(), boxes + 1);
        EXPECT_EQ(ShownBoxes().back().text,
                  c.quit ? "Do you really want to quit?" : "Do you want to stop checking all?");
        EXPECT_EQ(took < 1400ms, c.answer == AnswerYes);
        EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), c.status);
        EXPECT_EQ(ItemTip(LinkList, 0, ColumnStatus),
                  std::string(c.tip) + " \xE2\x80\x94 " + ItemText(LinkList, 0, ColumnLastRetry));
        // The About box waited for the check, and no question was asked twice.
        if (c.pass == 1) RunQueued();
        EXPECT_EQ(ShownBoxes().size(), boxes + (c.pass == 1 ? 2 : 1));
        EXPECT_EQ(ShownBoxes().back().title, c.pass == 1 ? "About TVX" : "Quit now, then?");
    }
}

// A laptop asleep for three days: on waking, each slot whose interval has
// passed is checked once, and the others wait for their own time.
TEST_F(MainLoopTest, AfterASleepEachDueSlotIsCheckedOnce) {
    std::vector<LinkRow> rows = {Row("http://127.0.0.1:1/a", "Idle", "0", "1 hour"),
                                 Row("http://127.0.0.1:1/b", "Idle", "0", "1 day"),
                                 Row("http://127.0.0.1:1/c", "Idle", "0", "2 months")};
    // Tried just now, so that each first waits its whole period.
    CurrentDate = LocalNow();
    RefreshDateStamp();
    for (LinkRow& row : rows)
        row[ColumnLastRetry] = DateStamp();
    StartWithRows(rows);
    ScriptRandom({0});
    StartQueue();
    for (const ArmedTimer& timer : ArmedTimers())
        EXPECT_EQ(timer.first, timer.period);
    AdvanceClock(int64_t{3} * 24 * 3600 * 1000);
    for (int pass = 0; pass < 5; ++pass)
        ASSERT_EQ(RunMainPass(), 1);
    std::vector<std::string> tried;
    for (const LinkRow& row : RowsInSettings())
        tried.push_back(row[ColumnTried]);
    EXPECT_EQ(tried, (std::vector<std::string>{"1", "1", "0"}));
}

// A check that reaches no server is tried again in ten minutes, three times
// at most in a row; one that reaches a server waits its period. Each case is
// one link's checks in turn, each when its timer falls due.
TEST_F(MainLoopTest, AChecksThatReachesNoServerIsTriedAgainSoonThreeTimesAtMost) {
    const int64_t hour = 3600000;
    const int64_t soon = 600000;
    struct Check {
        int64_t next;  // the time to the slot's next check
        const char* tip;
    };
    const struct {
        const char* link;
        std::vector<Check> checks;
    } cases[] = {
        {"http://nowhere.invalid/a",
         {{soon, "host not found; trying again in 10 minutes (1 of 3)"},
          {soon, "(2 of 3)"},
          {soon, "(3 of 3)"},
          {hour, "host not found \xE2\x80\x94"},
          {soon, "(1 of 3)"}}},
        {"http://127.0.0.1:1/b", {{hour, "connection refused \xE2\x80\x94"}}},
    };
    for (const auto& c : cases) {
        ResetGuiDouble();
        StartWithRows({Row(c.link)});
        ScriptRandom({0});
        StartQueue();
        for (const Check& check : c.checks) {
            SCOPED_TRACE(check.tip);
            ScriptRandom({0});
            AdvanceClock(ArmedTimers().at(0).first);
            ASSERT_EQ(RunMainPass(), 1);
            EXPECT_EQ(ArmedTimers().at(0).first, check.next);
            EXPECT_EQ(ArmedTimers().at(0).period, hour);
            EXPECT_NE(ItemTip(LinkList, 0, ColumnStatus).find(check.tip), std::string::npos)
                << ItemTip(LinkList, 0, ColumnStatus);
        }
    }
}

TEST_F(MainLoopTest, ListEventsWhileStoppedSelectEditAndSave) {
    StartWithRows({Row("http://h/a", "Idle", "0", "4 days"), Row("http://h/b")});
    Click(0);
    EXPECT_EQ(ControlText(UrlField), "http://h/a");
    EXPECT_EQ(ItemText(IntervalCombo, SelectedIndex(IntervalCombo), 0), "4 days");
    EXPECT_EQ(EnabledControls(),
              (std::vector<int>{LinkList, StartButton, DeleteButton, DeleteAllButton, UrlField,
                                AddButton, OpenButton, IntervalCombo, AboutButton}));
    EXPECT_EQ(BackColorOf(UrlField), White);

    SetItemTip(LinkList, 0, "HTTP 404", ColumnStatus);
    SetItemTip(LinkList, 1, "HTTP 404", ColumnStatus);
    Click(1, LeftDoubleClick);
    EXPECT_EQ(EditMode, 1);
    EXPECT_EQ(FocusedControl(), UrlField);
    EXPECT_EQ(BackColorOf(UrlField), Yellow);
    EXPECT_FALSE(ControlEnabled(AddButton));
    const std::string saved = Settings();
    Type("  http://h/b2 ");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnUrl), "  http://h/b2 ");  // untrimmed, at once
    // The outcome was the old link's; the other row keeps its own.
    EXPECT_EQ(ItemTip(LinkList, 1, ColumnStatus), "");
    EXPECT_EQ(ItemTip(LinkList, 0, ColumnStatus), "HTTP 404");
    Type("   ");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnUrl), "  http://h/b2 ");  // emptying changes nothing
    Type("http://h/\xC3\xA4");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnUrl), "http://h/%C3%A4");
    EXPECT_EQ(Settings(), saved);  // editing does not save
    EXPECT_FALSE(ControlEnabled(AddButton));

    Click(-1);  // the empty area below the rows
    EXPECT_EQ(EditMode, 0);
    EXPECT_EQ(BackColorOf(UrlField), White);
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, StartButton, DeleteAllButton, UrlField,
                                                   AddButton, AboutButton}));
    Click(0);
    EXPECT_EQ(RowsInSettings()[1][ColumnUrl], "http://h/%C3%A4");
}

// Enter in the field is a click on Add wherever Add could be clicked while
// stopped; Enter on a row starts editing it, as a double-click does.
TEST_F(MainLoopTest, EnterInTheFieldAddsAsAddDoesAndOnARowStartsEditingIt) {
    StartWithRows({Row("http://h/a")});
    Type("http://h/b");
    PressEnter();
    ASSERT_EQ(CountItems(LinkList), 2);
    EXPECT_EQ(RowsOnScreen()[1][ColumnUrl], "http://h/b");
    EXPECT_EQ(RowsInSettings(), RowsOnScreen());
    EXPECT_EQ(SelectedIndex(LinkList), 1);

    Click(0);
    PressEnter();  // on the row
    EXPECT_EQ(EditMode, 1);
    EXPECT_EQ(FocusedControl(), UrlField);
    Type("http://h/a2");
    PressEnter();  // Add is disabled while a row is edited
    EXPECT_EQ(CountItems(LinkList), 2);
    EXPECT_EQ(ItemText(LinkList, 0, ColumnUrl), "http://h/a2");

    StartQueue();
    Press(AboutButton);  // enables Add, but the queue runs
    Click(1);            // the field takes typing again
    Type("http://h/c");
    PressEnter();
    EXPECT_EQ(CountItems(LinkList), 2);
}

TEST_F(MainLoopTest, ListEventsWhileRunningOnlyShowTheLink) {
    StartWithRows({Row("http://h/a"), Row("http://h/b")});
    StartQueue();
    const std::string saved = Settings();
    Click(1);
    EXPECT_EQ(ControlText(UrlField), "http://h/b");
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, StartButton, UrlField, AboutButton}));
    Type("http://elsewhere/");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnUrl), "http://h/b");
    EXPECT_EQ(Settings(), saved);
}

TEST_F(MainLoopTest, IntervalChoiceWritesTheRowAndReturnsToTheRestingItem) {
    StartWithRows({Row("http://h/a")});
    Click(0);
    ASSERT_TRUE(UserChoosesItem(IntervalCombo, 8));
    RunQueued();
    EXPECT_EQ(ItemText(LinkList, 0, ColumnInterval), "4 days");
    EXPECT_EQ(RowsInSettings()[0][ColumnInterval], "4 days");
    EXPECT_EQ(SelectedIndex(IntervalCombo), 0);
    ASSERT_TRUE(UserChoosesItem(IntervalCombo, 0));
    RunQueued();
    EXPECT_EQ(ItemText(LinkList, 0, ColumnInterval), "4 days");
}

TEST_F(MainLoopTest, DeleteAndDeleteAllAskFirstAndSave) {
    StartWithRows({Row("http://h/a"), Row("http://h/b"), Row("http://h/c")});
    Click(1);
    Press(DeleteButton);  // No
    EXPECT_EQ(CountItems(LinkList), 3);
    EXPECT_EQ(LastBox().text,
              "Do you want to delete this entry?\n(Possible file downloaded correctly will not be "
              "deleted!)");
    ScriptAnswers({AnswerYes});
    Press(DeleteButton);
    EXPECT_EQ(RowsOnScreen(), (std::vector<LinkRow>{Row("http://h/a"), Row("http://h/c")}));
    EXPECT_EQ(RowsInSettings(), RowsOnScreen());
    EXPECT_TRUE(ControlEnabled(StartButton));

    Press(DeleteAllButton);  // No
    EXPECT_EQ(LastBox().text, "Do you want to delete all entries?");
    EXPECT_EQ(CountItems(LinkList), 2);
    ScriptAnswers({AnswerYes});
    Press(DeleteAllButton);
    EXPECT_EQ(CountItems(LinkList), 0);
    EXPECT_TRUE(RowsInSettings().empty());
    // The drop-down list is left as it was; with no row it changes nothing.
    EXPECT_EQ(EnabledControls(), (std::vector<int>{LinkList, DeleteAllButton, UrlField, AddButton,
                                                   IntervalCombo, AboutButton}));
}

TEST_F(MainLoopTest, OpenHandsTheDownloadedFileToTheDesktop) {
    StartWithRows({Row("http://h/dir/file.zip?x=1")});
    Click(0);
    Press(OpenButton);
    ASSERT_EQ(OpenedFiles().size(), 1u);
    EXPECT_EQ(OpenedFiles()[0], dir.File("file.zip"));
}

TEST_F(MainLoopTest, AboutEnablesAddEvenWhileRunning) {
    StartWithRows({Row("http://h/a")});
    Type("http://h/new");
    StartQueue();
    Press(AboutButton);
    EXPECT_TRUE(ControlEnabled(AddButton));
    EXPECT_EQ(LastBox().title, "About TVX");
    EXPECT_EQ(LastBox().text.rfind("v1.0 - 26 Nov 2011\n\nA small clever program to check when", 0),
              0u);
    // The desktop named is the build's own, set by the build system.
    EXPECT_NE(LastBox().text.find(". This build runs on " + std::string(TAVIMOR_BUILT_FOR) + ".\n"),
              std::string::npos);
    EXPECT_GT(std::string_view(TAVIMOR_BUILT_FOR).size(), 4u);
    // The row added now waits for the next start.
    Press(AddButton);
    EXPECT_EQ(ItemText(LinkList, 1, ColumnStatus), "Idle");
    EXPECT_EQ(ArmedTimers().size(), 1u);
}

TEST_F(MainLoopTest, QuitAsksAndSavesOnlyOnYes) {
    StartWithRows({Row("http://h/a")});
    StartQueue();
    RequestClose();
    EXPECT_EQ(RunMainPass(), 1);  // No
    EXPECT_EQ(LastBox().title, "Quit now, then?");
    EXPECT_EQ(LastBox().text, "Do you really want to quit?");
    EXPECT_EQ(ArmedTimers().size(), 1u);
    dir.Write("Tavimor.ini", "stale");
    RequestClose();
    ScriptAnswers({AnswerYes});
    EXPECT_EQ(RunMainPass(), 0);
    EXPECT_NE(Settings().find("http://h/a\xA4"
                              "1 hour\xA4Trying\xA4"),
              std::string::npos);
}

}  // namespace
