// A large body that broke off is kept and continued, and only ever with the
// rest of the same file.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/fetch.h"
#include "http/net.h"
#include "http/part_file.h"
#include "runtime/files.h"
#include "tests/http/fetch_fixture.h"
#include "tests/support/scripted_web_server.h"
#include "tests/support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245 + 12345;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

const std::string Body = Bytes(2000000, 1);
const std::string Changed = Bytes(2000000, 2);
const std::size_t Cut = Body.size() * 6 / 10;
constexpr auto Executable = std::filesystem::perms::owner_exec |
                            std::filesystem::perms::group_exec |
                            std::filesystem::perms::others_exec;

std::string Head(const std::string& status, std::size_t length, const std::string& more) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n" + more +
           "\r\n";
}

ServerAnswer Whole(const std::string& etag, const std::string& body, std::size_t sent) {
    return {{{Head("200 OK", body.size(), "ETag: " + etag + "\r\n") + body.substr(0, sent)}},
            AnswerEnd::Close};
}

ServerAnswer Rest(const std::string& etag, const std::string& body, std::size_t from,
                  std::size_t complete, std::size_t sent) {
    std::string range = "Content-Range: bytes " + std::to_string(from) + "-" +
                        std::to_string(complete - 1) + "/" + std::to_string(complete) + "\r\n";
    return {{{Head("206 Partial Content", complete - from, range + "ETag: " + etag + "\r\n") +
              body.substr(from, sent)}},
            AnswerEnd::Close};
}

ServerAnswer Status416() {
    return {{{Head("416 Range Not Satisfiable", 0, "")}}, AnswerEnd::Close};
}

class Resume : public FetchTest {
  protected:
    Resume() : FetchTest({2s, 2s, 2s}) {}

    FetchReport Fetch(const std::string& name, FetchProgress* progress = nullptr) {
        FetchReport report;
        FetchHttpFile(server_.Url("/" + name), dir_.File(name), progress, &report);
        return report;
    }
    // The first 60% of Body arrives, announced with etag.
    void Break(const std::string& name, const std::string& etag = "\"v1\"") {
        server_.Answer("/" + name, Whole(etag, Body, Cut));
        EXPECT_EQ(Fetch(name).failure, "broke off at 60% (kept for the next check)") << name;
    }
    std::size_t RangeRequests() const {
        std::size_t count = 0;
        for (const std::string& request : server_.Requests())
            count += request.find("\r\nRange: bytes=") != std::string::npos;
        return count;
    }

    ScriptedWebServer server_;
};

TEST_F(Resume, ContinuesOnlyTheSameFile) {
    const struct {
        const char* name;
        std::vector<ServerAnswer> answers;  // to the check after the break
        const std::string& saved;
    } cases[] = {
        {"continued", {Rest("\"v1\"", Body, Cut, Body.size(), Body.size())}, Body},
        {"file changed", {Whole("\"v2\"", Changed, Changed.size())}, Changed},
        {"range ignored", {Whole("\"v1\"", Body, Body.size())}, Body},
        {"416", {Status416(), Whole("\"v2\"", Changed, Changed.size())}, Changed},
        {"If-Range ignored",
         {Rest("\"v2\"", Changed, Cut, Changed.size(), Changed.size()),
          Whole("\"v2\"", Changed, Changed.size())},
         Changed},
        {"another start",
         {Rest("\"v1\"", Body, Cut + 1, Body.size(), Body.size()),
          Whole("\"v1\"", Body, Body.size())},
         Body},
        {"another length",
         {Rest("\"v1\"", Changed + "x", Cut, Changed.size() + 1, Changed.size() + 1),
          Whole("\"v2\"", Changed, Changed.size())},
         Changed},
    };
    for (const auto& c : cases) {
        std::string name = std::string(c.name) + ".bin";
        std::replace(name.begin(), name.end(), ' ', '-');
        Break(name);
        // Whatever the part was given, what arrives is never a program.
        std::filesystem::permissions(NativePath(dir_.File(name + ".part")), Executable,
                                     std::filesystem::perm_options::add);
        for (const ServerAnswer& answer : c.answers)
            server_.AnswerAgain("/" + name, answer);
        std::size_t before = server_.Requests().size();
        std::size_t asked = RangeRequests();
        FetchProgress progress;
        FetchReport report = Fetch(name, &progress);
        EXPECT_EQ(report.failure, "") << c.name;
        EXPECT_EQ(report.bytes, static_cast<int64_t>(c.saved.size())) << c.name;
        EXPECT_TRUE(ReadWholeFile(dir_.File(name)) == c.saved) << c.name;
        auto mode = std::filesystem::status(NativePath(dir_.File(name))).permissions();
        EXPECT_EQ(mode & Executable, std::filesystem::perms::none) << c.name;
        EXPECT_EQ(progress.received.load(), static_cast<int64_t>(c.saved.size())) << c.name;
        // The part was asked for once, from where it ended, as the same version.
        EXPECT_EQ(RangeRequests(), asked + 1) << c.name;
        std::string range = "Range: bytes=" + std::to_string(Cut) + "-\r\nIf-Range: \"v1\"\r\n";
        EXPECT_NE(server_.Requests().at(before).find(range), std::string::npos) << c.name;
        EXPECT_FALSE(std::filesystem::exists(NativePath(dir_.File(name + ".part")))) << c.name;
        EXPECT_FALSE(std::filesystem::exists(NativePath(dir_.File(name + ".part.tavimor"))))
            << c.name;
        EXPECT_TRUE(server_.UnusedTargets().empty()) << c.name;
    }
}

