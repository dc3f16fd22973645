// Downloads one URL with FetchHttpFile and prints how long it took and the
// process's peak memory, for bench/run_fetch_bench.sh to compare.
#include <sys/resource.h>
#include <chrono>
#include <cstdio>

#include "http/fetch.h"
#include "http/net.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL PATH\n", argv[0]);
        return 2;
    }
    NetStartup();
    auto start = std::chrono::steady_clock::now();
    int result = FetchHttpFile(argv[1], argv[2]);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    NetShutdown();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result=%d seconds=%.3f peak_kib=%ld\n", result, took.count(), usage.ru_maxrss);
    return result == 1 ? 0 : 1;
}
