// Relocatable blocks: a handle points at a master pointer that never moves;
// the block it names may move whenever its lock count is 0. Also the call
// prologue (heap scramble), the last error, allocation faults and counts.
#include "internal.h"

#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvane1 {
namespace {

constexpr unsigned char kPoison = 0xDB;
constexpr size_t kMastersPerChunk = 256;

struct Block {
    size_t size;
    int32_t locks;
};

struct Heap {
    // Master pointers live in chunks that are never freed, so a stale handle
    // still points at readable memory (a null master pointer once disposed).
    std::vector<std::unique_ptr<char *[]>> chunks;
    std::deque<char **> freeMasters; // oldest first: reuse as late as possible
    std::unordered_map<char **, Block> blocks;
    std::unordered_set<MovablePixels *> movables;
    int32_t locked = 0;
    bool scramble = false;
    int32_t failCountdown = 0; // 0: no fault pending
    int16_t lastError = noErr;
};

// Never destroyed: other libraries' static destructors may still release
// handles while the process exits.
Heap &heap()
{
    static Heap *h = new Heap;
    return *h;
}

char **takeMaster()
{
    Heap &h = heap();
    if (h.freeMasters.empty()) {
        h.chunks.emplace_back(new char *[kMastersPerChunk]());
        for (size_t i = 0; i < kMastersPerChunk; ++i)
            h.freeMasters.push_back(&h.chunks.back()[i]);
    }
    char **m = h.freeMasters.front();
    h.freeMasters.pop_front();
    return m;
}

// Storage for a block; never null for a 0-byte block, so every live handle
// has a distinct address.
char *allocBlock(size_t size, bool clear)
{
    size_t n = size ? size : 1;
    return static_cast<char *>(clear ? std::calloc(n, 1) : std::malloc(n));
}

void releaseBlock(char *p, size_t size)
{
    if (!p)
        return;
    std::memset(p, kPoison, size ? size : 1);
    std::free(p);
}

// New storage first, old freed after: the address always changes.
bool moveTo(char **where, size_t size)
{
    char *fresh = allocBlock(size, false);
    if (!fresh)
        return false;
    std::memcpy(fresh, *where, size ? size : 1);
    releaseBlock(*where, size);
    *where = fresh;
    return true;
}

void scrambleHeap()
{
    Heap &h = heap();
    for (auto &[master, block] : h.blocks)
        if (block.locks == 0)
            moveTo(master, block.size);
    for (MovablePixels *m : h.movables)
        if (!*m->locked && *m->base)
            moveTo(m->base, m->size);
}

Handle newHandle(int32_t size, bool clear)
{
    enterCall();
    if (size < 0) {
        setError(paramErr);
        return nullptr;
    }
    if (allocationShouldFail()) {
        setError(memFullErr);
        return nullptr;
    }
    char *data = allocBlock(static_cast<size_t>(size), clear);
    if (!data) {
        setError(memFullErr);
        return nullptr;
    }
    char **master = nullptr;
    try {
        master = takeMaster();
        heap().blocks.emplace(master, Block{static_cast<size_t>(size), 0});
    } catch (const std::bad_alloc &) {
        if (master)
            heap().freeMasters.push_front(master); // back where it came from: no allocation
        std::free(data);
        setError(memFullErr);
        return nullptr;
    }
    *master = data;
    setError(noErr);
    return master;
}

Block *findBlock(Handle h)
{
    if (!h)
        return nullptr;
    auto it = heap().blocks.find(h);
    return it == heap().blocks.end() ? nullptr : &it->second;
}

} // namespace

void enterCall()
{
    if (heap().scramble)
        scrambleHeap();
}

void setError(int16_t err)
{
    heap().lastError = err;
}

bool allocationShouldFail()
{
    Heap &h = heap();
    if (h.failCountdown <= 0)
        return false;
    return --h.failCountdown == 0;
}

bool registerMovable(MovablePixels *m)
{
    try {
        heap().movables.insert(m);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}
void unregisterMovable(MovablePixels *m)
{
    heap().movables.erase(m);
}

} // namespace corvane1

using namespace corvane1;

extern "C" {

Handle NewHandle(int32_t size)
{
    return newHandle(size, false);
}
Handle NewHandleClear(int32_t size)
{
    return newHandle(size, true);
}

void DisposeHandle(Handle h)
{
    enterCall();
    Block *b = findBlock(h);
    if (!b) {
        setError(paramErr);
        return;
    }
    if (b->locks > 0)
        --heap().locked;
    releaseBlock(*h, b->size);
    *h = nullptr;
    heap().blocks.erase(h);
    // Without room to recycle it the master pointer is simply not reused.
    guarded([&] { heap().freeMasters.push_back(h); });
    setError(noErr);
}

void HLock(Handle h)
{
    enterCall();
    Block *b = findBlock(h);
    if (!b) {
        setError(paramErr);
        return;
    }
    if (b->locks++ == 0)
        ++heap().locked;
    setError(noErr);
}

void HUnlock(Handle h)
{
    enterCall();
    Block *b = findBlock(h);
    if (!b) {
        setError(paramErr);
        return;
    }
    // Unlocking an unlocked block is harmless, as it always was.
    if (b->locks > 0 && --b->locks == 0)
        --heap().locked;
    setError(noErr);
}

int32_t GetHandleSize(Handle h)
{
    enterCall();
    Block *b = findBlock(h);
    if (!b) {
        setError(paramErr);
        return 0;
    }
    setError(noErr);
    return static_cast<int32_t>(b->size);
}

int16_t QDError(void)
{
    enterCall();
    return heap().lastError;
}

void CorvaneSetHeapScramble(int32_t on)
{
    heap().scramble = on != 0;
}

void CorvaneFailAllocationAt(int32_t n)
{
    heap().failCountdown = n > 0 ? n : 0;
}

void CorvaneClearFaults(void)
{
    heap().failCountdown = 0;
}

} // extern "C"

extern "C" void CorvaneGetCounts(CorvaneCounts *out)
{
    if (!out)
        return;
    out->handles = static_cast<int32_t>(heap().blocks.size());
    out->lockedHandles = heap().locked;
    portCounts(out->offscreens, out->ports);
}
