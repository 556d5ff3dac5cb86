#include "thread_block.h"

#include "loader_faults.h"

#include "pe_image.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane::pe {

namespace {

constexpr uint32_t kLdtEntries = 8192;
constexpr uint32_t kProcessBlockSize = 0x1000;

struct ImageTlsTemplate {
    bool used = false;
    uint64_t generation = 0;
    std::vector<uint8_t> initialData;
    uint32_t zeroFill = 0;
};

struct TlsCopy {
    uint64_t generation = 0;
    std::unique_ptr<uint8_t[]> data;
};

} // namespace

struct ThreadBlock::Impl {
    alignas(16) uint8_t teb[kTebSize];
    void *tlsPointers[kTlsSlotCount] = {};
    TlsCopy copies[kTlsSlotCount];
    uint64_t seenEpoch = 0;
    uint32_t ldtIndex = 0;

    uint32_t word(uint32_t offset) const
    {
        uint32_t v;
        std::memcpy(&v, teb + offset, 4);
        return v;
    }
    void setWord(uint32_t offset, uint32_t v) { std::memcpy(teb + offset, &v, 4); }
};

namespace {

struct Globals {
    std::mutex mutex;
    ImageTlsTemplate images[kTlsSlotCount];
    uint64_t nextGeneration = 1;
    std::atomic<uint64_t> epoch{1};
    std::bitset<kTlsSlotCount> dynamicSlots;
    std::bitset<kLdtEntries> ldtUsed;
    std::vector<ThreadBlock::Impl *> blocks;
    alignas(16) uint8_t processBlock[kProcessBlockSize] = {};
};

// Never destroyed: threads may end after static destructors have run.
Globals &globals()
{
    static Globals *g = new Globals;
    return *g;
}

bool writeLdtEntry(uint32_t index, uintptr_t base, uint32_t limit, bool present)
{
    user_desc d{};
    d.entry_number = index;
    d.base_addr = static_cast<unsigned int>(base);
    d.limit = limit;
    d.seg_32bit = present ? 1 : 0;
    d.contents = 0;
    d.read_exec_only = present ? 0 : 1;
    d.limit_in_pages = 0;
    d.seg_not_present = present ? 0 : 1;
    d.useable = present ? 1 : 0;
    return syscall(SYS_modify_ldt, 0x11, &d, sizeof d) == 0;
}

void loadFs(uint16_t selector)
{
    __asm__ volatile("movw %0, %%fs" : : "r"(selector) : "memory");
}

void stackBounds(uintptr_t &base, uintptr_t &limit)
{
    pthread_attr_t attr;
    void *address = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        if (pthread_attr_getstack(&attr, &address, &size) != 0)
            size = 0;
        pthread_attr_destroy(&attr);
    }
    if (size != 0) {
        limit = reinterpret_cast<uintptr_t>(address);
        base = limit + size;
    } else {
        // Unknown: a window around the current frame still identifies the thread.
        uint8_t here;
        base = (reinterpret_cast<uintptr_t>(&here) | 0xFFF) + 1;
        limit = base - 0x10000;
    }
}

} // namespace

uint16_t currentFsSelector()
{
    uint16_t selector;
    __asm__ volatile("movw %%fs, %0" : "=r"(selector));
    return selector;
}

ThreadBlock::ThreadBlock() : impl_(new Impl)
{
    Globals &g = globals();
    std::memset(impl_->teb, 0, sizeof impl_->teb);
    const uintptr_t self = reinterpret_cast<uintptr_t>(impl_->teb);
    uintptr_t stackBase = 0, stackLimit = 0;
    stackBounds(stackBase, stackLimit);
    impl_->setWord(kTebExceptionList, 0xFFFFFFFFu); // an empty handler chain
    impl_->setWord(kTebStackBase, static_cast<uint32_t>(stackBase));
    impl_->setWord(kTebStackLimit, static_cast<uint32_t>(stackLimit));
    impl_->setWord(kTebSelf, static_cast<uint32_t>(self));
    impl_->setWord(kTebProcessId, static_cast<uint32_t>(getpid()));
    impl_->setWord(kTebThreadId, static_cast<uint32_t>(syscall(SYS_gettid)));
    impl_->setWord(kTebTlsPointer, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(impl_->tlsPointers)));
    impl_->setWord(kTebProcessBlock, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g.processBlock)));

    std::lock_guard lock(g.mutex);
    uint32_t index = 1; // entry 0 stays unused so a zero selector never means a block
    while (index < kLdtEntries && g.ldtUsed.test(index))
        ++index;
    if (index == kLdtEntries) {
        delete impl_;
        throw PeError("cannot give this thread a thread block: no free LDT entry");
    }
    if (!writeLdtEntry(index, self, kTebSize - 1, true)) {
        const int error = errno;
        delete impl_;
        throw PeError(std::string("cannot give this thread a thread block: modify_ldt failed: ") +
                      std::strerror(error));
    }
    g.ldtUsed.set(index);
    impl_->ldtIndex = index;
    selector_ = static_cast<uint16_t>((index << 3) | 7); // LDT, privilege 3
    g.blocks.push_back(impl_);
}

