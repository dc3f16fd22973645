#include "app/link_check.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "runtime/files.h"
#include "tests/app/app_fixture.h"
#include "tests/support/scripted_web_server.h"

namespace {

std::string Ok(std::string_view body, std::string_view status = "200 OK") {
    return "HTTP/1.1 " + std::string(status) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// A text of exactly size bytes: the given lines, then lines of filler (cut
// where the size ends; a 9-byte filler fills 5000 and 6000 bytes exactly).
std::string Body(size_t size, const std::vector<std::string>& firstLines = {},
                 std::string_view filler = "plain line of a file") {
    std::string body;
    for (const std::string& line : firstLines)
        body += line + "\r\n";
    while (body.size() < size)
        body += std::string(filler) + "\n";
    body.resize(size);
    return body;
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

class LinkCheckTest : public AppTest {
  protected:
    // Serves body to one check of a single row and returns the outcome.
    void CheckServing(const std::string& answer, std::string_view path = "file.bin") {
        LoopbackServer server(answer);
        StartWithRows({Row(server.Url(path))});
        SetItemText(LinkList, 0, "Trying", ColumnStatus);  // as the start of the queue leaves it
        LinkCheck(0);
        server.Stop();
        request = server.Request();
    }
    bool Done() const { return ItemText(LinkList, 0, ColumnStatus) == "DONE!"; }
    std::string request;
};

TEST_F(LinkCheckTest, JudgesTheFileBySizeAndErrorPageWords) {
    std::mt19937 random(7);
    std::string binary(6000, '\0');
    for (char& c : binary)
        c = static_cast<char>(random());
    struct Case {
        const char* what;
        std::string body;
        bool done, kept;
    } cases[] = {
        {"real file", Body(2'000'000), true, true},
        {"small page, hit on its third line", Body(4000, {"<html>", "<p>", "Error 404"}), false,
         false},
        {"small page, hit on its last line", Body(4980) + "\nnot found", false, false},
        {"small file without the words", Body(4000), false, true},
        {"large file, every line a hit, any case", Body(6000, {}, "eRRor 123"), false, true},
        {"large file, hits first, then a plain line", Body(6000, {"404", "NOT FOUND"}), true, true},
        {"exactly 5000 bytes without the words", Body(5000), false, true},
        {"exactly 5000 bytes, all hits", Body(5000, {}, "requested"), false, true},
        {"small page with NOT FOUND", Body(3000, {"NOT FOUND"}), false, false},
        {"small page with Requested", Body(3000, {"The Requested URL"}), false, false},
        {"4O4 with a letter O is no hit", Body(3000, {"4O4"}, "4O4"), false, true},
        {"large file of arbitrary bytes", binary, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetGuiDouble();
        ResetState();
        CheckServing(Ok(c.body));
        EXPECT_EQ(Done(), c.done);
        EXPECT_EQ(SlotDoneFlags[0], c.done ? "1" : "0");
        EXPECT_EQ(Exists(dir.File("file.bin")), c.kept);
        EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), c.done ? "DONE!" : "Trying");
        ASSERT_EQ(Arrivals().size(), c.done ? 1u : 0u);
        if (c.done) {
            EXPECT_EQ(Arrivals()[0].fileName, "file.bin");
            EXPECT_EQ(Arrivals()[0].link, ItemText(LinkList, 0, ColumnUrl));
            EXPECT_EQ(Arrivals()[0].path, dir.File("file.bin"));
        }
        std::filesystem::remove(dir.File("file.bin"));
    }
}

// However a link names them, and wherever the download directory is.
TEST_F(LinkCheckTest, NeverFetchesOverTheProgramsOwnFiles) {
    const std::string program = ExecutablePath();
    const struct {
        std::string directory, name;
    } cases[] = {
        {dir.Path(), "Tavimor.ini"},
        {dir.Path(), "tavimor.INI"},
        {dir.Path(), ".Tavimor.ini.99.1.tmp"},
        {DirectoryOf(program), FileNameOf(program)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGuiDouble();
        ResetState();
        LoopbackServer server(Ok(Body(6000)));
        StartWithRows({Row(server.Url(c.name))}, c.directory);
        const int64_t size = QueryFileSize(c.directory + c.name);
        const std::string settings = ReadWholeFile(SettingsPath());
        LinkCheck(0);
        server.Stop();
        EXPECT_EQ(server.Request(), "");
        EXPECT_EQ(ItemTip(LinkList, 0, ColumnStatus), std::string(NotSavedOverOwnFile) +
                                                          " \xE2\x80\x94 " +
                                                          ItemText(LinkList, 0, ColumnLastRetry));
        EXPECT_EQ(QueryFileSize(c.directory + c.name), size);
        EXPECT_EQ(ReadWholeFile(SettingsPath()), settings);
    }
}

// What the user reads resting the mouse on the Status cell: how the last check
// ended, and when.
TEST_F(LinkCheckTest, TheStatusTipTellsHowTheLastCheckEnded) {
    const struct {
        const char* what;
        std::string answer, outcome;
        bool over_a_file = false;  // one of that name is there already
    } cases[] = {
        {"arrived", Ok(Body(2'100'000)), "file arrived (2.1 MB)"},
        {"error page", Ok(Body(1234, {"Error 404"})), "error page (1.2 KB) deleted"},
        {"small file", Ok(Body(3000)), "only 3.0 KB, kept; still waiting"},
        {"large file of error words", Ok(Body(1'234'567, {}, "eRRor 123")),
         "1.2 MB that read like an error page, kept; still waiting"},
        {"empty body", Ok(""), "an empty file, kept; still waiting"},
        {"the fetch's own reason", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
         "HTTP 404"},
        // Only a body that counts as arrived replaces a file already there.
        {"arrived over a file", Ok(Body(2'100'000)), "file arrived (2.1 MB)", true},
        {"error page over a file", Ok(Body(1234, {"Error 404"})),
         "error page (1.2 KB) not saved over the file already there; still waiting", true},
        {"small file over a file", Ok(Body(3000)),
         "only 3.0 KB not saved over the file already there; still waiting", true},
        {"empty body over a file", Ok(""),
         "an empty file not saved over the file already there; still waiting", true},
    };
    const std::string precious = Body(100'000, {"a file the user already has"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetGuiDouble();
        ResetState();
        if (c.over_a_file) dir.Write("file.bin", precious);
        CheckServing(c.answer);
        EXPECT_EQ(ItemTip(LinkList, 0, ColumnStatus),
                  c.outcome + " \xE2\x80\x94 " + ItemText(LinkList, 0, ColumnLastRetry));
        if (c.over_a_file && !Done()) {
            EXPECT_EQ(ReadWholeFile(dir.File("file.bin")), precious);
        }
        std::filesystem::remove(dir.File("file.bin"));
    }
}

TEST(ProgressText, PercentWhenTheLengthIsKnownElseTheBytesSoFar) {
    const struct {
        int64_t received, expected;
        const char* text;
    } cases[] = {
        {370, 1000, "37%"},
        {999, 1000, "99%"},
        {1000, 1000, "100%"},
        {0, 0, "100%"},
        {int64_t{1} << 62, int64_t{1} << 62, "100%"},
        {12'499'999, -1, "12.4 MB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressText(c.received, c.expected), c.text) << c.received << "/" << c.expected;
}

// A body that arrives in three parts with pauses shows its progress, and the
// row holds its status again once the check ends, so no save can see progress.
TEST_F(LinkCheckTest, ShowsProgressWhileTheBodyArrivesAndTheStatusAfter) {
    using namespace std::chrono_literals;
    const std::string body = Body(9000);
    LoopbackServer server(Pieces(Ok(body), {3000, 3000}, 300ms));
    StartWithRows({Row(server.Url("file.bin"), "Trying")});
    LinkCheck(0);
    std::vector<std::string> shown = CellWrites(LinkList, 0, ColumnStatus);
    std::erase_if(shown, [](const std::string& text) { return !text.ends_with("%"); });
    EXPECT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
        return std::stoi(a) < std::stoi(b);
    }));
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "DONE!");
    EXPECT_EQ(CellWrites(LinkList, 0, ColumnStatus).back(), "DONE!");
}

// The session ends while a file arrives: the row's status is saved, not the
// progress shown in its place.
TEST_F(LinkCheckTest, AnEndingSessionDuringATransferSavesTheStatusNotTheProgress) {
    using namespace std::chrono_literals;
    LoopbackServer server(Pieces(Ok(Body(9000)), {3000, 3000}, 400ms));
    StartWithRows({Row(server.Url("file.bin"))});
    std::string shown, saved;
    DuringNextTransfer(
        [&] {
            shown = ItemText(LinkList, 0, ColumnStatus);
            EXPECT_TRUE(EndSession());
            saved = Settings();
        },
        600ms);
    LinkCheck(0);
    EXPECT_TRUE(shown.ends_with("%")) << shown;
    EXPECT_NE(saved.find("\xA4Idle\xA4"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("%"), std::string::npos) << saved;
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "DONE!");
}

TEST_F(LinkCheckTest, StampsAndCountsEveryAttemptAndAsksForASave) {
    LoopbackServer server(Ok(Body(100)));
    StartWithRows({Row(server.Url("a.bin"), "Idle", "7"), Row("no link", "Idle", "x")});
    LinkCheck(0);
    LinkCheck(1);
    EXPECT_EQ(ItemText(LinkList, 0, ColumnTried), "8");
    EXPECT_EQ(ItemText(LinkList, 1, ColumnTried), "1");  // no number counts on from 0
    EXPECT_EQ(ItemText(LinkList, 1, ColumnStatus), "Idle");
    EXPECT_EQ(SaveRequested, 1);
    // The stamp is the time of the attempt itself.
    CurrentDate = LocalNow();
    RefreshDateStamp();
    EXPECT_EQ(ItemText(LinkList, 0, ColumnLastRetry).substr(0, 11), DateStamp().substr(0, 11));
    EXPECT_NE(ItemText(LinkList, 0, ColumnLastRetry), "01 Jan 2020@00:00");
    // The transfer ran with the window painting, and the check waited for nothing else.
    EXPECT_EQ(KeepPaintingCount(), 2);
    EXPECT_EQ(PaintPendingCount(), 2);
}

TEST_F(LinkCheckTest, SavesUnderTheFileNameOfThePathWithoutTheQuery) {
    CheckServing(Ok(Body(7000)), "get.php?id=5");
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /get.php?id=5 HTTP/1.1");
    EXPECT_TRUE(Exists(dir.File("get.php")));
    EXPECT_TRUE(Done());
}

TEST_F(LinkCheckTest, APathWithoutFileNameFetchesNothingAndOnlyCounts) {
    LoopbackServer server(Ok(Body(7000)));
    StartWithRows({Row(server.Url("folder/"))});
    LinkCheck(0);
    server.Stop();
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(ItemText(LinkList, 0, ColumnTried), "1");
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "Idle");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // the ini
}

