// The host application: module, records, lifecycle and accounting.
#include "host_impl.h"
#include "corvane1_ext.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <ostream>

namespace corvane {

void installPixelServices(HostUtilTable &utils);
void installResourceServices(HostInData &in, HostUtilTable &utils);
void installStringServices(HostInData &in, HostUtilTable &utils);
void installParamServices(HostInData &in);

namespace {

constexpr size_t kPatternOffset = 118;

// Every host alive, oldest first, and the hosts inside `main` (one thread of
// control, as the host contract has it; nested only if a module re-enters).
// Made on first use and never destroyed, so hosts living in static storage
// find them whatever the order of construction and destruction. Services
// may run on pool threads while another thread makes or ends a host, so the
// lists are read and changed under one lock.
struct Registry {
    std::mutex mutex;
    std::vector<Host::Impl *> hosts;
    std::vector<Host::Impl *> running;
};
Registry &registry()
{
    static auto *r = new Registry;
    return *r;
}

} // namespace

constinit thread_local CallTally *tCallTally __attribute__((tls_model("initial-exec"))) = nullptr;

CallTally::CallTally(Host::Impl *owner)
    : impl(owner), ref(reinterpret_cast<EffectRef>(owner)),
      sampleFaultArmed(owner->armed[static_cast<size_t>(Service::SampleAt)].at.load(std::memory_order_relaxed) != 0),
      previous(tCallTally)
{
    tCallTally = this;
}

CallTally::~CallTally()
{
    tCallTally = previous;
    for (size_t i = 0; i < counts.size(); ++i)
        if (counts[i])
            impl->callCounts[i].fetch_add(counts[i], std::memory_order_relaxed);
}

ThreadPool &Host::Impl::workers()
{
    if (!pool || pool->threads() != threads)
        pool = std::make_unique<ThreadPool>(threads, *module);
    return *pool;
}

Host::Impl *findImpl(EffectRef ref)
{
    auto *p = reinterpret_cast<Host::Impl *>(ref);
    std::lock_guard lock(registry().mutex);
    for (Host::Impl *h : registry().hosts)
        if (h == p)
            return p;
    return nullptr;
}

Host::Impl *activeImpl()
{
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.running.empty())
        return r.running.back();
    return r.hosts.empty() ? nullptr : r.hosts.back();
}

Host::Impl *implOwningHandle(Handle h)
{
    if (!h)
        return nullptr;
    std::lock_guard lock(registry().mutex);
    for (Host::Impl *impl : registry().hosts)
        if (impl->handles.count(h))
            return impl;
    return nullptr;
}

TableEntry *findTable(StringTableRef ref, Host::Impl **owner)
{
    std::lock_guard lock(registry().mutex);
    for (Host::Impl *impl : registry().hosts)
        for (TableEntry &t : impl->tables)
            if (t.info.ref == ref) {
                *owner = impl;
                return &t;
            }
    *owner = nullptr;
    return nullptr;
}

void installServices(Host::Impl &impl)
{
    std::memset(&impl.in, 0, sizeof impl.in);
    std::memset(&impl.out, 0, sizeof impl.out);
    std::memset(&impl.utils, 0, sizeof impl.utils);
    installParamServices(impl.in);
    installStringServices(impl.in, impl.utils);
    installResourceServices(impl.in, impl.utils);
    installPixelServices(impl.utils);
    impl.in.utils = &impl.utils;
    impl.in.effectRef = reinterpret_cast<EffectRef>(&impl);
    impl.in.quality = 1;
    impl.in.downsampleXNum = impl.in.downsampleYNum = 1;
    impl.in.downsampleXDen = impl.in.downsampleYDen = 1;
    // Only the erase pattern is white (all zero); everything around it is
    // set, so a drawing that takes the wrong bytes shows at once.
    impl.drawGlobals.fill(0xFF);
    std::fill_n(impl.drawGlobals.begin() + kPatternOffset, 8, 0);
    impl.in.drawGlobals = impl.drawGlobals.data();
}

void Host::Impl::prepareOut()
{
    out.outFlags = 0;
    std::memset(out.returnMessage, 0, sizeof out.returnMessage);
}

