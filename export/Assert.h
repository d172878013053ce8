#pragma once
// Internal invariants of the export model and the bridge. They hold for
// every input; when one does not, the process stops at once with
// "Assertion failed", in every build type (unlike <cassert>).

#include <cstdio>
#include <cstdlib>

#define HARMONODE_ASSERT(condition)                                                                    \
    do {                                                                                               \
        if (!(condition)) {                                                                            \
            std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);   \
            std::abort();                                                                              \
        }                                                                                              \
    } while (false)
