// The contract suite's driver for the Qt backend on the offscreen platform:
// real mouse events through QTest, tips as QToolTip shows them, real time.
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"
#include "tests/gui/gui_driver.h"

namespace driver {
namespace {

QTreeView* ListView(int list) {
    return static_cast<QTreeView*>(ControlWidget(list));
}

// The centre of a cell in the list's viewport; below the rows for a row that
// does not exist.
QPoint CellPoint(int list, int row, int column) {
    QTreeView* view = ListView(list);
    if (row >= CountItems(list)) return {20, view->viewport()->height() - 3};
    return view->visualRect(view->model()->index(row, column)).center();
}

}  // namespace

bool Start() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return StartGui(0, nullptr) != 0;
}

void Stop() {
    ReleaseGui();
}

bool WindowShown() {
    QWidget* window = WindowWidget(MainWindow);
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

void Gesture(int list, int row, int type) {
    QWidget* viewport = ListView(list)->viewport();
    QPoint at = CellPoint(list, row, 0);
    Qt::MouseButton button =
        type == RightClick || type == RightDoubleClick ? Qt::RightButton : Qt::LeftButton;
    if (type == DragStart) {
        QPoint to = CellPoint(list, row + 2, 0);
        QTest::mousePress(viewport, button, {}, at);
        QTest::mouseMove(viewport, to);
        QTest::mouseMove(viewport, to + QPoint(5, 0));
        QTest::mouseRelease(viewport, button, {}, to);
        return;
    }
    QTest::mouseClick(viewport, button, {}, at);
    if (type == LeftDoubleClick || type == RightDoubleClick) {
        // What Qt makes of the second press of a double-click.
        QTest::mouseDClick(viewport, button, {}, at);
        QTest::mouseRelease(viewport, button, {}, at);
    }
}

std::string TipShown(int list, int row, int column) {
    // A shown tip fades out on its own timer; the next hover starts without one.
    QToolTip::hideText();
    for (int wait = 0; wait < 100 && QToolTip::isVisible(); ++wait)
        QTest::qWait(10);
    QTreeView* view = ListView(list);
    QPoint at = CellPoint(list, row, column);
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : "";
}

void PressKey(Key key) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return;
    if (key == Key::Tab) {
        QTest::keyClick(focus, Qt::Key_Tab);
    } else if (key == Key::Return) {
        QTest::keyClick(focus, Qt::Key_Return);
    } else {
        QTest::keyClick(focus, Qt::Key_Enter, Qt::KeypadModifier);
    }
}

int FocusedControl() {
    QWidget* focus = QApplication::focusWidget();
    for (int control = 0; focus && control < 100; ++control) {
        QWidget* widget = ControlWidget(control);
        if (widget && (widget == focus || widget->isAncestorOf(focus))) return control;
    }
    return -1;
}

// As the accessibility bridge (AT-SPI) asks for it.
std::string AccessibleName(int control) {
    QAccessibleInterface* object = QAccessible::queryAccessibleInterface(ControlWidget(control));
    return object ? FromQt(object->text(QAccessible::Name)) : "";
}

void LetTimePass(int64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TickDuringNextBox(int) {
    QTimer::singleShot(10000, [] {  // ends the box if the tick never comes
        if (auto* box = QApplication::activeModalWidget()) box->close();
    });
}

void AnswerOpenBox(int answer) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    QAbstractButton* button = box->button(answer == AnswerYes  ? QMessageBox::Yes
                                          : answer == AnswerOk ? QMessageBox::Ok
                                                               : QMessageBox::No);
    if (button) button->click();
}

bool WorkRunsAside() {
    return true;
}

void Minimise() {
    WindowWidget(MainWindow)->showMinimized();
}

bool Minimised() {
    QTest::qWait(50);
    return WindowWidget(MainWindow)->isMinimized();
}

}  // namespace driver
