#include "gui/win32/open_guard.h"

#include <array>

namespace {

// Types whose "open" runs code even where PATHEXT does not list them:
// installers, shortcuts, scripts, control-panel items, help with script.
constexpr std::array<std::string_view, 34> CodeCarrying = {"exe",       "com",
                                                           "scr",       "pif",
                                                           "bat",       "cmd",
                                                           "cpl",       "msi",
                                                           "msp",       "msu",
                                                           "lnk",       "url",
                                                           "scf",       "hta",
                                                           "jar",       "js",
                                                           "jse",       "vbs",
                                                           "vbe",       "wsf",
                                                           "wsh",       "ws",
                                                           "wsc",       "ps1",
                                                           "psm1",      "reg",
                                                           "inf",       "chm",
                                                           "msc",       "py",
                                                           "pyw",       "application",
                                                           "appref-ms", "settingcontent-ms"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool ListedIn(std::string_view extension, std::string_view pathExt) {
    while (!pathExt.empty()) {
        size_t end = pathExt.find(';');
        std::string_view entry = pathExt.substr(0, end);
        if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
        if (!entry.empty() && SameLetters(entry, extension)) return true;
        if (end == std::string_view::npos) break;
        pathExt.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace

bool RunsAsProgram(std::string_view path, std::string_view pathExt) {
    std::string_view name = path.substr(path.find_last_of("\\/") + 1);
    if (name.find(':') != std::string_view::npos) return true;
    // Windows opens "setup.exe. " as "setup.exe".
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view extension = name.substr(dot + 1);
    if (ListedIn(extension, pathExt)) return true;
    for (std::string_view known : CodeCarrying) {
        if (SameLetters(known, extension)) return true;
    }
    return false;
}
