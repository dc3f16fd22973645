// The main loop: one pass per window event, each pass doing its housekeeping
// and then the user's command.
#pragma once

// Runs one pass: waits for an event, records the window position and the time,
// handles finished slots and a pending save, then carries out the event's
// command. Returns 0 once the user has confirmed quitting (the settings are
// saved by then), 1 otherwise.
int RunMainPass();

// Runs passes until the user has confirmed quitting.
void RunMainLoop();
