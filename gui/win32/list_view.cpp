// The report-style list and the drop-down list, with their rows and items.
//
// Both keep the program's bytes beside the text they show, so a cell or an
// item gives back exactly what was put in, however long, while the controls
// show it as UTF-16. The list's own notifications already come in the order
// the program expects: a press selects the row under it (or clears the
// selection on the empty area) before the click is told, and a double-click
// follows the click of its first press. Enter on the selected row is told as
// its double-click. A list's cell tips share one tooltip,
// whose only tool is moved onto the hovered cell when that cell has a tip.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/win32/dpi_scale.h"
#include "gui/win32/win32_backend.h"
#include "runtime/wide_text_win32.h"

namespace {

constexpr int OpenedListHeight = 350;

struct ListRows {
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows;
    std::vector<int> widths;  // of the columns, 96-dpi pixels
    // A drag began with the press that is down now: its release is no click,
    // though Wine's list tells one.
    bool dragging = false;
};

struct ComboItems {
    std::vector<std::string> items;
    int height;  // of the closed control, 96-dpi pixels
};

// A list's cell tips, and the one tooltip that stands on the hovered cell.
struct CellTips {
    std::vector<std::vector<std::string>> texts;  // beside the rows, cell for cell
    HWND window = nullptr;
    int row = -1, column = -1;  // the cell the tooltip stands on; -1 for none
    std::string shown;
};

std::map<int, ListRows> Lists;
std::map<int, ComboItems> Combos;
std::map<int, CellTips> Tips;
constexpr UINT_PTR TipSubclassId = 1;

void ShowCell(HWND list, int row, int column, std::string_view text) {
    std::wstring wide = WideFromUtf8(text);
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = wide.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

void ShowTitle(HWND list, int column, std::string_view title) {
    std::wstring wide = WideFromUtf8(title);
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = wide.data();
    SendMessageW(list, LVM_SETCOLUMNW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&header));
}

bool InsertColumn(HWND list, int at, std::string_view title, int width) {
    std::wstring wide = WideFromUtf8(title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = Scaled(std::max(width, 0));
    column.pszText = wide.data();
    column.iSubItem = at;
    return SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(at),
                        reinterpret_cast<LPARAM>(&column)) == at;
}

int Selected(HWND list) {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
}

void SetRowState(HWND list, int row, UINT state, UINT mask) {
    LVITEMW item{};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// Changes which row is selected only when it changes, so that selecting the
// selected row again raises nothing.
void Select(HWND list, int row, int rows) {
    bool valid = row >= 0 && row < rows;
    int selected = Selected(list);
    if (selected >= 0 && selected != row) SetRowState(list, selected, 0, LVIS_SELECTED);
    if (!valid) return;
    SetRowState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

const std::string* TipAt(const CellTips& tips, int row, int column) {
    if (row < 0 || row >= static_cast<int>(tips.texts.size())) return nullptr;
    const auto& cells = tips.texts[static_cast<size_t>(row)];
    if (column < 0 || column >= static_cast<int>(cells.size())) return nullptr;
    const std::string& text = cells[static_cast<size_t>(column)];
    return text.empty() ? nullptr : &text;
}

TOOLINFOW ToolOf(HWND list) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = list;
    tool.uId = 1;
    return tool;
}

// The tooltip covers the hovered cell when that cell has a tip, and nothing
// otherwise; Windows shows it after its usual pause. Asked again after every
// change that can put another tip under the mouse.
void PlaceTip(int control, HWND list) {
    CellTips& tips = Tips[control];
    if (!tips.window) return;
    LVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(list, &hit.pt);
    if (SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0) {
        hit.iItem = -1;
    }
    const std::string* text = TipAt(tips, hit.iItem, hit.iSubItem);
    int row = text ? hit.iItem : -1, column = text ? hit.iSubItem : -1;
    if (row == tips.row && column == tips.column && (!text || *text == tips.shown)) return;
    SendMessageW(tips.window, TTM_POP, 0, 0);
    tips.row = row;
    tips.column = column;
    tips.shown = text ? *text : "";
    std::wstring wide = WideFromUtf8(tips.shown);
    TOOLINFOW tool = ToolOf(list);
    tool.uFlags = TTF_SUBCLASS;
    tool.lpszText = wide.data();
    if (text) {
        // Column 0's bounds would be the whole row.
        tool.rect.top = column;
        tool.rect.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
        SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&tool.rect));
    }
    SendMessageW(tips.window, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK ListTipProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR control) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(list, ListTipProc, TipSubclassId);
    // Before the tooltip's own look at the move, so that it sees the new cell.
    if (message == WM_MOUSEMOVE) PlaceTip(static_cast<int>(control), list);
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN)
        Lists[static_cast<int>(control)].dragging = false;
    return DefSubclassProc(list, message, wParam, lParam);
}

