// The state that every part of the link monitor shares, in one place. There is
// one instance of each item for the whole run.
//
// The link table itself has no variable here: the rows of LinkList are the only
// store of the links, and the logic reads and writes them through gui/gui.h.
// Row index = slot index = timer identifier = file number of the link check.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/dates.h"

// ---- Controls of MainWindow, by number ----
constexpr int LinkList = 0;
constexpr int StartButton = 1;
constexpr int DeleteButton = 2;
constexpr int DeleteAllButton = 3;
constexpr int UrlField = 4;
constexpr int AddButton = 5;
constexpr int OpenButton = 6;
constexpr int IntervalCombo = 7;
constexpr int AboutButton = 8;

// ---- Columns of LinkList ----
constexpr int ColumnUrl = 0;
constexpr int ColumnInterval = 1;
constexpr int ColumnStatus = 2;
constexpr int ColumnLastRetry = 3;
constexpr int ColumnTried = 4;
constexpr int LinkColumns = 5;

// ---- Link slots ----
constexpr int SlotCount = 30;  // rows beyond this have no slot and are never checked

// ---- Status words ----
inline constexpr std::string_view StatusIdle = "Idle";
inline constexpr std::string_view StatusTrying = "Trying";
inline constexpr std::string_view StatusDone = "DONE!";

// ---- Packing of link records in the settings file ----
constexpr char FieldSeparator = '\xA4';
constexpr char RecordTerminator = '\xFF';

// ---- Intervals ----
// Label, "|", period in milliseconds. "1 month" and "2 months" count 30 and 60
// days; the slot timers take 64-bit periods, so they need no special case.
constexpr int IntervalTableLast = 11;
extern const std::array<std::string, IntervalTableLast + 1> IntervalTable;
// The items of IntervalCombo, "Check interval:" first.
extern const std::array<std::string, 13> IntervalChoices;
inline constexpr std::string_view DefaultInterval = "1 hour";

// ---- Flags handed from the link checks to the main loop ----
extern std::array<std::string, SlotCount> SlotDoneFlags;  // "1": slot k has just finished
extern int SaveRequested;                                 // 1: a check changed a row
// A check that reached no server (the network is down, or not back yet after a
// wake-up) is tried again soon, up to OfflineRetryLimit times in a row, before
// its row waits its period again.
constexpr int OfflineRetryLimit = 3;
constexpr int64_t OfflineRetryDelayMs = 10 * 60 * 1000;
extern std::array<int, SlotCount> OfflineRetries;  // the retries slot k has had in a row
extern std::array<int, SlotCount> RetrySoonFlags;  // 1: slot k asks for its retry

// ---- State of the commands ----
extern int QueueRunning;     // 1 from a confirmed start until a confirmed stop
extern int EditMode;         // 1 while typing in UrlField rewrites the selected row's link
extern int LastSelectedRow;  // selected row at the end of the last list event while stopped

// ---- Program-wide settings ----
extern std::string ProgramDir;           // where the settings file lives, ends with a separator
extern int InstalledMode;                // 1: settings in the user's configuration directory
extern std::string SettingsFileName;     // "Tavimor.ini"
extern std::string DownloadDir;          // where the link checks save files
extern int64_t WindowPosX;               // left edge of MainWindow on the screen
extern int64_t WindowPosY;               // top edge of MainWindow on the screen
extern std::string WindowMinimizedText;  // stored and written back unchanged
extern std::string VersionText;          // shown in the window title
extern DateValue CurrentDate;            // local time of the main loop's latest pass

// ---- Parts of the date stamp, from CurrentDate ----
extern std::string StampDay;     // "05"
extern std::string StampMonth;   // "Mar"
extern std::string StampYear;    // "2011"
extern std::string StampHour;    // "09", 00 to 23
extern std::string StampMinute;  // "07"

// Puts every item above back to its value at the start of the program.
void ResetState();

// Recomputes the five stamp parts from CurrentDate.
void RefreshDateStamp();
// "05 Mar 2011@09:07", from the stamp parts as they stand.
std::string DateStamp();
// The moment a stamp as DateStamp writes it names; ImpossibleDate for any
// other text.
DateValue StampDate(std::string_view stamp);

// How long after Start! a row's first check is due: one period after the
// minute of its last retry stamp, at once when that has passed, and one period
// (as for a row never tried) when the stamp cannot be read or lies ahead.
int64_t FirstCheckDelayMs(std::string_view stamp, int64_t periodMs, DateValue now);

// The period in milliseconds of an interval label; 0 when no entry has that
// label.
int64_t IntervalPeriod(std::string_view label);

// Where downloads go when nothing else is chosen: the user's download folder
// for an installed program, the program's directory for a portable one.
std::string DefaultDownloadDir();

// The download directory as used to build a path: always ending with a
// separator, PathSeparator unless it already ends with "/".
std::string DownloadDirWithSeparator();
