// The settings-file store: one INI document at a time, read whole into a list of
// lines, changed in memory and written back whole, through a temporary file that
// replaces the old one, when it is closed.
//
// Reading: a file that begins with the bytes EF BB BF is UTF-8 (the mark is not
// content). Any run of CR and LF bytes is one line break, so blank lines vanish.
// Leading spaces and tabs of a line are skipped; then ";" starts a comment (one
// blank after it is dropped), "[" a group header (name up to "]" or the line end,
// not trimmed), anything else a key line: the key up to the first "=" (or the
// line end) without trailing blanks, the value after it without leading blanks.
// No byte other than CR and LF is special: NUL bytes are kept. Nothing limits
// the length of a line or of the file beyond memory.
//
// Writing: for a UTF-8 document EF BB BF and CR LF, then every line followed by
// CR LF: "[name]", "; comment", "key = value". Any other document whose first
// line begins with the bytes EF BB BF starts with CR LF, so it is not read
// back as UTF-8.
//
// Group and key names match with "A" to "Z" equal to "a" to "z"; every other byte
// must be equal. Texts are byte strings. In a UTF-8 document every name, comment
// and value is converted on its way in as if each byte were the code point of
// that number (0x80 and above become two bytes), and back on its way out: a
// two-byte sequence gives its code point as one byte, or "?" above 0xFF and
// for CR and LF (a value read from one line never holds a line break); a
// two-byte lead before a byte that does not continue it gives "?" and the next
// byte is read on its own; a three- or four-byte sequence gives one "?" for the
// lead and as many of its continuation bytes as follow; a lead whose sequence
// would run past the end, a stray continuation byte and the bytes F8 to FF are
// dropped. Numbers are plain ASCII digits either way.
//
// The file on disk is only ever replaced whole: a new file is written beside it,
// flushed to disk and renamed over it, so a failure at any step leaves the old
// file exactly as it was and no temporary file behind. The new file keeps the
// old one's mode (and owner, where allowed); a symbolic link is followed and
// stays. A file is locked when it could not be opened for reading and writing
// or has no write bit at all; a directory likewise when it takes no new files
// or has no write bit. The write bits count for everyone, the superuser too.
//
// One thread only. Every operation has a defined result for every input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Closes the open document (see CloseSettingsFile), then reads the existing
// file at path. Nonzero when it was read. 0 when it is missing, unreadable or not
// a regular file: the document is then empty and remembers path, reads answer
// their defaults, writes are accepted, and CloseSettingsFile creates the file if
// anything was written. Opening never changes the file.
int OpenSettingsFile(std::string_view path);

// Closes the open document, then starts an empty document for path that is
// never UTF-8 and is written at close even when nothing was written into it.
// Nonzero on success. 0, with no document open, when path is empty, holds a NUL
// byte, names something other than a regular file or a locked file, or its
// directory is missing or locked. The file on disk is not touched until close.
int CreateSettingsFile(std::string_view path);

// Makes the first group header of that name current. 1 when it exists; 1 also
// for the empty name, which selects the lines before the first group header.
// 0 when no document is open, or when the group does not exist: it then becomes
// the pending group, reads answer their defaults, and the next write (key or
// comment) first adds its header at the end of the document.
int SelectGroup(std::string_view name);

// The value of the first line of key in the current group, without leading and
// trailing spaces and tabs. defaultText when no document is open, a group is
// pending or the group has no such key.
std::string ReadText(std::string_view key, std::string_view defaultText);

// The value of key read as a decimal number: leading white space, one optional
// "+" or "-", then digits up to the first other byte; a value without digits
// gives 0. Overflow wraps in 64-bit two's complement. defaultValue when ReadText
// would answer its default.
int64_t ReadInteger(std::string_view key, int64_t defaultValue);

// Inserts a comment line after the line most recently selected or written, or
// at the top of the document when there is none. 1 when written, 0 when no
// document is open.
int WriteComment(std::string_view text);

// Sets the value of the first line of key in the current group, giving the
// stored key the letter case of key; a missing key is added as the last line of
// the group. Nothing happens when no document is open. A line break inside key
// or text is stored as it is and splits the line when the file is read again.
void WriteText(std::string_view key, std::string_view text);

// WriteText with value in decimal: "-" for negative numbers, no "+", no leading
// zeros.
void WriteInteger(std::string_view key, int64_t value);

// Writes the document if anything was written into it (or it was created), then
// releases it. Nonzero when nothing needed writing (also when no document was
// open) or the file was replaced; 0 when it needed writing and the file is
// locked, its directory is missing or locked, or creating, writing, flushing or
// renaming the new file failed; the old file is then untouched.
int CloseSettingsFile();