std::ostream &operator<<(std::ostream &os, const LiveCounts &c)
{
    return os << "{hostHandles " << c.hostHandles << ", worlds " << c.worlds << ", ports " << c.ports
              << ", stringTables " << c.stringTables << ", portingHandles " << c.portingHandles << ", portingLocks "
              << c.portingLocks << ", offscreens " << c.offscreens << ", portingPorts " << c.portingPorts << "}";
}

// ---------------------------------------------------------------------------
// Host

Host::Host(const std::string &modulePath, int32_t threads) : impl_(std::make_unique<Impl>())
{
    impl_->owner = this;
    impl_->module = loadModule(modulePath);
    impl_->main = impl_->module->entry();
    installServices(*impl_);
    setThreads(threads);
    std::lock_guard lock(registry().mutex);
    registry().hosts.push_back(impl_.get());
}

Host::~Host()
{
    try {
        for (auto it = impl_->instances.rbegin(); it != impl_->instances.rend(); ++it)
            if ((*it)->hasRecord())
                (*it)->teardown();
        impl_->instances.clear();
        if (impl_->globalData)
            globalTeardown();
    } catch (...) {
        // A destructor has no one to report to; what is left is released below.
    }
    impl_->releaseEverything();
    {
        Registry &r = registry();
        std::lock_guard lock(r.mutex);
        r.hosts.erase(std::remove(r.hosts.begin(), r.hosts.end(), impl_.get()), r.hosts.end());
    }
    impl_->pool.reset(); // its threads may hold the module's per-thread state
    impl_->module.reset();
}

int32_t Host::callMain(int32_t cmd, ParamDef **params, EffectWorld *output)
{
    Registry &r = registry();
    {
        std::lock_guard lock(r.mutex);
        r.running.push_back(impl_.get());
    }
    ++impl_->mainDepth;
    const int32_t result = impl_->main(cmd, &impl_->in, &impl_->out, params, output);
    --impl_->mainDepth;
    {
        std::lock_guard lock(r.mutex);
        r.running.pop_back();
    }
    impl_->releaseTransientPorts();
    if (impl_->pending) {
        std::exception_ptr e = impl_->pending;
        impl_->pending = nullptr;
        std::rethrow_exception(e);
    }
    return result;
}

int32_t Host::command(int32_t cmd, Handle sequence, ParamDef **params, EffectWorld *output)
{
    impl_->in.sequenceData = sequence;
    impl_->out.sequenceData = sequence;
    impl_->in.globalData = impl_->globalData;
    impl_->out.globalData = impl_->globalData;
    const int32_t result = callMain(cmd, params, output);
    impl_->globalData = impl_->out.globalData;
    return result;
}

EffectMainFn Host::entry() const
{
    return impl_->main;
}
HostInData &Host::in()
{
    return impl_->in;
}
HostOutData &Host::out()
{
    return impl_->out;
}

std::string Host::message() const
{
    const char *m = impl_->out.returnMessage;
    return std::string(m, strnlen(m, sizeof impl_->out.returnMessage));
}

int32_t Host::globalSetup()
{
    impl_->prepareOut();
    return command(CmdGlobalSetup, nullptr);
}

int32_t Host::globalTeardown()
{
    impl_->prepareOut();
    return command(CmdGlobalTeardown, nullptr);
}

bool Host::globalRegistered() const
{
    return impl_->globalData != nullptr;
}

int32_t Host::paramSetup()
{
    impl_->params.clear();
    impl_->prepareOut();
    return command(CmdParamSetup, nullptr);
}

std::string Host::about()
{
    impl_->prepareOut();
    command(CmdAbout, nullptr);
    return message();
}

const std::vector<Parameter> &Host::parameters() const
{
    return impl_->params;
}

const Parameter *Host::parameter(std::string_view name) const
{
    for (const Parameter &p : impl_->params)
        if (p.name == name)
            return &p;
    return nullptr;
}

const Parameter &Host::parameterOfType(int32_t type) const
{
    for (const Parameter &p : impl_->params)
        if (p.type == type)
            return p;
    std::string what = "type " + std::to_string(type);
    switch (type) {
    case kParamSlider:
        what = "slider";
        break;
    case kParamPoint:
        what = "point";
        break;
    case kParamColor:
        what = "colour";
        break;
    case kParamCheckbox:
        what = "check box";
        break;
    }
    throw HostError("the module registered no " + what + " parameter (run paramSetup first)");
}

