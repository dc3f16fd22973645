// The platform's own file handles, beneath the FileTable: the portable table
// keeps its buffers and line rules, the platform only opens, reads and closes.
#pragma once

#include <cstddef>
#include <cstdint>
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

void CloseNative(NativeFile file);
