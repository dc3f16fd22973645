#include "http/fetch.h"
#include "http/request_plan.h"
#include "tavimor_version.h"

#include <chrono>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/net.h"
#include "runtime/files.h"
#include "tests/http/fetch_fixture.h"
#include "tests/support/scripted_web_server.h"
#include "tests/support/server_sockets.h"
#include "tests/support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

std::string Request(std::string_view target, std::string_view host) {
    return "GET /" + std::string(target) +
           " HTTP/1.1\r\nAccept: */*\r\nHost: " + std::string(host) +
           "\r\nUser-Agent: Tavimor/" TAVIMOR_VERSION "\r\nConnection: close\r\n\r\n";
}

TEST(PlanHttpRequest, BuildsTheExactRequestOrNone) {
    const struct {
        const char* url;
        int port;  // -1: no plan, so no traffic
        std::string request;
        std::string host = "h";
        bool secure = false;
    } cases[] = {
        {"http://u:p@h:8080/d/f.zip?a=1#t", 8080, Request("d/f.zip?a=1#t", "h:8080")},
        {"http://h:80/f", 80, Request("f", "h")},
        {"HTTP://h/f", 80, Request("f", "h")},
        {"https://h/f", 443, Request("f", "h"), "h", true},
        {"HttpS://h:443/f", 443, Request("f", "h"), "h", true},
        {"https://h:80/f", 80, Request("f", "h:80"), "h", true},
        {"http://h:443/f", 443, Request("f", "h:443")},
        {"http://[::1]:8080/f", 8080, Request("f", "[::1]:8080"), "::1"},
        {"https://[2001:db8::7]/f", 443, Request("f", "[2001:db8::7]"), "2001:db8::7", true},
        {"http://h:65616/f", 80, Request("f", "h")},
        {"http://h:-1/f", 65535, Request("f", "h:65535")},
        {"http://h:80/a b\r\nX-Injected: 1", 80, Request("a%20b%0D%0AX-Injected:%201", "h")},
        {"http://h/caf\xC3\xA9\x7F%41\t", 80, Request("caf%C3%A9%7F%41%09", "h")},
        {"ftp://h/f", -1, ""},
        {"httpx://h/f", -1, ""},
        {"h/f", -1, ""},
        {"http:///f", -1, ""},
        {"http://a b/f", -1, ""},
        {"http://h\r\nX-Injected: 1/f", -1, ""},
        {"http://h\x80/f", -1, ""},
    };
    for (const auto& c : cases) {
        std::optional<HttpRequestPlan> plan = PlanHttpRequest(c.url);
        ASSERT_EQ(plan.has_value(), c.port >= 0) << c.url;
        if (!plan) continue;
        EXPECT_EQ(plan->host, c.host) << c.url;
        EXPECT_EQ(plan->port, c.port) << c.url;
        EXPECT_EQ(plan->secure, c.secure) << c.url;
        EXPECT_EQ(plan->request, c.request) << c.url;
    }
}

std::string Answer(std::string_view head, std::string_view body) {
    return std::string(head) + "\r\n\r\n" + std::string(body);
}
class Fetch : public FetchTest {
  protected:
    Fetch() : FetchTest({2s, 2s, 750ms}) {}

    // Fetches from the server over an old file; no other file may be left.
    int FetchFrom(LoopbackServer& server, std::string_view path = "f.bin") {
        dir_.Write("out.bin", "old contents");
        int result = FetchHttpFile(server.Url(path), target_);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"out.bin"});
        return result;
    }
};

TEST_F(Fetch, SendsThePlannedRequestOnTheWire) {
    LoopbackServer server(Answer(Ok + "Content-Length: 2", "ok"));
    EXPECT_EQ(FetchFrom(server, "d/a b%41\r\nX: y?q=1#f"), 1);
    server.Stop();
    std::string host = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(server.Request(), Request("d/a%20b%41%0D%0AX:%20y?q=1#f", host));
}

struct Case {
    const char* name;
    std::vector<ServerPiece> answer;
    AnswerEnd end;
    std::string saved;  // the file afterwards
};

