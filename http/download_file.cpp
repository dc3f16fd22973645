#include "http/download_file.h"

#include <cstring>

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

bool BodyFile::Close() {
    bool flushed = Flush();
    return file_->Keep() && flushed;
}
