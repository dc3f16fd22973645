// Downloads one URL with FetchHttpFile and prints how long it took and the
// process's peak memory, for bench/run_fetch_bench.sh to compare. With TRIES,
// fetches again after each failure, as the periodic checks would, up to TRIES
// times in all (for bench/resume_bench.sh), saying why each one ended.
#include <sys/resource.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "http/fetch.h"
#include "http/net.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s URL PATH [TRIES]\n", argv[0]);
        return 2;
    }
    int tries = argc == 4 ? std::atoi(argv[3]) : 1;
    NetStartup();
    auto start = std::chrono::steady_clock::now();
    int result = 0;
    int fetches = 0;
    while (result == 0 && fetches < tries) {
        FetchReport report;
        result = FetchHttpFile(argv[1], argv[2], nullptr, &report);
        ++fetches;
        if (tries > 1)
            std::printf("fetch %d: %s\n", fetches, result ? "done" : report.failure.c_str());
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    NetShutdown();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result=%d seconds=%.3f peak_kib=%ld fetches=%d\n", result, took.count(),
                usage.ru_maxrss, fetches);
    return result == 1 ? 0 : 1;
}
