// The Qt backend on the offscreen platform, beyond the contract of gui.h that
// every backend keeps (gui_contract_test.cpp): cells, keyboard input, focus,
// the waits, dialogs and painting.
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"
#include "gui/random.h"
#include "tests/gui/gui_driver.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int List = 0, Start = 1, Field = 4, Add = 5, Combo = 7;

using Events = std::vector<std::tuple<int, int, int>>;  // kind, control, type

// Everything the backend has for the main loop right now, without waiting.
Events TakeEvents() {
    Events events;
    for (int kind; (kind = WaitEvent(0)) != 0;)
        events.emplace_back(kind, EventControl(), EventType());
    return events;
}

// Counts the paint events of a widget (from the GUI thread; read from any).
struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    std::atomic<int> paints{0};
};

std::vector<int> Ticks;
void RecordTick(int identifier) {
    Ticks.push_back(identifier);
}

class QtGui : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(driver::Start());
        Ticks.clear();
        CreateWindowFrame(MainWindow, 0, 0, 549, 140, "Tavimor test",
                          WindowCentered | WindowHidden);
        CreateListView(List, 0, 20, 550, 100, "Link", 260);
        AddListColumn(List, 1, "Interval", 60);
        CreateButton(Start, 510, 120, 40, 20, "Start!");
        CreateTextField(Field, 0, 0, 510, 20, "");
        CreateButton(Add, 510, 0, 40, 20, "Add");
        CreateDropDownList(Combo, 210, 120, 100, 20);
        for (const char* item : {"Check interval:", "1 hour", "2 hours"})
            AddItem(Combo, -1, item);
        ShowWindowFrame(MainWindow);
        ASSERT_TRUE(driver::WindowShown());
        TakeEvents();
    }
    void TearDown() override { driver::Stop(); }

    static QWidget* Window() { return WindowWidget(MainWindow); }
    static QTreeView* ListView() { return static_cast<QTreeView*>(ControlWidget(List)); }
    static void AddRows(int count) {
        for (int i = 0; i < count; ++i)
            AddItem(List, -1, "row " + std::to_string(i));
    }
    // The centre of a row's line in the list's viewport.
    static QPoint RowPoint(int row) {
        return ListView()->visualRect(ListView()->model()->index(row, 0)).center();
    }
};

// ---- Window and controls ----

TEST_F(QtGui, WindowHasAFixedClientAreaNoMaximiseBoxAndStaysOnCloseRequests) {
    EXPECT_EQ(Window()->size(), QSize(549, 140));
    EXPECT_EQ(Window()->minimumSize(), Window()->maximumSize());
    EXPECT_FALSE(Window()->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(Window()->windowFlags() & Qt::WindowMinimizeButtonHint);
    Window()->close();
    Window()->close();
    EXPECT_TRUE(Window()->isVisible());
    EXPECT_EQ(TakeEvents(), (Events{{CloseRequest, MainWindow, 0}}));
}

TEST_F(QtGui, WindowPositionRoundTripsAndIsClamped) {
    MoveWindowTo(MainWindow, 100, 50);
    EXPECT_EQ(WindowLeft(MainWindow), 100);
    EXPECT_EQ(WindowTop(MainWindow), 50);
    MoveWindowTo(MainWindow, int64_t{1} << 40, -(int64_t{1} << 40));
    EXPECT_EQ(WindowLeft(MainWindow), 32767);
    EXPECT_EQ(WindowTop(MainWindow), -32768);
    EXPECT_EQ(WindowLeft(MainWindow + 1), 0);
}

TEST_F(QtGui, UnknownNumbersAndWrongKindsDoNothing) {
    EXPECT_EQ(CreateButton(Start, 0, 0, 10, 10, "again"), 0);
    EXPECT_EQ(AddItem(Start, -1, "x"), -1);
    EXPECT_EQ(CountItems(42), 0);
    EXPECT_EQ(SelectedIndex(42), -1);
    EXPECT_EQ(ItemText(42, 0, 0), "");
    EXPECT_EQ(ControlText(List), "");
    SetControlText(42, "x");
    SetBackColor(Start, RgbColor(1, 2, 3));
    EXPECT_EQ(ControlText(Start), "Start!");
}

TEST_F(QtGui, FontsFallBackToTheDesktopFaceAndColoursPaintOnlyTheEnabledField) {
    FontHandle font = MakeFont("No Such Face Anywhere", 8);
    ASSERT_NE(font, 0);
    SetControlFont(Start, font);
    EXPECT_EQ(ControlWidget(Start)->font().pointSize(), 8);
    EXPECT_EQ(ControlWidget(Start)->font().family(),
              QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    EXPECT_EQ(MakeFont("Sans", 0), 0);

    EXPECT_EQ(RgbColor(220, 220, 0), 220 + 220 * 256);
    EXPECT_EQ(RgbColor(-5, 300, 255), 255 * 256 + 255 * 65536);
    QColor normal = ControlWidget(Field)->palette().color(QPalette::Disabled, QPalette::Base);
    SetBackColor(Field, RgbColor(220, 220, 0));
    QPalette palette = ControlWidget(Field)->palette();
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Base), QColor(220, 220, 0));
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Base), QColor(220, 220, 0));
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::Base), normal);
    // Its text contrasts with it, whatever the theme's text colour.
    for (auto [red, green, blue, text] :
         {std::tuple{220, 220, 0, Qt::black}, std::tuple{20, 20, 60, Qt::white}}) {
        SetBackColor(Field, RgbColor(red, green, blue));
        palette = ControlWidget(Field)->palette();
        EXPECT_EQ(palette.color(QPalette::Active, QPalette::Text), QColor(text)) << red;
        EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Text), QColor(text)) << red;
    }
}

