#include "app/link_check.h"

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
            return;
        }
    } while (!FileAtEnd(k));
}

}  // namespace

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
    int fetched = KeepPaintingWhile([&] { return FetchHttpFile(link, target_path); });
    if (fetched != 0 && QueryFileSize(target_path) > 0 && FileOpenRead(k, target_path) != 0) {
        InspectFile(k, target_path);
        FileClose(k);
    }
    PaintPending();
}
