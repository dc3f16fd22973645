// The Win32 backend's event wait and a field's colours, on a real window under
// Wine.
#include <windows.h>

#include <chrono>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Another program, or another thread, may send rather than post: the message
// is handled inside a PeekMessageW that then finds nothing to return.
TEST(Win32Gui, ACloseSentDuringTheWaitEndsItAtOnce) {
    ASSERT_EQ(StartGui(0, nullptr), 1);
    ASSERT_NE(CreateWindowFrame(1000, 0, 0, 320, 200, "Wait", 0), 0) << GetLastError();
    HWND frame = FrameHandle();
    std::thread sender([frame] {
        std::this_thread::sleep_for(300ms);
        SendMessageW(frame, WM_CLOSE, 0, 0);
    });
    auto start = Clock::now();
    int kind = WaitEvent(8000);
    auto took = Clock::now() - start;
    sender.join();
    EXPECT_EQ(kind, CloseRequest);
    EXPECT_LT(took, 4s);
    ReleaseGui();
}

// The text is drawn in the colour the field's background calls for.
TEST(Win32Gui, AFieldsTextContrastsWithItsBackground) {
    ASSERT_EQ(StartGui(0, nullptr), 1);
    ASSERT_NE(CreateWindowFrame(1000, 0, 0, 320, 200, "Colours", 0), 0) << GetLastError();
    CreateTextField(4, 0, 0, 200, 20, "");
    HDC dc = GetDC(FrameHandle());
    for (auto [background, text] : {std::pair{RgbColor(220, 220, 0), RGB(0, 0, 0)},
                                    std::pair{RgbColor(20, 20, 60), RGB(255, 255, 255)}}) {
        SetBackColor(4, background);
        SendMessageW(FrameHandle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(ControlHandle(4)));
        EXPECT_EQ(GetTextColor(dc), text) << background;
        EXPECT_EQ(GetBkColor(dc), static_cast<COLORREF>(background));
    }
    ReleaseDC(FrameHandle(), dc);
    ReleaseGui();
}

}  // namespace
