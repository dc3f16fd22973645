// What one link slot does each time its timer ticks: stamp and count the
// attempt, fetch the row's link into the download directory, and judge the
// file: a small error page is deleted, a real file marks the row "DONE!". A
// body that would not count as arrived never replaces a file already there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A file of more than this many bytes can be judged done; one of fewer can be
// deleted as an error page.
constexpr int64_t SizeThreshold = 5000;

// The outcome of a check whose file would be the settings file, one of its
// temporaries or the program itself, in the directory where they lie: nothing
// is fetched.
constexpr std::string_view NotSavedOverOwnFile =
    "not fetched: the program's own file has that name";

// Runs one check of slot k (row k of LinkList). It never saves and never stops
// a timer: it sets SaveRequested and, when done, SlotDoneFlags[k] for the main
// loop, or RetrySoonFlags[k] when it reached no server and may try again soon. Shows no message.
// What the check came to ("HTTP 404", "file arrived (2.1 MB)"...) and its date stamp become the
// row's Status tip, replacing the last one.
void LinkCheck(int k);

// Puts the status of the row whose file is arriving back in its Status cell,
// in place of the progress shown there, so that a save made meanwhile (the
// session ending) stores the status; progress shows again at its next refresh.
// Does nothing while no file arrives.
void ShowCheckedStatus();

// What a row's Status cell shows while its file arrives: "37%" when the length
// is known (expected >= 0), else the bytes so far (SizeText: "812 bytes",
// "12.4 KB").
std::string ProgressText(int64_t received, int64_t expected);

// The file a link is saved as: the download directory followed by the file
// name of the link's path (without the query).
std::string TargetPathOf(std::string_view link);
