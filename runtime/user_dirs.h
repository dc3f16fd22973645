// Where an installed copy of the program keeps the user's things, by the
// desktop's conventions: the XDG base and user directories on Linux, the
// shell's known folders on Windows. Every directory ends with PathSeparator.
#pragma once

#include <string>
#include <string_view>

// Whether the program may create files in directory: it exists and is
// writable to this process. On Linux it must also have a write bit set (a
// directory without one counts as read-only for root too); on Windows a file is
// really created there and removed again.
bool DirectoryWritable(std::string_view directory);

// The program's settings directory in the user's configuration directory:
// $XDG_CONFIG_HOME/tavimor/ when that variable holds an absolute path, else
// ~/.config/tavimor/, created when missing (mode 0700). On Windows the roaming
// application data folder's Tavimor\, created when missing. "" when there is
// no home or it cannot be created.
std::string UserSettingsDirectory();

// The user's download folder: the XDG user directory DOWNLOAD (from
// user-dirs.dirs in the configuration directory), else ~/Downloads/; on Windows
// the shell's Downloads folder. "" when there is no home.
std::string UserDownloadDirectory();
