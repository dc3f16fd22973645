// What the files of the Qt backend share among themselves (and with its tests):
// the widgets behind the window and control numbers, and the boot-clock alarm.
// Not part of the seam; app/ never sees it.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "gui/backend.h"

class QWidget;

// Bytes to Qt and back; texts are UTF-8 on this platform.
QString ToQt(std::string_view bytes);
std::string FromQt(const QString& text);

// The top-level window of a window number, the widget of a control number;
// nullptr when the number names nothing.
QWidget* WindowWidget(int window);
QWidget* ControlWidget(int control);
// The widget of a control of that kind; nullptr for any other control.
QWidget* ControlOfKind(int control, ControlKind kind);
// Places a new control's widget in the window at its rectangle and files it
// under its number. 0 (and the widget deleted) when there is no window or the
// number is taken.
int AddControl(int control, ControlKind kind, QWidget* widget, int x, int y, int width, int height);

// Whether Open may hand file to its application (gui/open_guard.h), by the
// MIME types Qt finds for it; any other file is shown in its folder.
bool MayOpenWithApplication(const QString& file);

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
void ReleaseSessionEnd();
