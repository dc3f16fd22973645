// Why a fetch ended, in the words the user reads, for every way it can end.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/fetch.h"
#include "http/net.h"
#include "tests/http/fetch_fixture.h"
#include "tests/support/scripted_web_server.h"
#include "tests/support/server_sockets.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tls_server.h"

using namespace std::chrono_literals;

namespace {

ServerAnswer Send(const std::string& bytes, AnswerEnd end = AnswerEnd::Close) {
    return {{{bytes}}, end};
}

ServerAnswer Redirect(const std::string& location) {
    return Send("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
}

class FetchReports : public FetchTest {
  protected:
    FetchReports() : FetchTest({1500ms, 2s, 500ms}) {}

    FetchReport Fetch(const std::string& url, const std::string& path) {
        FetchReport report;
        report.failure = "stale";
        int result = FetchHttpFile(url, path, nullptr, &report);
        EXPECT_EQ(result, report.failure.empty() ? 1 : 0) << url;
        EXPECT_EQ(report.reason == FetchFailure::None, report.failure.empty()) << url;
        return report;
    }
};

TEST_F(FetchReports, SayWhatTheServerDid) {
    ScriptedWebServer server;
    std::string origin = "127.0.0.1:" + std::to_string(server.Port());
    const struct {
        std::string failure;
        std::vector<std::pair<std::string, ServerAnswer>> hops;  // the first is the link
    } cases[] = {
        {"", {{"/a", Send(Ok + "Content-Length: 11\r\n\r\nhello world")}}},
        {"HTTP 404", {{"/a", Send("HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx")}}},
        {"not an HTTP answer", {{"/a", Send("SSH-2.0-x\r\n\r\n")}}},
        {"invalid length in the answer", {{"/a", Send(Ok + "Content-Length: -2\r\n\r\nxy")}}},
        {"headers too long", {{"/a", Send(Ok + "X: " + std::string(70000, 'x'))}}},
        {"server sent no answer", {{"/a", Send("")}}},
        {"answer cut short", {{"/a", Send(Ok + "Content-Length: 5\r\n")}}},
        {"server went silent", {{"/a", Send(Ok, AnswerEnd::Stall)}}},
        {"broke off at 50%", {{"/a", Send(Ok + "Content-Length: 10\r\n\r\nhello")}}},
        {"server went silent at 50%",
         {{"/a", Send(Ok + "Content-Length: 10\r\n\r\nhello", AnswerEnd::Stall)}}},
        {"broke off after 1 byte",
         {{"/a", Send(Ok + "Transfer-Encoding: chunked\r\n\r\n1\r\nh\r\n")}}},
        {"malformed chunk",
         {{"/a", Send(Ok + "Transfer-Encoding: chunked\r\n\r\n1\r\nh\r\nz\r\n")}}},
        {"redirect to a non-web link", {{"/a", Redirect("ftp://" + origin + "/f")}}},
        {"redirected to a web page",
         {{"/a", Redirect("/home")},
          {"/home", Send(Ok + "Content-Type: text/html\r\nContent-Length: 2\r\n\r\nhi")}}},
        {"too many redirects", {}},  // filled in below
    };
    for (auto c : cases) {
        if (c.failure == "too many redirects") {
            for (int i = 0; i <= MaxRedirects; ++i)
                c.hops.push_back(
                    {i ? "/r" + std::to_string(i) : "/a", Redirect("/r" + std::to_string(i + 1))});
        }
        for (auto& [target, answer] : c.hops)
            server.Answer(target, std::move(answer));
        FetchReport report = Fetch(server.Url("/a"), target_);
        EXPECT_EQ(report.failure, c.failure);
        EXPECT_EQ(report.bytes, c.failure.empty() ? 11 : 0) << c.failure;
        EXPECT_TRUE(server.UnusedTargets().empty()) << c.failure;
    }
}

TEST_F(FetchReports, SayWhyNoConnectionWasMade) {
    int closed_port = 0;
    {
        LoopbackServer gone("");
        closed_port = gone.Port();
    }
    int full_port = 0;
    ServerSocket listener = NoServerSocket;
    ServerSocket filler = NoServerSocket;
    ASSERT_TRUE(ListenWithFullQueue(full_port, listener, filler));
    auto at = [](int port) { return "http://127.0.0.1:" + std::to_string(port) + "/f"; };
    const struct {
        std::string url;
        std::string path;
        std::string failure;
    } cases[] = {
        {"ftp://127.0.0.1/f", target_, "not an http or https link"},
        {at(closed_port), dir_.File("missing/f"), "download folder missing"},
        {at(closed_port), dir_.Path().substr(0, dir_.Path().size() - 1),
         "a folder has the file's name"},
        {at(closed_port), target_, "connection refused"},
        {"http://nowhere.invalid/f", target_, "host not found"},
        {at(full_port), target_, "no answer within 1.5 s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Fetch(c.url, c.path).failure, c.failure) << c.url;
    CloseServerSocket(filler);
    CloseServerSocket(listener);
}

TEST_F(FetchReports, SayWhatIsWrongWithACertificate) {
    ASSERT_TRUE(TrustTestCa());
    SetFetchLimitsForTests({10s, 5s, 5s});
    const struct {
        TlsCert cert;
        std::string failure;
    } cases[] = {
        {TlsCert::Good, ""},
        {TlsCert::Expired, "certificate expired"},
        {TlsCert::UntrustedCa, "certificate not trusted"},
        {TlsCert::WrongName, "certificate is for another name"},
        {TlsCert::None, "secure connection failed"},
    };
    for (const auto& c : cases) {
        TlsServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", c.cert);
        ASSERT_TRUE(server.Ready());
        EXPECT_EQ(Fetch(server.Url("f"), target_).failure, c.failure) << static_cast<int>(c.cert);
    }
}

}  // namespace
