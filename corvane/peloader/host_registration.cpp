// Lets the host library load Windows modules: a ModuleLoader for PE files,
// registered when the program starts. This is the corvane_host_pe target,
// which the 32-bit programs that run Windows modules link.
#include "module_loader.h"
#include "host.h"

#include "pe_module.h"
#include "thread_block.h"

#include <optional>
#include <type_traits>

namespace {

static_assert(std::is_same_v<corvane::EffectMainFn, corvane::pe::ModuleMainFn>);

class PeModuleAdapter final : public corvane::LoadedModule {
public:
    explicit PeModuleAdapter(std::unique_ptr<corvane::pe::PeModule> module, std::string path)
        : module_(std::move(module)), path_(std::move(path))
    {
    }
    corvane::EffectMainFn entry() const override { return module_->entry(); }
    const std::string &path() const override { return path_; }
    // Windows code finds its thread block through %fs on every thread.
    bool runOnThread(void (*fn)(void *), void *arg) const override
    {
        std::optional<corvane::pe::ThreadBlockScope> scope;
        try {
            scope.emplace();
        } catch (const corvane::pe::PeError &) {
            return false; // no block for this thread: the others do its share
        }
        fn(arg);
        return true;
    }

private:
    std::unique_ptr<corvane::pe::PeModule> module_;
    std::string path_;
};

class PeModuleLoader final : public corvane::ModuleLoader {
public:
    const char *format() const override { return "32-bit Windows DLL"; }
    bool recognises(std::span<const uint8_t> head) const override { return corvane::pe::looksLikePe(head); }
    std::unique_ptr<corvane::LoadedModule> load(const std::string &path) const override
    {
        try {
            return std::make_unique<PeModuleAdapter>(corvane::pe::PeModule::load(path), path);
        } catch (const corvane::pe::PeError &e) {
            throw corvane::HostError(e.what());
        }
    }
};

const bool gRegistered = [] {
    corvane::registerModuleLoader(std::make_shared<PeModuleLoader>());
    return true;
}();

} // namespace
