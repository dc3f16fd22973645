// What the files of the Qt backend share among themselves (and with its tests):
// the widgets behind the window and control numbers, how input reaches the event
// queue, and where slot ticks may run. Not part of the seam; app/ never sees it.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "gui/event_core.h"

class QWidget;

// Bytes to Qt and back; texts are UTF-8 on this platform.
QString ToQt(std::string_view bytes);
std::string FromQt(const QString& text);

// The top-level window of a window number, the widget of a control number;
// nullptr when the number names nothing.
QWidget* WindowWidget(int window);
QWidget* ControlWidget(int control);
// The number of the window that holds the controls; 0 when there is none.
int ControlWindowNumber();

enum class ControlKind { List, Button, Field, Combo };
// The widget of a control of that kind; nullptr for any other control.
QWidget* ControlOfKind(int control, ControlKind kind);
// Places a new control's widget in the window at its rectangle and files it
// under its number. 0 (and the widget deleted) when there is no window or the
// number is taken.
int AddControl(int control, ControlKind kind, QWidget* widget, int x, int y, int width, int height);

// Appends a control event of the controls' window to the queue. With collapse,
// an event equal to the newest one still queued is not appended again.
void QueueControlEvent(int control, int type, bool collapse);
// Queues the close request of a window (collapsed like list events).
void QueueCloseRequest(int window);

// While one of these lives, slot ticks that fall due run their procedures (a
// modal dialog's loop); pending ticks are run as soon as the loop turns.
class TicksRunFreely {
  public:
    TicksRunFreely();

  private:
    TickAllowance allowance_;
};

// An alarm on the boot clock: onAlarm runs once leftMs of calendar time have
// passed, time asleep included, so a deadline that passed during a suspend is
// met at the resume. A negative leftMs disarms it. Where the system has no
// such alarm, nothing happens and the steady timers alone serve.
void SetBootAlarm(int64_t leftMs, void (*onAlarm)());
void ReleaseBootAlarm();

// Release of each file's share of the state, for ReleaseGui.
void ReleaseControls();
void ReleaseEvents();
void ReleaseInstance();
