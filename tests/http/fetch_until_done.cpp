// Fetches one URL again after each failure, as the periodic checks would, up to
// TRIES times, and prints why each try ended; for nginx_resume_test.py.
//   fetch_until_done URL PATH TRIES
#include <cstdio>
#include <cstdlib>

#include "http/fetch.h"
#include "http/net.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s URL PATH TRIES\n", argv[0]);
        return 2;
    }
    if (!NetStartup()) return 2;
    int tries = std::atoi(argv[3]);
    int result = 0;
    for (int fetch = 1; result == 0 && fetch <= tries; ++fetch) {
        FetchReport report;
        result = FetchHttpFile(argv[1], argv[2], nullptr, &report);
        std::printf("fetch %d: %s\n", fetch, result ? "done" : report.failure.c_str());
    }
    NetShutdown();
    return result == 1 ? 0 : 1;
}
