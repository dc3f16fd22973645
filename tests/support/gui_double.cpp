#include "tests/support/gui_double.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <thread>
#include <tuple>
#include <utility>

#include "gui/backend.h"
#include "gui/placement.h"
#include "gui/random.h"
#include "runtime/files.h"

namespace {

enum class Kind { List, Button, Field, Combo };

struct Control {
    Kind kind;
    Placement place;
    std::string text;  // caption or field content
    std::vector<std::string> titles;
    std::vector<int> widths;
    std::vector<std::vector<std::string>> rows;  // list rows, or combo items in column 0
    std::vector<std::vector<std::string>> tips;  // beside rows, cell for cell
    int selected = -1;
    bool enabled = true;
    Colour back = 255 + 255 * 256 + 255 * 65536;
    FontHandle font = 0;
    std::string name;  // for screen readers
};

struct Font {
    std::string face;
    int points;
};

struct State {
    WindowInfo window;
    std::map<int, Control> controls;
    int focused = -1;
    std::vector<Font> fonts;
    int64_t clock_ms = 0;
    std::vector<int> box_ticks;
    std::deque<int> answers;
    std::deque<std::string> folders;
    std::deque<int> randoms;
    std::vector<ShownBox> boxes;
    std::vector<ShownChooser> choosers;
    std::vector<std::string> opened;
    std::vector<Arrival> arrivals;
    std::map<std::tuple<int, int, int>, std::vector<std::string>> cell_writes;
    std::vector<std::string> instance_keys;
    std::vector<ScreenRect> screens{{0, 0, 1920, 1080}};
    std::vector<std::string> start_failures;
    int keep_painting_calls = 0;
    int paint_pending_calls = 0;
    std::function<void()> during_transfer;
    std::chrono::steady_clock::time_point during_transfer_at;
    std::chrono::milliseconds transfer_delay{0};
};

State& S() {
    static State state;
    return state;
}

Control* Find(int control) {
    auto it = S().controls.find(control);
    return it == S().controls.end() ? nullptr : &it->second;
}

Control* FindKind(int control, Kind kind) {
    Control* c = Find(control);
    return c && c->kind == kind ? c : nullptr;
}

Control* FindList(int control) {
    return FindKind(control, Kind::List);
}

// The rows of a list or the items of a drop-down list.
Control* FindRows(int control) {
    Control* c = Find(control);
    return c && (c->kind == Kind::List || c->kind == Kind::Combo) ? c : nullptr;
}

void Push(int control, int type, bool collapse) {
    QueueControlEvent(control, type, collapse);
}

int Create(int control, Kind kind, Placement place, std::string_view text) {
    if (!S().window.exists || Find(control)) return 0;
    Control c{kind, place, std::string(text), {}, {}, {}, {}, -1, true, -1, 0, ""};
    if (kind == Kind::Field) c.back = RgbColor(255, 255, 255);
    S().controls.emplace(control, std::move(c));
    return 1;
}

// Moves the focus without raising anything: the program's own doing.
void MoveFocusQuietly(int control) {
    S().focused = control;
}

// The next enabled control after control in the Tab order, as Tab goes on
// and as Qt passes the focus on when the focused control is disabled; from a
// control not in the order (the window), the first. -1 when there is none.
int NextFocusable(int control) {
    std::vector<PlacedControl> placed;
    for (const auto& [number, c] : S().controls)
        placed.push_back({number, c.place.x, c.place.y});
    const std::vector<int> order = TabOrder(placed);
    auto at = std::find(order.begin(), order.end(), control);
    size_t start = at == order.end() ? order.size() - 1 : static_cast<size_t>(at - order.begin());
    for (size_t step = 1; step <= order.size(); ++step) {
        int candidate = order[(start + step) % order.size()];
        if (candidate != control && Find(candidate)->enabled) return candidate;
    }
    return -1;
}

bool Usable(int control) {
    Control* c = Find(control);
    return c && c->enabled;
}

void FocusByUser(int control) {
    int before = S().focused;
    if (before == control) return;
    if (FindKind(before, Kind::Field)) Push(before, FieldFocusLost, false);
    S().focused = control;
    if (FindKind(control, Kind::Field)) Push(control, FieldFocusGained, false);
}

// The list the user acts on: the lowest-numbered one.
int TheList() {
    for (auto& [number, c] : S().controls) {
        if (c.kind == Kind::List) return number;
    }
    return -1;
}

int TheField() {
    for (auto& [number, c] : S().controls) {
        if (c.kind == Kind::Field) return number;
    }
    return -1;
}

void SelectRow(int control, Control& list, int row) {
    if (row < 0 || row >= static_cast<int>(list.rows.size())) row = -1;
    if (row == list.selected) return;
    list.selected = row;
    Push(control, SelectionChange, true);
}

bool IsGesture(int type) {
    return type == LeftClick || type == RightClick || type == LeftDoubleClick ||
           type == RightDoubleClick || type == DragStart;
}

}  // namespace

