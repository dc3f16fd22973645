#include <filesystem>
#include <system_error>

#include "tests/support/path_spelling.h"

std::string AnotherSpellingOf(const std::string& directory) {
    std::filesystem::path target = std::filesystem::path(directory).parent_path();
    std::filesystem::path link = target.parent_path() / "link to a directory";
    std::error_code error;
    std::filesystem::create_directory_symlink(target, link, error);
    return error ? "" : link.string() + "/";
}