TEST_F(LinkCheckTest, AFailedFetchLeavesTheRowAndAnEarlierFileAlone) {
    dir.Write("file.bin", "an earlier download");
    CheckServing("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
    EXPECT_FALSE(Done());
    EXPECT_EQ(ItemText(LinkList, 0, ColumnStatus), "Trying");
    EXPECT_EQ(ReadWholeFile(dir.File("file.bin")), "an earlier download");
}

TEST_F(LinkCheckTest, AMissingRowOnlyRequestsASave) {
    StartWithRows({Row("http://127.0.0.1:1/x.bin", "Idle", "3")});
    const std::vector<LinkRow> before = RowsOnScreen();
    LinkCheck(5);
    EXPECT_EQ(RowsOnScreen(), before);
    EXPECT_EQ(CountItems(LinkList), 1);
    EXPECT_EQ(SaveRequested, 1);
}

TEST_F(LinkCheckTest, AHandEditedDownloadDirWithoutSeparatorStillReceivesTheFile) {
    std::filesystem::create_directory(dir.File("dl"));
    LoopbackServer server(Ok(Body(6000)));
    StartWithRows({Row(server.Url("f.zip"))}, dir.File("dl"));
    LinkCheck(0);
    EXPECT_TRUE(Exists(dir.File("dl/f.zip")));
    EXPECT_FALSE(Exists(dir.File("dlf.zip")));
}

}  // namespace
