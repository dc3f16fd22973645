#include "app/link_check.h"

#include <algorithm>
#include <array>

#include "app/state.h"
#include "gui/gui.h"
#include "http/fetch.h"
#include "http/url.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace {

constexpr std::array<std::string_view, 4> ErrorPageWords = {"404", "not found", "error",
                                                            "requested"};

bool IsErrorPageLine(std::string_view line) {
    std::string lower = LowerText(line);
    for (std::string_view word : ErrorPageWords) {
        if (FindText(lower, word, 1) > 0) return true;
    }
    return false;
}

// Reads slot k's open file line by line. A hit line deletes a small file; a
// line free of the words marks a large file done. Once either has happened no
// later line can change the outcome, so reading stops there.
void InspectFile(int k, const std::string& target_path) {
    int64_t size = QueryFileSize(target_path);
    do {
        if (IsErrorPageLine(FileReadLine(k))) {
            if (size < SizeThreshold && RemoveFile(target_path) != 0) return;
        } else if (size > SizeThreshold) {
            SetItemText(LinkList, k, StatusDone, ColumnStatus);
            SlotDoneFlags[k] = std::string("1");
            const std::string link = ItemText(LinkList, k, ColumnUrl);
            NotifyArrival(FileNameOf(target_path), link, target_path);
            return;
        }
    } while (!FileAtEnd(k));
}

}  // namespace

std::string ProgressText(int64_t received, int64_t expected) {
    if (expected > 0) {
        int64_t part = std::clamp<int64_t>(received, 0, expected);
        // Huge lengths are divided first, so that nothing overflows.
        int64_t percent =
            expected > INT64_MAX / 100 ? part / (expected / 100) : part * 100 / expected;
        return IntegerText(std::min<int64_t>(percent, 100)) + "%";
    }
    if (expected == 0) return "100%";
    static constexpr std::array<const char*, 3> units = {"KB", "MB", "GB"};
    if (received < 1000) return IntegerText(std::max<int64_t>(received, 0)) + " B";
    // Tenths of the unit, rounded down: the text never claims more than arrived.
    int64_t tenths = received / 100;
    std::size_t unit = 0;
    while (tenths >= 10000 && unit + 1 < units.size()) {
        tenths /= 1000;
        ++unit;
    }
    return IntegerText(tenths / 10) + "." + IntegerText(tenths % 10) + " " + units[unit];
}

std::string TargetPathOf(std::string_view link) {
    return DownloadDirWithSeparator() + FileNameOf(UrlPart(link, "/PT/"));
}

void LinkCheck(int k) {
    // The stamp shows when this attempt ran, not when the loop last woke up.
    CurrentDate = LocalNow();
    RefreshDateStamp();
    SetItemText(LinkList, k, DateStamp(), ColumnLastRetry);
    // Counted in wrapping arithmetic, like every number read from a cell.
    auto tried = static_cast<int64_t>(
        static_cast<uint64_t>(ParseInteger(ItemText(LinkList, k, ColumnTried))) + 1);
    SetItemText(LinkList, k, IntegerText(tried), ColumnTried);
    SaveRequested = 1;

    const std::string link = ItemText(LinkList, k, ColumnUrl);
    const std::string target_path = TargetPathOf(link);
    // Progress shows in the Status cell while the body arrives; the status it
    // stood for comes back before anything can read or save the row.
    const std::string status = ItemText(LinkList, k, ColumnStatus);
    FetchProgress progress;
    int fetched = KeepPaintingWhile(
        [&] { return FetchHttpFile(link, target_path, &progress); },
        [&] {
            int64_t received = progress.received;
            if (received > 0)
                SetItemText(LinkList, k, ProgressText(received, progress.expected), ColumnStatus);
        });
    SetItemText(LinkList, k, status, ColumnStatus);
    if (fetched != 0 && QueryFileSize(target_path) > 0 && FileOpenRead(k, target_path) != 0) {
        InspectFile(k, target_path);
        FileClose(k);
    }
    PaintPending();
}
