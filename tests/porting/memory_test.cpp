// Handles, the heap scramble, allocation faults, counts, string conversion
// and rectangle arithmetic.
#include "porting_fixture.h"

using namespace qmtest;

namespace {

class Handles : public PortingTest {};

TEST_F(Handles, NewHandleClearIsZeroedAndSized)
{
    Handle h = NewHandleClear(522);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 522);
    for (int i = 0; i < 522; ++i)
        ASSERT_EQ((*h)[i], 0) << "byte " << i;
    DisposeHandle(h);
    EXPECT_EQ(QDError(), noErr);
}

TEST_F(Handles, ZeroSizedHandlesAreDistinct)
{
    Handle a = NewHandle(0), b = NewHandle(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(GetHandleSize(a), 0);
    DisposeHandle(a);
    DisposeHandle(b);
}

TEST_F(Handles, BadInputIsRefusedWithParamErr)
{
    EXPECT_EQ(NewHandle(-1), nullptr);
    EXPECT_EQ(QDError(), paramErr);
    char *notAHandle[1] = {nullptr};
    DisposeHandle(notAHandle);
    EXPECT_EQ(QDError(), paramErr);
    HLock(nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(GetHandleSize(notAHandle), 0);
    EXPECT_EQ(QDError(), paramErr);

    Handle h = NewHandle(4);
    DisposeHandle(h);
    DisposeHandle(h); // twice: refused, not a double free
    EXPECT_EQ(QDError(), paramErr);
}

TEST_F(Handles, LockCountsNestAndAreCounted)
{
    CorvaneCounts c0{}, c{};
    CorvaneGetCounts(&c0);
    Handle h = NewHandle(8);
    HLock(h);
    HLock(h);
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.handles, c0.handles + 1);
    EXPECT_EQ(c.lockedHandles, c0.lockedHandles + 1);
    HUnlock(h);
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.lockedHandles, c0.lockedHandles + 1) << "one lock still holds";
    HUnlock(h);
    HUnlock(h); // an extra unlock does not go below zero
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.lockedHandles, c0.lockedHandles);
    HLock(h);
    DisposeHandle(h); // disposing a locked block releases its lock too
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.handles, c0.handles);
    EXPECT_EQ(c.lockedHandles, c0.lockedHandles);
}

// The scramble moves every unlocked block at every call, keeping contents.
TEST_F(Handles, ScrambleMovesUnlockedBlocksOnly)
{
    Handle loose = NewHandle(32), pinned = NewHandle(32);
    std::memcpy(*loose, "unlocked block contents........", 32);
    HLock(pinned);
    char *pinnedAt = *pinned;
    CorvaneSetHeapScramble(1);
    char *before = *loose;
    QdRect r{};
    _SetRect(&r, 0, 0, 1, 1); // any call of the library
    EXPECT_NE(*loose, before);
    EXPECT_EQ(std::memcmp(*loose, "unlocked block contents........", 32), 0);
    EXPECT_EQ(*pinned, pinnedAt);
    before = *loose;
    QDError();
    EXPECT_NE(*loose, before) << "every call moves it again";

    CorvaneSetHeapScramble(0);
    before = *loose;
    QDError();
    EXPECT_EQ(*loose, before) << "without the scramble blocks stay put";
    HUnlock(pinned);
    DisposeHandle(loose);
    DisposeHandle(pinned);
}

TEST_F(Handles, ScrambleMovesOffscreenPixelsUntilLocked)
{
    Offscreen off(40, 8);
    ASSERT_NE(off.world(), nullptr);
    CorvaneSetHeapScramble(1);
    char *before = off.pixMap().baseAddr;
    QDError();
    EXPECT_NE(off.pixMap().baseAddr, before);
    LockPixels(off.world()->portPixMap);
    before = off.pixMap().baseAddr;
    QDError();
    EXPECT_EQ(off.pixMap().baseAddr, before);
}

#if defined(__SANITIZE_ADDRESS__)
// Holding a block's address across a call without locking is caught.
TEST_F(Handles, ScrambleCatchesAnUnlockedAddress)
{
    EXPECT_DEATH(
        {
            Handle h = NewHandleClear(64);
            CorvaneSetHeapScramble(1);
            char *held = *h;
            c2pstr(nullptr); // a call that may move memory
            held[0] = 'x';
        },
        "use-after-free");
}
#endif

TEST_F(Handles, AddressesStayValidWhileLocked)
{
    Handle h = NewHandleClear(64);
    CorvaneSetHeapScramble(1);
    HLock(h);
    char *held = *h;
    std::strcpy(held, "held text");
    c2pstr(held);
    p2cstr(reinterpret_cast<unsigned char *>(held));
    EXPECT_STREQ(held, "held text");
    HUnlock(h);
    DisposeHandle(h);
}

