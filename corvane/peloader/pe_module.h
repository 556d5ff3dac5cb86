// A Windows effect module (Quillomark.QPX and the like) loaded for the
// host: the image bound to this host's libraries, and an entry the host
// calls like any module's `main`. Each call through the entry points %fs at
// the calling thread's block first and restores it afterwards, so the host
// can call it from any thread without knowing the module is Windows code.
#pragma once

#include "host/host_records.h"

#include "pe_image.h"

#include <memory>
#include <string>

namespace corvane::pe {

using ModuleMainFn = int32_t (*)(int32_t command, HostInData *in, HostOutData *out, ParamDef **params,
                                 EffectWorld *output);

class PeModule {
public:
    // Throws PeError: damaged or foreign file, unresolved imports, refused
    // attach, or no `main` export.
    static std::unique_ptr<PeModule> load(const std::string &path);
    ~PeModule();
    PeModule(const PeModule &) = delete;
    PeModule &operator=(const PeModule &) = delete;

    ModuleMainFn entry() const { return entry_; }
    ModuleMainFn rawMain() const { return main_; } // needs the thread block around calls
    PeImage &image() { return *image_; }

    // How many modules may be loaded at once (one entry each).
    static constexpr int kMaxLoaded = 16;

private:
    PeModule() = default;
    std::unique_ptr<PeImage> image_;
    ModuleMainFn main_ = nullptr;
    ModuleMainFn entry_ = nullptr;
    int slot_ = -1;
};

} // namespace corvane::pe
