#include "http/download_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "http/url.h"
#include "runtime/files.h"

namespace {

constexpr std::size_t WriteBlockSize = 64 * 1024;

}  // namespace

BodyFile::BodyFile(const std::string& directory)
    : block_(std::make_unique<char[]>(WriteBlockSize)) {
    for (int attempt = 0; attempt < 8 && (!file_ || file_->Taken()); ++attempt)
        file_.emplace(directory + ".tavimor-" + UniqueDownloadSuffix() + ".part");
}

BodyFile::BodyFile(Continue, const std::string& part)
    : block_(std::make_unique<char[]>(WriteBlockSize)) {
    file_.emplace(FileReplacement::Continue{}, part);
}

bool BodyFile::Write(std::string_view data) {
    if (pending_ + data.size() > WriteBlockSize && !Flush()) return false;
    if (data.size() >= WriteBlockSize) return file_->Write(data);
    std::memcpy(block_.get() + pending_, data.data(), data.size());
    pending_ += data.size();
    return true;
}

bool BodyFile::Flush() {
    bool written = file_->Write(std::string_view(block_.get(), pending_));
    pending_ = 0;
    return written;
}

bool BodyFile::MoveTo(const std::string& name) {
    return Flush() && file_->Commit(name);
}

void BodyFile::MarkDownloaded(std::string_view link) {
    MarkDownloadedFile(file_->Handle(), file_->Path(), link);
}

bool BodyFile::Close() {
    bool flushed = Flush();
    return file_->Keep() && flushed;
}

std::optional<std::string> DownloadDirectoryOf(const std::string& path) {
    // Windows takes "/" as well as its own "\\".
    const std::string_view separators = PathSeparator == '\\' ? "\\/" : "/";
    if (path.empty() || separators.find(path.back()) != std::string_view::npos ||
        IsDownloadDirectory(path))
        return std::nullopt;
    std::size_t last = path.find_last_of(separators);
    if (last == std::string::npos) return std::string();
    std::string directory = path.substr(0, last + 1);
    if (!IsDownloadDirectory(directory)) return std::nullopt;
    return directory;
}

std::string UniqueDownloadSuffix() {
    static std::atomic<uint64_t> counter{0};
    uint64_t value = SystemRandom64().value_or(
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    value ^= ++counter;
    char text[40];
    std::snprintf(text, sizeof text, "%llu-%016llx",
                  static_cast<unsigned long long>(ThisProcessNumber()),
                  static_cast<unsigned long long>(value));
    return text;
}

std::string ZoneIdentifierFor(std::string_view link) {
    std::string host_url;
    for (char c : WithoutUserInfo(link)) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            host_url += c;
            continue;
        }
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
        host_url += escaped;
    }
    // Zone 3 is the Internet.
    return "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + host_url + "\r\n";
}
