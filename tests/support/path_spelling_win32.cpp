#include <windows.h>

#include "runtime/wide_text_win32.h"
#include "tests/support/path_spelling.h"

std::string AnotherSpellingOf(const std::string& directory) {
    std::wstring wide = WideFromUtf8(directory);
    std::wstring brief(MAX_PATH, L'\0');
    DWORD length = GetShortPathNameW(wide.c_str(), brief.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    brief.resize(length);
    return brief == wide ? "" : Utf8FromWide(brief);
}