// ---- Test API ----

void ResetGuiDouble() {
    S() = State();
    ResetEventCore();
    SetSessionEndProcedure(nullptr);
}

bool PressButton(int control) {
    if (!FindKind(control, Kind::Button) || !Usable(control)) return false;
    FocusByUser(control);
    Push(control, ButtonClick, false);
    return true;
}

bool UserSelectsRow(int row, int type) {
    int control = TheList();
    if (control < 0 || !Usable(control) || !IsGesture(type)) return false;
    FocusByUser(control);
    SelectRow(control, *Find(control), row);
    if (type == LeftDoubleClick) Push(control, LeftClick, true);
    if (type == RightDoubleClick) Push(control, RightClick, true);
    Push(control, type, true);
    return true;
}

bool ListEvent(int type) {
    int control = TheList();
    if (control < 0) return false;
    Push(control, type, true);
    return true;
}

bool UserTypes(std::string_view text) {
    int control = TheField();
    if (control < 0 || !Usable(control)) return false;
    FocusByUser(control);
    Find(control)->text = std::string(text);
    Push(control, FieldTextChange, false);
    return true;
}

bool UserChoosesItem(int control, int index) {
    Control* c = FindKind(control, Kind::Combo);
    if (!c || !c->enabled || index < 0 || index >= static_cast<int>(c->rows.size())) {
        return false;
    }
    FocusByUser(control);
    c->selected = index;
    Push(control, SelectionChange, true);
    return true;
}

void RequestClose() {
    if (!S().window.exists) return;
    QueueCloseRequest(S().window.window);
}

bool UserPressesEnter() {
    const int focused = S().focused;
    if (FindKind(focused, Kind::Field)) {
        Push(focused, FieldEnter, false);
        return true;
    }
    Control* list = FindList(focused);
    if (!list) return false;
    if (list->selected >= 0) Push(focused, LeftDoubleClick, true);
    return true;
}

bool UserPressesTab() {
    const int next = NextFocusable(S().focused);
    if (next < 0) return false;
    FocusByUser(next);
    return true;
}

void ScriptAnswers(std::vector<int> answers) {
    S().answers.insert(S().answers.end(), answers.begin(), answers.end());
}

void ScriptFolder(std::string folder) {
    S().folders.push_back(std::move(folder));
}

void ScriptRandom(std::vector<int> values) {
    S().randoms.insert(S().randoms.end(), values.begin(), values.end());
}

const std::vector<ShownBox>& ShownBoxes() {
    return S().boxes;
}
const std::vector<ShownChooser>& ShownChoosers() {
    return S().choosers;
}
const std::vector<std::string>& OpenedFiles() {
    return S().opened;
}
WindowInfo WindowState() {
    return S().window;
}
Placement ControlPlacement(int control) {
    Control* c = Find(control);
    return c ? c->place : Placement{};
}

int ColumnWidth(int control, int column) {
    Control* c = FindList(control);
    if (!c || column < 0 || column >= static_cast<int>(c->widths.size())) return 0;
    return c->widths[static_cast<size_t>(column)];
}

Colour BackColorOf(int control) {
    Control* c = FindKind(control, Kind::Field);
    return c ? c->back : -1;
}

int FocusedControl() {
    return S().focused;
}

std::string AccessibleNameOf(int control) {
    Control* c = Find(control);
    return c ? c->name : "";
}

FontHandle FontOf(int control) {
    Control* c = Find(control);
    return c ? c->font : 0;
}

std::string FontFace(FontHandle font) {
    if (font < 1 || font > static_cast<FontHandle>(S().fonts.size())) return "";
    return S().fonts[static_cast<size_t>(font - 1)].face;
}

int QueuedEventCount() {
    return CountQueuedEvents();
}

