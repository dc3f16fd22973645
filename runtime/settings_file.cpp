// The settings-file store: the document in memory, its parsing, lookup, write
// rules and rebuilt text. The disk is settings_disk.h's, one file per platform.
#include "runtime/settings_file.h"

#include <iterator>
#include <list>
#include <optional>
#include <utility>

#include "runtime/settings_disk.h"

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";

enum class LineKind { Group, Comment, Key };

// Texts are kept as they stand in the file, so UTF-8 in a UTF-8 document.
struct SettingsLine {
    LineKind kind;
    std::string name;  // group name, comment text or key
    std::string value;
};

using LineList = std::list<SettingsLine>;
using LinePos = LineList::iterator;

struct SettingsDocument {
    std::string path;
    bool utf8 = false;
    bool changed = false;
    LineList lines;
    std::optional<LinePos> current_group;  // none: the lines before the first header
    std::optional<LinePos> insert_point;
    std::optional<std::string> pending_group;
};

// Never moved once made: the positions above point into its list.
std::optional<SettingsDocument> Document;

// ---- Texts ----

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char FoldCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

std::string ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 + (b >> 6));
            out += static_cast<char>(0x80 + (b & 0x3F));
        }
    }
    return out;
}

// How many bytes the sequence led by b claims; 0 for a byte that leads none.
size_t SequenceLength(unsigned char b) {
    if (b >= 0xC0 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF7) return 4;
    return 0;
}

// Decodes the multi-byte sequence at text[at], known to fit in text; returns the
// bytes it consumed.
size_t DecodeSequence(std::string_view text, size_t at, size_t length, std::string& out) {
    auto next = static_cast<unsigned char>(text[at + 1]);
    if (length == 2 && IsContinuation(next)) {
        unsigned code = (static_cast<unsigned char>(text[at]) & 0x1Fu) << 6 | (next & 0x3Fu);
        // An overlong line break would hand out a value that splits its line
        // when it is written back.
        bool fits = code < 256 && code != '\r' && code != '\n';
        out += fits ? static_cast<char>(code) : '?';
        return 2;
    }
    out += '?';
    size_t used = 1;
    while (used < length && IsContinuation(static_cast<unsigned char>(text[at + used])))
        ++used;
    return used;
}

std::string FromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        auto b = static_cast<unsigned char>(text[at]);
        size_t length = SequenceLength(b);
        if (b < 0x80) {
            out += text[at++];
        } else if (length == 0 || length > text.size() - at) {
            ++at;  // starts no character that fits: dropped
        } else {
            at += DecodeSequence(text, at, length, out);
        }
    }
    return out;
}

std::string Inbound(const SettingsDocument& doc, std::string_view text) {
    return doc.utf8 ? ToUtf8(text) : std::string(text);
}

std::string Outbound(const SettingsDocument& doc, std::string_view text) {
    return doc.utf8 ? FromUtf8(text) : std::string(text);
}