// One tooltip per list, whose single tool is moved from cell to cell.
void AddTipWindow(int control, HWND list) {
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, list, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (!tip) return;
    wchar_t none[] = L"";
    TOOLINFOW tool = ToolOf(list);
    tool.uFlags = TTF_SUBCLASS;
    tool.lpszText = none;
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // A long reason wraps rather than running off the screen.
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, Scaled(480));
    Tips[control] = {{}, tip, -1, -1, ""};
    SetWindowSubclass(list, ListTipProc, TipSubclassId, static_cast<DWORD_PTR>(control));
}

int AddRow(int control, HWND list, int position, std::string_view text) {
    ListRows& model = Lists[control];
    int count = static_cast<int>(model.rows.size());
    int at = position == -1 || position > count ? count : position;
    std::vector<std::string_view> parts = SplitColumns(text);
    std::vector<std::string> cells(model.titles.size());
    for (size_t column = 0; column < cells.size() && column < parts.size(); ++column)
        cells[column] = parts[column];

    ProgramChange own;
    std::wstring first = WideFromUtf8(cells.empty() ? "" : cells[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = at;
    item.pszText = first.data();
    if (SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) != at) return -1;
    for (size_t column = 1; column < cells.size(); ++column) {
        if (!cells[column].empty()) ShowCell(list, at, static_cast<int>(column), cells[column]);
    }
    auto& tips = Tips[control].texts;
    tips.insert(tips.begin() + at, std::vector<std::string>(cells.size()));
    model.rows.insert(model.rows.begin() + at, std::move(cells));
    PlaceTip(control, list);
    return at;
}

void RemoveRow(int control, HWND list, int row) {
    ListRows& model = Lists[control];
    ProgramChange own;
    bool was_selected = Selected(list) == row;
    SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
    model.rows.erase(model.rows.begin() + row);
    auto& tips = Tips[control].texts;
    tips.erase(tips.begin() + row);
    PlaceTip(control, list);
    // Nothing is selected after the selected row goes, whatever Windows would pick.
    if (was_selected && Selected(list) >= 0) SetRowState(list, Selected(list), 0, LVIS_SELECTED);
}

int AddComboItem(int control, HWND combo, int position, std::string_view text) {
    ComboItems& model = Combos[control];
    int count = static_cast<int>(model.items.size());
    int at = position == -1 || position > count ? count : position;
    std::wstring wide = WideFromUtf8(text);
    ProgramChange own;
    LRESULT added = SendMessageW(combo, CB_INSERTSTRING, at == count ? static_cast<WPARAM>(-1) : at,
                                 reinterpret_cast<LPARAM>(wide.c_str()));
    if (added != at) return -1;
    model.items.insert(model.items.begin() + at, std::string(text));
    return at;
}

// The closed control is exactly as tall as asked: its selection field is
// made that height less the frame Windows draws around it. A new font makes
// Windows measure the field anew, so this follows every font change.
void FitComboHeight(int control, HWND combo) {
    RECT closed;
    if (!GetWindowRect(combo, &closed)) return;
    auto field =
        static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    if (field <= 0) return;
    int frame = (closed.bottom - closed.top) - field;
    int wanted = Scaled(Combos[control].height) - frame;
    if (wanted > 0 && wanted != field) {
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), wanted);
    }
}

// A column the user has not dragged comes back to its logical width; a dragged
// one keeps its width in the layout.
void RescaleColumns(HWND list, ListRows& model, int dpiBefore) {
    for (size_t column = 0; column < model.widths.size(); ++column) {
        int& logical = model.widths[column];
        auto shown = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        if (shown != Rescale(logical, dpiBefore, 96)) logical = Rescale(shown, 96, dpiBefore);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(Scaled(logical), 0));
    }
}

}  // namespace

