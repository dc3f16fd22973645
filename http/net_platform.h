// What each platform's sockets file (net_posix.cpp, net_win32.cpp) gives the
// portable half in net.cpp: starting up, resolving a name, connecting one
// address, reading an address literal, and trying a send or a receive once. Waiting for readiness
// is NetWaitReady of net.h. The policy built on these is written once, in net.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/net.h"

using NetClock = std::chrono::steady_clock;

// The addresses a name resolved to, in the order the system prefers.
class NetAddresses {
  public:
    virtual ~NetAddresses() = default;
    virtual std::size_t Count() const = 0;
    // Connects to address index before deadline. NoSocket when it does not,
    // with why set to what it met (TimedOut once deadline has passed).
    virtual NetSocket ConnectBefore(std::size_t index, NetClock::time_point deadline,
                                    NetOpenFailure& why) = 0;
};

// The addresses of one resolution in the platform's own list (addrinfo or
// ADDRINFOW, chained by ai_next), freed with it; connect connects one of them.
template <typename Info, void (*Free)(Info*),
          NetSocket (*Connect)(const Info&, NetClock::time_point, NetOpenFailure&)>
class NetAddressChain final : public NetAddresses {
  public:
    explicit NetAddressChain(Info* found) : found_(found) {
        for (Info* address = found; address; address = address->ai_next)
            list_.push_back(address);
    }
    ~NetAddressChain() override { Free(found_); }
    NetAddressChain(const NetAddressChain&) = delete;
    NetAddressChain& operator=(const NetAddressChain&) = delete;

    std::size_t Count() const override { return list_.size(); }
    NetSocket ConnectBefore(std::size_t index, NetClock::time_point deadline,
                            NetOpenFailure& why) override {
        return Connect(*list_[index], deadline, why);
    }

  private:
    Info* found_;
    std::vector<const Info*> list_;
};

// Whether NetStartup has succeeded (and NetShutdown has not come since).
bool NetPlatformStarted();

// The addresses of host (not empty, no NUL) at port (1 to 65535); nullptr, with
// why NotResolved when the name has no address, else Other.
std::unique_ptr<NetAddresses> NetResolve(const std::string& host, int port, NetOpenFailure& why);

// The bytes of text as an IPv4 (4) or IPv6 (16) address literal, without
// brackets; 0 when it is not one, as a name is not.
std::size_t NetAddressOf(const std::string& text, unsigned char (&bytes)[16]);

// What one try of a send or a receive gave besides a count of bytes.
inline constexpr int64_t NetFailed = -1;
inline constexpr int64_t NetWouldBlock = -2;

// Sends what the socket takes at once of length bytes of data (at least one):
// the count sent, NetWouldBlock, or NetFailed.
int64_t NetTrySend(NetConnection& connection, const char* data, std::size_t length);

// Receives what has arrived, up to max_length (at least one) bytes: the count,
// 0 when the peer has closed, NetWouldBlock, or NetFailed.
int64_t NetTryReceive(NetConnection& connection, char* buffer, std::size_t max_length);

// The address loop of NetOpen: each address in turn, until one connects or
// deadline passes. Each gets an equal share of the time left, the last one all
// of it, so that an address that swallows packets leaves time for the others.
// Nothing, with why, when none connects: what the last one tried met, or
// TimedOut once deadline has passed.
std::optional<NetConnection> NetConnectAny(NetAddresses& addresses, NetClock::time_point deadline,
                                           NetOpenFailure& why);
