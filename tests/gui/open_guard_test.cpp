#include "gui/win32/open_guard.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* WindowsPathExt = ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";

TEST(OpenGuard, KnowsWhatOpenWouldRun) {
    struct Case {
        const char* path;
        const char* path_ext;
        bool runs;
    };
    const Case cases[] = {
        {R"(C:\dl\report.pdf)", WindowsPathExt, false},
        {R"(C:\dl\setup.exe)", WindowsPathExt, true},
        {R"(C:\dl\SETUP.EXE)", "", true},
        {R"(C:\dl\setup.exe. .)", WindowsPathExt, true},  // Windows drops the trailing dots
        {R"(C:\dl\setup.exe.zip)", WindowsPathExt, false},
        {R"(C:\setup.exe\report.pdf)", WindowsPathExt, false},  // a folder's dot
        {R"(C:\dl\archive)", WindowsPathExt, false},
        {"C:/dl/link.LNK", "", true},
        {R"(C:\dl\script.ps1)", "", true},
        {R"(C:\dl\notes.txt:payload.exe)", WindowsPathExt, true},  // a stream of a file
        {R"(C:\dl\tool.foo)", ".COM;;FOO", true},                  // entries without dots
        {R"(C:\dl\tool.foo)", WindowsPathExt, false},
        {R"(C:\dl\tool.fo)", ".FOO", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunsAsProgram(c.path, c.path_ext), c.runs) << c.path << " with " << c.path_ext;
}

}  // namespace