void OnListsDpiChanged(int dpiBefore) {
    for (auto& [control, model] : Lists) {
        if (HWND list = ControlOfKind(control, ControlKind::List)) {
            RescaleColumns(list, model, dpiBefore);
        }
    }
}

void OnListNotify(const NMHDR& header) {
    int control = ControlNumberOf(header.hwndFrom);
    if (!ControlOfKind(control, ControlKind::List)) return;
    switch (header.code) {
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            bool selection = (change.uChanged & LVIF_STATE) &&
                             ((change.uOldState ^ change.uNewState) & LVIS_SELECTED);
            if (selection && !ProgramChange::Active())
                QueueControlEvent(control, SelectionChange, true);
            break;
        }
        case NM_CLICK:
            if (!std::exchange(Lists[control].dragging, false))
                QueueControlEvent(control, LeftClick, true);
            break;
        case NM_RCLICK:
            QueueControlEvent(control, RightClick, true);
            break;
        case NM_DBLCLK:
            QueueControlEvent(control, LeftDoubleClick, true);
            break;
        case NM_RDBLCLK:
            QueueControlEvent(control, RightDoubleClick, true);
            break;
        case NM_RETURN:
            if (Selected(header.hwndFrom) >= 0) QueueControlEvent(control, LeftDoubleClick, true);
            break;
        case LVN_BEGINDRAG:
            Lists[control].dragging = true;
            QueueControlEvent(control, DragStart, true);
            break;
    }
}

void OnComboCommand(int control, int code) {
    HWND combo = ControlOfKind(control, ControlKind::Combo);
    if (!combo || ProgramChange::Active()) return;
    // Moving through the opened list only points at items; the choice is made
    // when it closes on one. In the closed control every arrow key chooses.
    bool dropped = SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0;
    if (code == CBN_SELENDOK || (code == CBN_SELCHANGE && !dropped)) {
        QueueControlEvent(control, SelectionChange, true);
    }
}

void OnFontChanged(int control) {
    if (HWND combo = ControlOfKind(control, ControlKind::Combo)) FitComboHeight(control, combo);
}

void ReleaseLists() {
    Lists.clear();
    Combos.clear();
    Tips.clear();
}

int CreateListView(int control, int x, int y, int width, int height, std::string_view firstTitle,
                   int firstWidth) {
    HWND list = AddControl(control, ControlKind::List, WC_LISTVIEWW,
                           LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                           WS_EX_CLIENTEDGE, x, y, width, height, "");
    if (!list) return 0;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    Lists[control] = {{std::string(firstTitle)}, {}, {std::max(firstWidth, 0)}};
    InsertColumn(list, 0, firstTitle, firstWidth);
    AddTipWindow(control, list);
    return 1;
}

int AddListColumn(int control, int position, std::string_view title, int width) {
    HWND list = ControlOfKind(control, ControlKind::List);
    if (!list || position < 0) return 0;
    ListRows& model = Lists[control];
    int at = std::min(position, static_cast<int>(model.titles.size()));
    ProgramChange own;
    if (!InsertColumn(list, at, title, width)) return 0;
    model.titles.insert(model.titles.begin() + at, std::string(title));
    model.widths.insert(model.widths.begin() + at, std::max(width, 0));
    // Windows would leave column 0's texts in place; every cell is shown anew.
    for (auto& cells : Tips[control].texts)
        cells.insert(cells.begin() + at, std::string());
    for (size_t row = 0; row < model.rows.size(); ++row) {
        model.rows[row].insert(model.rows[row].begin() + at, std::string());
        for (size_t column = 0; column < model.titles.size(); ++column) {
            ShowCell(list, static_cast<int>(row), static_cast<int>(column),
                     model.rows[row][column]);
        }
    }
    return 1;
}

int CreateDropDownList(int control, int x, int y, int width, int height) {
    // Windows takes the height of a drop-down list as its closed part and its
    // opened list together; the closed part is fitted afterwards.
    HWND combo = AddControl(control, ControlKind::Combo, WC_COMBOBOXW,
                            CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT | WS_VSCROLL, 0, x, y, width,
                            std::max(height, 0) + OpenedListHeight, "");
    if (!combo) return 0;
    Combos[control] = {{}, std::max(height, 0)};
    FitComboHeight(control, combo);
    return 1;
}

