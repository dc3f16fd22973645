#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "runtime/user_dirs.h"

namespace {

std::string WithSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// An environment variable that holds an absolute path; "" otherwise, since the
// base-directory rules ignore relative ones.
std::string AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? WithSlash(value) : std::string();
}

std::string Home() {
    return AbsoluteFromEnvironment("HOME");
}

std::string ConfigHome() {
    std::string config = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (!config.empty()) return config;
    std::string home = Home();
    return home.empty() ? std::string() : home + ".config/";
}

bool MakeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The value of XDG_DOWNLOAD_DIR in user-dirs.dirs: "$HOME/x" or "/abs/x" in
// double quotes. A value that is the home itself means the folder is unset.
std::string DownloadFromUserDirs(const std::string& home) {
    std::ifstream file(ConfigHome() + "user-dirs.dirs");
    const std::string key = "XDG_DOWNLOAD_DIR=\"";
    for (std::string line; std::getline(file, line);) {
        if (!line.starts_with(key) || line.size() < key.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value == "$HOME") value = home;
        if (value.starts_with("$HOME/")) value = home + value.substr(6);
        if (!value.starts_with('/') || WithSlash(value) == home) return "";
        return WithSlash(value);
    }
    return "";
}

}  // namespace

bool DirectoryWritable(std::string_view directory) {
    std::string path(directory);
    struct stat info {};
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && access(path.c_str(), W_OK) == 0;
}

std::string UserSettingsDirectory() {
    std::string config = ConfigHome();
    if (config.empty()) return "";
    std::string directory = config + "tavimor/";
    // The configuration directory itself may not exist yet on a fresh account.
    if (!MakeDirectory(config) || !MakeDirectory(directory)) return "";
    return directory;
}

std::string UserDownloadDirectory() {
    std::string home = Home();
    if (home.empty()) return "";
    std::string configured = DownloadFromUserDirs(home);
    return configured.empty() ? home + "Downloads/" : configured;
}
