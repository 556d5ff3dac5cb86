// Loading an effect module by path: the one step that differs between module
// formats. A loader recognises its format from the file's first bytes, maps
// the module and hands back its `main`; the host never needs more than that.
#pragma once

#include "host/host_records.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace corvane {

// The module's exported `main`: (command, in, out, params, output) -> error.
// cdecl with 32-bit argument slots on 32-bit x86, as every module format uses.
using EffectMainFn = int32_t (*)(int32_t command, HostInData *in, HostOutData *out, ParamDef **params,
                                 EffectWorld *output);

// A module mapped into the process. Destroying it unloads the module.
class LoadedModule {
public:
    virtual ~LoadedModule() = default;
    virtual EffectMainFn entry() const = 0;
    virtual const std::string &path() const = 0;
    // Runs fn(arg) on the calling thread, set up to call the module's code
    // (its pixel functions) from a thread other than the one calling `main`.
    // False when this thread cannot be set up; fn has not run then.
    virtual bool runOnThread(void (*fn)(void *), void *arg) const
    {
        fn(arg);
        return true;
    }
};

class ModuleLoader {
public:
    virtual ~ModuleLoader() = default;
    // A short name for messages ("ELF shared object").
    virtual const char *format() const = 0;
    // Whether the file starting with these bytes is this loader's format.
    virtual bool recognises(std::span<const uint8_t> head) const = 0;
    // Maps the module; throws HostError with a clear message on any failure
    // (damaged file, missing dependency, no `main`).
    virtual std::unique_ptr<LoadedModule> load(const std::string &path) const = 0;
};

// Adds a loader; later registrations are tried first. The ELF loader for the
// platform's own shared objects is always present.
void registerModuleLoader(std::shared_ptr<ModuleLoader> loader);

// Loads the module at `path` with the loader that recognises it; throws
// HostError when the file is missing, unreadable, of no known format, or
// the loader refuses it.
std::unique_ptr<LoadedModule> loadModule(const std::string &path);

} // namespace corvane