RenderSettings Host::defaultSettings() const
{
    RenderSettings s;
    s.size = parameterOfType(kParamSlider).sliderDefault;
    const Parameter &position = parameterOfType(kParamPoint);
    s.x = position.defaultX;
    s.y = position.defaultY;
    s.colour = parameterOfType(kParamColor).defaultColour;
    s.composite = parameterOfType(kParamCheckbox).defaultOn;
    return s;
}

std::vector<StringTableInfo> Host::stringTables() const
{
    std::vector<StringTableInfo> open;
    for (const TableEntry &t : impl_->tables)
        if (t.open)
            open.push_back(t.info);
    return open;
}

const StringTableInfo *Host::lastStringTable() const
{
    return impl_->tables.empty() ? nullptr : &impl_->tables.back().info;
}

Instance &Host::newInstance()
{
    impl_->instances.push_back(std::unique_ptr<Instance>(new Instance(*this)));
    return *impl_->instances.back();
}

void Host::removeInstance(Instance &instance)
{
    auto &list = impl_->instances;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto &p) { return p.get() == &instance; });
    if (it == list.end())
        throw HostError("removeInstance: not an instance of this host");
    if (instance.hasRecord())
        instance.teardown();
    list.erase(it);
}

void Host::cancelAtCheck(int32_t n, int32_t value)
{
    if (n < 1)
        throw HostError("cancelAtCheck: the call number counts from 1");
    impl_->cancelAt = impl_->calls(Service::CheckAbort) + n;
    impl_->cancelAtValue = value ? value : 1;
}

void Host::requestCancel(int32_t value)
{
    impl_->cancelValue.store(value ? value : 1, std::memory_order_relaxed);
}

void Host::clearCancel()
{
    impl_->cancelValue.store(0, std::memory_order_relaxed);
    impl_->cancelAt = 0;
}

void Host::setProgress(ProgressFn fn)
{
    impl_->progress = std::move(fn);
}

void Host::setThreads(int32_t threads)
{
    if (threads < 0 || threads > kMaxThreads)
        throw HostError("setThreads: " + std::to_string(threads) + " threads (0 to " + std::to_string(kMaxThreads) +
                        ")");
    impl_->threads = threads == 0 ? machineThreads() : threads;
}

int32_t Host::threads() const
{
    return impl_->threads;
}

void Host::failAt(Service service, int32_t n, int32_t error, bool partial)
{
    if (n < 1)
        throw HostError("failAt: the call number counts from 1");
    if (static_cast<int>(service) >= static_cast<int>(Service::CheckAbort))
        throw HostError("failAt: this service is only counted; it has no failure to inject");
    if (error == 0 && service != Service::NewHandle)
        throw HostError("failAt: an injected failure needs a non-zero error");
    if (partial && service != Service::OpenStringTable)
        throw HostError("failAt: only OpenStringTable can fail after acquiring");
    Impl::Armed &a = impl_->armed[static_cast<size_t>(service)];
    a.fault = {error, partial};
    a.at.store(impl_->calls(service) + n, std::memory_order_relaxed);
}

void Host::failPortingAllocationAt(int32_t n)
{
    if (n < 1)
        throw HostError("failPortingAllocationAt: the call number counts from 1");
    CorvaneFailAllocationAt(n);
}

void Host::setPortingHeapScramble(bool on)
{
    CorvaneSetHeapScramble(on ? 1 : 0);
}

void Host::clearFaults()
{
    for (Impl::Armed &a : impl_->armed)
        a.at.store(0, std::memory_order_relaxed);
    CorvaneClearFaults();
    clearCancel();
}

int32_t Host::calls(Service service) const
{
    return impl_->calls(service);
}

void Host::resetCalls()
{
    // Pending faults keep their place relative to now.
    if (impl_->cancelAt)
        impl_->cancelAt -= impl_->calls(Service::CheckAbort);
    for (size_t i = 0; i < impl_->armed.size(); ++i) {
        const int32_t done = impl_->callCounts[i].exchange(0, std::memory_order_relaxed);
        if (const int32_t at = impl_->armed[i].at.load(std::memory_order_relaxed))
            impl_->armed[i].at.store(at - done, std::memory_order_relaxed);
    }
}