TEST_F(Fetch, ReplacesTheFileOnlyWithACompleteBody) {
    const std::string counted = Answer(Ok + "Content-Length: 11", "hello world");
    const std::string chunked = Answer(Ok + "Transfer-Encoding: chunked",
                                       "5;e=1\r\nhello\r\n6\r\n world\r\n0\r\nT: x\r\n\r\n");
    const std::string old = "old contents";
    const Case cases[] = {
        {"counted", {{counted + "EXTRA"}}, AnswerEnd::Close, "hello world"},
        {"counted in pieces", EveryBytes(counted, 7, 10ms), AnswerEnd::Close, "hello world"},
        {"counted, left open", {{counted}}, AnswerEnd::Stall, "hello world"},
        {"no blank", {{Answer(Ok + "Content-Length:3", "12345")}}, AnswerEnd::Close, "123"},
        {"chunked, left open", {{chunked}}, AnswerEnd::Stall, "hello world"},
        // Cuts inside the head, a size line, the CR LF after data and the trailer.
        {"chunked in pieces", Pieces(chunked, {30, 30, 4, 9, 1, 3, 12, 1, 1, 9}, 15ms),
         AnswerEnd::Close, "hello world"},
        {"until close", Pieces(Answer("HTTP/1.0 200 OK", "ab\r\n\r\ncd"), {10, 12}, 15ms),
         AnswerEnd::Close, "ab\r\n\r\ncd"},
        {"not decoded",
         {{Answer(Ok + "Transfer-Encoding: gzip", "\x1f\x8bz")}},
         AnswerEnd::Close,
         "\x1f\x8bz"},
        {"found, nowhere to go", {{Answer("HTTP/1.1 302 Found", "<a>")}}, AnswerEnd::Close, "<a>"},
        {"not found", {{Answer("HTTP/1.1 404 Not Found", "page")}}, AnswerEnd::Close, old},
        {"200 in the reason", {{Answer("HTTP/1.1 500 not 200", "x")}}, AnswerEnd::Close, old},
        {"no answer", {}, AnswerEnd::Close, old},
        {"head never ends", {{Ok + "Content-Length: 5\r\n"}}, AnswerEnd::Stall, old},
        {"head cut by close", {{Ok + "Content-Length: 5\r\n"}}, AnswerEnd::Close, old},
        {"oversized head",
         {{Answer(Ok + "X: " + std::string(70000, 'x'), "")}},
         AnswerEnd::Close,
         old},
        {"negative length", {{Answer(Ok + "Content-Length: -1", "b")}}, AnswerEnd::Close, old},
        {"short body", {{Answer(Ok + "Content-Length: 10", "short")}}, AnswerEnd::Close, old},
        {"stalled body", {{Answer(Ok + "Content-Length: 10", "short")}}, AnswerEnd::Stall, old},
        {"no last chunk",
         {{Answer(Ok + "Transfer-Encoding: chunked", "1\r\nh\r\n")}},
         AnswerEnd::Close,
         old},
        {"bad chunk size",
         {{Answer(Ok + "Transfer-Encoding: chunked", "1\r\nh\r\nz\r\n")}},
         AnswerEnd::Close,
         old},
        {"silence before close", {{Answer("HTTP/1.0 200 OK", "part")}}, AnswerEnd::Stall, old},
    };
    for (const Case& c : cases) {
        LoopbackServer server(c.answer, c.end);
        EXPECT_EQ(FetchFrom(server), c.saved == old ? 0 : 1) << c.name;
        EXPECT_EQ(ReadWholeFile(target_), c.saved) << c.name;
    }
}

TEST_F(Fetch, MakesNoConnectionWhenItCannotSucceed) {
    const struct {
        const char* name;
        std::string url;  // "#P" stands for the server's port
        std::string path;
    } cases[] = {
        {"no scheme marker", "127.0.0.1:#P/f", target_},
        {"blank in the host", "http://127.0.0.1 :#P/f", target_},
        {"target is a directory", "http://127.0.0.1:#P/f", dir_.File("sub")},
        {"target ends with a separator", "http://127.0.0.1:#P/f", dir_.Path()},
        {"target directory missing", "http://127.0.0.1:#P/f", dir_.File("missing/f")},
        {"network layer not started", "http://127.0.0.1:#P/f", target_},
    };
    std::filesystem::create_directory(dir_.File("sub"));
    for (const auto& c : cases) {
        LoopbackServer server(Answer(Ok + "Content-Length: 2", "ok"));
        std::string url = c.url;
        url.replace(url.find("#P"), 2, std::to_string(server.Port()));
        if (std::string_view(c.name) == "network layer not started") NetShutdown();
        EXPECT_EQ(FetchHttpFile(url, c.path), 0) << c.name;
        NetStartup();
        server.Stop();
        EXPECT_EQ(server.Connections(), 0) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("sub")));
}

// The temporary file, the write and the rename go through the platform's own
// calls, each of which must carry a UTF-8 path over whole.
TEST_F(Fetch, SavesIntoADirectoryNamedInAnyScript) {
    for (const char* name : {"plain", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC"}) {
        std::string directory = dir_.File(name) + PathSeparator;
        ASSERT_TRUE(std::filesystem::create_directory(NativePath(directory))) << name;
        LoopbackServer server(Answer(Ok + "Content-Length: 2", "ok"));
        EXPECT_EQ(FetchHttpFile(server.Url("f.bin"), directory + "f.bin"), 1) << name;
        EXPECT_EQ(ReadWholeFile(directory + "f.bin"), "ok") << name;
        auto entries = std::filesystem::directory_iterator(NativePath(directory));
        EXPECT_EQ(std::distance(entries, {}), 1) << name;
    }
}

// A listener whose queue is full drops new handshakes: only the connect's own
// time limit can end the wait. That is the program's own limit; short send and
// receive limits keep a connection that did get set up from passing for one.
TEST_F(Fetch, GivesUpAConnectionThatIsNeverSetUp) {
    int port = 0;
    ServerSocket listener = NoServerSocket;
    ServerSocket filler = NoServerSocket;
    if (!ListenWithFullQueue(port, listener, filler)) {
        CloseServerSocket(filler);
        CloseServerSocket(listener);
        FAIL() << "cannot fill a listener's queue";
    }

    const std::chrono::milliseconds limit = FetchLimits{}.connect;
    SetFetchLimitsForTests({limit, 1s, 1s});
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/f";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchHttpFile(url, target_), 0);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), limit.count());
    EXPECT_LT(waited.count(), (limit + 5s).count());
    CloseServerSocket(filler);
    CloseServerSocket(listener);
}

}  // namespace
