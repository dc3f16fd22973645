// The Win32 backend's event wait and a field's colours, on a real window under
// Wine.
#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "gui/gui.h"
#include "gui/win32/win32_backend.h"
#include "tests/support/path_spelling.h"
#include "tests/support/temp_dir.h"

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

int SessionSaves = 0;

// The save comes when Windows asks whether the session may end (it may kill
// the process any time after WM_ENDSESSION), once per ending; an end that
// comes unasked, or after one that was called off, saves then.
TEST(Win32Gui, AnEndingSessionRunsTheSaveOnceAndLetsItEnd) {
    ASSERT_EQ(StartGui(0, nullptr), 1);
    ASSERT_NE(CreateWindowFrame(1000, 0, 0, 320, 200, "Session", WindowHidden), 0);
    SetSessionEndProcedure([] { ++SessionSaves; });
    HWND frame = FrameHandle();
    const struct {
        UINT message;
        WPARAM ending;
        int saves;
    } steps[] = {
        {WM_QUERYENDSESSION, 0, 1}, {WM_ENDSESSION, FALSE, 1}, {WM_QUERYENDSESSION, 0, 2},
        {WM_ENDSESSION, TRUE, 2},   {WM_ENDSESSION, TRUE, 3},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(&step - steps);
        LRESULT answer = SendMessageW(frame, step.message, step.ending, ENDSESSION_LOGOFF);
        if (step.message == WM_QUERYENDSESSION) {
            EXPECT_EQ(answer, TRUE);  // the session may end
        }
        EXPECT_EQ(SessionSaves, step.saves);
    }
    SetSessionEndProcedure(nullptr);
    ReleaseGui();
}

// Explorer started again: its notification area is empty, and the icon that
// was there comes back.
TEST(Win32Gui, TheIconComesBackWhenTheTaskBarIsMadeAgain) {
    ASSERT_EQ(StartGui(0, nullptr), 1);
    ASSERT_NE(CreateWindowFrame(1000, 0, 0, 320, 200, "Tray", 0), 0);
    HWND frame = FrameHandle();
    NotifyArrival("f.zip", "http://127.0.0.1/f.zip", "C:\\f.zip");
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = frame;
    icon.uID = 1;
    if (!Shell_NotifyIconW(NIM_MODIFY, &icon)) {
        ReleaseGui();
        GTEST_SKIP() << "this desktop has no notification area";
    }
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));  // gone with the old Explorer
    ASSERT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    SendMessageW(frame, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    ReleaseGui();
}

// The claim is the file's, not its path's: an 8.3 spelling of the same
// directory is the same claim.
TEST(Win32Gui, AClaimThroughAnotherSpellingOfTheDirectoryIsRefused) {
    TempDir dir;
    const std::string program = dir.File("Program Directory") + "\\";
    ASSERT_TRUE(std::filesystem::create_directory(NativePath(program)));
    const std::string alias = AnotherSpellingOf(program);
    ASSERT_NE(alias, "");
    ASSERT_EQ(StartGui(0, nullptr), 1);
    ASSERT_NE(CreateWindowFrame(1000, 0, 0, 320, 200, "Claim", WindowHidden), 0);
    EXPECT_EQ(ClaimInstance(program + "Tavimor.ini"), 1);
    EXPECT_EQ(ClaimInstance(alias + "TAVIMOR.INI"), 0);
    EXPECT_EQ(ClaimInstance(alias + "Other.ini"), 1);
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