// Overflow wraps, as every number read in this program does.
int64_t ParseDecimal(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (IsBlank(text[at]) || text[at] == '\v' || text[at] == '\f'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

// ---- Lines ----

std::optional<SettingsLine> ParseLine(std::string_view line) {
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    if (line.empty()) return std::nullopt;
    std::string_view rest = line.substr(1);
    if (line.front() == ';') {
        if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        return SettingsLine{LineKind::Comment, std::string(rest), {}};
    }
    if (line.front() == '[') {
        return SettingsLine{LineKind::Group, std::string(rest.substr(0, rest.find(']'))), {}};
    }
    size_t equals = line.find('=');
    std::string_view key = line.substr(0, equals);
    while (!key.empty() && IsBlank(key.back()))
        key.remove_suffix(1);
    std::string_view value = equals == line.npos ? std::string_view() : line.substr(equals + 1);
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);
    return SettingsLine{LineKind::Key, std::string(key), std::string(value)};
}

LineList ParseContent(std::string_view content) {
    LineList lines;
    size_t at = 0;
    while (at < content.size()) {
        size_t end = content.find_first_of(LineEnd, at);
        if (end == content.npos) end = content.size();
        if (auto line = ParseLine(content.substr(at, end - at))) lines.push_back(std::move(*line));
        at = content.find_first_not_of(LineEnd, end);
        if (at == content.npos) break;
    }
    return lines;
}

std::string BuildText(const SettingsDocument& doc) {
    size_t size = doc.utf8 ? ByteOrderMark.size() + LineEnd.size() : 0;
    for (const SettingsLine& line : doc.lines) {
        size += line.name.size() + line.value.size() + 3 + LineEnd.size();
    }
    std::string text;
    text.reserve(size);
    if (doc.utf8) text.append(ByteOrderMark).append(LineEnd);
    for (const SettingsLine& line : doc.lines) {
        switch (line.kind) {
            case LineKind::Group:
                text.append("[").append(line.name).append("]");
                break;
            case LineKind::Comment:
                text.append("; ").append(line.name);
                break;
            case LineKind::Key:
                text.append(line.name).append(" = ").append(line.value);
                break;
        }
        text.append(LineEnd);
    }
    // A first key that begins with the mark's bytes would turn the document
    // into UTF-8 when read again; a line break first, which reading skips,
    // keeps it as it was.
    if (!doc.utf8 && text.starts_with(ByteOrderMark)) text.insert(0, LineEnd);
    return text;
}

// ---- Lookup and write rules ----

LinePos GroupStart(SettingsDocument& doc) {
    return doc.current_group ? std::next(*doc.current_group) : doc.lines.begin();
}

// key is already in the document's encoding.
std::optional<LinePos> FindKey(SettingsDocument& doc, std::string_view key) {
    for (LinePos pos = GroupStart(doc); pos != doc.lines.end(); ++pos) {
        if (pos->kind == LineKind::Group) break;
        if (pos->kind == LineKind::Key && SameName(pos->name, key)) return pos;
    }
    return std::nullopt;
}

// Where a new key of the current group goes: before the next group header.
LinePos GroupEnd(SettingsDocument& doc) {
    LinePos pos = GroupStart(doc);
    while (pos != doc.lines.end() && pos->kind != LineKind::Group)
        ++pos;
    return pos;
}

std::optional<std::string> ReadValue(std::string_view key) {
    if (!Document || Document->pending_group) return std::nullopt;
    std::optional<LinePos> found = FindKey(*Document, Inbound(*Document, key));
    if (!found) return std::nullopt;
    return (*found)->value;
}

void CreatePendingGroup(SettingsDocument& doc) {
    if (!doc.pending_group) return;
    doc.lines.push_back({LineKind::Group, std::move(*doc.pending_group), {}});
    doc.pending_group.reset();
    doc.current_group = std::prev(doc.lines.end());
    doc.insert_point = doc.current_group;
}

// key and value are already in the document's encoding.
void WriteKeyLine(SettingsDocument& doc, std::string key, std::string value) {
    CreatePendingGroup(doc);
    std::optional<LinePos> line = FindKey(doc, key);
    if (line) {
        (*line)->name = std::move(key);
        (*line)->value = std::move(value);
    } else {
        line = doc.lines.insert(GroupEnd(doc), {LineKind::Key, std::move(key), std::move(value)});
    }
    doc.insert_point = line;
    doc.changed = true;
}

}  // namespace

int OpenSettingsFile(std::string_view path) {
    CloseSettingsFile();
    Document.emplace();
    Document->path = path;
    std::optional<std::string> content = ReadSettingsBytes(path);
    if (!content) return 0;
    std::string_view body = *content;
    if (body.starts_with(ByteOrderMark)) {
        Document->utf8 = true;
        body.remove_prefix(ByteOrderMark.size());
    }
    Document->lines = ParseContent(body);
    return 1;
}

int CreateSettingsFile(std::string_view path) {
    CloseSettingsFile();
    if (!SettingsTargetWritable(path)) return 0;
    Document.emplace();
    Document->path = path;
    // Written at close even if empty: the old file is replaced then, not now.
    Document->changed = true;
    return 1;
}

int SelectGroup(std::string_view name) {
    if (!Document) return 0;
    SettingsDocument& doc = *Document;
    doc.pending_group.reset();
    if (name.empty()) {
        doc.current_group.reset();
        doc.insert_point.reset();
        return 1;
    }
    std::string stored = Inbound(doc, name);
    for (LinePos pos = doc.lines.begin(); pos != doc.lines.end(); ++pos) {
        if (pos->kind == LineKind::Group && SameName(pos->name, stored)) {
            doc.current_group = pos;
            doc.insert_point = pos;
            return 1;
        }
    }
    doc.pending_group = std::move(stored);
    return 0;
}

std::string ReadText(std::string_view key, std::string_view defaultText) {
    std::optional<std::string> value = ReadValue(key);
    if (!value) return std::string(defaultText);
    return Outbound(*Document, TrimBlanks(*value));
}

int64_t ReadInteger(std::string_view key, int64_t defaultValue) {
    std::optional<std::string> value = ReadValue(key);
    return value ? ParseDecimal(*value) : defaultValue;
}

int WriteComment(std::string_view text) {
    if (!Document) return 0;
    SettingsDocument& doc = *Document;
    CreatePendingGroup(doc);
    LinePos at = doc.insert_point ? std::next(*doc.insert_point) : doc.lines.begin();
    doc.insert_point = doc.lines.insert(at, {LineKind::Comment, Inbound(doc, text), {}});
    doc.changed = true;
    return 1;
}

void WriteText(std::string_view key, std::string_view text) {
    if (!Document) return;
    WriteKeyLine(*Document, Inbound(*Document, key), Inbound(*Document, text));
}

void WriteInteger(std::string_view key, int64_t value) {
    if (!Document) return;
    WriteKeyLine(*Document, Inbound(*Document, key), std::to_string(value));
}

int CloseSettingsFile() {
    if (!Document) return 1;
    bool saved = !Document->changed || ReplaceSettingsFile(Document->path, BuildText(*Document));
    Document.reset();
    return saved ? 1 : 0;
}
