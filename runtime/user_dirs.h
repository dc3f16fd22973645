// Where an installed copy of the program keeps the user's things, by the
// desktop's conventions (XDG base and user directories).
#pragma once

#include <string>
#include <string_view>

// Whether the program may create files in directory: it exists, is writable to
// this process and has a write bit set (a directory without one counts as
// read-only for root too).
bool DirectoryWritable(std::string_view directory);

// The program's settings directory in the user's configuration directory,
// ending with "/": $XDG_CONFIG_HOME/tavimor/ when that variable holds an
// absolute path, else ~/.config/tavimor/. Created when missing (mode 0700).
// "" when there is no home or it cannot be created.
std::string UserSettingsDirectory();

// The user's download folder, ending with "/": the XDG user directory DOWNLOAD
// (from user-dirs.dirs in the configuration directory), else ~/Downloads/.
// "" when there is no home.
std::string UserDownloadDirectory();