// The Nth allocation from now fails once, whichever kind it is.
TEST_F(Handles, FaultInjectionFailsTheNthAllocation)
{
    CorvaneFailAllocationAt(3);
    Handle a = NewHandle(4);
    Handle b = NewHandleClear(4);
    Handle c = NewHandle(4);
    EXPECT_EQ(QDError(), memFullErr);
    Handle d = NewHandle(4);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr) << "the fault fires once";
    DisposeHandle(a);
    DisposeHandle(b);
    DisposeHandle(d);

    CorvaneFailAllocationAt(1);
    GWorldPtr world = reinterpret_cast<GWorldPtr>(1);
    QdRect bounds{0, 0, 4, 4};
    EXPECT_EQ(NewGWorld(&world, 1, &bounds, nullptr, nullptr, 8), memFullErr);
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(QDError(), memFullErr);

    HostPixel px[4] = {};
    CorvaneFailAllocationAt(1);
    EXPECT_EQ(CorvaneNewPortOnPixels(px, 8, 2, 2), nullptr);
    EXPECT_EQ(QDError(), memFullErr);

    CorvaneFailAllocationAt(1);
    CorvaneClearFaults();
    Handle e = NewHandle(4);
    EXPECT_NE(e, nullptr) << "cleared faults do not fire";
    DisposeHandle(e);
    CorvaneFailAllocationAt(1);
    CorvaneFailAllocationAt(0);
    e = NewHandle(4);
    EXPECT_NE(e, nullptr) << "0 clears the fault";
    DisposeHandle(e);
}

TEST_F(Handles, CountsFollowWorldsAndPorts)
{
    CorvaneCounts c0{}, c{};
    CorvaneGetCounts(&c0);
    GWorldPtr world = nullptr;
    QdRect bounds{0, 0, 4, 4};
    ASSERT_EQ(NewGWorld(&world, 1, &bounds, nullptr, nullptr, 8), noErr);
    HostPixel px[16] = {};
    GWorldPtr port = CorvaneNewPortOnPixels(px, 16, 4, 4);
    ASSERT_NE(port, nullptr);
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.offscreens, c0.offscreens + 1);
    EXPECT_EQ(c.ports, c0.ports + 1);
    DisposeGWorld(port); // a host-pixel port is not an offscreen
    EXPECT_EQ(QDError(), paramErr);
    CorvaneDisposePort(port);
    DisposeGWorld(world);
    CorvaneGetCounts(&c);
    EXPECT_EQ(c.offscreens, c0.offscreens);
    EXPECT_EQ(c.ports, c0.ports);
}

struct StringCase {
    const char *c;
    size_t expectLength;
};

TEST_F(Handles, StringConversionRoundTrips)
{
    const StringCase cases[] = {{"", 0}, {"A", 1}, {"DejaVu Sans", 11}};
    for (const StringCase &sc : cases) {
        char buf[300];
        std::strcpy(buf, sc.c);
        char *p = c2pstr(buf);
        EXPECT_EQ(p, buf);
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), sc.expectLength);
        EXPECT_EQ(std::memcmp(buf + 1, sc.c, sc.expectLength), 0);
        EXPECT_STREQ(p2cstr(reinterpret_cast<unsigned char *>(buf)), sc.c);
    }
    // A length byte holds 255 at most: a longer string is cut there.
    std::string longText(280, 'x');
    char buf[300];
    std::strcpy(buf, longText.c_str());
    c2pstr(buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 255);
    EXPECT_EQ(std::string(p2cstr(reinterpret_cast<unsigned char *>(buf))), std::string(255, 'x'));
    EXPECT_EQ(c2pstr(nullptr), nullptr);
}

struct SectCase {
    const char *what;
    QdRect a, b, out;
    uint8_t nonEmpty;
};

TEST_F(Handles, SectRectTable)
{
    const SectCase cases[] = {
        {"overlapping", {0, 0, 10, 10}, {5, 5, 20, 20}, {5, 5, 10, 10}, 1},
        {"touching edges: empty", {0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 0, 0}, 0},
        {"one inside the other", {0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}, 1},
        {"an empty operand", {5, 5, 5, 10}, {0, 0, 10, 10}, {0, 0, 0, 0}, 0},
        {"negative coordinates", {-8, -8, -2, -2}, {-4, -6, 4, 4}, {-4, -6, -2, -2}, 1},
    };
    for (const SectCase &sc : cases) {
        SCOPED_TRACE(sc.what);
        QdRect out{1, 1, 1, 1};
        EXPECT_EQ(SectRect(&sc.a, &sc.b, &out), sc.nonEmpty);
        EXPECT_EQ(std::memcmp(&out, &sc.out, sizeof out), 0)
            << out.top << "," << out.left << "," << out.bottom << "," << out.right;
    }
}

TEST_F(Handles, SetAndOffsetRect)
{
    QdRect r{};
    _SetRect(&r, 1, 2, 3, 4); // left, top, right, bottom
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.right, 3);
    EXPECT_EQ(r.bottom, 4);
    _OffsetRect(&r, -10, 5);
    EXPECT_EQ(r.left, -9);
    EXPECT_EQ(r.right, -7);
    EXPECT_EQ(r.top, 7);
    EXPECT_EQ(r.bottom, 9);
    _SetRect(&r, 0, 0, 32000, 32000);
    _OffsetRect(&r, 1000, -1000);
    EXPECT_EQ(r.right, 32767) << "saturates rather than wrapping negative";
    EXPECT_EQ(r.top, -1000);
}

} // namespace
