// The fonts of the Win32 backend: the desktop's message font, which every
// control starts with, and the fonts of MakeFont. Each is kept by what it was
// asked for, so that it can be made again at another DPI behind the same handle.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/win32/dpi_scale.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

// The program's handle of a made font is its place in Fonts plus one.
struct MadeFont {
    HFONT handle;
    std::wstring face;
    int points;
};

bool Started = false;
// The DPI the desktop's metrics are given at, whatever monitor the frame is on.
int SystemDpi = 96;
// The DPI the fonts are made at now.
int FontDpi = 96;
std::vector<MadeFont> Fonts;
LOGFONTW GuiFontShape{};
HFONT GuiFont = nullptr;

bool FaceInstalled(const std::wstring& face) {
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    face.copy(wanted.lfFaceName, face.size());
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The desktop's own font for dialogs and messages.
LOGFONTW MessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(LOGFONTW), &metrics.lfMessageFont);
    }
    return metrics.lfMessageFont;
}

// The message font comes at the system's DPI and is scaled from there.
HFONT CreateGuiFont(int dpi) {
    LOGFONTW shape = GuiFontShape;
    shape.lfHeight = Rescale(shape.lfHeight, dpi, SystemDpi);
    return CreateFontIndirectW(&shape);
}

HFONT CreateMadeFont(const MadeFont& font, int dpi) {
    return CreateFontW(-Rescale(font.points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, font.face.c_str());
}

// A font Windows refuses to make keeps its old size rather than vanish.
void Swap(HFONT& font, HFONT made, std::vector<HFONT>& old) {
    if (!made) return;
    old.push_back(std::exchange(font, made));
}

}  // namespace

int StartFonts() {
    HDC screen = GetDC(nullptr);
    SystemDpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    if (SystemDpi <= 0) SystemDpi = 96;
    FontDpi = SystemDpi;
    GuiFontShape = MessageFont();
    GuiFont = CreateGuiFont(FontDpi);
    Started = true;
    return SystemDpi;
}

bool IsFont(FontHandle font) {
    return font >= 0 && font <= static_cast<FontHandle>(Fonts.size());
}

HFONT FontOf(FontHandle font) {
    if (!IsFont(font)) return nullptr;
    return font == 0 ? GuiFont : Fonts[static_cast<size_t>(font - 1)].handle;
}

std::vector<HFONT> RemakeFonts(int dpi) {
    FontDpi = dpi;
    std::vector<HFONT> old;
    Swap(GuiFont, CreateGuiFont(dpi), old);
    for (MadeFont& font : Fonts)
        Swap(font.handle, CreateMadeFont(font, dpi), old);
    return old;
}

void ReleaseFonts() {
    for (const MadeFont& font : Fonts)
        DeleteObject(font.handle);
    Fonts.clear();
    if (GuiFont) DeleteObject(GuiFont);
    GuiFont = nullptr;
    Started = false;
}

FontHandle MakeFont(std::string_view face, int points) {
    if (!Started || points < 1 || points > 1000) return 0;
    std::wstring name = WideFromUtf8(face);
    if (!FaceInstalled(name)) name = MessageFont().lfFaceName;
    MadeFont font{nullptr, name, points};
    font.handle = CreateMadeFont(font, FontDpi);
    if (!font.handle) return 0;
    Fonts.push_back(std::move(font));
    return static_cast<FontHandle>(Fonts.size());
}
