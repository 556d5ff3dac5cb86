// The host's inner state, shared by its service files. Not installed; only
// the host library's own sources include it.
#pragma once

#include "host.h"
#include "thread_pool.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <exception>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvane {

// A block from the host's newHandle: the Handle is the address of `master`.
struct HostBlock {
    char *master = nullptr;
    std::unique_ptr<char[]> data;
    uint32_t size = 0;
};

// A world from newWorld; its key is the pixel address the record names.
struct HostWorld {
    std::unique_ptr<HostPixel[]> pixels;
    int32_t width = 0;
    int32_t height = 0;
    GWorldPtr port = nullptr; // from getWorldPort, released with the world
};

struct TableEntry {
    StringTableInfo info;
    bool open = false;
};

struct Host::Impl {
    struct Fault {
        int32_t error = 0;
        bool partial = false;
    };
    // A fault waiting for its call: `at` is the call number that fails (0:
    // none), taken by exactly one call even when pool threads race for it.
    struct Armed {
        std::atomic<int32_t> at{0};
        Fault fault;
    };

    Host *owner = nullptr;
    std::unique_ptr<LoadedModule> module;
    EffectMainFn main = nullptr;

    HostInData in{};
    HostOutData out{};
    HostUtilTable utils{};
    std::array<uint8_t, 256> drawGlobals{};

    Handle globalData = nullptr;
    std::vector<Parameter> params;
    std::vector<std::unique_ptr<Instance>> instances;
    std::vector<TableEntry> tables; // every table opened, in order

    std::array<std::atomic<int32_t>, kServiceCount> callCounts{};
    std::array<Armed, kServiceCount> armed{};
    std::unordered_map<Handle, std::unique_ptr<HostBlock>> handles;
    std::unordered_map<const HostPixel *, HostWorld> worlds;
    // Ports over worlds the host did not make (input, output): released when
    // the command that asked for them returns.
    std::vector<GWorldPtr> transientPorts;
    int32_t livePorts = 0;

    std::atomic<int32_t> cancelValue{0};
    int32_t cancelAt = 0; // checkAbort call number from which to cancel
    int32_t cancelAtValue = 1;
    ProgressFn progress;
    std::vector<std::string> misuseLog;
    // An exception from a host callback (progress) is held while the module
    // unwinds normally, and rethrown once `main` has returned.
    std::exception_ptr pending;
    int32_t mainDepth = 0; // calls into the module's `main` under way

    int32_t threads = 1;              // for per-pixel services, the calling thread included
    std::unique_ptr<ThreadPool> pool; // made by the first pass that shares its rows
    ThreadPool &workers();

    // Counts a call; returns the fault that fires on it, if any. Safe on
    // any thread.
    const Fault *hit(Service s)
    {
        const auto i = static_cast<size_t>(s);
        Armed &a = armed[i];
        int32_t at = a.at.load(std::memory_order_relaxed);
        if (at == 0) {
            count(i);
            return nullptr;
        }
        const int32_t n = callCounts[i].fetch_add(1, std::memory_order_relaxed) + 1;
        if (n == at && a.at.compare_exchange_strong(at, 0, std::memory_order_relaxed))
            return &a.fault; // stays as armed until the next failAt
        return nullptr;
    }
    int32_t calls(Service s) const { return callCounts[static_cast<size_t>(s)].load(std::memory_order_relaxed); }
    void misuse(std::string what) { misuseLog.push_back(std::move(what)); }
    void prepareOut(); // clears outFlags and returnMessage
    void releaseTransientPorts();
    void releaseEverything(); // what a module left behind, at shutdown

private:
    inline void count(size_t service);
};

// Calls that one thread makes during a pass of a per-pixel service, added to
// the host's counts when the pass ends, so that threads sharing a pass do not
// contend for one counter on every pixel.
struct CallTally {
    Host::Impl *impl = nullptr;
    EffectRef ref = nullptr; // the host's own effect reference
    std::array<int32_t, kServiceCount> counts{};
    // sampleAt's world, checked once: while the world's record still names
    // these pixels, calls sample them without checking it again. Only a
    // pass with no sampleAt fault armed keeps one.
    struct Sampling {
        const EffectWorld *world = nullptr;
        const HostPixel *data = nullptr;
        ptrdiff_t rowBytes = 0;
        uint32_t innerWidth = 0, innerHeight = 0; // columns and rows with a neighbour right and below
    } sampling;
    bool sampleFaultArmed = false;

    explicit CallTally(Host::Impl *owner);
    ~CallTally(); // adds the counts and restores the thread's previous tally
    CallTally(const CallTally &) = delete;
    CallTally &operator=(const CallTally &) = delete;

private:
    CallTally *previous;
};

// The tally of the pass this thread is working on; null outside passes.
// Reached without a call into the dynamic linker: the services read it on
// every pixel.
extern constinit thread_local CallTally *tCallTally __attribute__((tls_model("initial-exec")));

void Host::Impl::count(size_t service)
{
    CallTally *t = tCallTally;
    if (t && t->impl == this)
        ++t->counts[service];
    else
        callCounts[service].fetch_add(1, std::memory_order_relaxed);
}

// The host a service call belongs to, or null: found at once on a thread
// working on one of its passes, else looked up among the live hosts.
Host::Impl *findImpl(EffectRef ref);
inline Host::Impl *implFrom(EffectRef ref)
{
    CallTally *t = tCallTally;
    if (t && t->ref == ref)
        return t->impl;
    return findImpl(ref);
}
// For services that carry no effect reference: the host running a command,
// else the most recently created host still alive.
Host::Impl *activeImpl();
// The host holding a block or table, or null.
Host::Impl *implOwningHandle(Handle h);
TableEntry *findTable(StringTableRef ref, Host::Impl **owner);

// Fill the service slots of the records.
void installServices(Host::Impl &impl);

// Shared by formatString and its tests.
size_t formatBounded(char *dst, size_t capacity, const char *format, va_list args);
size_t copyBounded(char *dst, size_t capacity, const char *src);

} // namespace corvane
