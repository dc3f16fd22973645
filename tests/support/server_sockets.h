// The socket work that the test servers share: a listening socket on a free
// loopback port, reading one request, sending an answer, and a wake-up signal
// that tells a server's thread to stop. One file per platform implements it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// A POSIX file descriptor or a Winsock SOCKET; an invalid SOCKET is -1 here too.
using ServerSocket = std::intptr_t;
inline constexpr ServerSocket NoServerSocket = -1;

// Tells a server's thread to stop: once signalled, every wait below that is
// given it returns at once. The platform's own pipe, or a socket pair where
// only sockets can be waited on together.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool IsOpen() const { return read_ != NoServerSocket; }
    // False, with a test failure naming who, when it could not be sent.
    bool Signal(std::string_view who);
    std::intptr_t Handle() const { return read_; }

  private:
    std::intptr_t read_ = NoServerSocket;
    std::intptr_t write_ = NoServerSocket;
};

// A socket listening on 127.0.0.1 (or ::1) at a port the system chose, which
// goes to port; NoServerSocket, and a test failure naming who, when that is
// impossible. Starts the platform's socket library when it needs starting.
ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6 = false);

// Whether this machine has the IPv6 loopback address.
bool HaveIpv6Loopback();

// Whether a connection to port on 127.0.0.1 is accepted now.
bool AcceptsConnections(int port);

// A listener on 127.0.0.1 whose queue is already full: the system drops new
// handshakes, so only a client's own time limit ends its connect. Both sockets
// go to the caller, to close; false when it cannot be set up.
bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler);

// Waits, without limit, until socket has something to read (a connection, for
// a listener) or wake is signalled. True for the socket; false when woken or
// on an error.
bool WaitReadable(ServerSocket socket, const WakeSignal& wake);

// The next connection on listener; NoServerSocket on failure.
ServerSocket AcceptClient(ServerSocket listener);

// Accepts and closes every connection that waits on listener now, without
// waiting for more; returns how many there were.
int CloseWaitingClients(ServerSocket listener);

// The bytes the client sent up to its empty line (at most 64 KiB, waiting at
// most 5 seconds), with Nagle's delay switched off for the answer.
std::string ReceiveRequest(ServerSocket socket);

// Sends all of bytes; stops quietly once the client has gone, since the test
// judges what the client got.
void SendAll(ServerSocket socket, std::string_view bytes);

// Reads and drops whatever the client still sends until it closes, or wake is
// signalled.
void DrainUntilClosed(ServerSocket socket, const WakeSignal& wake);

// Waits pause (negative: without limit) unless wake is signalled; false when
// it was, that is when the server was told to stop.
bool PauseUnlessWoken(const WakeSignal& wake, std::chrono::milliseconds pause);

// Closes socket with FIN, or with reset, a TCP RST at once.
void CloseServerSocket(ServerSocket socket, bool reset = false);
