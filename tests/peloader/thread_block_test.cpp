// The thread block behind %fs: installed only inside a scope, one per
// thread, with the fields Windows code reads, and the TLS it carries.
#include "pe_test_support.h"

#include <sys/syscall.h>

#include <cstring>
#include <set>
#include <thread>

using namespace corvane::pe;

namespace {

uint32_t fsWord(uint32_t offset)
{
    uint32_t v;
    __asm__ volatile("movl %%fs:(%1), %0" : "=r"(v) : "r"(offset));
    return v;
}

uint32_t blockWord(const ThreadBlock &block, uint32_t offset)
{
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const void *>(block.address() + offset), 4);
    return v;
}

TEST(ThreadBlock, FsPointsAtTheBlockOnlyInsideAScope)
{
    const uint16_t before = currentFsSelector();
    ThreadBlock &block = ThreadBlock::current();
    {
        ThreadBlockScope scope;
        EXPECT_EQ(currentFsSelector(), block.selector());
        EXPECT_EQ(fsWord(kTebSelf), block.address());
        {
            ThreadBlockScope nested;
            EXPECT_EQ(fsWord(kTebSelf), block.address());
        }
        EXPECT_EQ(currentFsSelector(), block.selector()); // the outer scope still holds
    }
    EXPECT_EQ(currentFsSelector(), before);
}

TEST(ThreadBlock, CarriesTheFieldsWindowsCodeReads)
{
    ThreadBlock &block = ThreadBlock::current();
    EXPECT_EQ(blockWord(block, kTebExceptionList), 0xFFFFFFFFu);
    EXPECT_EQ(blockWord(block, kTebSelf), block.address());
    EXPECT_EQ(blockWord(block, kTebThreadId), static_cast<uint32_t>(syscall(SYS_gettid)));
    EXPECT_EQ(blockWord(block, kTebProcessId), static_cast<uint32_t>(getpid()));
    EXPECT_NE(blockWord(block, kTebProcessBlock), 0u);
    EXPECT_NE(blockWord(block, kTebTlsPointer), 0u);
    const uint32_t base = blockWord(block, kTebStackBase), limit = blockWord(block, kTebStackLimit);
    const auto here = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&base));
    EXPECT_LT(limit, here);
    EXPECT_GT(base, here);

    block.setLastError(1234);
    EXPECT_EQ(blockWord(block, kTebLastError), 1234u);
    EXPECT_EQ(block.lastError(), 1234u);
}

TEST(ThreadBlock, EachThreadHasItsOwnBlock)
{
    ThreadBlock &mine = ThreadBlock::current();
    mine.setLastError(5);
    uintptr_t otherAddress = 0, otherSelf = 0;
    uint16_t otherSelector = 0;
    uint32_t otherError = 99;
    std::thread t([&] {
        ThreadBlock &block = ThreadBlock::current();
        otherError = block.lastError();
        ThreadBlockScope scope;
        otherAddress = block.address();
        otherSelector = block.selector();
        otherSelf = fsWord(kTebSelf);
    });
    t.join();
    EXPECT_NE(otherAddress, mine.address());
    EXPECT_NE(otherSelector, mine.selector());
    EXPECT_EQ(otherSelf, otherAddress);
    EXPECT_EQ(otherError, 0u);
    EXPECT_EQ(mine.lastError(), 5u);
}

TEST(ThreadBlock, FinishedThreadsGiveTheirSegmentBack)
{
    std::set<uint16_t> selectors;
    for (int i = 0; i < 40; ++i) {
        std::thread t([&] { selectors.insert(ThreadBlock::current().selector()); });
        t.join();
    }
    // One at a time, so the same few entries come round again.
    EXPECT_LE(selectors.size(), 2u);
}

TEST(ThreadBlock, ImageTlsIsCopiedPerThreadFromTheTemplate)
{
    const uint8_t initial[] = {1, 2, 3, 4};
    const uint32_t index = registerImageTls(initial, 4);
    auto dataHere = [&] {
        ThreadBlockScope scope;
        const auto *array = reinterpret_cast<uint8_t *const *>(static_cast<uintptr_t>(fsWord(kTebTlsPointer)));
        return array[index];
    };
    uint8_t *mine = dataHere();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(mine, mine + 8), (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
    mine[0] = 77;

    std::vector<uint8_t> seen;
    std::thread t([&] {
        uint8_t *theirs = dataHere();
        seen.assign(theirs, theirs + 8);
    });
    t.join();
    EXPECT_EQ(seen, (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(dataHere()[0], 77);

    unregisterImageTls(index);
    EXPECT_EQ(ThreadBlock::current().imageTlsData(index), nullptr);
}

TEST(ThreadBlock, DynamicSlotsAreAllocatedFreedAndPerThread)
{
    std::vector<uint32_t> taken;
    for (uint32_t index; (index = allocateTlsSlot()) != kTlsSlotCount;)
        taken.push_back(index);
    EXPECT_GT(taken.size(), 0u);
    EXPECT_EQ(std::set<uint32_t>(taken.begin(), taken.end()).size(), taken.size());
    EXPECT_LE(taken.size(), kTlsSlotCount);

    const uint32_t slot = taken.back();
    for (uint32_t index : taken)
        ThreadBlock::current().setSlotValue(index, &taken);
    int sentinel = 0;
    void *other = &sentinel;
    std::thread t([&] { other = ThreadBlock::current().slotValue(slot); });
    t.join();
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(ThreadBlock::current().slotValue(slot), &taken);

    for (uint32_t index : taken)
        EXPECT_TRUE(freeTlsSlot(index));
    EXPECT_FALSE(freeTlsSlot(slot)); // twice
    EXPECT_FALSE(tlsSlotAllocated(slot));
    // Reallocated, the slot reads null again.
    const uint32_t again = allocateTlsSlot();
    EXPECT_EQ(ThreadBlock::current().slotValue(again), nullptr);
    freeTlsSlot(again);
}

} // namespace
