// Worlds, ports, host blocks, fault injection and the live counters.
#include "test_support.h"
#include "corvane1_ext.h"

#include <algorithm>

using namespace corvane;
using namespace qmtest;

namespace {

class Resources : public ::testing::Test {
protected:
    void TearDown() override { host.clearFaults(); }
    Host host{QM_MODULE_PATH};
    HostUtilTable &u = *host.in().utils;
    EffectRef ref = host.in().effectRef;
};

TEST_F(Resources, NewWorldFillsTheRecordWithAZeroedWorld)
{
    for (int32_t flags : {0, 1}) {
        EffectWorld w;
        std::memset(&w, 0xCD, sizeof w);
        ASSERT_EQ(u.newWorld(ref, 47, 36, flags, &w), 0);
        EXPECT_NE(w.data, nullptr);
        EXPECT_EQ(w.rowBytes, 47 * 4);
        EXPECT_EQ(w.width, 47);
        EXPECT_EQ(w.height, 36);
        EXPECT_EQ(w.extent.top, 0);
        EXPECT_EQ(w.extent.left, 0);
        EXPECT_EQ(w.extent.bottom, 36);
        EXPECT_EQ(w.extent.right, 47);
        const auto *bytes = reinterpret_cast<const uint8_t *>(w.data);
        EXPECT_TRUE(std::all_of(bytes, bytes + 47 * 36 * 4, [](uint8_t b) { return b == 0; })) << flags;
        EXPECT_EQ(host.live().worlds, 1);
        ASSERT_EQ(u.disposeWorld(ref, &w), 0);
        EXPECT_EQ(host.live().worlds, 0);
    }
}

TEST_F(Resources, NewWorldRefusesImpossibleSizes)
{
    EffectWorld w{};
    EXPECT_EQ(u.newWorld(ref, -1, 4, 0, &w), -50);
    EXPECT_EQ(u.newWorld(ref, 4, 4, 0, nullptr), -50);
    EXPECT_EQ(u.newWorld(ref, 1 << 20, 1 << 20, 0, &w), -108);
    EXPECT_EQ(host.live().worlds, 0);
    // An empty world is a world, released like any other.
    ASSERT_EQ(u.newWorld(ref, 0, 5, 1, &w), 0);
    EXPECT_EQ(w.width, 0);
    EXPECT_EQ(u.disposeWorld(ref, &w), 0);
    EXPECT_TRUE(host.live().empty()) << host.live();
}

TEST_F(Resources, WorldPortIsThePortingLibrarysAndGoesWithTheWorld)
{
    EffectWorld w{};
    ASSERT_EQ(u.newWorld(ref, 8, 4, 1, &w), 0);
    void *port = nullptr, *device = reinterpret_cast<void *>(1);
    ASSERT_EQ(u.getWorldPort(ref, &w, &port, &device), 0);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(device, nullptr);
    void *again = nullptr, *device2 = nullptr;
    ASSERT_EQ(u.getWorldPort(ref, &w, &again, &device2), 0);
    EXPECT_EQ(again, port); // one port per world
    LiveCounts c = host.live();
    EXPECT_EQ(c.ports, 1);
    EXPECT_EQ(c.portingPorts, 1);

    // The port draws into the world's own pixels.
    auto *gw = static_cast<GWorldPtr>(port);
    EXPECT_EQ((*gw->portPixMap)->baseAddr, reinterpret_cast<char *>(w.data));

    ASSERT_EQ(u.disposeWorld(ref, &w), 0);
    c = host.live();
    EXPECT_EQ(c.ports, 0);
    EXPECT_EQ(c.portingPorts, 0);
    EXPECT_EQ(c.worlds, 0);
}

TEST_F(Resources, PortsOverHostWorldsLastForTheCommand)
{
    World output(6, 6);
    void *port = nullptr, *device = nullptr;
    ASSERT_EQ(u.getWorldPort(ref, &output.record(), &port, &device), 0);
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(host.live().ports, 1);
    host.command(2, nullptr); // any command's end releases them
    EXPECT_EQ(host.live().ports, 0);
    EXPECT_EQ(host.live().portingPorts, 0);
}

TEST_F(Resources, PortFailuresLeaveNothingBehind)
{
    EffectWorld w{};
    ASSERT_EQ(u.newWorld(ref, 4, 4, 0, &w), 0);
    void *port = reinterpret_cast<void *>(1), *device = reinterpret_cast<void *>(1);
    host.failAt(Service::GetWorldPort, 1, -60);
    EXPECT_EQ(u.getWorldPort(ref, &w, &port, &device), -60);
    EXPECT_EQ(port, nullptr); // never left dangling
    EXPECT_EQ(device, nullptr);
    host.failPortingAllocationAt(1);
    EXPECT_EQ(u.getWorldPort(ref, &w, &port, &device), -108);
    EXPECT_EQ(host.live().portingPorts, 0);
    EXPECT_EQ(u.getWorldPort(ref, &w, &port, &device), 0);
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(u.disposeWorld(ref, &w), 0);
    EXPECT_TRUE(host.live().empty()) << host.live();
}

TEST_F(Resources, DisposeWorldRefusesStrangersAndReleasesEvenWhenFailing)
{
    World mine(2, 2);
    EXPECT_EQ(u.disposeWorld(ref, &mine.record()), -50);
    EXPECT_EQ(host.misuses().size(), 1u);

    EffectWorld w{};
    ASSERT_EQ(u.newWorld(ref, 3, 3, 0, &w), 0);
    EffectWorld copy = w;
    host.failAt(Service::DisposeWorld, 1, -1);
    EXPECT_EQ(u.disposeWorld(ref, &w), -1);
    EXPECT_EQ(host.live().worlds, 0);
    EXPECT_EQ(w.data, nullptr);                 // the record no longer names the pixels
    EXPECT_EQ(u.disposeWorld(ref, &copy), -50); // a second release is noticed
    EXPECT_EQ(host.misuses().size(), 2u);
}

TEST_F(Resources, InjectedNewWorldFailureTouchesNothing)
{
    host.failAt(Service::NewWorld, 2, -108);
    EffectWorld a{}, b{};
    ASSERT_EQ(u.newWorld(ref, 2, 2, 0, &a), 0);
    std::memset(&b, 0x11, sizeof b);
    EXPECT_EQ(u.newWorld(ref, 2, 2, 0, &b), -108);
    EXPECT_EQ(b.width, 0x11111111);
    EXPECT_EQ(host.live().worlds, 1);
    EXPECT_EQ(host.calls(Service::NewWorld), 2);
    EXPECT_EQ(u.disposeWorld(ref, &a), 0);
}

TEST_F(Resources, HostBlocksAreCountedAndReleased)
{
    Handle a = u.newHandle(4);
    Handle b = u.newHandle(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(*reinterpret_cast<uint32_t *>(*a), 0u);
    EXPECT_EQ(host.live().hostHandles, 2);
    u.disposeHandle(a);
    u.disposeHandle(b);
    EXPECT_EQ(host.live().hostHandles, 0);
    EXPECT_TRUE(host.misuses().empty());
    u.disposeHandle(a); // twice
    EXPECT_EQ(host.misuses().size(), 1u);
    u.disposeHandle(nullptr); // null is a no-op
    EXPECT_EQ(host.misuses().size(), 1u);
    EXPECT_EQ(host.calls(Service::DisposeHandle), 4);
}

TEST_F(Resources, NthCallFailsOnlyOnceAndCountsStayHonest)
{
    host.failAt(Service::NewHandle, 2);
    Handle h1 = u.newHandle(4);
    Handle h2 = u.newHandle(4);
    Handle h3 = u.newHandle(4);
    EXPECT_NE(h1, nullptr);
    EXPECT_EQ(h2, nullptr);
    EXPECT_NE(h3, nullptr);
    EXPECT_EQ(host.calls(Service::NewHandle), 3);
    EXPECT_EQ(host.live().hostHandles, 2);
    u.disposeHandle(h1);
    u.disposeHandle(h3);

    // A pending fault keeps its place when the counters restart.
    host.failAt(Service::NewHandle, 2);
    Handle h4 = u.newHandle(1);
    host.resetCalls();
    EXPECT_EQ(host.calls(Service::NewHandle), 0);
    EXPECT_EQ(u.newHandle(1), nullptr);
    u.disposeHandle(h4);
    EXPECT_TRUE(host.live().empty()) << host.live();

    EXPECT_THROW(host.failAt(Service::GetString, 1), HostError);
    EXPECT_THROW(host.failAt(Service::NewWorld, 0), HostError);
    EXPECT_THROW(host.failAt(Service::NewWorld, 1, 0), HostError);
}

TEST_F(Resources, PortingCountsAreTheLibrarys)
{
    Handle h = NewHandleClear(10);
    ASSERT_NE(h, nullptr);
    HLock(h);
    LiveCounts c = host.live();
    EXPECT_EQ(c.portingHandles, 1);
    EXPECT_EQ(c.portingLocks, 1);
    HUnlock(h);
    EXPECT_EQ(host.live().portingLocks, 0);
    DisposeHandle(h);

    host.failPortingAllocationAt(2);
    Handle ok = NewHandleClear(4);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(NewHandleClear(4), nullptr);
    DisposeHandle(ok);

    const QdRect bounds = rect(0, 0, 16, 8);
    GWorldPtr off = nullptr;
    ASSERT_EQ(NewGWorld(&off, 1, &bounds, nullptr, nullptr, 8), 0);
    EXPECT_EQ(host.live().offscreens, 1);
    DisposeGWorld(off);
    EXPECT_TRUE(host.live().empty()) << host.live();
}

TEST_F(Resources, HostReleasesWhatAModuleLeftBehind)
{
    // Leaks from a module are the host's to clean up at shutdown; the
    // sanitizer build checks that nothing escapes.
    auto other = std::make_unique<Host>(QM_MODULE_PATH);
    HostUtilTable &ou = *other->in().utils;
    EffectWorld w{};
    ASSERT_EQ(ou.newWorld(other->in().effectRef, 3, 3, 0, &w), 0);
    void *port, *device;
    ASSERT_EQ(ou.getWorldPort(other->in().effectRef, &w, &port, &device), 0);
    ASSERT_NE(ou.newHandle(8), nullptr); // the newer host is the active one
    EXPECT_EQ(other->live().hostHandles, 1);
    EXPECT_EQ(host.live().hostHandles, 0);
    other.reset();
    EXPECT_EQ(host.live().portingPorts, 0);
}

} // namespace

namespace {

TEST(HostWorld, MovesKeepTheRecordWithThePixels)
{
    World a(3, 2, HostPixel{1, 2, 3, 4});
    const HostPixel *pixels = a.record().data;
    World b(std::move(a));
    EXPECT_EQ(b.record().data, pixels);
    EXPECT_EQ(b.at(2, 1).blue, 4);
    EXPECT_EQ(a.record().data, nullptr); // NOLINT: the moved-from world is empty
    EXPECT_EQ(a.width(), 0);
    World c(1, 1);
    c = std::move(b);
    EXPECT_EQ(c.record().data, pixels);
    EXPECT_EQ(c.width(), 3);
    EXPECT_THROW(c.at(3, 0), std::out_of_range);
    EXPECT_THROW(World(-1, 2), corvane::HostError);
}

} // namespace
