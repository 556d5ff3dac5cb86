// The host's inner state, shared by its service files. Not installed; only
// the host library's own sources include it.
#pragma once

#include "host.h"

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
        int32_t at = 0; // call number that fails; 0: none
        int32_t error = 0;
        bool partial = false;
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

    std::array<int32_t, kServiceCount> callCounts{};
    std::array<Fault, kServiceCount> faults{};
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

    // Counts a call; returns the fault that fires on it, if any.
    const Fault *hit(Service s)
    {
        const auto i = static_cast<size_t>(s);
        ++callCounts[i];
        Fault &f = faults[i];
        if (f.at != 0 && callCounts[i] == f.at) {
            fired = f;
            f.at = 0;
            return &fired;
        }
        return nullptr;
    }
    void misuse(std::string what) { misuseLog.push_back(std::move(what)); }
    void prepareOut(); // clears outFlags and returnMessage
    void releaseTransientPorts();
    void releaseEverything(); // what a module left behind, at shutdown

private:
    Fault fired;
};

// The host a service call belongs to.
Host::Impl *implFrom(EffectRef ref);
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
