#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "http/net_platform.h"

using namespace std::chrono_literals;

namespace {

// An address as the fake sees it: what connecting to it meets, and whether it
// holds on until its share of the time is spent, as one that swallows packets does.
struct FakeAddress {
    NetOpenFailure meets;  // None: it connects
    bool swallows = false;
};

class FakeAddresses final : public NetAddresses {
  public:
    explicit FakeAddresses(std::vector<FakeAddress> list) : list_(std::move(list)) {}
    std::size_t Count() const override { return list_.size(); }
    NetSocket ConnectBefore(std::size_t index, NetClock::time_point deadline,
                            NetOpenFailure& why) override {
        shares.push_back(deadline - NetClock::now());
        if (list_[index].swallows) std::this_thread::sleep_until(deadline);
        if (list_[index].meets == NetOpenFailure::None) return static_cast<NetSocket>(100 + index);
        why = list_[index].meets;
        return NoSocket;
    }
    std::vector<NetClock::duration> shares;  // the time each address tried was given

  private:
    std::vector<FakeAddress> list_;
};

TEST(NetConnectAny, TriesEachAddressInItsShareOfTheTimeLeft) {
    using F = NetOpenFailure;
    const struct {
        const char* name;
        std::vector<FakeAddress> addresses;
        std::chrono::milliseconds limit;
        NetSocket connected;         // NoSocket: none connects
        F why;                       // what NetConnectAny then says
        std::vector<double> shares;  // of the limit, for each address tried
    } cases[] = {
        // clang-format off
        {"first connects", {{F::None}, {F::None}}, 9s, 100, F::None, {0.5}},
        {"refused: next", {{F::Refused}, {F::None}}, 9s, 101, F::None, {0.5, 1.0}},
        {"last one names it", {{F::Refused}, {F::Unreachable}, {F::Refused}}, 9s, NoSocket,
            F::Refused, {1.0 / 3, 0.5, 1.0}},
        {"host unreachable", {{F::Unreachable}, {F::Unreachable}}, 9s, NoSocket, F::Unreachable,
            {0.5, 1.0}},
        // One that swallows its half leaves the other half to the next.
        {"silent: next", {{F::TimedOut, true}, {F::None}}, 1s, 101, F::None, {0.5, 0.5}},
        {"all silent", {{F::TimedOut, true}, {F::TimedOut, true}}, 1s, NoSocket, F::TimedOut,
            {0.5, 0.5}},
        {"no time: none tried", {{F::None}}, 0ms, NoSocket, F::TimedOut, {}},
        {"no address", {}, 9s, NoSocket, F::Other, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        FakeAddresses addresses(c.addresses);
        NetOpenFailure why = NetOpenFailure::None;
        std::optional<NetConnection> connection =
            NetConnectAny(addresses, NetClock::now() + c.limit, why);
        EXPECT_EQ(connection ? connection->socket : NoSocket, c.connected) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
        ASSERT_EQ(addresses.shares.size(), c.shares.size()) << c.name;
        for (std::size_t i = 0; i < c.shares.size(); ++i) {
            auto expected = std::chrono::duration<double>(c.limit) * c.shares[i];
            EXPECT_NEAR(std::chrono::duration<double>(addresses.shares[i]).count(),
                        expected.count(), 0.1 + 0.1 * expected.count())
                << c.name << ", address " << i;
        }
    }
}

// What cannot be connected is refused before any name is looked up.
TEST(NetOpen, RefusesWhatCannotBeConnected) {
    ASSERT_EQ(NetStartup(), 1);
    for (auto [host, port] : {std::pair<std::string, int>{"127.0.0.1", 0},
                              {"127.0.0.1", 65536},
                              {"", 80},
                              {std::string("127.0.0.1\0.evil", 15), 80}}) {
        NetOpenFailure why = NetOpenFailure::None;
        EXPECT_FALSE(NetOpen(host, port, 1s, &why)) << host << ":" << port;
        EXPECT_EQ(why, NetOpenFailure::Other) << host << ":" << port;
    }
    NetShutdown();
    NetOpenFailure why = NetOpenFailure::None;
    EXPECT_FALSE(NetOpen("127.0.0.1", 80, 1s, &why));
    EXPECT_EQ(why, NetOpenFailure::Other);
}

}  // namespace
