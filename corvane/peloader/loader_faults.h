// Fault injection for what the loader acquires itself, so tests can prove
// that every failure path gives a clean error and releases what was taken:
// the image's mappings, its page protections, and the memory and TLS slots
// its runtime shims hand out (malloc, calloc, realloc, TlsAlloc) or an
// image's static TLS takes. Process-wide; tests set and clear them.
#pragma once

#include <cstdint>

namespace corvane::pe {

enum class LoaderFault {
    Mapping,    // mmap of an image
    Protection, // mprotect of image pages, at load or through VirtualProtect
    Allocation, // the runtime shims' allocations and TLS slots
};

// The Nth acquisition of that kind from now fails, once (1-based; 0 clears).
void failLoaderAt(LoaderFault kind, int32_t n);
void clearLoaderFaults();
// Acquisitions of that kind since the last clear.
int32_t loaderCalls(LoaderFault kind);

// Counts one acquisition; true when it is the one to fail.
bool loaderFaultFires(LoaderFault kind);

} // namespace corvane::pe
