// Writing the whole state into the settings file.
#pragma once

#include <vector>

#include "app/link_records.h"

// Rebuilds the settings file at ProgramDir + SettingsFileName from the state in
// memory and the rows of LinkList. The previous file is replaced in one step,
// only once the new one is complete; when that cannot happen the user is told
// with the "Error!" box and the previous file stays as it was.
void SaveSettings();

// The session ends (log-off, shutdown, a request to end the program): the
// window's place as it is now, then everything, as a confirmed quit saves it.
// Runs wherever the program waits, a link check's transfer included.
void SaveAtSessionEnd();

// The cells of every row of LinkList, top row first.
std::vector<LinkRow> ListRows();
