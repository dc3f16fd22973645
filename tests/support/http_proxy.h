// An HTTP proxy on loopback for tests: tests/support/http_proxy.py, Python's
// sockets and not our code, run as a child process the way TlsServer runs its
// script, on Linux and, as a Unix process, under Wine. It listens on 127.0.0.1
// (and ::1) at one free port, sends requests in absolute form on to their
// origin, opens CONNECT tunnels, and can demand Basic credentials or refuse
// every CONNECT. Every request it receives is logged for the test to read.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/tls_server.h"

// Every field has its default, so that a test names only those it sets
// ({.refuse_connect = 403}) without a warning.
struct HttpProxyOptions {
    // With a user, a request without these Basic credentials in its
    // Proxy-Authorization gets "407 Proxy Authentication Required" and the
    // connection closes.
    std::string user = "";
    std::string password = "";
    // When not 0, every CONNECT gets this status ("<status> Refused") instead
    // of a tunnel.
    int refuse_connect = 0;
};

class HttpProxy {
  public:
    explicit HttpProxy(HttpProxyOptions options = {});
    HttpProxy(const HttpProxy&) = delete;
    HttpProxy& operator=(const HttpProxy&) = delete;

    // Waits up to 10 seconds for the proxy to listen; false when it never does.
    bool Ready() { return server_.Ready(); }
    int Port() const { return server_.Port(); }
    // "http://127.0.0.1:<port>"; with_credentials puts the options' user and
    // password, percent-encoded, before the host.
    std::string Url(bool with_credentials = false) const;
    // The requests received so far, in order, each as its request line, a tab,
    // and its Proxy-Authorization value or "-".
    std::vector<std::string> Requests() const;
    // The first error the proxy met, such as an origin it could not reach; ""
    // when none.
    std::string Error() const;

  private:
    HttpProxyOptions options_;
    TempDir dir_;       // the proxy's log
    TlsServer server_;  // the running script, stopped before dir_ goes
};
