// https through the transport seam, against Python's ssl module as the server and
// certificates made by the openssl command at test time.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http/net.h"
#include "http/tls_platform.h"
#include "http/transport.h"
#include "tests/support/server_sockets.h"
#include "tests/support/tls_server.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class Tls : public ::testing::Test {
  protected:
    void SetUp() override {
        NetStartup();
        ASSERT_TRUE(TrustTestCa());
    }
};

const std::string Hello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

std::string Get(std::string_view host) {
    return "GET /f HTTP/1.1\r\nHost: " + std::string(host) + "\r\n\r\n";
}

int Send(Transport& transport, const std::string& bytes) {
    return TransportSendAll(transport, bytes.data(), bytes.size(), 5s);
}

struct Received {
    std::string bytes;
    int64_t end = 0;  // what the receive after the last bytes returned
};

Received ReceiveAll(Transport& transport, std::size_t buffer_size,
                    std::chrono::milliseconds limit) {
    Received got;
    std::vector<char> buffer(buffer_size);
    for (;;) {
        got.end = TransportReceive(transport, buffer.data(), buffer.size(), limit);
        if (got.end <= 0) return got;
        got.bytes.append(buffer.data(), static_cast<std::size_t>(got.end));
    }
}

// Both libraries see the peer through this: SNI and the name check for a name,
// the address entries alone for a literal.
TEST(TlsPeerOf, TellsNamesFromAddressLiterals) {
    const struct {
        std::string host;
        std::optional<std::string> name;  // nothing: no peer at all
        std::size_t address_size;
    } cases[] = {
        {"files.example", "files.example", 0},
        {"files.example.", "files.example", 0},  // SNI carries no final dot
        {".", ".", 0},
        {"127.0.0.1", "", 4},
        {"::1", "", 16},
        {"127.0.0.1.", "127.0.0.1", 0},  // not a literal, so a name
        {"[::1]", "[::1]", 0},
        {"", std::nullopt, 0},
        {std::string("a.example\0b", 11), std::nullopt, 0},
    };
    for (const auto& c : cases) {
        std::optional<TlsPeer> peer = TlsPeerOf(c.host);
        ASSERT_EQ(peer.has_value(), c.name.has_value()) << c.host;
        if (!peer) continue;
        EXPECT_EQ(peer->name, *c.name) << c.host;
        EXPECT_EQ(peer->address_size, c.address_size) << c.host;
    }
    EXPECT_EQ(TlsPeerOf("127.0.0.2")->address[3], 2);
}

TEST_F(Tls, TalksToAGoodServerByNameAndByAddress) {
    const struct {
        const char* host;
        const char* server_name;  // SNI is for names only
    } cases[] = {{"localhost", "localhost"}, {"127.0.0.1", ""}, {"::1", ""}};
    for (const auto& c : cases) {
        TlsServer server(Hello);
        ASSERT_TRUE(server.Ready());
        if (std::string_view(c.host) == "::1" && !server.HasIpv6()) {
            std::cout << "no ::1 on this machine: not tried\n";
            continue;
        }
        std::optional<Transport> transport = TransportOpen(c.host, server.Port(), true, 5s);
        ASSERT_TRUE(transport) << c.host;
        EXPECT_EQ(Send(*transport, Get(c.host)), 1) << c.host;
        Received got = ReceiveAll(*transport, 4096, 5s);
        TransportClose(*transport);
        EXPECT_EQ(got.bytes, Hello) << c.host;
        EXPECT_EQ(got.end, 0) << c.host;
        EXPECT_EQ(server.Request(), Get(c.host)) << c.host;
        EXPECT_EQ(server.ServerName(), c.server_name) << c.host;
    }
}

TEST_F(Tls, GivesUpOnAServerThatNeverAnswersAtTheLimit) {
    // The kernel completes TCP for a listener that never accepts, so the hello
    // is delivered and nobody ever answers it.
    int port = 0;
    ServerSocket listener = ListenOnLoopback(port, 4, "silent server");
    ASSERT_NE(listener, NoServerSocket);
    auto start = Clock::now();
    std::optional<Transport> transport = TransportOpen("127.0.0.1", port, true, 1s);
    auto took = Clock::now() - start;
    CloseServerSocket(listener);
    EXPECT_FALSE(transport);
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 3s);
}

TEST_F(Tls, FailsAtOnceOnAPlainHttpPort) {
    const std::string answers[] = {
        "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
        "",  // just closes
    };
    for (const std::string& answer : answers) {
        TlsServer server(answer, TlsCert::None);
        ASSERT_TRUE(server.Ready());
        auto start = Clock::now();
        std::optional<Transport> transport = TransportOpen("127.0.0.1", server.Port(), true, 10s);
        EXPECT_LT(Clock::now() - start, 2s) << answer;
        EXPECT_FALSE(transport) << answer;
        if (transport) TransportClose(*transport);
    }
}

