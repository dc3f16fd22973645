// The platform's own file handles, beneath the FileTable and FileReplacement:
// the portable halves keep their buffers and rules, the platform (files_posix.cpp,
// files_win32.cpp) only opens, reads, writes, flushes, renames and closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A file descriptor or a Win32 handle, whichever the platform has.
using NativeFile = intptr_t;
inline constexpr NativeFile NoNativeFile = -1;

// Opens the existing regular file at path for reading, letting others read it
// and delete it meanwhile. NoNativeFile for an empty path, one holding a NUL,
// a missing or unreadable file, a directory or anything else not a plain file;
// never waits for a writer.
NativeFile OpenNativeForReading(std::string_view path);

// Reads up to size bytes into buffer: the count read, 0 at the end of the file
// and on an error (a reading loop must be able to stop).
size_t ReadNative(NativeFile file, char* buffer, size_t size);

// Closes the file; false when the close reported an error (a write may have
// been lost). Harmless for NoNativeFile.
bool CloseNative(NativeFile file);

// Creates path as a new file open for writing, others allowed only to read it.
// NoNativeFile when that fails; taken then tells whether something of that
// name exists already.
NativeFile CreateNativeFile(std::string_view path, bool& taken);

// Opens the existing regular file at path for writing after its last byte,
// others allowed only to read it. NoNativeFile when that fails.
NativeFile OpenNativeForAppend(std::string_view path);

// Writes all of bytes; false on any error.
bool WriteNative(NativeFile file, std::string_view bytes);

// Puts what was written on the disk; false when the system cannot.
bool FlushNative(NativeFile file);

// Renames from over to in one step, replacing a file there, and makes the
// rename itself durable as far as the system allows.
bool RenameNativeOver(std::string_view from, std::string_view to);

// The system's final path of the existing file or directory at path (links
// and other spellings resolved), without a separator at its end unless it is a
// root; nothing when there is none.
std::optional<std::string> ResolvedPath(std::string_view path);
