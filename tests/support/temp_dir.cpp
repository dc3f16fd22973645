#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include <gtest/gtest.h>

#include "runtime/files.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8Path(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

TempDir::TempDir() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate = base / ("tavimor-test-" + std::to_string(random() % 1000000000));
        if (fs::create_directory(candidate, error)) path_ = Utf8Path(candidate) + PathSeparator;
    }
    if (path_.empty()) ADD_FAILURE() << "cannot make a temporary directory";
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    // A test may have taken write permission away; give it back so removal works.
    fs::permissions(NativePath(path_), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(NativePath(path_), ignored);
}

fs::path NativePath(std::string_view utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string TempDir::File(std::string_view name) const {
    return path_ + std::string(name);
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
    std::string path = File(name);
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