TEST_F(Resume, KeepsAPartOnlyWhenItCanBeProvedTheSame) {
    const struct {
        const char* name;
        std::string validators;
        std::size_t sent;
        std::string failure;
        std::string if_range;  // asked with at the next check; "" when not kept
    } cases[] = {
        {"strong ETag", "ETag: \"a\"\r\nLast-Modified: Mon, 01 Jun 2026 10:00:00 GMT\r\n", Cut,
         "broke off at 60% (kept for the next check)", "\"a\""},
        // A date proves the same bytes only a minute or more before the answer's own.
        {"weak ETag, an old date",
         "ETag: W/\"a\"\r\nLast-Modified: Mon, 01 Jun 2026 10:00:00 GMT\r\n"
         "Date: Mon, 01 Jun 2026 10:01:00 GMT\r\n",
         Cut, "broke off at 60% (kept for the next check)", "Mon, 01 Jun 2026 10:00:00 GMT"},
        {"a date too recent",
         "Last-Modified: Mon, 01 Jun 2026 10:00:00 GMT\r\n"
         "Date: Mon, 01 Jun 2026 10:00:59 GMT\r\n",
         Cut, "broke off at 60%", ""},
        {"a date, no Date", "Last-Modified: Mon, 01 Jun 2026 10:00:00 GMT\r\n", Cut,
         "broke off at 60%", ""},
        {"an obsolete date form",
         "Last-Modified: Monday, 01-Jun-26 10:00:00 GMT\r\n"
         "Date: Mon, 01 Jun 2026 10:05:00 GMT\r\n",
         Cut, "broke off at 60%", ""},
        {"weak ETag only", "ETag: W/\"a\"\r\n", Cut, "broke off at 60%", ""},
        {"no validator", "", Cut, "broke off at 60%", ""},
        {"under 1 MiB", "ETag: \"a\"\r\n", (1 << 20) - 1, "broke off at 52%", ""},
    };
    for (const auto& c : cases) {
        std::string name = std::string(c.name) + ".bin";
        std::replace(name.begin(), name.end(), ' ', '-');
        server_.Answer("/" + name,
                       {{{Head("200 OK", Body.size(), c.validators) + Body.substr(0, c.sent)}}});
        EXPECT_EQ(Fetch(name).failure, c.failure) << c.name;
        server_.Answer("/" + name, Whole("\"b\"", Changed, Changed.size()));
        std::size_t before = server_.Requests().size();
        EXPECT_EQ(Fetch(name).failure, "") << c.name;
        EXPECT_TRUE(ReadWholeFile(dir_.File(name)) == Changed) << c.name;
        std::string request = server_.Requests().at(before);
        bool ranged = request.find("\r\nRange: bytes=" + std::to_string(c.sent) +
                                   "-\r\nIf-Range: " + c.if_range + "\r\n") != std::string::npos;
        EXPECT_EQ(ranged, !c.if_range.empty()) << c.name;
    }
}

// A part that breaks off again grows; one without its record (or with a
// record that does not parse) is never added to.
TEST_F(Resume, ContinuesAcrossBreaksButNeverWithoutItsRecord) {
    Break("twice.bin");
    server_.Answer("/twice.bin", Rest("\"v1\"", Body, Cut, Body.size(), Body.size() / 5));
    EXPECT_EQ(Fetch("twice.bin").failure, "broke off at 80% (kept for the next check)");
    std::size_t reached = Cut + Body.size() / 5;
    server_.Answer("/twice.bin", Rest("\"v1\"", Body, reached, Body.size(), Body.size()));
    EXPECT_EQ(Fetch("twice.bin").failure, "");
    EXPECT_TRUE(ReadWholeFile(dir_.File("twice.bin")) == Body);

    for (const char* record : {"", "tavimor part 1\nurl x\nlength 9\n"}) {
        dir_.Write("lone.bin.part", Body.substr(0, Cut));
        if (*record) dir_.Write("lone.bin.part.tavimor", record);
        server_.Answer("/lone.bin", Rest("\"v1\"", Body, Cut, Body.size(), Body.size()));
        EXPECT_EQ(Fetch("lone.bin").failure, "HTTP 206") << record;
        EXPECT_FALSE(std::filesystem::exists(NativePath(dir_.File("lone.bin")))) << record;
    }
}

TEST(StaleParts, AreRemovedAfterThirtyDaysWithTheirRecords) {
    TempDir dir;
    auto age = [&](const std::string& name, int days) {
        dir.Write(name, "x");
        auto path = NativePath(dir.File(name));
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) - std::chrono::hours(24 * days));
    };
    age("old.bin.part", 31);
    age("old.bin.part.tavimor", 31);
    age("going.bin.part", 2);  // still being continued
    age("going.bin.part.tavimor", 40);
    age("fresh.bin.part.tavimor", 29);
    age("stray.bin.part", 90);  // not ours: no record
    age("gone.bin.part.tavimor", 31);
    // Temporaries of a crashed fetch go; a running one's, and others', stay.
    const std::string mine =
        ".tavimor-" + std::to_string(ThisProcessNumber()) + "-00000000000000aa";
    age(mine + ".part", 0);
    age(".tavimor-4194399-00000000000000bb.part", 0);  // above any pid_max
    age(".tavimor-4194399-00000000000000cc.record", 0);
    age(".tavimor-00000000000000dd.part", 2);  // named before names carried the process
    age(".tavimor-00000000000000ee.part", 0);
    age(".tavimor-notes.part", 9);
    RemoveStaleParts(dir.Path(), static_cast<int64_t>(std::time(nullptr)));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(dir.Path())))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".tavimor-00000000000000ee.part", mine + ".part",
                                              ".tavimor-notes.part", "fresh.bin.part.tavimor",
                                              "going.bin.part", "going.bin.part.tavimor",
                                              "stray.bin.part"}));
}

}  // namespace
