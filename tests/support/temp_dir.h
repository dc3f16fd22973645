// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope. Paths are UTF-8 and end
// with the platform's separator.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, ending with PathSeparator.
    const std::string& Path() const { return path_; }
    // Path() followed by name.
    std::string File(std::string_view name) const;
    // Writes bytes to Path() + name, replacing the file; returns its path.
    std::string Write(std::string_view name, std::string_view bytes) const;

  private:
    std::string path_;
};

// A UTF-8 path for std::filesystem and the streams, which on Windows would
// otherwise read a narrow path in the ANSI code page.
std::filesystem::path NativePath(std::string_view utf8);

// The whole content of a file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
