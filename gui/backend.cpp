#include "gui/backend.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>
#include <tuple>

#include "gui/gui.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Progress during a transfer is shown at most four times a second.
constexpr auto RefreshInterval = std::chrono::milliseconds(250);
// Windows calls a window that has not looked at its messages for five seconds
// "not responding"; a transfer's loop looks more often than that.
constexpr auto LongestTransferSlice = std::chrono::milliseconds(1000);

SessionEndProcedure SessionEnd = nullptr;
bool SessionEndRunning = false;

}  // namespace

void QueueControlEvent(int control, int type, bool collapse) {
    QueueGuiEvent({ControlEvent, ControlWindowNumber(), control, type}, collapse);
}

void QueueCloseRequest(int window) {
    QueueGuiEvent({CloseRequest, window, window, 0}, true);
}

TicksRunFreely::TicksRunFreely() : allowance_(TickAllowance::Unlimited, false) {
    if (HavePendingTicks()) RunPendingTicksSoon();
}

void SetSessionEndProcedure(SessionEndProcedure procedure) {
    SessionEnd = procedure;
    WatchSessionEnd(procedure != nullptr);
}

bool RunSessionEndProcedure() {
    // A message box of the procedure's own (a failed save) may take the next
    // request of the ending session.
    if (!SessionEnd || SessionEndRunning) return false;
    SessionEndRunning = true;
    SessionEnd();
    SessionEndRunning = false;
    return true;
}

std::vector<std::string_view> SplitColumns(std::string_view text) {
    std::vector<std::string_view> parts;
    while (true) {
        size_t end = text.find('\n');
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

std::vector<int> TabOrder(std::vector<PlacedControl> controls) {
    std::stable_sort(controls.begin(), controls.end(), [](const auto& a, const auto& b) {
        return std::tie(a.y, a.x, a.control) < std::tie(b.y, b.x, b.control);
    });
    std::vector<int> order;
    for (const PlacedControl& placed : controls)
        order.push_back(placed.control);
    return order;
}

namespace {

// The sRGB component's share of the light, linearised.
double LinearLight(int component) {
    double c = component / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

Colour TextColourOn(Colour background) {
    double luminance = 0.2126 * LinearLight(static_cast<int>(background & 0xFF)) +
                       0.7152 * LinearLight(static_cast<int>((background >> 8) & 0xFF)) +
                       0.0722 * LinearLight(static_cast<int>((background >> 16) & 0xFF));
    // Black and white give equal contrast ratios, (L + 0.05) / 0.05 and
    // 1.05 / (L + 0.05), where L is about 0.179.
    bool black = (luminance + 0.05) * (luminance + 0.05) >= 1.05 * 0.05;
    return black ? RgbColor(0, 0, 0) : RgbColor(255, 255, 255);
}

int WaitEvent(int64_t limitMs) {
    if (int kind = TakeReadyEvent()) return kind;
    if (!BackendRunning()) return FinishWait(0);
    if (HavePendingTicks()) {
        // Input that waited behind a transfer goes before the ticks deferred by it.
        {
            TickAllowance none(0, false);
            DispatchWaitingInput();
        }
        if (int kind = TakeReadyEvent()) return kind;
        if (RunOnePendingTick()) return FinishWait(TimerMessage);
    }
    return WaitForNewEvent(limitMs);
}

bool TakeQueuedEvent(int kind, int control, int type) {
    int window = kind == CloseRequest ? control : ControlWindowNumber();
    return TakeQueuedGuiEvent({kind, window, control, type});
}

int EventControl() {
    return CurrentEvent().control;
}

int EventType() {
    return CurrentEvent().type;
}

void StartSlotTimer(int window, int identifier, int64_t periodMs, SlotProcedure procedure,
                    int64_t firstMs) {
    if (!procedure || !TimerWindowExists(window)) return;
    ArmSlotTimer(window, identifier, periodMs, procedure, TimerClockMs(), firstMs);
    RearmAlarm();
}

void StopSlotTimer(int window, int identifier) {
    DropSlotTimer(window, identifier);
    RearmAlarm();
}

Colour RgbColor(int red, int green, int blue) {
    return std::clamp(red, 0, 255) + std::clamp(green, 0, 255) * 256 +
           static_cast<Colour>(std::clamp(blue, 0, 255)) * 65536;
}

int KeepPaintingWhile(const std::function<int()>& work, const std::function<void()>& refresh) {
    if (!work) return 0;
    if (!BeginTransferWait()) return work();
    TicksHeld no_ticks;
    std::atomic<bool> done{false};
    int result = 0;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = work();
            done.store(true);
            WakeTransferWait();
        });
    } catch (const std::system_error&) {
        EndTransferWait();
        return work();  // no thread to spare: the window just does not paint meanwhile
    }
    auto next_refresh = SteadyClock::now() + RefreshInterval;
    while (!done.load()) {
        auto slice = LongestTransferSlice;
        if (refresh) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_refresh -
                                                                              SteadyClock::now());
            slice = std::clamp(left, std::chrono::milliseconds(0), slice);
        }
        const int queued = CountQueuedEvents();
        WaitTransferSlice(slice);
        bool due = SteadyClock::now() >= next_refresh || CountQueuedEvents() > queued;
        if (refresh && !done.load() && due) {
            refresh();
            next_refresh = SteadyClock::now() + RefreshInterval;
        }
    }
    worker.join();
    EndTransferWait();
    return result;
}