int AddItem(int control, int position, std::string_view text) {
    if (position < -1) return -1;
    if (HWND list = ControlOfKind(control, ControlKind::List)) {
        return AddRow(control, list, position, text);
    }
    if (HWND combo = ControlOfKind(control, ControlKind::Combo)) {
        return AddComboItem(control, combo, position, text);
    }
    return -1;
}

void RemoveItem(int control, int index) {
    if (HWND list = ControlOfKind(control, ControlKind::List)) {
        if (index >= 0 && index < CountItems(control)) RemoveRow(control, list, index);
    } else if (HWND combo = ControlOfKind(control, ControlKind::Combo)) {
        if (index < 0 || index >= CountItems(control)) return;
        ProgramChange own;
        bool was_selected = SelectedIndex(control) == index;
        SendMessageW(combo, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
        auto& items = Combos[control].items;
        items.erase(items.begin() + index);
        if (was_selected) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
}

void ClearItems(int control) {
    ProgramChange own;
    if (HWND list = ControlOfKind(control, ControlKind::List)) {
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        Lists[control].rows.clear();
        Tips[control].texts.clear();
        PlaceTip(control, list);
    } else if (HWND combo = ControlOfKind(control, ControlKind::Combo)) {
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        Combos[control].items.clear();
    }
}

int CountItems(int control) {
    if (ControlOfKind(control, ControlKind::List)) {
        return static_cast<int>(Lists[control].rows.size());
    }
    if (ControlOfKind(control, ControlKind::Combo)) {
        return static_cast<int>(Combos[control].items.size());
    }
    return 0;
}

int SelectedIndex(int control) {
    if (HWND list = ControlOfKind(control, ControlKind::List)) return Selected(list);
    if (HWND combo = ControlOfKind(control, ControlKind::Combo)) {
        auto chosen = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
        return chosen == CB_ERR ? -1 : chosen;
    }
    return -1;
}

void SelectIndex(int control, int index) {
    if (HWND list = ControlOfKind(control, ControlKind::List)) {
        Select(list, index, CountItems(control));
    } else if (HWND combo = ControlOfKind(control, ControlKind::Combo)) {
        ProgramChange own;
        bool valid = index >= 0 && index < CountItems(control);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(valid ? index : -1), 0);
    }
}

std::string ItemText(int control, int index, int column) {
    if (ControlOfKind(control, ControlKind::List)) {
        const ListRows& model = Lists[control];
        if (column < 0 || column >= static_cast<int>(model.titles.size())) return "";
        if (index == -1) return model.titles[static_cast<size_t>(column)];
        if (index < 0 || index >= static_cast<int>(model.rows.size())) return "";
        return model.rows[static_cast<size_t>(index)][static_cast<size_t>(column)];
    }
    if (!ControlOfKind(control, ControlKind::Combo) || column != 0) return "";
    const auto& items = Combos[control].items;
    if (index < 0 || index >= static_cast<int>(items.size())) return "";
    return items[static_cast<size_t>(index)];
}

void SetItemText(int control, int index, std::string_view text, int column) {
    HWND list = ControlOfKind(control, ControlKind::List);
    if (!list) return;
    ListRows& model = Lists[control];
    if (column < 0 || column >= static_cast<int>(model.titles.size())) return;
    if (index == -1) {
        model.titles[static_cast<size_t>(column)] = text;
        ShowTitle(list, column, text);
    } else if (index >= 0 && index < static_cast<int>(model.rows.size())) {
        // Changed in place, the row keeps its selection.
        model.rows[static_cast<size_t>(index)][static_cast<size_t>(column)] = text;
        ShowCell(list, index, column, text);
    }
}

void SetItemTip(int control, int index, std::string_view text, int column) {
    HWND list = ControlOfKind(control, ControlKind::List);
    if (!list || index < 0 || index >= CountItems(control)) return;
    auto& cells = Tips[control].texts[static_cast<size_t>(index)];
    if (column < 0 || column >= static_cast<int>(cells.size())) return;
    cells[static_cast<size_t>(column)] = text;
    PlaceTip(control, list);
}
