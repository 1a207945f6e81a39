#pragma once

// FUZZ_CHECK(condition): a property of a fuzz target. When it does not hold,
// says which one on standard error and aborts, which libFuzzer and the
// replay program both report as a finding.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
