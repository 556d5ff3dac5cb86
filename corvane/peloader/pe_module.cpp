#include "pe_module.h"

#include "host_imports.h"
#include "thread_block.h"

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace corvane::pe {

namespace {

// The host holds a plain function pointer per module, so each loaded module
// gets one of a fixed set of entries that knows which `main` it stands for.
std::array<std::atomic<ModuleMainFn>, PeModule::kMaxLoaded> gTargets{};
std::mutex gSlotMutex;
std::array<bool, PeModule::kMaxLoaded> gSlotUsed{};

template <int N>
int32_t slotEntry(int32_t command, HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    ThreadBlockScope scope;
    return gTargets[N].load(std::memory_order_acquire)(command, in, out, params, output);
}

template <int... N> constexpr std::array<ModuleMainFn, sizeof...(N)> makeEntries(std::integer_sequence<int, N...>)
{
    return {&slotEntry<N>...};
}

constexpr auto kEntries = makeEntries(std::make_integer_sequence<int, PeModule::kMaxLoaded>{});

} // namespace

std::unique_ptr<PeModule> PeModule::load(const std::string &path)
{
    std::unique_ptr<PeModule> module(new PeModule);
    module->image_ = PeImage::load(path, HostImports::instance());
    module->main_ = reinterpret_cast<ModuleMainFn>(module->image_->findExportedCode("main"));
    if (!module->main_)
        throw PeError(path + ": not an effect module: it exports no `main`");
    std::lock_guard lock(gSlotMutex);
    for (int i = 0; i < kMaxLoaded; ++i) {
        if (gSlotUsed[i])
            continue;
        gSlotUsed[i] = true;
        gTargets[i].store(module->main_, std::memory_order_release);
        module->slot_ = i;
        module->entry_ = kEntries[i];
        return module;
    }
    throw PeError(path + ": " + std::to_string(kMaxLoaded) + " Windows modules are loaded already");
}

PeModule::~PeModule()
{
    if (slot_ >= 0) {
        std::lock_guard lock(gSlotMutex);
        gTargets[slot_].store(nullptr, std::memory_order_release);
        gSlotUsed[slot_] = false;
    }
}

} // namespace corvane::pe
