// What every fuzz target uses to report a broken property: a message naming
// the property and an abort, which libFuzzer records as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzFailure(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}

#define FUZZ_CHECK(property) \
    ((property) ? static_cast<void>(0) : FuzzFailure(#property, __FILE__, __LINE__))
