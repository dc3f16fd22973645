// Replacing a file whole: the new bytes go to a temporary file beside the
// target, are put on the disk, and the temporary is renamed over the target in
// one step. The target is then always the old file or the whole new one, even
// after a crash or a power cut, and a replacement that fails leaves it as it was.
// The settings file, a download and the record of a kept part all go this way.
#pragma once

#include <string>
#include <string_view>

#include "runtime/native_file.h"

class FileReplacement {
  public:
    // Creates temporary, a path beside the target, as a new file.
    explicit FileReplacement(std::string temporary);
    // Writes on after the end of temporary, which an earlier replacement kept;
    // it is never removed here.
    struct Continue {};
    FileReplacement(Continue, std::string temporary);
    // Closes the file, and removes a temporary it created unless that was
    // committed or kept.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool IsOpen() const { return file_ != NoNativeFile; }
    // Whether the creation failed because the temporary's name was taken.
    bool Taken() const { return taken_; }
    // For what only the platform can do to the new file, such as its owner.
    NativeFile Handle() const { return file_; }
    const std::string& Path() const { return temporary_; }

    // Writes all of bytes; false on any error.
    bool Write(std::string_view bytes);
    // Puts the bytes on the disk, closes the file and renames it over target.
    // False when any step fails; target is then as it was.
    bool Commit(const std::string& target);
    // Puts the bytes on the disk and closes the file, which stays where it is.
    bool Keep();

  private:
    bool Finish();

    std::string temporary_;
    NativeFile file_ = NoNativeFile;
    bool owned_ = false;  // created here: removed unless committed or kept
    bool taken_ = false;
};

// Replaces target whole with bytes, through the new file temporary beside it.
bool ReplaceFileWhole(const std::string& temporary, const std::string& target,
                      std::string_view bytes);