// ---- Rows, cells and items ----

TEST_F(QtGui, CellsAndItemsAtTheEdges) {
    EXPECT_EQ(ItemText(Combo, 0, 0), "Check interval:");
    EXPECT_EQ(ItemText(Combo, 3, 0), "");
    EXPECT_EQ(ItemText(Combo, 0, 1), "");
    EXPECT_EQ(SelectedIndex(List), -1);
    EXPECT_EQ(AddItem(List, -1, "a\nhour\nignored"), 0);
    EXPECT_EQ(AddItem(List, 7, "b"), 1);  // beyond the end appends
    EXPECT_EQ(AddItem(List, 0, "c"), 0);  // inserts before row 0
    EXPECT_EQ(AddItem(List, -2, "d"), -1);
    EXPECT_EQ(CountItems(List), 3);
    EXPECT_EQ(ItemText(List, 1, 0), "a");
    EXPECT_EQ(ItemText(List, 1, 1), "hour");
    EXPECT_EQ(ItemText(List, 1, 2), "");
    EXPECT_EQ(ItemText(List, 3, 0), "");
    EXPECT_EQ(ItemText(List, -1, 1), "Interval");
    SetItemText(List, 3, "nowhere", 0);
    SetItemText(List, 0, "nowhere", 5);
    EXPECT_EQ(CountItems(List), 3);
    const std::string long_text(5000, 'x'), raw_bytes = "\xA4\xFF|\x01";
    SetItemText(List, 2, long_text, 0);
    SetItemText(List, 2, raw_bytes, 1);
    EXPECT_EQ(ItemText(List, 2, 0), long_text);
    EXPECT_EQ(ItemText(List, 2, 1), raw_bytes);
    AddListColumn(List, 1, "Status", 45);  // in the middle: cells move right
    EXPECT_EQ(ItemText(List, 1, 1), "");
    EXPECT_EQ(ItemText(List, 1, 2), "hour");
    ClearItems(List);
    EXPECT_EQ(CountItems(List), 0);
}

TEST_F(QtGui, OpenedDropDownListIsAtMost350PixelsTall) {
    for (int i = 0; i < 60; ++i)
        AddItem(Combo, -1, "item");
    auto* combo = static_cast<QComboBox*>(ControlWidget(Combo));
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    EXPECT_TRUE(popup->isVisible());
    EXPECT_LE(popup->height(), 350);
    EXPECT_GT(popup->height(), 300);
    combo->hidePopup();
}

// ---- Selection and events of the user's input ----

TEST_F(QtGui, TheProgramsSelectionScrollsItsRowIntoView) {
    AddRows(20);
    SelectIndex(List, 19);
    EXPECT_TRUE(ListView()->viewport()->rect().contains(RowPoint(19)));
}

