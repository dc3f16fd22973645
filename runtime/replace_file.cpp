#include "runtime/replace_file.h"

#include <utility>

#include "runtime/files.h"

FileReplacement::FileReplacement(std::string temporary) : temporary_(std::move(temporary)) {
    file_ = CreateNativeFile(temporary_, taken_);
    owned_ = IsOpen();
}

FileReplacement::FileReplacement(Continue, std::string temporary)
    : temporary_(std::move(temporary)) {
    file_ = OpenNativeForAppend(temporary_);
}

FileReplacement::~FileReplacement() {
    CloseNative(file_);
    if (owned_) RemoveFile(temporary_);
}

bool FileReplacement::Write(std::string_view bytes) {
    return IsOpen() && WriteNative(file_, bytes);
}

bool FileReplacement::Finish() {
    if (!IsOpen()) return false;
    bool flushed = FlushNative(file_);
    bool closed = CloseNative(file_);
    file_ = NoNativeFile;
    return flushed && closed;
}

bool FileReplacement::Commit(const std::string& target) {
    if (!Finish() || !RenameNativeOver(temporary_, target)) return false;
    owned_ = false;
    return true;
}

bool FileReplacement::Keep() {
    owned_ = false;
    return Finish();
}

bool ReplaceFileWhole(const std::string& temporary, const std::string& target,
                      std::string_view bytes) {
    FileReplacement file(temporary);
    return file.Write(bytes) && file.Commit(target);
}
