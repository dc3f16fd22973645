// The start and end of the Win32 backend, the modal dialogs, the random numbers
// and the hand-over of a file to its application. Both dialogs keep slot ticks
// running while they are open: their own loops dispatch the frame's alarm.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "gui/gui.h"
#include "gui/open_guard.h"
#include "gui/random.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

bool ComStarted = false;

// Releases a COM interface at the end of its scope.
template <typename Interface>
struct ComRef {
    Interface* pointer = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (pointer) pointer->Release();
    }
    Interface* operator->() const { return pointer; }
    void** Out() { return reinterpret_cast<void**>(&pointer); }
};

// The folder the chooser starts from, its separators made backslashes; a
// drive's root keeps its own.
std::wstring StartFolder(std::string_view initialFolder) {
    std::wstring folder = WideFromUtf8(initialFolder);
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

// The folder itself is preselected, not its contents: the chooser opens in
// its parent with its name filled in, so that confirming at once gives it back.
void Preselect(IFileOpenDialog* dialog, std::string_view initialFolder) {
    std::wstring folder = StartFolder(initialFolder);
    ComRef<IShellItem> item;
    if (folder.empty() ||
        FAILED(SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem, item.Out()))) {
        return;
    }
    size_t cut = folder.find_last_of(L'\\');
    ComRef<IShellItem> parent;
    if (cut != std::wstring::npos && cut + 1 < folder.size()) {
        std::wstring above = folder.substr(0, cut == 2 ? 3 : cut);  // a root keeps its backslash
        if (SUCCEEDED(SHCreateItemFromParsingName(above.c_str(), nullptr, IID_IShellItem,
                                                  parent.Out()))) {
            dialog->SetFolder(parent.pointer);
            dialog->SetFileName(folder.substr(cut + 1).c_str());
            return;
        }
    }
    dialog->SetFolder(item.pointer);
}

std::string ChosenPath(IFileOpenDialog* dialog) {
    ComRef<IShellItem> chosen;
    if (FAILED(dialog->GetResult(&chosen.pointer))) return "";
    PWSTR path = nullptr;
    if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return "";
    std::string folder = Utf8FromWide(path);
    CoTaskMemFree(path);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

// Explorer's window on the file's folder with the file selected; where the
// shell cannot name the file (a stream of one, say), the folder alone.
void ShowInFolder(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    PIDLIST_ABSOLUTE item = ILCreateFromPathW(path.c_str());
    bool shown = item && SUCCEEDED(SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
    if (item) ILFree(item);
    if (shown) return;
    std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return;
    ShellExecuteW(FrameHandle(), L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

int StartGui(int, char**) {
    if (GuiStarted()) return 1;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    if (!InitCommonControlsEx(&controls)) return 0;
    // The folder chooser and the shell's file hand-over want a single-threaded apartment.
    ComStarted =
        SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    return StartWindows() ? 1 : 0;
}

void ReleaseGui() {
    ReleaseNotify();
    ReleaseInstance();
    ReleaseWindow();
    ReleaseLists();
    ReleaseEvents();  // after the controls, which may raise events as they go
    if (ComStarted) CoUninitialize();
    ComStarted = false;
}

void ReportStartFailure(std::string_view text) {
    // No owner: there may be no frame, nor even a started backend.
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), L"Tavimor cannot start",
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TASKMODAL);
}

// Windows tells the frame itself when the session ends (window.cpp).
void WatchSessionEnd(bool) {}

int ShowMessageBox(std::string_view title, std::string_view text, int buttons) {
    if (!GuiStarted()) return AnswerNo;
    HWND owner = DialogOwner();
    UINT type = (buttons == ButtonsYesNo ? MB_YESNO : MB_OK) | MB_SETFOREGROUND |
                (owner ? MB_APPLMODAL : MB_TASKMODAL);
    ProgramChange own;
    TicksRunFreely ticks;
    int answer = MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(), type);
    if (answer == IDYES) return AnswerYes;
    if (answer == IDOK) return AnswerOk;
    return AnswerNo;
}

std::string ChooseFolder(std::string_view title, std::string_view initialFolder) {
    if (!GuiStarted()) return "";
    ComRef<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.Out()))) {
        return "";
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(WideFromUtf8(title).c_str());
    Preselect(dialog.pointer, initialFolder);
    ProgramChange own;
    TicksRunFreely ticks;
    if (FAILED(dialog->Show(DialogOwner()))) return "";  // cancelled too
    return ChosenPath(dialog.pointer);
}

int RandomInt(int max) {
    return UniformUpTo(max, NextRandom32);
}

void OpenWithDefaultApplication(std::string_view path) {
    if (!GuiStarted() || path.empty()) return;
    std::wstring wide = WideFromUtf8(path);
    // "open" runs far more types than PATHEXT names: only a document, a
    // picture, a recording or an archive goes to its application.
    if (!MayOpenByName(path)) return ShowInFolder(wide);
    ShellExecuteW(FrameHandle(), L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
