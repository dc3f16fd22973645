// The settings-file store. The top half is the document in memory: parsing,
// lookup, the write rules and the rebuilt text. The bottom half is the disk:
// reading a file whole and replacing one whole, never in place.
#include "runtime/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <list>
#include <optional>
#include <utility>

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

// ---- Disk ----

bool NamesAFile(std::string_view path) {
    return !path.empty() && path.find('\0') == path.npos;
}

// One read in practice; the loop only covers short reads and a file that grows.
std::optional<std::string> ReadAll(int fd, size_t expected) {
    std::string content(expected + 1, '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == content.size()) content.resize(content.size() * 2);
        ssize_t got = read(fd, content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    content.resize(filled);
    return content;
}

// Opened for reading only: whether the file may be written is settled when it
// is replaced, and a descriptor opened for writing would tell file watchers it
// changed. O_NONBLOCK keeps a FIFO at this path from hanging the program.
std::optional<std::string> ReadRegularFile(std::string_view path) {
    if (!NamesAFile(path)) return std::nullopt;
    int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        content = ReadAll(fd, static_cast<size_t>(info.st_size));
    }
    close(fd);
    return content;
}

struct ReplaceTarget {
    std::string path;       // symbolic links followed, so a linked file stays linked
    std::string directory;  // "" or ending in "/"
    std::optional<struct stat> existing;
};

// Without any write bit the file counts as locked even for the superuser, whom
// access() would let through.
bool MayWrite(const std::string& path, const struct stat& info, int access_mode) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           access(path.c_str(), access_mode) == 0;
}

std::string FollowLinks(std::string_view path) {
    std::string name(path);
    struct stat info {};
    if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
    char* real = realpath(name.c_str(), nullptr);
    if (real == nullptr) return name;
    std::string resolved(real);
    free(real);
    return resolved;
}

// The target when it may be replaced: an existing one must be a regular file
// we could open for reading and writing, and its directory must take new files.
std::optional<ReplaceTarget> FindWritableTarget(std::string_view path) {
    if (!NamesAFile(path)) return std::nullopt;
    ReplaceTarget target{FollowLinks(path), {}, {}};
    target.directory = target.path.substr(0, target.path.rfind('/') + 1);
    struct stat info {};
    if (stat(target.path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || !MayWrite(target.path, info, R_OK | W_OK)) return {};
        target.existing = info;
    } else if (errno != ENOENT) {
        return std::nullopt;
    }
    std::string directory = target.directory.empty() ? "." : target.directory;
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    if (!MayWrite(directory, info, W_OK | X_OK)) return std::nullopt;
    return target;
}

// Temporary files are named prefix + writer's pid + "." + count + ".tmp".
// Appended, not "." + substr(): g++ 12 warns falsely (-Wrestrict) when a
// literal is put before a temporary string.
std::string TemporaryPrefix(const ReplaceTarget& target) {
    std::string prefix = ".";
    prefix.append(target.path, target.directory.size(), 64);
    prefix += '.';
    return prefix;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == text.npos;
}

// The writer's pid of one of our temporary names, or 0 for any other name.
pid_t TemporaryOwner(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = name.find('.');
    if (dot == name.npos || dot > 9 || !AllDigits(name.substr(0, dot))) return 0;
    if (!AllDigits(name.substr(dot + 1))) return 0;
    return static_cast<pid_t>(std::stol(std::string(name.substr(0, dot))));
}

// A writer that was killed or lost power mid-save left its temporary file; the
// next save removes it, unless that writer is still alive.
void RemoveStaleTemporaries(const ReplaceTarget& target) {
    DIR* directory = opendir(target.directory.empty() ? "." : target.directory.c_str());
    if (directory == nullptr) return;
    std::string prefix = TemporaryPrefix(target);
    while (const dirent* entry = readdir(directory)) {
        pid_t owner = TemporaryOwner(entry->d_name, prefix);
        if (owner <= 0 || owner == getpid()) continue;
        if (kill(owner, 0) != 0 && errno == ESRCH) unlinkat(dirfd(directory), entry->d_name, 0);
    }
    closedir(directory);
}

// A new file beside the target, made with O_EXCL so no other file is reused.
int CreateTemporaryFile(const ReplaceTarget& target, std::string& temp_path) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = target.directory + TemporaryPrefix(target) + std::to_string(getpid()) + "." +
                    std::to_string(++counter) + ".tmp";
        int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The replacement keeps the old file's mode and, where allowed, its owner.
void KeepAttributes(int fd, const ReplaceTarget& target) {
    if (!target.existing) return;
    if (fchown(fd, target.existing->st_uid, target.existing->st_gid) != 0) {
        // Only the superuser may give a file away; the new file then stays ours.
    }
    fchmod(fd, target.existing->st_mode & 07777);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t put = write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

// Makes the rename itself durable; the data is already safe either way.
void SyncDirectory(const std::string& directory) {
    int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool ReplaceFile(std::string_view path, std::string_view bytes) {
    std::optional<ReplaceTarget> target = FindWritableTarget(path);
    if (!target) return false;
    RemoveStaleTemporaries(*target);
    std::string temp_path;
    int fd = CreateTemporaryFile(*target, temp_path);
    if (fd < 0) return false;
    KeepAttributes(fd, *target);
    bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(temp_path.c_str(), target->path.c_str()) != 0) {
        unlink(temp_path.c_str());
        return false;
    }
    SyncDirectory(target->directory);
    return true;
}

}  // namespace

int OpenSettingsFile(std::string_view path) {
    CloseSettingsFile();
    Document.emplace();
    Document->path = path;
    std::optional<std::string> content = ReadRegularFile(path);
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
    if (!FindWritableTarget(path)) return 0;
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
    bool saved = !Document->changed || ReplaceFile(Document->path, BuildText(*Document));
    Document.reset();
    return saved ? 1 : 0;
}
