#include "app/link_records.h"

#include "runtime/text.h"

std::string PackLinkRecords(const std::vector<LinkRow>& rows, DateValue savedAt) {
    const std::string saved_at = IntegerText(savedAt);
    std::string packed;
    for (const LinkRow& row : rows) {
        for (const std::string& cell : row) {
            packed += cell;
            packed += FieldSeparator;
        }
        packed += saved_at;
        packed += RecordTerminator;
    }
    return packed;
}

// The fields of text between separators, as FieldAt numbers them, in one pass.
static std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string_view::npos;
         end = text.find(separator, start)) {
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

std::vector<LinkRow> UnpackLinkRecords(std::string_view value) {
    std::vector<std::string_view> records = SplitAt(value, RecordTerminator);
    records.pop_back();  // the text after the last terminator is no record
    std::vector<LinkRow> rows;
    rows.reserve(records.size());
    for (std::string_view record : records) {
        std::vector<std::string_view> fields = SplitAt(record, FieldSeparator);
        LinkRow row;
        for (size_t i = 0; i < row.size() && i < fields.size(); ++i)
            row[i] = fields[i];
        if (SameText(row[ColumnStatus], StatusTrying)) row[ColumnStatus] = StatusIdle;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string AsciiLink(std::string_view link) {
    static const char hex[] = "0123456789ABCDEF";
    std::string ascii;
    ascii.reserve(link.size());
    for (char c : link) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            ascii += '%';
            ascii += hex[byte >> 4];
            ascii += hex[byte & 0x0F];
        } else {
            ascii += c;
        }
    }
    return ascii;
}
