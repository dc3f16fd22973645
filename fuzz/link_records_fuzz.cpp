// The packing of link rows with arbitrary packed values and links. Input: eight
// bytes of save time, then the value. Unpacking gives one row per terminator
// whose cells hold no packing byte; packing those rows and unpacking again gives
// them back; and AsciiLink leaves nothing in a link that could break a cell or
// a line of the settings file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/link_records.h"
#include "fuzz/fuzz_check.h"
#include "runtime/text.h"

namespace {

bool IsEscaped(unsigned char byte) {
    return byte < 0x20 || byte >= 0x7F;
}

void CheckRows(const std::vector<LinkRow>& rows) {
    for (const LinkRow& row : rows) {
        for (const std::string& cell : row)
            FUZZ_CHECK(cell.find_first_of("\xA4\xFF") == cell.npos);
        FUZZ_CHECK(row[ColumnStatus] != StatusTrying);
    }
}

void CheckPacked(const std::string& packed, const std::vector<LinkRow>& rows, DateValue saved_at) {
    auto count = [&](char byte) {
        return static_cast<size_t>(std::count(packed.begin(), packed.end(), byte));
    };
    FUZZ_CHECK(count(RecordTerminator) == rows.size());
    FUZZ_CHECK(count(FieldSeparator) == LinkColumns * rows.size());
    FUZZ_CHECK(rows.empty() || packed.back() == RecordTerminator);
    // Every record ends with the save time as its sixth field.
    std::string time_field = FieldSeparator + IntegerText(saved_at) + RecordTerminator;
    for (size_t end = packed.find(RecordTerminator); end != packed.npos;
         end = packed.find(RecordTerminator, end + 1)) {
        FUZZ_CHECK(end + 1 >= time_field.size() &&
                   packed.compare(end + 1 - time_field.size(), time_field.size(), time_field) == 0);
    }
}

void CheckAsciiLink(std::string_view link) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string ascii = AsciiLink(link);
    FUZZ_CHECK(ascii.find_first_of("\xA4\xFF\r\n") == ascii.npos);
    size_t at = 0;
    for (char c : link) {
        auto byte = static_cast<unsigned char>(c);
        std::string expected =
            IsEscaped(byte) ? std::string{'%', hex[byte >> 4], hex[byte & 15]} : std::string(1, c);
        FUZZ_CHECK(ascii.compare(at, expected.size(), expected) == 0);
        at += expected.size();
    }
    FUZZ_CHECK(at == ascii.size());
    FUZZ_CHECK(AsciiLink(ascii) == ascii);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DateValue saved_at = 0;
    if (size < sizeof saved_at) return 0;
    std::memcpy(&saved_at, data, sizeof saved_at);
    std::string_view value(reinterpret_cast<const char*>(data) + sizeof saved_at,
                           size - sizeof saved_at);

    std::vector<LinkRow> rows = UnpackLinkRecords(value);
    FUZZ_CHECK(rows.size() == static_cast<size_t>(std::count(value.begin(), value.end(), '\xFF')));
    CheckRows(rows);
    std::string packed = PackLinkRecords(rows, saved_at);
    CheckPacked(packed, rows, saved_at);
    FUZZ_CHECK(UnpackLinkRecords(packed) == rows);

    // The rows as the program keeps them: links in their ASCII form.
    for (LinkRow& row : rows)
        row[ColumnUrl] = AsciiLink(row[ColumnUrl]);
    FUZZ_CHECK(UnpackLinkRecords(PackLinkRecords(rows, saved_at)) == rows);
    CheckAsciiLink(value);
    return 0;
}