std::vector<ArmedTimer> ArmedTimers() {
    std::vector<ArmedTimer> armed;
    for (const SlotTimerInfo& t : ArmedSlotTimers())
        armed.push_back(
            {t.window, t.identifier, t.period_ms, t.procedure, t.due_ms - S().clock_ms});
    return armed;
}

bool TickSlot(int identifier) {
    return SlotFallsDue(MainWindow, identifier);
}

void AdvanceClock(int64_t ms) {
    S().clock_ms += ms;
    ExpireSlotTimers(S().clock_ms, 0);
}

void TickDuringNextMessageBox(int identifier) {
    S().box_ticks.push_back(identifier);
}

std::vector<std::string> CellWrites(int control, int row, int column) {
    auto it = S().cell_writes.find({control, row, column});
    return it == S().cell_writes.end() ? std::vector<std::string>{} : it->second;
}

std::string ItemTip(int control, int row, int column) {
    Control* c = FindList(control);
    if (!c || row < 0 || row >= static_cast<int>(c->tips.size())) return "";
    const auto& tips = c->tips[static_cast<size_t>(row)];
    return column >= 0 && column < static_cast<int>(tips.size()) ? tips[static_cast<size_t>(column)]
                                                                 : "";
}

const std::vector<Arrival>& Arrivals() {
    return S().arrivals;
}

void HoldInstanceElsewhere(std::string key) {
    S().instance_keys.push_back(std::move(key));
}

void SetScreens(std::vector<ScreenRect> screens) {
    S().screens = std::move(screens);
}

bool EndSession() {
    return RunSessionEndProcedure();
}

const std::vector<std::string>& StartFailures() {
    return S().start_failures;
}

void DuringNextTransfer(std::function<void()> user, std::chrono::milliseconds after) {
    S().during_transfer = std::move(user);
    S().during_transfer_at = std::chrono::steady_clock::time_point::max();
    S().transfer_delay = after;
}

int KeepPaintingCount() {
    return S().keep_painting_calls;
}
int PaintPendingCount() {
    return S().paint_pending_calls;
}

// ---- The seam ----

int CreateWindowFrame(int window, int x, int y, int clientWidth, int clientHeight,
                      std::string_view title, int options) {
    if (S().window.exists || clientWidth < 0 || clientHeight < 0) return 0;
    if (clientWidth > 32767 || clientHeight > 32767) return 0;
    WindowInfo& w = S().window;
    w = {true, window, x, y, clientWidth, clientHeight, options, std::string(title), false};
    if (options & WindowCentered) {
        w.x = (1920 - clientWidth) / 2;
        w.y = (1080 - clientHeight) / 2;
    }
    return 1;
}

int64_t WindowLeft(int window) {
    return S().window.exists && S().window.window == window ? S().window.x : 0;
}

int64_t WindowTop(int window) {
    return S().window.exists && S().window.window == window ? S().window.y : 0;
}

void MoveWindowTo(int window, int64_t x, int64_t y) {
    if (!S().window.exists || S().window.window != window) return;
    S().window.x = static_cast<int>(std::clamp<int64_t>(x, -32768, 32767));
    S().window.y = static_cast<int>(std::clamp<int64_t>(y, -32768, 32767));
}

void ShowWindowFrame(int window) {
    if (S().window.exists && S().window.window == window) S().window.shown = true;
}

int WindowPlaceVisible(int window, int64_t x, int64_t y) {
    const WindowInfo& w = S().window;
    if (!w.exists || w.window != window) return 0;
    const int64_t left = std::clamp<int64_t>(x, -32768, 32767);
    const int64_t top = std::clamp<int64_t>(y, -32768, 32767);
    const ScreenRect frame{left, top, left + w.clientWidth, top + w.clientHeight};
    return TitleBarVisible(frame, DoubleTitleBarHeight, S().screens) ? 1 : 0;
}

int CreateListView(int control, int x, int y, int width, int height, std::string_view firstTitle,
                   int firstWidth) {
    if (!Create(control, Kind::List, {x, y, width, height}, "")) return 0;
    Control* c = Find(control);
    c->titles.emplace_back(firstTitle);
    c->widths.push_back(firstWidth);
    return 1;
}

