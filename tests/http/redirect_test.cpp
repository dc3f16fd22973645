// Fetches over https, through redirects, and over IPv6.
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

ServerAnswer Reply(const std::string& head, const std::string& body = "") {
    return {{{head + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body}},
            AnswerEnd::Close};
}

ServerAnswer Redirect(int code, const std::string& location) {
    return Reply("HTTP/1.1 " + std::to_string(code) + " Moved\r\nLocation: " + location,
                 "<html>moved</html>");
}

const std::string Body = "the file itself";
const std::string Old = "old contents";

class Redirects : public FetchTest {
  protected:
    Redirects() : FetchTest({2s, 2s, 2s}) {}
};

// Each case: the link's target, the hops the server answers in order (target,
// answer), what the file holds afterwards, and the failure the user reads.
TEST_F(Redirects, AreFollowedToTheFileOrFailLeavingTheOldOne) {
    ScriptedWebServer server;
    const std::string origin = "127.0.0.1:" + std::to_string(server.Port());
    const std::string html = "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=utf-8";
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/zip";
    struct Hop {
        std::string target;
        ServerAnswer answer;
    };
    struct Case {
        const char* name;
        std::string link;
        std::vector<Hop> hops;
        std::string saved;
        std::string failure = "";
    };
    std::vector<Hop> ten, eleven;
    for (int i = 0; i <= 10; ++i) {
        std::string next = i < 10 ? "/r" + std::to_string(i + 1) : "/last";
        (i < 10 ? ten : eleven).push_back({"/r" + std::to_string(i), Redirect(307, next)});
    }
    eleven.insert(eleven.begin(), ten.begin(), ten.end());
    ten.push_back({"/r10", Reply(ok, Body)});
    const std::vector<Case> cases = {
        {"dot segments",
         "/a/b/f.bin",
         {{"/a/b/f.bin", Redirect(302, "./../up/./v?x=1#part")}, {"/a/up/v?x=1", Reply(ok, Body)}},
         Body},
        {"absolute path",
         "/f.bin",
         {{"/f.bin", Redirect(303, "/x/y")}, {"/x/y", Reply(ok, Body)}},
         Body},
        {"absolute URL",
         "/f.bin",
         {{"/f.bin", Redirect(308, "HTTP://" + origin + "/z")}, {"/z", Reply(ok, Body)}},
         Body},
        {"ten redirects", "/r0", ten, Body},
        {"eleven redirects", "/r0", eleven, Old, "too many redirects"},
        {"another scheme",
         "/f.bin",
         {{"/f.bin", Redirect(301, "ftp://" + origin + "/f")}},
         Old,
         "redirect to a non-web link"},
        {"dead link sent home",
         "/f.bin",
         {{"/f.bin", Redirect(302, "/")}, {"/", Reply(html, "<html>welcome</html>")}},
         Old,
         "a web page came instead of the file"},
        {"a page asked for",
         "/page.html",
         {{"/page.html", Redirect(302, "/p2")}, {"/p2", Reply(html, "<html>page</html>")}},
         "<html>page</html>"},
        {"redirect to a 404",
         "/f.bin",
         {{"/f.bin", Redirect(301, "/gone")}, {"/gone", Reply("HTTP/1.1 404 Not Found", "")}},
         Old,
         "HTTP 404"},
    };
    for (const Case& c : cases) {
        dir_.Write("out.bin", Old);
        for (const Hop& hop : c.hops)
            server.Answer(hop.target, hop.answer);
        FetchReport report;
        FetchHttpFile(server.Url(c.link), target_, nullptr, &report);
        EXPECT_EQ(report.failure, c.failure) << c.name;
        EXPECT_EQ(ReadWholeFile(target_), c.saved) << c.name;
        EXPECT_TRUE(server.UnusedTargets().empty()) << c.name;
        EXPECT_TRUE(server.UnexpectedTargets().empty()) << c.name;
    }
}

