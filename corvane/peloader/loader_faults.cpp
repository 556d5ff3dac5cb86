#include "loader_faults.h"

#include <array>
#include <atomic>

namespace corvane::pe {

namespace {

struct Counter {
    std::atomic<int32_t> calls{0};
    std::atomic<int32_t> failAt{0};
};

std::array<Counter, 3> gCounters;

Counter &counter(LoaderFault kind)
{
    return gCounters[static_cast<size_t>(kind)];
}

} // namespace

void failLoaderAt(LoaderFault kind, int32_t n)
{
    counter(kind).failAt = n == 0 ? 0 : counter(kind).calls + n;
}

void clearLoaderFaults()
{
    for (Counter &c : gCounters) {
        c.calls = 0;
        c.failAt = 0;
    }
}

int32_t loaderCalls(LoaderFault kind)
{
    return counter(kind).calls;
}

bool loaderFaultFires(LoaderFault kind)
{
    Counter &c = counter(kind);
    const int32_t call = ++c.calls;
    int32_t expected = call;
    return c.failAt.compare_exchange_strong(expected, 0);
}

} // namespace corvane::pe
