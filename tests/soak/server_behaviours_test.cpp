// The soak run is only as good as its two helpers: bodies whose verdict is
// known by construction, and a server that answers each target as scripted.

#include "tests/soak/server_behaviours.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <map>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::string_view, 4> Words = {"404", "not found", "error", "requested"};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool HoldsWord(std::string_view text) {
    std::string lower = Lower(std::string(text));
    for (std::string_view word : Words) {
        if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

// Lines split at LF, CR or CR LF, as the link check reads them.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        lines.push_back(std::exchange(line, ""));
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

TEST(SoakBodies, PlainTextNeverSpellsAWordAndHitTextHasOneOnEveryLine) {
    Random random(1);
    for (std::size_t size : {9u, 10u, 63u, 64u, 65u, 113u, 4999u, 5000u, 5001u, 40000u}) {
        SCOPED_TRACE(size);
        for (int round = 0; round < 20; ++round) {
            std::string plain = PlainText(random, size, round % 2 == 1);
            EXPECT_EQ(plain.size(), size);
            EXPECT_FALSE(HoldsWord(plain));
            std::string hits = HitText(random, size);
            ASSERT_EQ(hits.size(), size);
            for (const std::string& line : Lines(hits))
                ASSERT_TRUE(!line.empty() && HoldsWord(line)) << "line \"" << line << "\"";
        }
    }
}

TEST(SoakBodies, TheMixHoldsEveryVerdictAndEveryWayToEnd) {
    Random random(2);
    std::map<Outcome, int> outcomes;
    std::map<AnswerEnd, int> ends;
    for (int i = 0; i < 400; ++i) {
        Behaviour b = RandomBehaviour(random);
        ++outcomes[b.outcome];
        ++ends[b.answer.end];
        EXPECT_EQ(b.stalls, b.answer.end == AnswerEnd::Stall) << b.kind;
        if (b.outcome == Outcome::Done) {
            EXPECT_GT(b.body.size(), 5000u) << b.kind;
        } else if (b.outcome == Outcome::Deleted) {
            EXPECT_LT(b.body.size(), 5000u) << b.kind;
        }
    }
    for (Outcome o : {Outcome::Done, Outcome::Deleted, Outcome::Kept, Outcome::Failed})
        EXPECT_GT(outcomes[o], 25) << OutcomeName(o);
    for (AnswerEnd end : {AnswerEnd::Close, AnswerEnd::Stall, AnswerEnd::Reset})
        EXPECT_GT(ends[end], 5);
}

// A raw client: sends request, then reads until the server closes or resets.
struct Exchange {
    std::string received;
    int error = 0;  // errno of the failed receive that ended it, 0 for a close
};

Exchange Ask(int port, std::string_view request, bool closeAfterFirstBytes = false) {
    Exchange result;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    for (char buffer[4096];;) {
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count < 0) result.error = errno;
        if (count <= 0) break;
        result.received.append(buffer, static_cast<std::size_t>(count));
        if (closeAfterFirstBytes) break;
    }
    close(fd);
    return result;
}

TEST(ScriptedWebServerTest, AnswersEachTargetOnceAndNotesTheUnexpected) {
    ScriptedWebServer server;
    server.Answer("/a/x.bin", {{{"HTTP/1.1 200 OK\r\n\r\n", 0ms}, {"first", 5ms}}});
    server.Answer("/b", {{{"second", 0ms}}});
    server.Answer("/never", {{{"unused", 0ms}}});
    EXPECT_EQ(server.Url("/a/x.bin"),
              "http://127.0.0.1:" + std::to_string(server.Port()) + "/a/x.bin");
    EXPECT_EQ(Ask(server.Port(), "GET /b HTTP/1.1\r\nHost: h\r\n\r\n").received, "second");
    EXPECT_EQ(Ask(server.Port(), "GET /a/x.bin HTTP/1.1\r\n\r\n").received,
              "HTTP/1.1 200 OK\r\n\r\nfirst");
    // Used up: the same target again is unexpected.
    EXPECT_EQ(Ask(server.Port(), "GET /b HTTP/1.1\r\n\r\n").received.substr(0, 22),
              "HTTP/1.1 404 Not Found");
    EXPECT_TRUE(server.WaitServed(3, 5s));
    EXPECT_EQ(server.Accepted(), 3);
    EXPECT_EQ(server.UnexpectedTargets(), std::vector<std::string>{"/b"});
    EXPECT_EQ(server.UnusedTargets(), std::vector<std::string>{"/never"});
}

TEST(ScriptedWebServerTest, StallsUntilTheClientLeavesAndResetsOnRequest) {
    ScriptedWebServer server;
    server.Answer("/stall", {{{"HTTP/1.1 200 OK\r\n", 0ms}}, AnswerEnd::Stall});
    server.Answer("/reset", {{{"partial", 0ms}}, AnswerEnd::Reset});
    Exchange stalled = Ask(server.Port(), "GET /stall HTTP/1.1\r\n\r\n", true);
    EXPECT_EQ(stalled.received, "HTTP/1.1 200 OK\r\n");
    EXPECT_TRUE(server.WaitServed(1, 5s)) << "a stall outlived its client";
    Exchange reset = Ask(server.Port(), "GET /reset HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reset.error, ECONNRESET);
    // A stall with its client still there ends when the server stops.
    server.Answer("/stall2", {{}, AnswerEnd::Stall});
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(server.Port()));
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(send(fd, "GET /stall2 HTTP/1.1\r\n\r\n", 24, MSG_NOSIGNAL), 24);
    EXPECT_FALSE(server.WaitServed(3, 100ms));
    server.Stop();
    EXPECT_EQ(server.Served(), 3);
    close(fd);
}

}  // namespace
