// Texts stay UTF-8 inside the program; Win32's W functions take UTF-16. These two
// conversions are the only place where the two meet.
#pragma once

#include <string>
#include <string_view>

// Bytes that are not valid UTF-8 become U+FFFD; "" gives L"".
std::wstring WideFromUtf8(std::string_view text);

// Unpaired surrogates become U+FFFD; L"" gives "".
std::string Utf8FromWide(std::wstring_view text);