LiveCounts Host::live() const
{
    LiveCounts c;
    c.hostHandles = static_cast<int32_t>(impl_->handles.size());
    c.worlds = static_cast<int32_t>(impl_->worlds.size());
    c.ports = impl_->livePorts;
    c.stringTables = static_cast<int32_t>(
        std::count_if(impl_->tables.begin(), impl_->tables.end(), [](const TableEntry &t) { return t.open; }));
    CorvaneCounts porting{};
    CorvaneGetCounts(&porting);
    c.portingHandles = porting.handles;
    c.portingLocks = porting.lockedHandles;
    c.offscreens = porting.offscreens;
    c.portingPorts = porting.ports;
    return c;
}

const std::vector<std::string> &Host::misuses() const
{
    return impl_->misuseLog;
}

// ---------------------------------------------------------------------------
// Instance

int32_t Instance::command(int32_t cmd, ParamDef **params, EffectWorld *output)
{
    const int32_t result = host_.command(cmd, handle_, params, output);
    handle_ = host_.out().sequenceData;
    return result;
}

int32_t Instance::setup()
{
    host_.impl_->prepareOut();
    return command(CmdInstanceSetup);
}

int32_t Instance::resetup()
{
    host_.impl_->prepareOut();
    return command(CmdInstanceResetup);
}

int32_t Instance::teardown()
{
    host_.impl_->prepareOut();
    return command(CmdInstanceTeardown);
}

int32_t Instance::options()
{
    host_.impl_->prepareOut();
    return command(CmdOptionsDialog);
}

int32_t Instance::render(const RenderSettings &settings, World &input, World &output)
{
    const auto &registered = host_.parameters();
    for (int32_t type : {kParamSlider, kParamPoint, kParamColor, kParamCheckbox})
        host_.parameterOfType(type); // throws for a kind never registered

    // Slot 0 is the input layer; the others are the registered definitions
    // with this frame's values, in the order they were registered.
    std::vector<ParamDef> defs(registered.size() + 1);
    std::vector<ParamDef *> slots(defs.size());
    std::memset(defs.data(), 0, defs.size() * sizeof(ParamDef));
    defs[0].u.layer = input.record();
    for (size_t i = 0; i < registered.size(); ++i) {
        ParamDef &d = defs[i + 1];
        d = registered[i].registered;
        switch (d.paramType) {
        case kParamSlider:
            d.u.slider.value = settings.size;
            break;
        case kParamPoint:
            d.u.point.x = settings.x;
            d.u.point.y = settings.y;
            break;
        case kParamColor:
            d.u.color.value = settings.colour;
            break;
        case kParamCheckbox:
            d.u.checkbox.value = settings.composite ? 1 : 0;
            break;
        }
    }
    for (size_t i = 0; i < defs.size(); ++i)
        slots[i] = &defs[i];

    HostInData &in = host_.in();
    in.quality = settings.quality;
    in.downsampleXNum = settings.downsampleXNum;
    in.downsampleXDen = settings.downsampleXDen;
    in.downsampleYNum = settings.downsampleYNum;
    in.downsampleYDen = settings.downsampleYDen;
    host_.impl_->prepareOut();
    return command(CmdRender, slots.data(), &output.record());
}

bool Instance::hasRecord() const
{
    return handle_ != nullptr;
}

std::vector<uint8_t> Instance::storedRecord() const
{
    if (!handle_ || !*handle_)
        return {};
    const int32_t size = GetHandleSize(handle_);
    const auto *bytes = reinterpret_cast<const uint8_t *>(*handle_);
    return std::vector<uint8_t>(bytes, bytes + std::max<int32_t>(size, 0));
}

void Instance::setStoredRecord(std::span<const uint8_t> bytes)
{
    constexpr int32_t kStoredSize = static_cast<int32_t>(record::kStoredSize);
    if (bytes.size() != record::kStoredSize)
        throw HostError("a stored settings record is " + std::to_string(kStoredSize) + " bytes, not " +
                        std::to_string(bytes.size()));
    if (!handle_) {
        handle_ = NewHandleClear(kStoredSize);
        if (!handle_)
            throw HostError("no memory for a settings record");
    } else if (GetHandleSize(handle_) != kStoredSize) {
        throw HostError("the instance's record is not a settings record (" + std::to_string(GetHandleSize(handle_)) +
                        " bytes)");
    }
    std::memcpy(*handle_, bytes.data(), bytes.size());
}

} // namespace corvane
