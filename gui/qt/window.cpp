// The window, the registry of controls, buttons and the text field, fonts and
// colours. Controls sit at fixed pixel places in the window, without layouts,
// and take their Tab order from those places (TabOrder).
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/placement.h"
#include "gui/qt/qt_backend.h"

namespace {

// Top-left corner that centres an outer frame of that size in the screen's
// available area.
QPoint CentredOnScreen(QSize frame) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {0, 0};
    QRect area = screen->availableGeometry();
    QSize outer = frame.boundedTo(area.size());
    return area.topLeft() +
           QPoint((area.width() - outer.width()) / 2, (area.height() - outer.height()) / 2);
}

// The control that Tab (next) or Shift+Tab moves the focus to from focus.
QWidget* TabTarget(const QWidget* focus, bool next);

class MainFrame : public QWidget {
  public:
    explicit MainFrame(int number) : number_(number) {}
    int Number() const { return number_; }
    QPoint Position() const { return isMinimized() ? last_normal_ : pos(); }
    void NotePosition() {
        if (!isMinimized()) last_normal_ = pos();
    }
    void Centre() {
        centred_for_ = frameGeometry().size();
        move(CentredOnScreen(*centred_for_));
    }
    void MoveTo(QPoint at) {
        // The first run passes back the centred place it read: that keeps the intent.
        if (centred_for_ && at == CentredOnScreen(*centred_for_)) return;
        centred_for_.reset();
        move(at);
    }
    // The window manager adds its frame only once the window is shown, so a
    // centred window is centred anew when its frame turns out other than
    // assumed. Moved elsewhere by anyone, it stays where it was put.
    void FollowFrame() {
        if (!centred_for_ || !isVisible() || isMinimized()) return;
        if (frameGeometry().size() != *centred_for_) return Centre();
        if (pos() != CentredOnScreen(*centred_for_)) centred_for_.reset();
    }

  protected:
    // Qt's own chain follows the order of creation; every Tab in the window,
    // and the focus passed on from a control being disabled, ends up here.
    bool focusNextPrevChild(bool next) override {
        QWidget* target = TabTarget(focusWidget(), next);
        if (target) target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return target != nullptr;
    }
    // The main loop decides whether the window closes.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        QueueCloseRequest(number_);
    }
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        FollowFrame();
        NotePosition();
    }

  private:
    int number_;
    QPoint last_normal_;
    // The outer frame's size the centred place was reckoned for, while the
    // window is meant to be centred.
    std::optional<QSize> centred_for_;
};

class TextField : public QLineEdit {
  public:
    explicit TextField(int number) : number_(number) {
        setMaxLength(std::numeric_limits<int>::max());
        // textEdited, unlike textChanged, comes only from the user.
        connect(this, &QLineEdit::textEdited, this,
                [number] { QueueControlEvent(number, FieldTextChange, false); });
        // For Return and keypad Enter alike.
        connect(this, &QLineEdit::returnPressed, this,
                [number] { QueueControlEvent(number, FieldEnter, false); });
    }

  protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        Report(event, FieldFocusGained);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        Report(event, FieldFocusLost);
    }

  private:
    // Only the user moving the focus between controls counts: a context menu
    // borrows it for a moment, and focus that leaves and comes back with the
    // window's activation (a dialog, another program) never left the field
    // within the window.
    void Report(const QFocusEvent* event, int type) {
        Qt::FocusReason reason = event->reason();
        if (ProgramChange::Active() || reason == Qt::PopupFocusReason ||
            reason == Qt::ActiveWindowFocusReason) {
            return;
        }
        QueueControlEvent(number_, type, false);
    }
    int number_;
};

struct Entry {
    ControlKind kind;
    QWidget* widget;
};

MainFrame* Window = nullptr;
std::map<int, Entry> Controls;
std::vector<QFont> Fonts;

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

int ClampCoordinate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, -32768, 32767));
}

bool TakesTab(const QWidget* widget) {
    return widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus);
}

QWidget* TabTarget(const QWidget* focus, bool next) {
    std::vector<PlacedControl> placed;
    for (const auto& [number, entry] : Controls)
        placed.push_back({number, entry.widget->x(), entry.widget->y()});
    std::vector<int> order = TabOrder(placed);
    if (!next) std::reverse(order.begin(), order.end());
    const size_t count = order.size();
    // A control's own part (the list's viewport) stands for the control; from
    // the window itself, Tab goes to the first control.
    size_t at = count - 1;
    for (size_t i = 0; i < count; ++i) {
        QWidget* widget = Controls[order[i]].widget;
        if (widget == focus || widget->isAncestorOf(focus)) at = i;
    }
    for (size_t step = 1; step <= count; ++step) {
        QWidget* widget = Controls[order[(at + step) % count]].widget;
        if (widget != focus && TakesTab(widget)) return widget;
    }
    return nullptr;
}

QColor QtColour(Colour colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

}  // namespace

