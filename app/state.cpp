#include "app/state.h"

#include "runtime/files.h"
#include "runtime/text.h"
#include "runtime/user_dirs.h"
#include "tavimor_version.h"

const std::array<std::string, IntervalTableLast + 1> IntervalTable = {
    "1 hour|3600000",    "2 hours|7200000",    "4 hours|14400000",   "8 hours|28800000",
    "16 hours|57600000", "1 day|86400000",     "2 days|172800000",   "4 days|345600000",
    "1 week|604800000",  "2 weeks|1209600000", "1 month|2592000000", "2 months|5184000000",
};

const std::array<std::string, 13> IntervalChoices = {
    "Check interval:", "1 hour", "2 hours", "4 hours", "8 hours", "16 hours", "1 day",
    "2 days",          "4 days", "1 week",  "2 weeks", "1 month", "2 months",
};

std::array<std::string, SlotCount> SlotDoneFlags;
int SaveRequested = 0;

int QueueRunning = 0;
int EditMode = 0;
int LastSelectedRow = 0;

std::string ProgramDir;
int InstalledMode = 0;
std::string SettingsFileName;
std::string DownloadDir;
int64_t WindowPosX = 0;
int64_t WindowPosY = 0;
std::string WindowMinimizedText;
std::string VersionText;
DateValue CurrentDate = 0;

std::string StampDay;
std::string StampMonth;
std::string StampYear;
std::string StampHour;
std::string StampMinute;

void ResetState() {
    SlotDoneFlags.fill("0");
    SaveRequested = 0;
    QueueRunning = 0;
    EditMode = 0;
    LastSelectedRow = 0;
    ProgramDir.clear();
    InstalledMode = 0;
    SettingsFileName = "Tavimor.ini";
    DownloadDir.clear();
    WindowPosX = 0;
    WindowPosY = 0;
    WindowMinimizedText = "No";
    VersionText = "v" TAVIMOR_VERSION " - 26 Nov 2011";
    CurrentDate = 0;
    StampDay.clear();
    StampMonth.clear();
    StampYear.clear();
    StampHour.clear();
    StampMinute.clear();
}

void RefreshDateStamp() {
    static const std::array<const char*, 12> month_names = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    StampDay = DateText("%dd", CurrentDate);
    StampYear = DateText("%yyyy", CurrentDate);
    StampHour = DateText("%hh", CurrentDate);
    StampMinute = DateText("%ii", CurrentDate);
    // A date without calendar fields gives month "00", which names no month.
    int64_t month = ParseInteger(DateText("%mm", CurrentDate));
    StampMonth = month >= 1 && month <= 12 ? month_names[month - 1] : "";
}

std::string DateStamp() {
    return StampDay + " " + StampMonth + " " + StampYear + "@" + StampHour + ":" + StampMinute;
}

int64_t IntervalPeriod(std::string_view label) {
    for (const std::string& entry : IntervalTable) {
        if (SameText(FieldAt(entry, 1, "|"), label)) return ParseInteger(FieldAt(entry, 2, "|"));
    }
    return 0;
}

std::string DownloadDirWithSeparator() {
    // An emptied value would otherwise turn into the root directory.
    if (DownloadDir.empty()) return DefaultDownloadDir();
    // A hand-edited "C:/dl/" already ends with a separator Windows accepts.
    if (DownloadDir.back() == '/' || DownloadDir.back() == PathSeparator) return DownloadDir;
    return DownloadDir + PathSeparator;
}

std::string DefaultDownloadDir() {
    // An installed program's settings directory is no place for downloads.
    std::string downloads = InstalledMode == 1 ? UserDownloadDirectory() : std::string();
    return downloads.empty() ? ProgramDir : downloads;
}
