#include "gui/open_guard.h"

#include <gtest/gtest.h>

namespace {

// What Open does with a downloaded file: true hands it to its application,
// false shows it in its folder.
TEST(OpenGuard, OpensOnlyDocumentsMediaAndArchivesByName) {
    const struct {
        const char* path;
        bool opens;
    } cases[] = {
        {R"(C:\dl\report.pdf)", true},
        {R"(C:\dl\clip.mkv)", true},
        {R"(C:\dl\sources.tar.gz)", true},
        {R"(C:\dl\setup.exe)", false},
        {R"(C:\dl\setup.exe.zip)", true},
        {R"(C:\dl\report.pdf.exe)", false},
        {R"(C:\dl\report.pdf. .)", true},   // Windows drops the trailing dots and blanks
        {R"(C:\dl\setup.exe. .)", false},   // and so opens this one as a program
        {R"(C:\report.pdf\setup)", false},  // a folder's dot
        {R"(C:\dl\archive)", false},
        {R"(C:\dl\notes.txt:payload.exe)", false},  // a stream of a file
        // Types that run, install or mount something, none of them named in
        // a list of programs.
        {"C:/dl/app.APPX", false},
        {"C:/dl/app.msix", false},
        {"C:/dl/app.appinstaller", false},
        {"C:/dl/x.library-ms", false},
        {"C:/dl/x.diagcab", false},
        {"C:/dl/x.website", false},
        {"C:/dl/disk.iso", false},
        {"C:/dl/page.html", false},
        {"C:/dl/drawing.svg", false},
        {"C:/dl/budget.xlsm", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayOpenByName(c.path), c.opens) << c.path;
}

// Linux: the type the desktop's opener goes by, and what the content alone says.
TEST(OpenGuard, OpensOnlyDocumentsMediaAndArchivesByType) {
    const struct {
        const char* type;
        const char* content_type;
        bool opens;
    } cases[] = {
        {"text/plain", "text/plain", true},
        {"application/pdf", "application/pdf", true},
        {"Image/PNG", "image/png", true},
        {"audio/mpeg", "application/octet-stream", true},  // no tag to tell it by
        {"video/mp4", "video/mp4", true},
        {"application/msword", "application/x-ole-storage", true},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
         "application/zip", true},
        {"application/x-compressed-tar", "application/gzip", true},
        {"application/vnd.rar", "application/vnd.rar", true},
        {"application/pdf", "application/x-executable", false},  // a program named *.pdf
        {"text/plain", "application/x-shellscript", false},
        {"application/x-msdownload", "application/x-msdownload", false},
        {"application/x-msi", "application/x-ole-storage", false},
        {"application/x-java-archive", "application/zip", false},
        {"application/x-shellscript", "text/plain", false},
        {"application/x-desktop", "application/x-desktop", false},
        {"application/x-raw-disk-image", "application/octet-stream", false},
        {"application/vnd.appimage", "application/x-executable", false},
        {"application/octet-stream", "application/octet-stream", false},
        {"application/x-ole-storage", "application/x-ole-storage", false},
        {"image/svg+xml", "image/svg+xml", false},
        {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayOpenByType(c.type, c.content_type), c.opens)
            << c.type << " / " << c.content_type;
}

}  // namespace