QString ToQt(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FromQt(const QString& text) {
    return text.toUtf8().toStdString();
}

QWidget* WindowWidget(int window) {
    return Window && Window->Number() == window ? Window : nullptr;
}

QWidget* ControlWidget(int control) {
    auto it = Controls.find(control);
    return it == Controls.end() ? nullptr : it->second.widget;
}

QWidget* ControlOfKind(int control, ControlKind kind) {
    auto it = Controls.find(control);
    return it != Controls.end() && it->second.kind == kind ? it->second.widget : nullptr;
}

int ControlWindowNumber() {
    return Window ? Window->Number() : 0;
}

int AddControl(int control, ControlKind kind, QWidget* widget, int x, int y, int width,
               int height) {
    if (!Window || Controls.count(control)) {
        delete widget;
        return 0;
    }
    widget->setParent(Window);
    widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    widget->show();
    Controls[control] = {kind, widget};
    return 1;
}

void ReleaseControls() {
    ProgramChange own;
    Controls.clear();
    delete std::exchange(Window, nullptr);  // and its controls with it
    Fonts.clear();
}

int CreateWindowFrame(int window, int x, int y, int clientWidth, int clientHeight,
                      std::string_view title, int options) {
    if (Window || !HaveWidgets() || clientWidth < 0 || clientHeight < 0) return 0;
    if (clientWidth > 32767 || clientHeight > 32767) return 0;
    Window = new MainFrame(window);
    Window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    Window->setFixedSize(clientWidth, clientHeight);
    Window->setWindowTitle(ToQt(title));
    // No control holds the keyboard focus until the user or the program gives
    // it one: Qt would hand it to the first control, where the first keys
    // pressed would move the list's selection.
    Window->setFocus(Qt::OtherFocusReason);
    if (options & WindowCentered) {
        Window->Centre();
    } else {
        Window->move(x, y);
    }
    Window->NotePosition();
    if (!(options & WindowHidden)) ShowWindowFrame(window);
    return 1;
}

int64_t WindowLeft(int window) {
    return Window && Window->Number() == window ? Window->Position().x() : 0;
}

int64_t WindowTop(int window) {
    return Window && Window->Number() == window ? Window->Position().y() : 0;
}

void MoveWindowTo(int window, int64_t x, int64_t y) {
    if (!WindowWidget(window)) return;
    Window->MoveTo({ClampCoordinate(x), ClampCoordinate(y)});
    Window->NotePosition();
}

int WindowPlaceVisible(int window, int64_t x, int64_t y) {
    if (!WindowWidget(window)) return 0;
    const QRect frame = Window->frameGeometry();
    // Until the window manager has framed the window, both rectangles are its
    // client area, and the style's idea of a title bar stands in for its own.
    int64_t bar = Window->geometry().top() - frame.top();
    if (bar <= 0) bar = Window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        screens.push_back({area.left(), area.top(), int64_t{area.left()} + area.width(),
                           int64_t{area.top()} + area.height()});
    }
    const int64_t left = ClampCoordinate(x), top = ClampCoordinate(y);
    return TitleBarVisible({left, top, left + frame.width(), top + frame.height()}, bar, screens)
               ? 1
               : 0;
}

void ShowWindowFrame(int window) {
    if (!WindowWidget(window)) return;
    Window->show();
    // Where the frame is known at once, no move may follow to announce it.
    Window->FollowFrame();
}

int CreateButton(int control, int x, int y, int width, int height, std::string_view text) {
    if (!Window) return 0;
    auto* button = new QPushButton(ToQt(text));
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, button,
                     [control] { QueueControlEvent(control, ButtonClick, false); });
    return AddControl(control, ControlKind::Button, button, x, y, width, height);
}

int CreateTextField(int control, int x, int y, int width, int height, std::string_view text) {
    if (!Window) return 0;
    auto* field = new TextField(control);
    field->setText(ToQt(text));
    return AddControl(control, ControlKind::Field, field, x, y, width, height);
}

void SetControlFont(int control, FontHandle font) {
    QWidget* widget = ControlWidget(control);
    if (!widget || font < 0 || font > static_cast<FontHandle>(Fonts.size())) return;
    widget->setFont(font == 0 ? QApplication::font() : Fonts[static_cast<size_t>(font - 1)]);
}

void DisableControl(int control, int disabled) {
    ProgramChange own;
    if (QWidget* widget = ControlWidget(control)) widget->setEnabled(disabled == 0);
}

bool ControlEnabled(int control) {
    QWidget* widget = ControlWidget(control);
    return widget && widget->isEnabled();
}

void FocusControl(int control) {
    ProgramChange own;
    if (QWidget* widget = ControlWidget(control)) widget->setFocus(Qt::OtherFocusReason);
}

void SetControlText(int control, std::string_view text) {
    if (auto* button = static_cast<QPushButton*>(ControlOfKind(control, ControlKind::Button))) {
        button->setText(ToQt(text));
    } else if (auto* field = static_cast<QLineEdit*>(ControlOfKind(control, ControlKind::Field))) {
        field->setText(ToQt(text));
    }
}

std::string ControlText(int control) {
    if (auto* button = static_cast<QPushButton*>(ControlOfKind(control, ControlKind::Button))) {
        return FromQt(button->text());
    }
    if (auto* field = static_cast<QLineEdit*>(ControlOfKind(control, ControlKind::Field))) {
        return FromQt(field->text());
    }
    return "";
}

void SetBackColor(int control, Colour colour) {
    QWidget* field = ControlOfKind(control, ControlKind::Field);
    if (!field) return;
    // A disabled field keeps the system's greyed look.
    QPalette palette = field->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, QtColour(colour));
        palette.setColor(group, QPalette::Text, QtColour(TextColourOn(colour)));
    }
    field->setPalette(palette);
}

void SetAccessibleName(int control, std::string_view name) {
    if (QWidget* widget = ControlWidget(control)) widget->setAccessibleName(ToQt(name));
}

FontHandle MakeFont(std::string_view face, int points) {
    if (!HaveWidgets() || points < 1 || points > 1000) return 0;
    QString family = ToQt(face);
    QFont font = QFontDatabase::hasFamily(family)
                     ? QFont(family)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(points);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    Fonts.push_back(font);
    return static_cast<FontHandle>(Fonts.size());
}
