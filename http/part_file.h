// What a fetch keeps of a large body that broke off, so that the next fetch of
// the same file asks only for the rest: "<name>.part" beside the target holds
// the first bytes of the body, and "<name>.part.tavimor" records whose bytes
// they are. A part without its record is never continued nor removed here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/response.h"

// A body that breaks off is kept only when at least this much of it arrived.
inline constexpr int64_t MinKeptPart = 1 << 20;
// A part nobody continued for this long is removed at start-up.
inline constexpr int64_t StalePartSeconds = 30 * 24 * 60 * 60;

// What a kept part belongs to.
struct PartRecord {
    std::string url;        // the URL whose answer the bytes are (after redirects)
    int64_t length = 0;     // the full length of that body
    bool etag = false;      // validator is a strong ETag, else a Last-Modified date
    std::string validator;  // as the server sent it, for If-Range
};

std::string PartNameOf(const std::string& target);
std::string PartRecordNameOf(const std::string& target);

// The record for a part of the body that head announces, fetched from url: a
// strong ETag, else Last-Modified, as validator. Nothing when the body is not
// counted, or has neither validator, or when url or the validator holds a byte
// below 0x20 or 0x7F (a record never holds what could split its lines).
std::optional<PartRecord> RecordFor(const ResponseHead& head, std::string_view url);

// The record as its file holds it: four lines, each ended by LF:
// "tavimor part 1", "url <url>", "length <decimal>", "etag <value>" or
// "modified <value>".
std::string PartRecordText(const PartRecord& record);

// The record that text holds; nothing unless text is exactly that form with a
// length above 0 and fields free of bytes below 0x20 and 0x7F.
std::optional<PartRecord> ParsePartRecord(std::string_view text);

// The request headers that ask for the rest of the body after a part of
// part_size bytes: "Range: bytes=<part_size>-" and "If-Range: <validator>",
// each ended by CR LF.
std::string ResumeHeaders(const PartRecord& part, int64_t part_size);

// Whether a 206 answer carries exactly the rest of the recorded body after a
// part of part_size bytes: its range, its length and its validator.
bool ContinuesPart(const ResponseHead& head, const PartRecord& part, int64_t part_size);

// Reads the record kept beside target; nothing when there is none or it does
// not parse.
std::optional<PartRecord> LoadPartRecord(const std::string& target);

// Writes the record beside target, through a temporary file in directory
// (target's own) renamed over it. False when that fails; no file is left then.
bool SavePartRecord(const std::string& directory, const std::string& target,
                    const PartRecord& record);

// Removes the part kept beside target and its record, when a record is there.
void DropPart(const std::string& target);

// Removes from directory (ending with a separator) every kept part whose
// record and part both last changed StalePartSeconds or more before
// now_seconds (seconds since 1970 UTC), record and part together; and every
// temporary file of ours whose process has ended (a crash, a kill -9).
void RemoveStaleParts(const std::string& directory, int64_t now_seconds);