TEST_F(QtGui, ButtonsFieldAndDropDownQueueEveryUserEvent) {
    QTest::mouseClick(ControlWidget(Field), Qt::LeftButton);
    QTest::keyClicks(ControlWidget(Field), "ab");
    QTest::mouseClick(ControlWidget(Start), Qt::LeftButton);
    QTest::mouseClick(ControlWidget(Start), Qt::LeftButton);
    DisableControl(Add, 1);
    QTest::mouseClick(ControlWidget(Add), Qt::LeftButton);
    QTest::keyClick(ControlWidget(Combo), Qt::Key_Down);
    QTest::keyClick(ControlWidget(Combo), Qt::Key_Down);  // equal to the one still queued
    EXPECT_EQ(TakeEvents(), (Events{{ControlEvent, Field, FieldFocusGained},
                                    {ControlEvent, Field, FieldTextChange},
                                    {ControlEvent, Field, FieldTextChange},
                                    {ControlEvent, Field, FieldFocusLost},
                                    {ControlEvent, Start, ButtonClick},
                                    {ControlEvent, Start, ButtonClick},
                                    {ControlEvent, Combo, SelectionChange}}));
    EXPECT_EQ(ControlText(Field), "ab");
    EXPECT_EQ(SelectedIndex(Combo), 2);
}

TEST_F(QtGui, FocusLeavingAndComingBackWithTheWindowRaisesNothing) {
    QTest::mouseClick(ControlWidget(Field), Qt::LeftButton);
    TakeEvents();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window()));
    EXPECT_TRUE(ControlWidget(Field)->hasFocus());
    EXPECT_EQ(TakeEvents(), Events{});
}

TEST_F(QtGui, WaitsDeleteWhatQtLeftForLaterDeletion) {
    QPointer<QObject> doomed = new QObject;
    doomed->deleteLater();
    WaitEvent(0);
    EXPECT_TRUE(doomed.isNull());
}

// ---- Slot timers and the waits ----

// What a tick saw of the message box open around it.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    qsizetype buttons = 0;
};
SeenBox Seen;

