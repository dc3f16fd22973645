#include "app/state.h"

#include <algorithm>

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
std::array<int, SlotCount> OfflineRetries;
std::array<int, SlotCount> RetrySoonFlags;

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
    OfflineRetries.fill(0);
    RetrySoonFlags.fill(0);
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

DateValue StampDate(std::string_view stamp) {
    static const std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // "dd Mon yyyy@hh:mm", every part of its exact width.
    if (stamp.size() != 17 || stamp[2] != ' ' || stamp[6] != ' ' || stamp[11] != '@' ||
        stamp[14] != ':')
        return ImpossibleDate;
    auto number = [&](std::size_t at, std::size_t width) -> int64_t {
        int64_t value = 0;
        for (char c : stamp.substr(at, width)) {
            if (c < '0' || c > '9') return -1;
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const std::size_t month = months.find(stamp.substr(3, 3));
    if (month == std::string_view::npos || month % 3 != 0) return ImpossibleDate;
    const int64_t fields[] = {number(7, 4), number(0, 2), number(12, 2), number(15, 2)};
    for (int64_t field : fields) {
        if (field < 0) return ImpossibleDate;
    }
    return MakeDate(fields[0], static_cast<int64_t>(month / 3) + 1, fields[1], fields[2], fields[3],
                    0);
}

int64_t FirstCheckDelayMs(std::string_view stamp, int64_t periodMs, DateValue now) {
    const DateValue last = StampDate(stamp);
    if (last == ImpossibleDate || now == ImpossibleDate || last > now) return periodMs;
    // The stamp names a minute: its end is the latest the retry can have been.
    const int64_t since = (now - last - 60) * 1000;
    return since >= periodMs ? 0 : std::min(periodMs, periodMs - since);
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
