// Text helpers. A text is a std::string of bytes; no byte is special to these
// operations (not the record bytes 0xA4 and 0xFF, not "|"). Positions are 1-based
// and 0 means not found. No operation fails: every input, empty texts and
// out-of-range positions and indexes included, has the result stated here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A copy of text with "A" to "Z" made "a" to "z". Every other byte, including
// each byte of a UTF-8 character, stays as it is; the length never changes.
std::string LowerText(std::string_view text);

// The position of the first occurrence of word, case-sensitive and wholly inside
// text, that begins at or after start. A start below 1 counts as 1. 0 when text
// or word is empty, when start is beyond the end of text, or when nothing matches.
int64_t FindText(std::string_view text, std::string_view word, int64_t start);

// The number of non-overlapping occurrences of word, scanned from the left
// ("aaaa" holds "aa" twice, "aaa" once). 0 when text or word is empty.
int64_t CountText(std::string_view text, std::string_view word);

// Field number index (1-based) of text, the fields being the runs between bytes
// equal to the first byte of separator: k separators make k + 1 fields, and the
// empty text has one field, "". Adjacent, leading and trailing separators give
// empty fields. An empty separator leaves the whole text as field 1. "" when
// index is below 1 or beyond the last field.
std::string FieldAt(std::string_view text, int64_t index, std::string_view separator);

// A copy of text without the spaces (0x20) at its start and end; tabs, line
// breaks and all other bytes stay.
std::string TrimSpaces(std::string_view text);

// The integer at the start of text: leading spaces and tabs are skipped, then one
// optional "-" or "+", then "$" for hexadecimal digits (either case) or "%" for
// binary digits, else decimal digits. Reading stops at the first byte that is not
// a digit of the base. Overflow wraps in 64-bit two's complement; the sign is
// applied last. No digit at all gives 0.
int64_t ParseInteger(std::string_view text);

// The decimal digits of value, "-" before a negative value; no "+", no leading
// zeros, no grouping.
std::string IntegerText(int64_t value);

// A size for the user: "1 byte" and "812 bytes" below 1000, else tenths of
// KB, MB, GB or TB (steps of 1000), rounded down so that the text never claims
// more than there is: "12.4 KB", "2.1 MB". A negative size counts as 0.
std::string SizeText(int64_t bytes);

// True when both texts hold the same bytes in the same order (case matters,
// "01" differs from "1").
bool SameText(std::string_view a, std::string_view b);