int AddListColumn(int control, int position, std::string_view title, int width) {
    Control* c = FindList(control);
    if (!c || position < 0) return 0;
    size_t at = std::min(static_cast<size_t>(position), c->titles.size());
    c->titles.insert(c->titles.begin() + static_cast<std::ptrdiff_t>(at), std::string(title));
    c->widths.insert(c->widths.begin() + static_cast<std::ptrdiff_t>(at), width);
    for (auto* cells : {&c->rows, &c->tips}) {
        for (auto& row : *cells)
            row.insert(row.begin() + static_cast<std::ptrdiff_t>(at), "");
    }
    return 1;
}

int CreateButton(int control, int x, int y, int width, int height, std::string_view text) {
    return Create(control, Kind::Button, {x, y, width, height}, text);
}

int CreateTextField(int control, int x, int y, int width, int height, std::string_view text) {
    return Create(control, Kind::Field, {x, y, width, height}, text);
}

int CreateDropDownList(int control, int x, int y, int width, int height) {
    return Create(control, Kind::Combo, {x, y, width, height}, "");
}

void SetControlFont(int control, FontHandle font) {
    Control* c = Find(control);
    if (!c || font < 0 || font > static_cast<FontHandle>(S().fonts.size())) return;
    c->font = font;
}

void DisableControl(int control, int disabled) {
    Control* c = Find(control);
    if (!c) return;
    c->enabled = disabled == 0;
    if (!c->enabled && S().focused == control) MoveFocusQuietly(NextFocusable(control));
}

bool ControlEnabled(int control) {
    return Usable(control);
}

void FocusControl(int control) {
    if (Usable(control)) MoveFocusQuietly(control);
}

void SetControlText(int control, std::string_view text) {
    Control* c = Find(control);
    if (c && (c->kind == Kind::Button || c->kind == Kind::Field)) c->text = std::string(text);
}

std::string ControlText(int control) {
    Control* c = Find(control);
    return c && (c->kind == Kind::Button || c->kind == Kind::Field) ? c->text : "";
}

void SetBackColor(int control, Colour colour) {
    if (Control* c = FindKind(control, Kind::Field)) c->back = colour & 0xFFFFFF;
}

void SetAccessibleName(int control, std::string_view name) {
    if (Control* c = Find(control)) c->name = std::string(name);
}

int AddItem(int control, int position, std::string_view text) {
    Control* c = FindRows(control);
    if (!c || position < -1) return -1;
    int count = static_cast<int>(c->rows.size());
    int at = position == -1 || position > count ? count : position;
    std::vector<std::string> row(c->kind == Kind::List ? c->titles.size() : 1);
    std::vector<std::string_view> parts =
        c->kind == Kind::List ? SplitColumns(text) : std::vector<std::string_view>{text};
    for (size_t i = 0; i < row.size() && i < parts.size(); ++i)
        row[i] = parts[i];
    c->tips.insert(c->tips.begin() + at, std::vector<std::string>(row.size()));
    c->rows.insert(c->rows.begin() + at, std::move(row));
    if (c->selected >= at) ++c->selected;
    return at;
}

void RemoveItem(int control, int index) {
    Control* c = FindRows(control);
    if (!c || index < 0 || index >= static_cast<int>(c->rows.size())) return;
    c->rows.erase(c->rows.begin() + index);
    c->tips.erase(c->tips.begin() + index);
    if (c->selected == index) {
        c->selected = -1;
    } else if (c->selected > index) {
        --c->selected;
    }
}

void ClearItems(int control) {
    if (Control* c = FindRows(control)) {
        c->rows.clear();
        c->tips.clear();
        c->selected = -1;
    }
}

int CountItems(int control) {
    Control* c = FindRows(control);
    return c ? static_cast<int>(c->rows.size()) : 0;
}

int SelectedIndex(int control) {
    Control* c = FindRows(control);
    return c ? c->selected : -1;
}

void SelectIndex(int control, int index) {
    Control* c = FindRows(control);
    if (!c) return;
    if (c->kind == Kind::List) return SelectRow(control, *c, index);
    c->selected = index >= 0 && index < static_cast<int>(c->rows.size()) ? index : -1;
}

std::string ItemText(int control, int index, int column) {
    Control* c = FindRows(control);
    if (!c || column < 0) return "";
    if (index == -1 && c->kind == Kind::List) {
        return column < static_cast<int>(c->titles.size()) ? c->titles[column] : "";
    }
    if (index < 0 || index >= static_cast<int>(c->rows.size())) return "";
    const auto& row = c->rows[static_cast<size_t>(index)];
    return column < static_cast<int>(row.size()) ? row[static_cast<size_t>(column)] : "";
}

