// What every fuzz target uses to report a broken promise: a message and an
// abort, which libFuzzer records as a finding with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                          \
    do                                                                                                 \
    {                                                                                                  \
        if (!(condition))                                                                              \
        {                                                                                              \
            std::fprintf(stderr, "broken promise at %s:%d: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                              \
        }                                                                                              \
    } while (0)
