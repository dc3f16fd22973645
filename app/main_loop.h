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

// During a link check's transfer, answers at once the two commands that may
// not wait for it: Stop! and the close request, each with its usual question.
// True when the user said Yes: the transfer is to end, and the next pass then
// stops the queue or quits without asking again. Every other command waits.
bool AnswerCommandsDuringCheck();