// What the user sees of a message box; that ticks run in it is the contract's.
TEST_F(QtGui, AMessageBoxHasItsTitleTextAndButtonsAndNoIcon) {
    Seen = {};
    StartSlotTimer(MainWindow, 6, 30, [](int identifier) {
        RecordTick(identifier);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        Seen = {box->windowTitle(), box->text(), box->icon(), box->buttons().size()};
        box->button(QMessageBox::Yes)->click();
    });
    QTimer::singleShot(10000, [] {  // ends the box if the tick never comes
        if (auto* box = QApplication::activeModalWidget()) box->close();
    });
    EXPECT_EQ(ShowMessageBox("Question", "Line one\nline two", ButtonsYesNo), AnswerYes);
    EXPECT_FALSE(Ticks.empty());
    EXPECT_EQ(Seen.title, "Question");
    EXPECT_EQ(Seen.text, "Line one\nline two");
    EXPECT_EQ(Seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(Seen.buttons, 2);
}

TEST_F(QtGui, BootClockAlarmFiresOnceAndCanBeDisarmed) {
    static int alarms = 0;
    alarms = 0;
    SetBootAlarm(20, [] { ++alarms; });
    QTest::qWait(200);
    EXPECT_EQ(alarms, 1);
    SetBootAlarm(20, [] { ++alarms; });
    SetBootAlarm(-1, nullptr);
    QTest::qWait(100);
    EXPECT_EQ(alarms, 1);
}

// That no tick runs meanwhile is the contract's.
TEST_F(QtGui, KeepPaintingWhileRepaintsDuringTheWork) {
    PaintCounter counter(ListView()->viewport());
    AddRows(1);
    int paints_during_work = -1;
    int result = KeepPaintingWhile([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        paints_during_work = counter.paints.load();
        return 42;
    });
    EXPECT_EQ(result, 42);
    EXPECT_GT(paints_during_work, 0);
}

TEST_F(QtGui, PaintPendingPaintsAndDispatchesNothingElse) {
    AddRows(1);
    TakeEvents();
    StartSlotTimer(MainWindow, 1, 10, RecordTick);
    bool posted_ran = false;
    QTimer::singleShot(0, [&] { posted_ran = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PaintCounter counter(ListView()->viewport());
    SetItemText(List, 0, "changed", 0);
    PaintPending();
    EXPECT_GT(counter.paints, 0);
    EXPECT_TRUE(Ticks.empty());
    EXPECT_FALSE(posted_ran);
}

// ---- Dialogs and random numbers ----

TEST_F(QtGui, FolderChooserPreselectsTheInitialFolderAndEndsItsResultWithASlash) {
    TempDir dir;
    std::string chosen_dir;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        chosen_dir = dialog->directory().absolutePath().toStdString() + "/";
        static_cast<QDialog*>(dialog)->accept();  // as the OK button does
    });
    EXPECT_EQ(ChooseFolder("Please choose", dir.Path()), dir.Path());
    EXPECT_EQ(chosen_dir, dir.Path());
    QTimer::singleShot(0, [] {
        if (auto* dialog = QApplication::activeModalWidget()) dialog->close();
    });
    EXPECT_EQ(ChooseFolder("Please choose", dir.Path()), "");
}

TEST(RandomNumbers, RangeReductionIsExactAtTheEdgesAndRedrawsBiasedDraws) {
    struct Case {
        int max;
        std::vector<uint32_t> draws;
        int expected;
        size_t used;
    };
    const Case cases[] = {
        {0, {0xFFFFFFFF}, 0, 0},
        {-5, {0xFFFFFFFF}, 0, 0},
        {3, {0}, 0, 1},  // a power of two needs no redraw
        {4000, {0xFFFFFFFF}, 4000, 1},
        {4000, {0x80000000}, 2000, 1},
        {4000, {0, 0xFFFFFFFF}, 4000, 2},  // r = 0 would favour 0
        {2, {0, 5}, 0, 2},
        {2147483647, {0xFFFFFFFF}, 2147483647, 1},
    };
    for (const Case& c : cases) {
        size_t used = 0;
        int value = UniformUpTo(c.max, [&] { return c.draws[used++ % c.draws.size()]; });
        EXPECT_EQ(value, c.expected) << "max " << c.max;
        EXPECT_EQ(used, c.used) << "max " << c.max;
    }
}

// Open goes by the types Qt finds in the file itself: the names this system's
// type database gives must be the ones the allow list holds.
TEST(QtOpen, HandsOnlyDocumentsMediaAndArchivesToTheirApplication) {
    using namespace std::string_literals;
    const std::string elf =
        "\x7f"
        "ELF\x02\x01\x01"s +
        std::string(57, '\0');
    const struct {
        const char* name;
        std::string content;
        bool opens;
    } cases[] = {
        {"report.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n", true},
        {"notes.txt", "a plain note\n", true},
        {"photo.jpg", "\xff\xd8\xff\xe0\0\x10JFIF\0"s, true},
        {"sources.tar.gz", "\x1f\x8b\x08\0\0\0\0\0\0\x03"s, true},
        {"bundle.7z", "7z\xbc\xaf\x27\x1c\0\x04"s, true},
        {"paper.pdf", elf, false},
        {"notes.txt", "#!/bin/sh\nrm -rf ~\n", false},
        {"setup.exe", "MZ\x90\0\x03\0\0\0"s, false},
        {"tool.jar", "PK\x03\x04\x14\0\0\0"s, false},
        {"run.desktop", "[Desktop Entry]\nType=Application\nExec=sh\n", false},
        {"disk.iso", std::string(64, '\0'), false},
        {"page.html", "<!DOCTYPE html><script></script>", false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string path = dir.Write(c.name, c.content);
        EXPECT_EQ(MayOpenWithApplication(QString::fromStdString(path)), c.opens) << c.name;
    }
}

TEST(RandomNumbers, RandomIntCoversItsWholeRange) {
    bool saw_low = false, saw_high = false;
    for (int i = 0; i < 200000; ++i) {
        int value = RandomInt(4000);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 4000);
        saw_low |= value == 0;
        saw_high |= value == 4000;
        ASSERT_EQ(RandomInt(0), 0);
    }
    EXPECT_TRUE(saw_low);
    EXPECT_TRUE(saw_high);
}

}  // namespace