TEST_F(Tls, ReadsABodyToItsEndInSmallPieces) {
    // Small receives leave most of each record inside TLS, where polling the
    // socket cannot see it.
    const std::string answer = Hello + std::string(1000, 'x');
    const struct {
        TlsServerEnd end;
        int64_t result;  // of the receive after the body
    } cases[] = {
        {TlsServerEnd::CloseNotify, 0},  // the server keeps TCP open meanwhile
        {TlsServerEnd::TcpClose, 0},
        {TlsServerEnd::Hold, -1},
    };
    for (const auto& c : cases) {
        TlsServer server(answer, TlsCert::Good, c.end);
        ASSERT_TRUE(server.Ready());
        std::optional<Transport> transport = TransportOpen("localhost", server.Port(), true, 5s);
        ASSERT_TRUE(transport);
        EXPECT_EQ(Send(*transport, Get("localhost")), 1);
        auto start = Clock::now();
        Received got = ReceiveAll(*transport, 100, 2s);
        auto took = Clock::now() - start;
        TransportClose(*transport);
        EXPECT_EQ(got.bytes, answer) << static_cast<int>(c.end);
        EXPECT_EQ(got.end, c.result) << static_cast<int>(c.end);
        EXPECT_EQ(took >= 2s, c.result < 0) << static_cast<int>(c.end);
    }
}

TEST_F(Tls, ChecksTheCertificateOfEveryHandshakeInTheStream) {
    // The good certificate again proves that the client renegotiates at all.
    const std::string answer = Hello + std::string(4000, 'x');
    const struct {
        TlsCert second;
        bool whole;
    } cases[] = {{TlsCert::Good, true}, {TlsCert::UntrustedCa, false}};
    for (const auto& c : cases) {
        if (c.whole && !ClientRenegotiates()) continue;
        TlsServer server(answer, TlsCert::Good, TlsServerEnd::CloseNotify, c.second);
        ASSERT_TRUE(server.Ready());
        std::optional<Transport> transport = TransportOpen("localhost", server.Port(), true, 5s);
        ASSERT_TRUE(transport);
        EXPECT_EQ(Send(*transport, Get("localhost")), 1);
        Received got = ReceiveAll(*transport, 4096, 5s);
        TransportClose(*transport);
        EXPECT_EQ(got.bytes == answer, c.whole) << got.bytes.size();
        EXPECT_EQ(got.end, c.whole ? 0 : -1);
    }
}

TEST_F(Tls, FailsToSendToAServerThatHasGoneAndLivesOn) {
    TlsServer server(Hello, TlsCert::Good, TlsServerEnd::TcpClose);
    ASSERT_TRUE(server.Ready());
    std::optional<Transport> transport = TransportOpen("127.0.0.1", server.Port(), true, 5s);
    ASSERT_TRUE(transport);
    EXPECT_EQ(Send(*transport, Get("127.0.0.1")), 1);
    EXPECT_EQ(ReceiveAll(*transport, 4096, 5s).end, 0);
    // The closed socket answers with a reset; a plain write() would raise SIGPIPE.
    EXPECT_EQ(Send(*transport, std::string(1 << 20, 'x')), 0);
    TransportClose(*transport);
}

TEST_F(Tls, CarriesAMebibyteEachWayAndReceivesSeveralRecordsAtOnce) {
    std::string body(1 << 20, '\0');
    std::mt19937 random(11);
    for (char& byte : body)
        byte = static_cast<char>(random());
    const std::string answer = "HTTP/1.1 200 OK\r\n\r\n" + body;
    const std::string request =
        "GET / HTTP/1.1\r\nX-Pad: " + std::string(1 << 20, 'a') + "\r\n\r\n";
    TlsServer server(answer, TlsCert::Good, TlsServerEnd::TcpClose);
    ASSERT_TRUE(server.Ready());
    TransportFailure why;
    std::optional<Transport> transport = TransportOpen("localhost", server.Port(), true, 5s, &why);
    ASSERT_TRUE(transport) << "net " << static_cast<int>(why.net) << ", tls "
                           << static_cast<int>(why.tls);
    ASSERT_EQ(Send(*transport, request), 1);
    // More than two full records (16 KiB each) waiting on the socket.
    for (auto until = Clock::now() + 5s;
         NetPending(transport->connection) < 40000 && Clock::now() < until;)
        std::this_thread::sleep_for(10ms);
    std::vector<char> buffer(1 << 20);
    int64_t first = TransportReceive(*transport, buffer.data(), buffer.size(), 5s);
    EXPECT_GT(first, 16384);
    EXPECT_LE(first, 65536);
    Received rest = ReceiveAll(*transport, buffer.size(), 5s);
    TransportClose(*transport);
    EXPECT_EQ(rest.end, 0);
    EXPECT_TRUE(std::string(buffer.data(), static_cast<std::size_t>(std::max<int64_t>(first, 0))) +
                    rest.bytes ==
                answer);
    EXPECT_TRUE(server.Request() == request);
}

}  // namespace
