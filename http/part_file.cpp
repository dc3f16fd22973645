#include "http/part_file.h"

#include <algorithm>
#include <map>
#include <vector>

#include "http/download_file.h"
#include "http/url.h"
#include "runtime/files.h"
#include "runtime/replace_file.h"

namespace {

constexpr std::string_view PartSuffix = ".part";
constexpr std::string_view RecordSuffix = ".part.tavimor";
constexpr std::string_view FirstLine = "tavimor part 1";
constexpr std::size_t MaxRecordBytes = 64 * 1024;

bool IsClean(std::string_view text) {
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// The value of a line "<key> <value>" taken from the front of text.
std::optional<std::string_view> TakeLine(std::string_view& text, std::string_view key) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ' ')
        return std::nullopt;
    return line.substr(key.size() + 1);
}

std::optional<int64_t> LengthOf(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    int64_t length = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        length = length * 10 + (c - '0');
    }
    return length;
}

}  // namespace

std::string PartNameOf(const std::string& target) {
    return target + std::string(PartSuffix);
}

std::string PartRecordNameOf(const std::string& target) {
    return target + std::string(RecordSuffix);
}

std::optional<PartRecord> RecordFor(const ResponseHead& head, std::string_view url) {
    // The record is on disk beside the file: no password goes there.
    PartRecord record{WithoutUserInfo(url), head.content_length, true, head.etag};
    // A weak ETag only says the content means the same, not that its bytes are.
    // A date is as good only when the file had not changed for a minute before
    // the answer left the server: a file rewritten within the second it was
    // served under would keep its date.
    if (record.validator.empty() || record.validator.starts_with("W/")) {
        record.etag = false;
        std::optional<int64_t> modified = HttpDateOf(head.last_modified);
        std::optional<int64_t> sent = HttpDateOf(head.date);
        bool strong = modified && sent && *modified <= *sent - 60;
        record.validator = strong ? head.last_modified : "";
    }
    if (record.length <= 0 || record.validator.empty() || !IsClean(record.validator) ||
        !IsClean(record.url))
        return std::nullopt;
    return record;
}

std::string PartRecordText(const PartRecord& record) {
    return std::string(FirstLine) + "\nurl " + record.url + "\nlength " +
           std::to_string(record.length) + (record.etag ? "\netag " : "\nmodified ") +
           record.validator + "\n";
}

std::optional<PartRecord> ParsePartRecord(std::string_view text) {
    if (!text.starts_with(FirstLine) || text.substr(FirstLine.size(), 1) != "\n")
        return std::nullopt;
    text.remove_prefix(FirstLine.size() + 1);
    std::optional<std::string_view> url = TakeLine(text, "url");
    std::optional<std::string_view> length = TakeLine(text, "length");
    if (!url || !length) return std::nullopt;
    PartRecord record;
    record.etag = text.starts_with("etag ");
    std::optional<std::string_view> validator = TakeLine(text, record.etag ? "etag" : "modified");
    std::optional<int64_t> bytes = LengthOf(*length);
    if (!validator || !bytes || *bytes <= 0 || !text.empty() || !IsClean(*url) ||
        !IsClean(*validator))
        return std::nullopt;
    record.url = *url;
    record.length = *bytes;
    record.validator = *validator;
    return record;
}

std::string ResumeHeaders(const PartRecord& part, int64_t part_size) {
    return "Range: bytes=" + std::to_string(part_size) + "-\r\nIf-Range: " + part.validator +
           "\r\n";
}

bool ContinuesPart(const ResponseHead& head, const PartRecord& part, int64_t part_size) {
    std::optional<ContentRange> range = ContentRangeOf(head.content_range);
    const std::string& validator = part.etag ? head.etag : head.last_modified;
    return range && range->first == part_size && range->last == part.length - 1 &&
           range->complete == part.length && head.content_length == part.length - part_size &&
           validator == part.validator;
}

std::optional<PartRecord> LoadPartRecord(const std::string& target) {
    std::optional<std::string> text =
        ReadSmallDownloadFile(PartRecordNameOf(target), MaxRecordBytes);
    if (!text) return std::nullopt;
    return ParsePartRecord(*text);
}

bool SavePartRecord(const std::string& directory, const std::string& target,
                    const PartRecord& record) {
    return ReplaceFileWhole(directory + ".tavimor-" + UniqueDownloadSuffix() + ".record",
                            PartRecordNameOf(target), PartRecordText(record));
}

void DropPart(const std::string& target) {
    std::string record = PartRecordNameOf(target);
    if (!ReadSmallDownloadFile(record, MaxRecordBytes)) return;
    RemoveFile(PartNameOf(target));
    RemoveFile(record);
}

namespace {

// One of our temporary files that only a crash can have left: its process is
// gone, or (an older name, without the process) it is a day old.
bool IsLeftover(std::string_view name, int64_t age_seconds) {
    constexpr std::string_view Prefix = ".tavimor-";
    if (!name.starts_with(Prefix)) return false;
    name.remove_prefix(Prefix.size());
    if (name.ends_with(".part")) {
        name.remove_suffix(5);
    } else if (name.ends_with(".record")) {
        name.remove_suffix(7);
    } else {
        return false;
    }
    std::size_t dash = name.find('-');
    if (dash == std::string_view::npos) return name.size() == 16 && age_seconds >= 24 * 3600;
    std::string_view process = name.substr(0, dash);
    if (process.empty() || process.size() > 10 ||
        process.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return ProcessGone(std::stoull(std::string(process)));
}

}  // namespace

void RemoveStaleParts(const std::string& directory, int64_t now_seconds) {
    std::map<std::string, int64_t> changed;
    for (const DownloadFolderEntry& entry : ListDownloadFolder(directory))
        changed[entry.name] = entry.modified;
    for (const auto& [name, modified] : changed) {
        if (IsLeftover(name, now_seconds - modified)) RemoveFile(directory + name);
        if (!name.ends_with(RecordSuffix)) continue;
        std::string target = name.substr(0, name.size() - RecordSuffix.size());
        // A part being appended to keeps changing while its record does not.
        auto part = changed.find(target + std::string(PartSuffix));
        int64_t last = part == changed.end() ? modified : std::max(modified, part->second);
        if (now_seconds - last >= StalePartSeconds) {
            RemoveFile(directory + target + std::string(PartSuffix));
            RemoveFile(directory + name);
        }
    }
}
