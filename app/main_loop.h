// The main loop: one pass per window event, each pass doing its housekeeping
// and then the user's command.
#pragma once

#include <cstdint>

// State of the commands, owned by the main loop.
extern int QueueRunning;     // 1 from a confirmed start until a confirmed stop
extern int EditMode;         // 1 while typing in UrlField rewrites the selected row's link
extern int SelectedRow;      // selected row of LinkList as last read by a command, -1 none
extern int LastSelectedRow;  // SelectedRow at the end of the last list event while stopped
extern int64_t TimerPeriod;  // period of the slot being armed, in milliseconds

// Puts the state above back to its start values.
void ResetMainLoop();

// Runs one pass: waits for an event, records the window position and the time,
// handles finished slots and a pending save, then carries out the event's
// command. Returns 0 once the user has confirmed quitting (the settings are
// saved by then), 1 otherwise.
int RunMainPass();

// Runs passes until the user quits, then ends the program in order. Returns the
// process's exit code.
int RunMainLoop();
