#include "app/link_check.h"

#include <algorithm>
#include <array>

#include "app/main_loop.h"
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

// The row whose Status cell shows progress, and the status that stands behind it.
int ProgressRow = -1;
std::string ProgressStatus;

// The judge reads at most this much of any line, so that a file of one huge
// line costs no more memory than any other.
constexpr std::size_t JudgedLineBytes = 64 * 1024;

// Whether path names one of the program's own files: the settings file and
// its temporaries, or the program itself. A download there would be undone by
// the next save, or would take the program's place. Names are compared
// without letter case, as Windows compares them.
bool IsProgramsOwnFile(const std::string& path) {
    const std::string directory = CanonicalPath(DirectoryOf(path));
    const std::string name = LowerText(FileNameOf(path));
    const std::string settings = LowerText(SettingsFileName);
    if (directory == CanonicalPath(ProgramDir) &&
        (name == settings || (name.starts_with("." + settings + ".") && name.ends_with(".tmp"))))
        return true;
    const std::string program = ExecutablePath();
    return directory == CanonicalPath(DirectoryOf(program)) &&
           name == LowerText(FileNameOf(program));
}

enum class Verdict { Arrived, ErrorPage, Kept, Unreadable };

struct Judgement {
    Verdict verdict = Verdict::Kept;
    int64_t size = 0;
};

// What the file at path reads like, read through file number k: a hit line
// makes a small file an error page, a line free of the words makes a large file
// the real one, and once either has happened no later line can change that.
// Touches no window, so a transfer's thread may ask it.
Judgement JudgeFile(int k, const std::string& path) {
    Judgement judged{Verdict::Kept, std::max<int64_t>(QueryFileSize(path), 0)};
    if (judged.size == 0) return judged;
    if (FileOpenRead(k, path) == 0) return {Verdict::Unreadable, judged.size};
    do {
        if (IsErrorPageLine(FileReadLine(k, JudgedLineBytes))) {
            if (judged.size < SizeThreshold) {
                judged.verdict = Verdict::ErrorPage;
                break;
            }
        } else if (judged.size > SizeThreshold) {
            judged.verdict = Verdict::Arrived;
            break;
        }
    } while (!FileAtEnd(k));
    FileClose(k);
    return judged;
}

// What a file that is neither an error page nor the real thing is, in words.
std::string KeptWhat(int64_t size) {
    if (size == 0) return "an empty file";
    if (size <= SizeThreshold) return "only " + SizeText(size);
    return SizeText(size) + " that read like an error page";
}

// Acts on the judgement of slot k's file at target_path: a real file marks the
// row done, an error page is deleted, anything else stays for the user to look
// at while the check goes on. Returns what the check came to, in the user's words.
std::string ApplyJudgement(int k, const Judgement& judged, const std::string& target_path) {
    switch (judged.verdict) {
        case Verdict::Arrived: {
            SetItemText(LinkList, k, StatusDone, ColumnStatus);
            SlotDoneFlags[k] = std::string("1");
            const std::string link = ItemText(LinkList, k, ColumnUrl);
            NotifyArrival(FileNameOf(target_path), WithoutUserInfo(link), target_path);
            return "file arrived (" + SizeText(judged.size) + ")";
        }
        case Verdict::ErrorPage:
            if (RemoveFile(target_path) != 0)
                return "error page (" + SizeText(judged.size) + ") deleted";
            break;
        case Verdict::Unreadable:
            return "the file arrived but cannot be read";
        case Verdict::Kept:
            break;
    }
    return KeptWhat(judged.size) + ", kept; still waiting";
}

// Failures that reached no server: the network is down or not back yet.
bool ReachedNoServer(FetchFailure reason) {
    return reason == FetchFailure::HostNotFound || reason == FetchFailure::Unreachable ||
           reason == FetchFailure::ProxyNotReachable;
}

// Asks the main loop for slot k's retry when its check reached no server and
// retries are left; what the outcome adds to say so.
std::string AskForRetry(int k, bool fetched, FetchFailure reason) {
    if (fetched || !ReachedNoServer(reason) || OfflineRetries[k] >= OfflineRetryLimit) {
        OfflineRetries[k] = 0;
        return "";
    }
    RetrySoonFlags[k] = 1;
    return "; trying again in " + IntegerText(OfflineRetryDelayMs / 60000) + " minutes (" +
           IntegerText(++OfflineRetries[k]) + " of " + IntegerText(OfflineRetryLimit) + ")";
}

// A body that would not count as arrived never replaces a file already there.
std::string RefusedOutcome(const Judgement& judged) {
    std::string what = judged.verdict == Verdict::ErrorPage
                           ? "error page (" + SizeText(judged.size) + ")"
                       : judged.verdict == Verdict::Unreadable ? "an unreadable file"
                                                               : KeptWhat(judged.size);
    return what + " not saved over the file already there; still waiting";
}

}  // namespace

void ShowCheckedStatus() {
    if (ProgressRow >= 0) SetItemText(LinkList, ProgressRow, ProgressStatus, ColumnStatus);
}

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
    if (IsProgramsOwnFile(target_path)) {
        SetItemTip(LinkList, k, std::string(NotSavedOverOwnFile) + " \xE2\x80\x94 " + stamp,
                   ColumnStatus);
        PaintPending();
        return;
    }
    ProgressRow = k;
    ProgressStatus = status;
    FetchProgress progress;
    FetchReport report;
    Judgement body;
    ReplaceCheck may_replace = [&](const std::string& body_path) {
        body = JudgeFile(k, body_path);
        return body.verdict == Verdict::Arrived;
    };
    int fetched = KeepPaintingWhile(
        [&] { return FetchHttpFile(link, target_path, &progress, &report, may_replace); },
        [&] {
            int64_t received = progress.received;
            if (received > 0)
                SetItemText(LinkList, k, ProgressText(received, progress.expected), ColumnStatus);
            if (AnswerCommandsDuringCheck()) progress.stop = true;
        });
    ProgressRow = -1;
    SetItemText(LinkList, k, status, ColumnStatus);
    std::string outcome;
    if (fetched == 1) {
        outcome = ApplyJudgement(k, JudgeFile(k, target_path), target_path);
    } else if (report.reason == FetchFailure::NotReplaced) {
        outcome = RefusedOutcome(body);
    } else {
        outcome = report.failure.empty() ? "download failed" : report.failure;
    }
    outcome += AskForRetry(k, fetched == 1, report.reason);
    // Only the latest outcome is kept, in memory with its row: it tells why a
    // row is still waiting, and never reaches the settings file.
    SetItemTip(LinkList, k, outcome + " \xE2\x80\x94 " + stamp, ColumnStatus);
    PaintPending();
}
