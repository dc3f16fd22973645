// Files and paths: the program's own location, path splitting, size queries,
// deletion, and the FileTable of numbered files read line by line.
//
// A path that holds a NUL byte names no file: the queries treat it as missing.
// Nothing here ever shows a message; failures are results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ---- Paths ----

// The byte that joins the parts of a path the program builds: "/" on Linux,
// "\" on Windows. DirectoryOf and FileNameOf accept either.
extern const char PathSeparator;

// The system's number of this process, as the names of temporary files carry it.
uint64_t ThisProcessNumber();
// Whether the process of that number has ended; one we may not look at
// (another user's) is taken as alive.
bool ProcessGone(uint64_t number);

// Keeps libraries the program loads from now on to the system's own: on
// Windows, a DLL named like a system one beside the program (a download, say)
// would otherwise be loaded in its place. Linux never looks in the program's
// directory; nothing to do there. Called first thing in main.
void LoadLibrariesFromTheSystemOnly();

// The whole path of the running executable, however long; "" when the system
// does not tell. Paths are UTF-8 on Windows.
std::string ExecutablePath();

// The whole path of the current directory, ending in PathSeparator ("/" and
// "C:\" stay as they are); "" when the system does not tell.
std::string CurrentDirectory();

// The part of path up to and including its last "/" or "\", looking only at the
// bytes before the first "|"; a leading double quote is left out. "" without a
// separator. "/opt/x/run" gives "/opt/x/", "a/b|c/d" gives "a/".
std::string DirectoryOf(std::string_view path);

// The part of path after its last "/" or "\", up to the first double quote after
// it; a leading double quote is left out. "dir/file.zip" gives "file.zip",
// "dir/" gives "".
std::string FileNameOf(std::string_view path);

// The one spelling of path that every other spelling of the same file leads
// to: symbolic links, "." and "..", and on Windows 8.3 names, letter case and
// mapped drives resolved. A path whose file does not exist yet is resolved as
// far as its directory; one that cannot be resolved at all comes back as it is.
std::string CanonicalPath(std::string_view path);

// ---- Queries ----

// Size in bytes of what path names (trailing separators removed first, "/"
// itself kept): -1 when path is empty or nothing exists there, -2 for a
// directory. On Windows "C:" and "C:\" name the drive: -2 when such a drive
// exists, else -1.
int64_t QueryFileSize(std::string_view path);

// Deletes the file at path: nonzero on success, 0 when path is empty, missing, a
// directory or cannot be deleted. A file open under a file number may be
// deleted; it stays readable through that number until closed.
int RemoveFile(std::string_view path);

// ---- FileTable ----
//
// File numbers from 0 to MaxFileNumber name the slots. The table starts with 16
// slots and grows when a file is opened under a number beyond it. Every
// operation on a number outside that range, or on a slot that holds no file,
// does nothing and returns 0, "" or true (FileAtEnd).

constexpr int MaxFileNumber = 65535;

// Opens the regular file at path for reading under number, first closing what
// number held. Nonzero on success; 0 when path is missing, a directory or other
// non-regular file, or unreadable, and the slot is then empty.
int FileOpenRead(int number, std::string_view path);

// The next line without its line end. LF, CR, CR LF and NUL each end a line; the
// end of the file ends the last one, and a file ending in a line end has no
// empty line after it. Of a line longer than limit bytes only the first limit
// come back; the rest is read past, never held.
std::string FileReadLine(int number, std::size_t limit = std::string::npos);

// True when no byte remains to be read (or number holds no file). Consumes
// nothing.
bool FileAtEnd(int number);

void FileClose(int number);

// Closes every open file; for the end of the program.
void FileCloseAll();
