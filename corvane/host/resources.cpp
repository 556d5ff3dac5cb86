// Services that hand out resources: worlds, ports over them, host blocks.
// Each is recorded so that live() can prove a command released everything.
#include "host_impl.h"
#include "corvane1_ext.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane {
namespace {

constexpr int32_t kParamErr = -50;
constexpr int32_t kMemFullErr = -108;
constexpr uint32_t kMaxHandleSize = 1u << 28;

int16_t clamp16(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

int32_t newWorld(EffectRef ref, int32_t width, int32_t height, int32_t /*flags*/, EffectWorld *out)
{
    Host::Impl *impl = implFrom(ref);
    if (!impl || !out)
        return kParamErr;
    if (const auto *f = impl->hit(Service::NewWorld))
        return f->error;
    if (width < 0 || height < 0)
        return kParamErr;
    const int64_t count = static_cast<int64_t>(width) * height;
    if (count > kMaxWorldPixels)
        return kMemFullErr;
    HostWorld world;
    // Every new world starts zeroed, whatever the flags ask.
    const size_t pixels = static_cast<size_t>(std::max<int64_t>(count, 1));
    world.pixels.reset(new (std::nothrow) HostPixel[pixels]);
    if (!world.pixels)
        return kMemFullErr;
    std::memset(world.pixels.get(), 0, pixels * sizeof(HostPixel));
    world.width = width;
    world.height = height;
    HostPixel *data = world.pixels.get();
    try {
        impl->worlds.emplace(data, std::move(world));
    } catch (...) {
        return kMemFullErr;
    }
    std::memset(out, 0, sizeof *out);
    out->data = data;
    out->rowBytes = width * 4;
    out->width = width;
    out->height = height;
    out->extent = {0, 0, clamp16(height), clamp16(width)};
    return 0;
}

// Why the porting library refused a port (an empty world, no memory).
int32_t portError()
{
    const int16_t err = QDError();
    return err != 0 ? err : kMemFullErr;
}

int32_t getWorldPort(EffectRef ref, EffectWorld *world, void **port, void **device)
{
    if (port)
        *port = nullptr;
    if (device)
        *device = nullptr;
    Host::Impl *impl = implFrom(ref);
    if (!impl || !port || !device)
        return kParamErr;
    if (const auto *f = impl->hit(Service::GetWorldPort))
        return f->error;
    if (!world || !world->data)
        return kParamErr;
    auto it = impl->worlds.find(world->data);
    if (it != impl->worlds.end()) {
        HostWorld &w = it->second;
        if (!w.port) {
            w.port = CorvaneNewPortOnPixels(w.pixels.get(), w.width * 4, w.width, w.height);
            if (!w.port)
                return portError();
            ++impl->livePorts;
        }
        *port = w.port;
        return 0;
    }
    // A world the host did not make (the input or output): its port lasts
    // for the command.
    if (world->width < 0 || world->height < 0 ||
        std::abs(static_cast<int64_t>(world->rowBytes)) < int64_t(world->width) * 4)
        return kParamErr;
    GWorldPtr p = CorvaneNewPortOnPixels(world->data, world->rowBytes, world->width, world->height);
    if (!p)
        return portError();
    try {
        impl->transientPorts.push_back(p);
    } catch (...) {
        CorvaneDisposePort(p);
        return kMemFullErr;
    }
    ++impl->livePorts;
    *port = p;
    return 0;
}

int32_t disposeWorld(EffectRef ref, EffectWorld *world)
{
    Host::Impl *impl = implFrom(ref);
    if (!impl || !world)
        return kParamErr;
    const auto *f = impl->hit(Service::DisposeWorld);
    const int32_t injected = f ? f->error : 0;
    auto it = impl->worlds.find(world->data);
    if (it == impl->worlds.end()) {
        impl->misuse("disposeWorld: a world the host did not make, or one already released");
        return injected ? injected : kParamErr;
    }
    if (it->second.port) {
        CorvaneDisposePort(it->second.port);
        --impl->livePorts;
    }
    impl->worlds.erase(it);
    world->data = nullptr;
    world->rowBytes = world->width = world->height = 0;
    return injected;
}

Handle newHandle(uint32_t size)
{
    Host::Impl *impl = activeImpl();
    if (!impl || impl->hit(Service::NewHandle) || size > kMaxHandleSize)
        return nullptr;
    try {
        auto block = std::make_unique<HostBlock>();
        block->data.reset(new char[std::max<uint32_t>(size, 1)]());
        block->size = size;
        block->master = block->data.get();
        Handle h = &block->master;
        impl->handles.emplace(h, std::move(block));
        return h;
    } catch (...) {
        return nullptr;
    }
}

void disposeHandle(Handle h)
{
    Host::Impl *owner = implOwningHandle(h);
    if (!owner) {
        if (Host::Impl *impl = activeImpl()) {
            impl->hit(Service::DisposeHandle);
            if (h)
                impl->misuse("disposeHandle: a block the host did not hand out, or one already released");
        }
        return;
    }
    owner->hit(Service::DisposeHandle);
    owner->handles.erase(h);
}

int32_t checkAbort(EffectRef ref)
{
    Host::Impl *impl = implFrom(ref);
    if (!impl)
        return 0;
    impl->hit(Service::CheckAbort);
    if (const int32_t v = impl->cancelValue.load(std::memory_order_relaxed))
        return v;
    if (impl->cancelAt != 0 && impl->calls(Service::CheckAbort) >= impl->cancelAt) {
        // A cancel stands once reported: later checks and iterations see it too.
        impl->cancelValue.store(impl->cancelAtValue, std::memory_order_relaxed);
        return impl->cancelAtValue;
    }
    return 0;
}

} // namespace

void installResourceServices(HostInData &in, HostUtilTable &utils)
{
    in.checkAbort = checkAbort;
    utils.newWorld = newWorld;
    utils.getWorldPort = getWorldPort;
    utils.disposeWorld = disposeWorld;
    utils.newHandle = newHandle;
    utils.disposeHandle = disposeHandle;
}

void Host::Impl::releaseTransientPorts()
{
    for (GWorldPtr p : transientPorts) {
        CorvaneDisposePort(p);
        --livePorts;
    }
    transientPorts.clear();
}

void Host::Impl::releaseEverything()
{
    releaseTransientPorts();
    for (auto &[data, world] : worlds)
        if (world.port) {
            CorvaneDisposePort(world.port);
            --livePorts;
        }
    worlds.clear();
    handles.clear();
    for (auto &t : tables)
        t.open = false;
}

// ---------------------------------------------------------------------------
// World

World::World(int32_t width, int32_t height, HostPixel fill)
{
    if (width < 0 || height < 0)
        throw HostError("a world cannot have a negative size (" + std::to_string(width) + " x " +
                        std::to_string(height) + ")");
    if (static_cast<int64_t>(width) * height > kMaxWorldPixels)
        throw HostError("a world of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large");
    pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    record_.data = pixels_.data();
    record_.rowBytes = width * 4;
    record_.width = width;
    record_.height = height;
    record_.extent = {0, 0, clamp16(height), clamp16(width)};
}

World::World(World &&other) noexcept : pixels_(std::move(other.pixels_)), record_(other.record_)
{
    other.pixels_.clear();
    other.record_ = EffectWorld{};
}

World &World::operator=(World &&other) noexcept
{
    if (this != &other) {
        pixels_ = std::move(other.pixels_);
        record_ = other.record_;
        other.pixels_.clear();
        other.record_ = EffectWorld{};
    }
    return *this;
}

HostPixel &World::at(int32_t x, int32_t y)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside the " +
                                std::to_string(width()) + " x " + std::to_string(height()) + " world");
    return row(y)[x];
}

const HostPixel &World::at(int32_t x, int32_t y) const
{
    return const_cast<World *>(this)->at(x, y);
}

void World::fill(HostPixel colour)
{
    std::fill(pixels_.begin(), pixels_.end(), colour);
}

} // namespace corvane
