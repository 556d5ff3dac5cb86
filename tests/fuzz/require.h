// A property every fuzz input must keep: when it breaks, say which and abort,
// so the fuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace qmtest {

inline void require(bool held, const char *what)
{
    if (!held) {
        std::fprintf(stderr, "fault: %s\n", what);
        std::abort();
    }
}

} // namespace qmtest
