// The Qt backend's window on the offscreen platform (whose windows have frames):
// the keyboard focus when the window first shows, and where its frame lands.
#include <QApplication>
#include <QScreen>
#include <QTest>
#include <optional>

#include <gtest/gtest.h>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"
#include "tests/gui/gui_driver.h"

namespace {

struct QtWindow : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(driver::Start()); }
    void TearDown() override { driver::Stop(); }
    static void Show() {
        ShowWindowFrame(MainWindow);
        ASSERT_TRUE(driver::WindowShown());
    }
    // Where the user's keys go.
    static void Press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
};

TEST_F(QtWindow, NoControlHasTheFocusAtStartAndTabGoesToTheFieldAboveTheList) {
    CreateWindowFrame(MainWindow, 0, 0, 549, 140, "test", WindowCentered | WindowHidden);
    CreateListView(0, 0, 20, 550, 100, "Link", 260);
    AddItem(0, -1, "row a");
    AddItem(0, -1, "row b");
    CreateTextField(4, 0, 0, 510, 20, "");
    Show();
    EXPECT_EQ(QApplication::focusWidget(), WindowWidget(MainWindow));
    Press(Qt::Key_Down);
    Press(Qt::Key_R);
    EXPECT_EQ(WaitEvent(0), 0);
    Press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), ControlWidget(4));
    Press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), ControlWidget(0));
    Press(Qt::Key_Down);  // the top row first, not the one below it
    EXPECT_EQ(SelectedIndex(0), 0);
}

TEST_F(QtWindow, CentredFrameSitsMidScreenAndAStoredPlaceIsKept) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        int options;
        bool pass_back;  // as the first run does: the place it read, before showing
        std::optional<QPoint> stored;
    } cases[] = {{WindowCentered | WindowHidden, false, {}},
                 {WindowCentered | WindowHidden, true, {}},
                 {WindowCentered, false, {}},
                 {WindowCentered | WindowHidden, false, QPoint(40, 30)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_TRUE(driver::Start());
        CreateWindowFrame(MainWindow, 0, 0, 549, 140, "test", c.options);
        QPoint read(WindowLeft(MainWindow), WindowTop(MainWindow));
        if (c.pass_back) MoveWindowTo(MainWindow, read.x(), read.y());
        if (c.stored) MoveWindowTo(MainWindow, c.stored->x(), c.stored->y());
        Show();
        QRect frame = WindowWidget(MainWindow)->frameGeometry();
        ASSERT_GT(frame.width(), 549);
        EXPECT_EQ(QPoint(WindowLeft(MainWindow), WindowTop(MainWindow)), frame.topLeft());
        QSize gaps = area.size() - frame.size();
        EXPECT_EQ(frame.topLeft(),
                  c.stored.value_or(area.topLeft() + QPoint(gaps.width() / 2, gaps.height() / 2)));
        driver::Stop();
    }
}

}  // namespace