void SetItemText(int control, int index, std::string_view text, int column) {
    Control* c = FindList(control);
    if (!c || column < 0 || column >= static_cast<int>(c->titles.size())) return;
    if (index == -1) {
        c->titles[static_cast<size_t>(column)] = std::string(text);
    } else if (index >= 0 && index < static_cast<int>(c->rows.size())) {
        c->rows[static_cast<size_t>(index)][static_cast<size_t>(column)] = std::string(text);
        S().cell_writes[{control, index, column}].emplace_back(text);
    }
}

void SetItemTip(int control, int index, std::string_view text, int column) {
    Control* c = FindList(control);
    if (!c || index < 0 || index >= static_cast<int>(c->rows.size())) return;
    if (column < 0 || column >= static_cast<int>(c->titles.size())) return;
    c->tips[static_cast<size_t>(index)][static_cast<size_t>(column)] = std::string(text);
}

FontHandle MakeFont(std::string_view face, int points) {
    if (points < 1 || points > 1000) return 0;
    S().fonts.push_back({std::string(face), points});
    return static_cast<FontHandle>(S().fonts.size());
}

// The shared half's hooks: a wait that never blocks, and timers on the test's clock.
int ControlWindowNumber() {
    return S().window.window;
}
bool BackendRunning() {
    return true;
}
void DispatchWaitingInput() {}
int WaitForNewEvent(int64_t) {
    return FinishWait(0);
}
bool TimerWindowExists(int window) {
    return S().window.exists && S().window.window == window;
}
int64_t TimerClockMs() {
    return S().clock_ms;
}
void RearmAlarm() {}
void RunPendingTicksSoon() {}
void WatchSessionEnd(bool) {}

void PaintPending() {
    ++S().paint_pending_calls;
}

bool BeginTransferWait() {
    ++S().keep_painting_calls;
    S().during_transfer_at = std::chrono::steady_clock::now() + S().transfer_delay;
    return true;
}
void WakeTransferWait() {}
void WaitTransferSlice(std::chrono::milliseconds longest) {
    std::this_thread::sleep_for(std::min(longest, std::chrono::milliseconds(20)));
    if (S().during_transfer && std::chrono::steady_clock::now() >= S().during_transfer_at)
        std::exchange(S().during_transfer, nullptr)();
}
void EndTransferWait() {}

void NotifyArrival(std::string_view fileName, std::string_view link, std::string_view path) {
    S().arrivals.push_back({std::string(fileName), std::string(link), std::string(path)});
}

void ReportStartFailure(std::string_view text) {
    S().start_failures.emplace_back(text);
}

int ClaimInstance(std::string_view key) {
    auto& held = S().instance_keys;
    if (std::find(held.begin(), held.end(), key) != held.end()) return 0;
    held.emplace_back(key);
    return 1;
}

int ShowMessageBox(std::string_view title, std::string_view text, int buttons) {
    S().boxes.push_back({std::string(title), std::string(text), buttons});
    TickAllowance ticks_run_freely(TickAllowance::Unlimited, false);
    RunPendingTicks();
    for (int identifier : std::exchange(S().box_ticks, {}))
        SlotFallsDue(MainWindow, identifier);
    if (buttons != ButtonsYesNo) return AnswerOk;
    if (S().answers.empty()) return AnswerNo;
    int answer = S().answers.front();
    S().answers.pop_front();
    return answer;
}

std::string ChooseFolder(std::string_view title, std::string_view initialFolder) {
    S().choosers.push_back({std::string(title), std::string(initialFolder)});
    if (S().folders.empty()) return "";
    std::string folder = std::move(S().folders.front());
    S().folders.pop_front();
    if (!folder.empty() && folder.back() != '/' && folder.back() != PathSeparator)
        folder += PathSeparator;
    return folder;
}

int RandomInt(int max) {
    if (S().randoms.empty()) return UniformUpTo(max, NextRandom32);
    int value = S().randoms.front();
    S().randoms.pop_front();
    return std::clamp(value, 0, std::max(max, 0));
}

void OpenWithDefaultApplication(std::string_view path) {
    S().opened.emplace_back(path);
}

int StartGui(int, char**) {
    return 1;
}

void ReleaseGui() {
    State& s = S();
    s.window = {};
    s.controls.clear();
    s.focused = -1;
    s.fonts.clear();
    ResetEventCore();
}
