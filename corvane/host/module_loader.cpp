#include "module_loader.h"
#include "host.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace corvane {
namespace {

class ElfModule final : public LoadedModule {
public:
    ElfModule(void *handle, std::string path, EffectMainFn entry)
        : handle_(handle), path_(std::move(path)), entry_(entry)
    {
    }
    ~ElfModule() override { dlclose(handle_); }
    EffectMainFn entry() const override { return entry_; }
    const std::string &path() const override { return path_; }

private:
    void *handle_;
    std::string path_;
    EffectMainFn entry_;
};

// dlsym also searches the module's dependencies; a `main` found there is not
// the module's own.
bool definedByModule(void *handle, void *symbol)
{
    Dl_info info{};
    struct link_map *map = nullptr;
    if (dladdr(symbol, &info) == 0 || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return false;
    return reinterpret_cast<ElfW(Addr)>(info.dli_fbase) == map->l_addr;
}

class ElfLoader final : public ModuleLoader {
public:
    const char *format() const override { return "ELF shared object"; }
    bool recognises(std::span<const uint8_t> head) const override
    {
        return head.size() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
    }
    std::unique_ptr<LoadedModule> load(const std::string &path) const override
    {
        // A bare name would make dlopen search the library path instead.
        const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
        void *handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            throw HostError(path + ": cannot be loaded as a module: " + (why ? why : "unknown loader error"));
        }
        dlerror();
        void *symbol = dlsym(handle, "main");
        if (!symbol || !definedByModule(handle, symbol)) {
            dlclose(handle);
            throw HostError(path + ": not an effect module: it exports no `main`");
        }
        return std::make_unique<ElfModule>(handle, path, reinterpret_cast<EffectMainFn>(symbol));
    }
};

std::vector<std::shared_ptr<ModuleLoader>> &loaders()
{
    static std::vector<std::shared_ptr<ModuleLoader>> list{std::make_shared<ElfLoader>()};
    return list;
}

} // namespace

void registerModuleLoader(std::shared_ptr<ModuleLoader> loader)
{
    if (loader)
        loaders().push_back(std::move(loader));
}

std::unique_ptr<LoadedModule> loadModule(const std::string &path)
{
    if (path.empty())
        throw HostError("no module path given");
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw HostError("module not found: " + path);
        throw HostError(path + ": cannot open module: " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode))
        throw HostError(path + ": not a module file (a directory or device)");

    std::vector<uint8_t> head(512);
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw HostError(path + ": cannot open module: " + std::strerror(errno));
    file.read(reinterpret_cast<char *>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(file.gcount()));

    auto &list = loaders();
    std::string known;
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if ((*it)->recognises(head))
            return (*it)->load(path);
        known += known.empty() ? "" : ", ";
        known += (*it)->format();
    }
    throw HostError(path + ": not a module this host can load (expected: " + known + ")");
}

} // namespace corvane
