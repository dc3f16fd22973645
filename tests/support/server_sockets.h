// The socket work that the test servers share: a listening socket on a free
// loopback port, reading one request, sending an answer, and a wake-up signal
// that tells a server's thread to stop. The waits are written once
// (server_sockets.cpp) over each platform's primitives (server_sockets_*.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A POSIX file descriptor or a Winsock SOCKET; an invalid SOCKET is -1 here too.
using ServerSocket = std::intptr_t;
inline constexpr ServerSocket NoServerSocket = -1;

// Tells a server's thread to stop: once signalled, every wait below that is
// given it returns within one slice, at once where the platform's wait sees
// the signal. The platform's own pipe, or a socket pair where only sockets
// can be waited on together.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool IsOpen() const { return read_ != NoServerSocket; }
    // False, with a test failure naming who, when it could not be sent.
    bool Signal(std::string_view who);
    bool Signalled() const { return signalled_.load(); }
    std::intptr_t Handle() const { return read_; }

  private:
    std::atomic<bool> signalled_{false};
    std::intptr_t read_ = NoServerSocket;
    std::intptr_t write_ = NoServerSocket;
};

// A non-blocking socket listening on 127.0.0.1 (or ::1) at a port the system
// chose, which goes to port; NoServerSocket, and a test failure naming who,
// when that is impossible. Starts the platform's socket library when it needs
// starting.
ServerSocket ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6 = false);

// Whether this machine has the IPv6 loopback address.
bool HaveIpv6Loopback();

// A listener on 127.0.0.1 whose queue is already full: the system drops new
// handshakes, so only a client's own time limit ends its connect. Both sockets
// go to the caller, to close; false when it cannot be set up.
bool ListenWithFullQueue(int& port, ServerSocket& listener, ServerSocket& filler);

// The waits below never trust one readiness report: they wait in slices and
// try the socket itself after each, since Wine's WSAPoll has been seen to
// sleep through a waiting connection and a signalled wake alike.

// The next connection on listener, non-blocking, with Nagle's delay off; waits
// for it until wake is signalled, and then gives NoServerSocket.
ServerSocket AcceptUnlessWoken(ServerSocket listener, const WakeSignal& wake);

// Accepts and closes every connection that waits on listener now, without
// waiting for more; returns how many there were.
int CloseWaitingClients(ServerSocket listener);

// The bytes the client sent up to its empty line (at most 64 KiB, waiting at
// most 5 seconds, or until wake is signalled).
std::string ReceiveRequest(ServerSocket socket, const WakeSignal& wake);

// Sends all of bytes; stops quietly once the client has gone or wake is
// signalled, since the test judges what the client got.
void SendAll(ServerSocket socket, std::string_view bytes, const WakeSignal& wake);

// Reads and drops whatever the client still sends until it closes, or wake is
// signalled.
void DrainUntilClosed(ServerSocket socket, const WakeSignal& wake);

// Waits pause (negative: without limit) unless wake is signalled; false when
// it was, that is when the server was told to stop.
bool PauseUnlessWoken(const WakeSignal& wake, std::chrono::milliseconds pause);

// Closes socket with FIN, or with reset, a TCP RST at once.
void CloseServerSocket(ServerSocket socket, bool reset = false);

// Each platform's primitives under the waits above. None of them blocks but
// WaitSlice, and that for at most its slice.

// A waiting connection, set up as AcceptUnlessWoken says; NoServerSocket when none.
ServerSocket TryAccept(ServerSocket listener);
// Bytes read (> 0), 0 once the client closed, -1 when nothing is there yet,
// -2 when the connection broke.
int64_t TryReceive(ServerSocket socket, char* buffer, std::size_t size);
// Bytes sent (> 0), -1 when the send buffer is full, -2 when the client is gone.
int64_t TrySend(ServerSocket socket, std::string_view bytes);
// Returns when socket may be read (or written, with forWrite), when wake is
// signalled, or after slice, whichever comes first.
void WaitSlice(ServerSocket socket, bool forWrite, const WakeSignal& wake,
               std::chrono::milliseconds slice);
