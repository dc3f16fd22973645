// The settings-file store with arbitrary file contents and one arbitrary write.
// Round one opens the bytes (or starts an empty document), reads, writes one
// key and saves; round two opens what was saved. Both rounds must read the
// same values for every name that occurs, and writing the same key again must
// give the same bytes: the written form reads back as what was in memory.
// Input, as FuzzedDataProvider takes it: from the end a byte for "create", a
// byte for the kind of write and eight for its number; from the front the
// group, key and value, each ended by a backslash and one more byte; the rest
// is the file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "runtime/settings_file.h"

namespace {

constexpr std::string_view Missing = "\x01missing";
constexpr int64_t MissingNumber = INT64_MIN + 7;
constexpr size_t MaxNames = 12;

enum class Round1 { ReadOnly, Text, Integer, CommentAndText };

struct Write {
    std::string group;
    std::string key;
    std::string value;
    int64_t number = 0;
    Round1 kind = Round1::ReadOnly;
};

// A fresh directory for each input, removed after it: libFuzzer may end the
// process without running exit handlers. Under TMPDIR when set (fuzz/run
// points it at a scratch directory of its own), else on tmpfs, which keeps
// the save's fsync calls from dominating the run.
class WorkDirectory {
  public:
    WorkDirectory() {
        const char* tmpdir = std::getenv("TMPDIR");
        std::string base = tmpdir != nullptr && *tmpdir != '\0'        ? tmpdir
                           : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                       : "/tmp";
        path_ = base + "/tavimor-settings-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(path_.data()) != nullptr);
    }
    ~WorkDirectory() { std::filesystem::remove_all(path_); }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    std::string File() const { return path_ + "/Tavimor.ini"; }

  private:
    std::string path_;
};

void PutFile(const std::string& path, std::string_view bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    close(fd);
}

std::string GetFile(const std::string& path) {
    std::string bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<size_t>(got));
    close(fd);
    return bytes;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Without(std::string text, std::string_view bytes) {
    std::erase_if(text, [&](char c) { return bytes.find(c) != bytes.npos; });
    return text;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Names that keep their form through a save: a line break would split the
// line, "]" end a group name, "=" a key, and a key must not begin a comment
// or a group header.
Write TakeWrite(FuzzedDataProvider& input) {
    Write w;
    w.kind = static_cast<Round1>(input.ConsumeIntegralInRange<int>(0, 3));
    w.number = input.ConsumeIntegral<int64_t>();
    w.group = Without(input.ConsumeRandomLengthString(64), "\r\n]");
    w.key = std::string(Trimmed(Without(input.ConsumeRandomLengthString(64), "\r\n=")));
    if (!w.key.empty() && (w.key[0] == ';' || w.key[0] == '[')) w.key.insert(0, "k");
    w.value = Without(input.ConsumeRandomLengthString(256), "\r\n");
    return w;
}

// A name as a UTF-8 document stores it, for the code points up to 0xFF.
std::string FoldTwoByteSequences(std::string_view name) {
    std::string folded;
    for (size_t i = 0; i < name.size(); ++i) {
        auto lead = static_cast<unsigned char>(name[i]);
        if ((lead == 0xC2 || lead == 0xC3) && i + 1 < name.size()) {
            folded += static_cast<char>((lead & 0x03) << 6 | (name[++i] & 0x3F));
        } else {
            folded += name[i];
        }
    }
    return folded;
}

// The name as found and, where they differ, as a UTF-8 document would take it
// and in other letter case.
void AddName(std::string_view name, std::vector<std::string>& names) {
    std::string upper(name);
    for (char& c : upper)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    for (const std::string& variant : {std::string(name), FoldTwoByteSequences(name), upper}) {
        if (std::find(names.begin(), names.end(), variant) == names.end()) names.push_back(variant);
    }
}

// Group and key names as they appear in the bytes, found roughly: they only
// choose what is looked up, both rounds look up the same.
void CollectNames(std::string_view bytes, std::vector<std::string>& groups,
                  std::vector<std::string>& keys) {
    size_t at = 0;
    while (at < bytes.size() && (groups.size() < MaxNames || keys.size() < MaxNames)) {
        size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
        std::string_view line = Trimmed(bytes.substr(at, end - at));
        if (line.starts_with('[') && groups.size() < MaxNames) {
            AddName(line.substr(1, line.find(']') - 1), groups);
        } else if (!line.empty() && line[0] != ';' && keys.size() < MaxNames) {
            AddName(Trimmed(line.substr(0, line.find('='))), keys);
        }
        at = end + 1;
    }
}

std::vector<std::string> LookUp(const std::vector<std::string>& groups,
                                const std::vector<std::string>& keys) {
    std::vector<std::string> seen;
    for (const std::string& group : groups) {
        seen.push_back(std::to_string(SelectGroup(group)));
        for (const std::string& key : keys) {
            std::string text = ReadText(key, Missing);
            FUZZ_CHECK(text.find_first_of("\r\n") == text.npos);
            seen.push_back(text + "|" + std::to_string(ReadInteger(key, MissingNumber)));
        }
    }
    return seen;
}

void ApplyWrite(const Write& w, bool first_round) {
    SelectGroup(w.group);
    if (w.kind == Round1::CommentAndText && first_round) FUZZ_CHECK(WriteComment("fuzz") == 1);
    if (w.kind == Round1::Integer) {
        WriteInteger(w.key, w.number);
    } else {
        WriteText(w.key, w.value);
    }
    FUZZ_CHECK(SelectGroup(w.group) == 1);
    if (w.kind == Round1::Integer) {
        FUZZ_CHECK(ReadInteger(w.key, MissingNumber) == w.number);
        FUZZ_CHECK(ReadText(w.key, Missing) == std::to_string(w.number));
    } else {
        FUZZ_CHECK(ReadText(w.key, Missing) == Trimmed(w.value));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    bool create = input.ConsumeBool();
    Write w = TakeWrite(input);
    std::string bytes = input.ConsumeRemainingBytesAsString();
    WorkDirectory directory;
    const std::string path = directory.File();
    PutFile(path, bytes);

    std::vector<std::string> groups = {""};
    std::vector<std::string> keys;
    AddName(w.group, groups);
    AddName(w.key, keys);
    CollectNames(bytes, groups, keys);
    if (w.kind == Round1::ReadOnly) {
        FUZZ_CHECK(OpenSettingsFile(path) != 0);
        LookUp(groups, keys);
        FUZZ_CHECK(CloseSettingsFile() != 0);
        FUZZ_CHECK(GetFile(path) == bytes);
        return 0;
    }
    FUZZ_CHECK(create ? CreateSettingsFile(path) != 0 : OpenSettingsFile(path) != 0);
    ApplyWrite(w, true);
    std::vector<std::string> in_memory = LookUp(groups, keys);
    FUZZ_CHECK(CloseSettingsFile() != 0);
    std::string saved = GetFile(path);

    FUZZ_CHECK(OpenSettingsFile(path) != 0);
    FUZZ_CHECK(LookUp(groups, keys) == in_memory);
    ApplyWrite(w, false);
    FUZZ_CHECK(CloseSettingsFile() != 0);
    FUZZ_CHECK(GetFile(path) == saved);
    return 0;
}
