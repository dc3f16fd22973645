// A web server that nobody here wrote: python3's http.server, as a child
// process. POSIX only: under Wine a Unix child cannot be stopped by the test.
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

// "python3 -m http.server" serving directory on a free port of 127.0.0.1,
// stopped when the object goes out of scope.
class PythonWebServer {
  public:
    explicit PythonWebServer(const std::string& directory);
    ~PythonWebServer();
    PythonWebServer(const PythonWebServer&) = delete;
    PythonWebServer& operator=(const PythonWebServer&) = delete;

    // Waits up to 10 seconds for the server to take connections; false when it
    // could not be started, died, or never did.
    bool Ready();
    // "http://127.0.0.1:<port>/" followed by path.
    std::string Url(std::string_view path) const;

  private:
    int port_ = 0;
    pid_t pid_ = -1;
};
