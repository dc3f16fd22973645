// The Win32 side of the waits and the slot timers. The queue, the deadlines and
// the rules for when a tick may run live in gui/event_core; this file feeds
// them the thread's messages and one WM_TIMER at the next deadline.
//
// A tick runs only where a wait allows it: one per WaitEvent, any number inside
// a modal dialog, none inside a link check's transfer or closing paint; a tick
// that falls due elsewhere is kept pending (one per timer) and runs at the next
// wait.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "gui/backend.h"
#include "gui/boot_clock.h"
#include "gui/event_core.h"
#include "gui/gui.h"
#include "gui/win32/win32_backend.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// SetTimer counts on a clock that may stand still while the computer sleeps,
// and not every resume is broadcast (modern standby): the alarm is reached in
// steps of at most a minute, each measured again on the boot clock, so a slot
// that came due asleep ticks within a minute of the wake-up.
constexpr int64_t LongestStepMs = 60 * 1000;

// Tab and Shift+Tab move the focus through the enabled, visible controls in
// their stacking order (the window's rows, registry.cpp), as in a dialog box,
// and report nothing.
bool MoveFocusOnTab(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) return false;
    HWND frame = FrameHandle();
    if (!InsideFrame(message.hwnd) || GetKeyState(VK_CONTROL) < 0) return false;
    HWND focus = GetFocus();
    // A control's own child (the list's header) stands for the control.
    while (focus && focus != frame && GetParent(focus) != frame)
        focus = GetParent(focus);
    bool back = GetKeyState(VK_SHIFT) < 0;
    HWND next = GetNextDlgTabItem(frame, focus == frame ? nullptr : focus, back);
    if (!next) return true;
    SetFocus(next);
    // Like a dialog box, a field reached by Tab has its text selected.
    if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
        SendMessageW(next, EM_SETSEL, 0, -1);
    }
    return true;
}

void Dispatch(const MSG& message) {
    if (MoveFocusOnTab(message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

void RearmAlarm() {
    HWND frame = FrameHandle();
    if (!frame) return;
    int64_t next = NextSlotDeadline();
    if (next == std::numeric_limits<int64_t>::max()) {
        KillTimer(frame, AlarmTimerId);
        return;
    }
    int64_t left = std::clamp<int64_t>(next - BootClockMs(), USER_TIMER_MINIMUM, LongestStepMs);
    SetTimer(frame, AlarmTimerId, static_cast<UINT>(left), nullptr);
}

int WaitForNewEvent(int64_t limit_ms) {
    TickAllowance one(1, true);
    const auto end = SteadyClock::now() + std::chrono::milliseconds(std::max<int64_t>(limit_ms, 0));
    while (true) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;  // nobody ends this loop but the program
            Dispatch(message);
            if (one.Spent()) return FinishWait(TimerMessage);
            if (int kind = TakeReadyEvent()) return kind;
        }
        // A message sent by another thread or program is handled inside the
        // PeekMessageW that then finds nothing to return: what it queued must
        // not wait for the next message.
        if (one.Spent()) return FinishWait(TimerMessage);
        if (int kind = TakeReadyEvent()) return kind;
        // Nor may any other readiness the wait misses hold it for longer than a step.
        DWORD timeout = LongestStepMs;
        if (limit_ms >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now());
            if (left.count() <= 0) return FinishWait(0);
            timeout = static_cast<DWORD>(std::min<int64_t>(left.count(), LongestStepMs));
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void OnAlarm() {
    ExpireSlotTimers(BootClockMs(), AsleepMs());
    RearmAlarm();
}

void RunPendingTicksSoon() {
    if (FrameHandle()) PostMessageW(FrameHandle(), RunPendingTicksMessage, 0, 0);
}

bool BackendRunning() {
    return GuiStarted();
}

void DispatchWaitingInput() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) Dispatch(message);
    }
}

bool TimerWindowExists(int window) {
    return WindowHandle(window) != nullptr;
}

int64_t TimerClockMs() {
    return BootClockMs();
}

void ReleaseEvents() {
    if (FrameHandle()) KillTimer(FrameHandle(), AlarmTimerId);
    ResetEventCore();
}

void PaintPending() {
    if (HWND frame = FrameHandle()) {
        RedrawWindow(frame, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

namespace {
HANDLE TransferDone = nullptr;
}

bool BeginTransferWait() {
    if (!FrameHandle()) return false;
    TransferDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return TransferDone != nullptr;
}

void WakeTransferWait() {
    SetEvent(TransferDone);
}

void WaitTransferSlice(std::chrono::milliseconds longest) {
    MsgWaitForMultipleObjectsEx(1, &TransferDone, static_cast<DWORD>(longest.count()), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    DispatchWaitingInput();
}

void EndTransferWait() {
    CloseHandle(TransferDone);
    TransferDone = nullptr;
}
