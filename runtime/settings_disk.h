// The settings store's disk side, one file per platform: reading a file whole
// and replacing one whole through a temporary file beside it, never in place.
// On Windows, a lock that another program holds for a moment (a sharing or
// lock violation, or access denied) is waited out: both operations below try
// again up to 5 times, 100 ms apart, before they answer false.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The whole content of the regular file at path, opened for reading only (so
// nothing that watches the file sees it change). None when path is empty,
// holds a NUL, or names no readable regular file.
std::optional<std::string> ReadSettingsBytes(std::string_view path);

// Whether path may be replaced now: an existing file must be a regular file
// that this process could open for reading and writing (so not locked by
// another program, not read-only), and its directory must exist and take new
// files.
bool SettingsTargetWritable(std::string_view path);

// Writes bytes to a new file beside path, flushes it to disk and renames it
// over path. False when path is not writable as above or any step fails; the
// old file is then untouched and the new one is gone.
bool ReplaceSettingsFile(std::string_view path, std::string_view bytes);