// The link's user name and password, percent-decoded, go to its own origin
// alone, however the chain goes; a 401 says whether any were sent.
TEST_F(Redirects, CredentialsGoToTheLinksOwnOriginAlone) {
    const std::string sent = "Authorization: Basic dXM6ZXI6cEBzcw==\r\n";  // "us:er:p@ss"
    const std::string unauthorized = "HTTP/1.1 401 Unauthorized";
    ScriptedWebServer own;
    ScriptedWebServer other;
    const struct {
        const char* what;
        const char* user_info;
        std::vector<std::pair<std::string, ServerAnswer>>
            hops;  // at own, or "other" for the second
        std::string failure;
        std::vector<bool> carried;  // per request, own then other
    } cases[] = {
        {"same origin",
         "us%3Aer:p%40ss@",
         {{"/f.bin", Redirect(302, "/g")}, {"/g", Reply("HTTP/1.1 200 OK", Body)}},
         "",
         {true, true}},
        {"another origin",
         "us%3Aer:p%40ss@",
         {{"/f.bin", Redirect(302, other.Url("/g"))}, {"other", Reply("HTTP/1.1 200 OK", Body)}},
         "",
         {true, false}},
        {"refused",
         "us%3Aer:p%40ss@",
         {{"/f.bin", Reply(unauthorized)}},
         "user name or password refused",
         {true}},
        {"wanted",
         "",
         {{"/f.bin", Reply(unauthorized)}},
         "the server wants a user name and password",
         {false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [target, answer] : c.hops) {
            if (target == "other")
                other.Answer("/g", answer);
            else
                own.Answer(target, answer);
        }
        const std::size_t own_before = own.Requests().size();
        const std::size_t other_before = other.Requests().size();
        std::string link = own.Url("/f.bin");
        link.insert(link.find("//") + 2, c.user_info);
        dir_.Write("out.bin", Old);
        FetchReport report;
        FetchHttpFile(link, target_, nullptr, &report);
        EXPECT_EQ(report.failure, c.failure);
        std::vector<std::string> requests = own.Requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(own_before));
        for (std::size_t i = other_before; i < other.Requests().size(); ++i)
            requests.push_back(other.Requests()[i]);
        ASSERT_EQ(requests.size(), c.carried.size());
        for (std::size_t i = 0; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].find(sent) != std::string::npos, c.carried[i]) << requests[i];
    }
}

// Every https server here answers with the file; only its certificate differs.
// A certificate is refused at once, by name and by address literal alike.
TEST_F(Redirects, HttpsSavesTheFileOnlyFromAServerThatProvesItsName) {
    ASSERT_TRUE(TrustTestCa());
    SetFetchLimitsForTests({10s, 5s, 5s});
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n" + Body;
    const struct {
        TlsCert cert;
        const char* host;
        bool via_redirect;
        std::string failure;
    } cases[] = {
        {TlsCert::Good, "localhost", false, ""},
        {TlsCert::Good, "127.0.0.1", true, ""},
        {TlsCert::WrongName, "localhost", false, "certificate is for another name"},
        {TlsCert::WrongName, "127.0.0.1", false, "certificate is for another name"},
        {TlsCert::Expired, "localhost", true, "certificate expired"},
        {TlsCert::Expired, "127.0.0.1", false, "certificate expired"},
        {TlsCert::UntrustedCa, "127.0.0.1", false, "certificate not trusted"},
        {TlsCert::None, "localhost", false, "secure connection failed"},
    };
    ScriptedWebServer plain;
    for (const auto& c : cases) {
        TlsServer server(answer, c.cert);
        ASSERT_TRUE(server.Ready());
        dir_.Write("out.bin", Old);
        std::string link = server.Url("f.bin", c.host);
        if (c.via_redirect) {
            plain.Answer("/f.bin", Redirect(301, link));
            link = plain.Url("/f.bin");
        }
        FetchReport report;
        FetchHttpFile(link, target_, nullptr, &report);
        EXPECT_EQ(report.failure, c.failure) << link;
        EXPECT_EQ(ReadWholeFile(target_), c.failure.empty() ? Body : Old) << link;
    }
    // Whoever sits on a plain hop would choose the file: a chain begun on https
    // stays on it.
    plain.Answer("/f.bin", Reply("HTTP/1.1 200 OK", Body));
    TlsServer downgrade(Redirect(302, plain.Url("/f.bin")).pieces[0].bytes);
    ASSERT_TRUE(downgrade.Ready());
    dir_.Write("out.bin", Old);
    FetchReport report;
    EXPECT_EQ(FetchHttpFile(downgrade.Url("f.bin"), target_, nullptr, &report), 0);
    EXPECT_EQ(report.failure, "redirected from https to plain http");
    EXPECT_EQ(ReadWholeFile(target_), Old);
    // A body read until close is whole only at close_notify: anyone on the path
    // can close TCP.
    for (auto [end, failure] :
         {std::pair{TlsServerEnd::CloseNotify, ""}, {TlsServerEnd::TcpClose, "answer cut short"}}) {
        TlsServer server("HTTP/1.1 200 OK\r\n\r\n" + Body, TlsCert::Good, end);
        ASSERT_TRUE(server.Ready());
        dir_.Write("out.bin", Old);
        FetchReport report;
        FetchHttpFile(server.Url("f.bin"), target_, nullptr, &report);
        EXPECT_EQ(report.failure, failure);
        EXPECT_EQ(ReadWholeFile(target_), report.failure.empty() ? Body : Old);
    }
}

TEST_F(Redirects, AnIpv6LiteralIsReached) {
    if (!HaveIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback address (::1)";
    ScriptedWebServer server(true);
    server.Answer("/f.bin", Reply("HTTP/1.1 200 OK", Body));
    EXPECT_EQ(FetchHttpFile(server.Url("/f.bin"), target_), 1);
    EXPECT_EQ(ReadWholeFile(target_), Body);
}

}  // namespace
