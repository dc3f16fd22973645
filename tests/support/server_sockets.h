// The socket work that the test servers share: a listening socket on a free
// loopback port, reading one request, sending an answer, and waiting on a
// wake-up pipe that tells a server's thread to stop.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

// A socket listening on 127.0.0.1 (or ::1) at a port the system chose, which
// goes to port; -1, and a test failure naming who, when that is impossible.
int ListenOnLoopback(int& port, int backlog, std::string_view who, bool ipv6 = false);

// Whether this machine has the IPv6 loopback address.
bool HaveIpv6Loopback();

// The bytes the client sent up to its empty line (at most 64 KiB, waiting at
// most 5 seconds), with Nagle's delay switched off for the answer.
std::string ReceiveRequest(int fd);

// Sends all of bytes; stops quietly once the client has gone, since the test
// judges what the client got.
void SendAll(int fd, std::string_view bytes);

// Waits pause (negative: without limit) unless wake_fd becomes readable;
// false when it did, that is when the server was told to stop.
bool PauseUnlessWoken(int wake_fd, std::chrono::milliseconds pause);