ThreadBlock::~ThreadBlock()
{
    Globals &g = globals();
    if (currentFsSelector() == selector_)
        loadFs(0);
    std::lock_guard lock(g.mutex);
    writeLdtEntry(impl_->ldtIndex, 0, 0, false);
    g.ldtUsed.reset(impl_->ldtIndex);
    g.blocks.erase(std::remove(g.blocks.begin(), g.blocks.end(), impl_), g.blocks.end());
    delete impl_;
}

ThreadBlock &ThreadBlock::current()
{
    thread_local std::unique_ptr<ThreadBlock> block;
    if (!block)
        block.reset(new ThreadBlock);
    return *block;
}

uintptr_t ThreadBlock::address() const
{
    return reinterpret_cast<uintptr_t>(impl_->teb);
}

uint32_t ThreadBlock::lastError() const
{
    return impl_->word(kTebLastError);
}

void ThreadBlock::setLastError(uint32_t error)
{
    impl_->setWord(kTebLastError, error);
}

void *ThreadBlock::slotValue(uint32_t index) const
{
    if (index >= kTlsSlotCount)
        return nullptr;
    return reinterpret_cast<void *>(static_cast<uintptr_t>(impl_->word(kTebTlsSlots + 4 * index)));
}

void ThreadBlock::setSlotValue(uint32_t index, void *value)
{
    if (index < kTlsSlotCount)
        impl_->setWord(kTebTlsSlots + 4 * index, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value)));
}

void *ThreadBlock::imageTlsData(uint32_t index)
{
    syncImageTls();
    return index < kTlsSlotCount ? impl_->tlsPointers[index] : nullptr;
}

void ThreadBlock::syncImageTls()
{
    Globals &g = globals();
    if (impl_->seenEpoch == g.epoch.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(g.mutex);
    for (uint32_t i = 0; i < kTlsSlotCount; ++i) {
        const ImageTlsTemplate &t = g.images[i];
        TlsCopy &copy = impl_->copies[i];
        if (!t.used) {
            copy.data.reset();
            copy.generation = 0;
        } else if (copy.generation != t.generation) {
            const size_t size = t.initialData.size() + t.zeroFill;
            copy.data.reset(new uint8_t[size == 0 ? 1 : size]());
            std::copy(t.initialData.begin(), t.initialData.end(), copy.data.get());
            copy.generation = t.generation;
        }
        impl_->tlsPointers[i] = copy.data.get();
    }
    impl_->seenEpoch = g.epoch.load(std::memory_order_relaxed);
}

ThreadBlockScope::ThreadBlockScope()
{
    ThreadBlock &block = ThreadBlock::current();
    block.syncImageTls();
    saved_ = currentFsSelector();
    loadFs(block.selector());
}

ThreadBlockScope::~ThreadBlockScope()
{
    loadFs(saved_);
}

uint32_t registerImageTls(std::span<const uint8_t> initialData, uint32_t zeroFill)
{
    Globals &g = globals();
    std::lock_guard lock(g.mutex);
    if (loaderFaultFires(LoaderFault::Allocation))
        throw PeError("no free TLS slot for another image");
    for (uint32_t i = 0; i < kTlsSlotCount; ++i) {
        ImageTlsTemplate &t = g.images[i];
        if (t.used)
            continue;
        t.used = true;
        t.generation = g.nextGeneration++;
        t.initialData.assign(initialData.begin(), initialData.end());
        t.zeroFill = zeroFill;
        g.epoch.fetch_add(1, std::memory_order_release);
        return i;
    }
    throw PeError("no free TLS slot for another image");
}

void unregisterImageTls(uint32_t index)
{
    Globals &g = globals();
    std::lock_guard lock(g.mutex);
    if (index >= kTlsSlotCount || !g.images[index].used)
        return;
    g.images[index] = ImageTlsTemplate{};
    // The image is gone, so no thread can be using its data any more.
    for (ThreadBlock::Impl *block : g.blocks) {
        block->copies[index] = TlsCopy{};
        block->tlsPointers[index] = nullptr;
    }
    g.epoch.fetch_add(1, std::memory_order_release);
}

uint32_t allocateTlsSlot()
{
    Globals &g = globals();
    std::lock_guard lock(g.mutex);
    if (loaderFaultFires(LoaderFault::Allocation))
        return kTlsSlotCount;
    for (uint32_t i = 0; i < kTlsSlotCount; ++i) {
        if (g.dynamicSlots.test(i))
            continue;
        g.dynamicSlots.set(i);
        // A fresh index reads as null in every thread.
        for (ThreadBlock::Impl *block : g.blocks)
            block->setWord(kTebTlsSlots + 4 * i, 0);
        return i;
    }
    return kTlsSlotCount;
}

bool freeTlsSlot(uint32_t index)
{
    Globals &g = globals();
    std::lock_guard lock(g.mutex);
    if (index >= kTlsSlotCount || !g.dynamicSlots.test(index))
        return false;
    g.dynamicSlots.reset(index);
    return true;
}

bool tlsSlotAllocated(uint32_t index)
{
    Globals &g = globals();
    std::lock_guard lock(g.mutex);
    return index < kTlsSlotCount && g.dynamicSlots.test(index);
}

} // namespace corvane::pe
