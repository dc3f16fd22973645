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

// A file that is neither an error page nor the real thing stays for the user to
// look at; the check goes on.
std::string KeptOutcome(int64_t size) {
    if (size == 0) return "an empty file, kept; still waiting";
    if (size <= SizeThreshold) return "only " + SizeText(size) + ", kept; still waiting";
    return SizeText(size) + " that read like an error page, kept; still waiting";
}

// Reads slot k's open file line by line. A hit line deletes a small file; a
// line free of the words marks a large file done. Once either has happened no
// later line can change the outcome, so reading stops there. Returns what the
// check came to, in the user's words.
std::string InspectFile(int k, const std::string& target_path) {
    int64_t size = QueryFileSize(target_path);
    do {
        if (IsErrorPageLine(FileReadLine(k))) {
            if (size < SizeThreshold && RemoveFile(target_path) != 0)
                return "error page (" + SizeText(size) + ") deleted";
        } else if (size > SizeThreshold) {
            SetItemText(LinkList, k, StatusDone, ColumnStatus);
            SlotDoneFlags[k] = std::string("1");
            const std::string link = ItemText(LinkList, k, ColumnUrl);
            NotifyArrival(FileNameOf(target_path), link, target_path);
            return "file arrived (" + SizeText(size) + ")";
        }
    } while (!FileAtEnd(k));
    return KeptOutcome(size);
}

// Judges what a fetch left at target_path, or says why it left nothing.
std::string JudgeFetch(int k, int fetched, const FetchReport& report,
                       const std::string& target_path) {
    if (fetched == 0) return report.failure.empty() ? "download failed" : report.failure;
    if (QueryFileSize(target_path) <= 0) return KeptOutcome(0);
    if (FileOpenRead(k, target_path) == 0) return "the file arrived but cannot be read";
    std::string outcome = InspectFile(k, target_path);
    FileClose(k);
    return outcome;
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
    return SizeText(received);
}

std::string TargetPathOf(std::string_view link) {
    return DownloadDirWithSeparator() + FileNameOf(UrlPart(link, "/PT/"));
}

void LinkCheck(int k) {
    // The stamp shows when this attempt ran, not when the loop last woke up.
    CurrentDate = LocalNow();
    RefreshDateStamp();
    const std::string stamp = DateStamp();
    SetItemText(LinkList, k, stamp, ColumnLastRetry);
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
    FetchReport report;
    int fetched = KeepPaintingWhile(
        [&] { return FetchHttpFile(link, target_path, &progress, &report); },
        [&] {
            int64_t received = progress.received;
            if (received > 0)
                SetItemText(LinkList, k, ProgressText(received, progress.expected), ColumnStatus);
        });
    SetItemText(LinkList, k, status, ColumnStatus);
    // Only the latest outcome is kept, in memory with its row: it tells why a
    // row is still waiting, and never reaches the settings file.
    const std::string outcome = JudgeFetch(k, fetched, report, target_path);
    SetItemTip(LinkList, k, outcome + " \xE2\x80\x94 " + stamp, ColumnStatus);
    PaintPending();
}
