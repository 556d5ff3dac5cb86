// On the 32-bit build: the records read and written at their byte offsets,
// as a host that knows only the offsets would, and the module's life driven
// through its 32-bit entry point with records built from raw bytes.
#include "lifecycle_support.h"

#if defined(__i386__)

#include <array>

using namespace corvane;
using namespace qmtest;

namespace {

template <class T> T get(const void *base, size_t offset)
{
    T v;
    std::memcpy(&v, static_cast<const uint8_t *>(base) + offset, sizeof v);
    return v;
}
template <class T> void put(void *base, size_t offset, T v)
{
    std::memcpy(static_cast<uint8_t *>(base) + offset, &v, sizeof v);
}
template <class F> F fn(const void *base, size_t offset)
{
    return reinterpret_cast<F>(get<uint32_t>(base, offset));
}

// In and out records made of bytes; services from the host at their offsets.
class RawRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostInData &hin = host.in();
        in.fill(0);
        out.fill(0);
        put(in.data(), 8, reinterpret_cast<uint32_t>(hin.addParam));
        put(in.data(), 12, reinterpret_cast<uint32_t>(hin.checkAbort));
        put(in.data(), 36, reinterpret_cast<uint32_t>(hin.openStringTable));
        put(in.data(), 40, reinterpret_cast<uint32_t>(hin.getString));
        put(in.data(), 44, reinterpret_cast<uint32_t>(hin.closeStringTable));
        put(in.data(), 88, reinterpret_cast<uint32_t>(hin.utils));
        put(in.data(), 92, reinterpret_cast<uint32_t>(hin.effectRef));
        put(in.data(), 96, int32_t{1});
        put(in.data(), 128, reinterpret_cast<uint32_t>(hin.drawGlobals));
        for (size_t at : {184u, 188u, 192u, 196u})
            put(in.data(), at, int32_t{1});
    }
    int32_t run(int32_t cmd, uint32_t global, uint32_t sequence)
    {
        put(in.data(), 212, global);
        put(in.data(), 216, sequence);
        put(out.data(), 36, global);
        put(out.data(), 44, sequence);
        return host.entry()(cmd, reinterpret_cast<HostInData *>(in.data()), reinterpret_cast<HostOutData *>(out.data()),
                            nullptr, nullptr);
    }
    Host host{QM_MODULE_PATH};
    std::array<uint8_t, 252> in;
    std::array<uint8_t, 72 + kReturnMessageSize> out;
};

TEST_F(RawRecords, WholeLifeThroughTheEntryPoint)
{
    // Global setup: version at 0, global block at 36, flags at 68.
    put(out.data(), 68, int32_t{0x7000});
    ASSERT_EQ(run(CmdGlobalSetup, 0, 0), 0);
    EXPECT_EQ(get<int32_t>(out.data(), 0), 0x00190600);
    EXPECT_EQ(get<int32_t>(out.data(), 68), 0x61);
    const uint32_t global = get<uint32_t>(out.data(), 36);
    ASSERT_NE(global, 0u);
    // The table value two dereferences below the global handle.
    const uint32_t tableRef =
        get<uint32_t>(reinterpret_cast<void *>(get<uint32_t>(reinterpret_cast<void *>(global), 0)), 0);
    auto getString = fn<const char *(*)(uint32_t, int32_t)>(in.data(), 40);
    EXPECT_STREQ(getString(tableRef, 3), "Text Color");

    // About: the message at 72.
    ASSERT_EQ(run(CmdAbout, global, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data()) + 72, 18), "Quillomark, v3.2\r\r");

    // Parameters: the count at 40; the definitions as the host decoded them.
    ASSERT_EQ(run(CmdParamSetup, global, 0), 0);
    EXPECT_EQ(get<int32_t>(out.data(), 40), 5);
    ASSERT_EQ(host.parameters().size(), 4u);
    const void *size = &host.parameters()[0].registered;
    EXPECT_EQ(get<int32_t>(size, 12), 1);
    EXPECT_STREQ(static_cast<const char *>(size) + 16, "Size");
    EXPECT_EQ(get<int32_t>(size, 56), 36);
    EXPECT_EQ(get<int32_t>(size, 124), 0);
    EXPECT_EQ(get<int32_t>(size, 128), 512);
    EXPECT_EQ(get<int32_t>(size, 132), 0);
    EXPECT_EQ(get<int32_t>(size, 136), 512);
    EXPECT_EQ(get<int32_t>(size, 140), 36);
    const void *point = &host.parameters()[1].registered;
    EXPECT_EQ(get<int32_t>(point, 12), 6);
    EXPECT_EQ(get<int32_t>(point, 56), 0);
    EXPECT_EQ(get<int32_t>(point, 60), 1);
    EXPECT_EQ(get<uint8_t>(point, 67), 0);
    EXPECT_EQ(get<int32_t>(point, 68), 50 << 16);
    EXPECT_EQ(get<int32_t>(point, 72), 50 << 16);
    const void *colour = &host.parameters()[2].registered;
    EXPECT_EQ(get<int32_t>(colour, 12), 5);
    EXPECT_EQ(get<uint32_t>(colour, 56), 0x0000FF00u);
    EXPECT_EQ(get<uint32_t>(colour, 60), 0x0000FF00u);
    const void *box = &host.parameters()[3].registered;
    EXPECT_EQ(get<int32_t>(box, 12), 4);
    EXPECT_EQ(get<int32_t>(box, 56), 0);
    EXPECT_EQ(get<uint8_t>(box, 60), 0);
    EXPECT_EQ(get<uint32_t>(box, 64), reinterpret_cast<uint32_t>(getString(tableRef, 4)));

    // Instance setup: the record handle at 44, flags 128 at 68.
    ASSERT_EQ(run(CmdInstanceSetup, global, 0), 0);
    EXPECT_EQ(get<int32_t>(out.data(), 68), 128);
    const uint32_t record = get<uint32_t>(out.data(), 44);
    ASSERT_NE(record, 0u);
    EXPECT_EQ(recordBytes(reinterpret_cast<Handle>(record)), blankStored());

    // Re-setup keeps it; teardown clears the field; global teardown too.
    put(out.data(), 68, int32_t{0});
    ASSERT_EQ(run(CmdInstanceResetup, global, record), 0);
    EXPECT_EQ(get<uint32_t>(out.data(), 44), record);
    ASSERT_EQ(run(CmdInstanceTeardown, global, record), 0);
    EXPECT_EQ(get<uint32_t>(out.data(), 44), 0u);
    ASSERT_EQ(run(CmdGlobalTeardown, global, 0), 0);
    EXPECT_EQ(get<uint32_t>(out.data(), 36), 0u);
    EXPECT_TRUE(host.live().empty()) << host.live();
}

TEST_F(RawRecords, UtilityTableSlotsAtTheirOffsets)
{
    const void *utils = reinterpret_cast<const void *>(get<uint32_t>(in.data(), 88));
    const void *ref = reinterpret_cast<const void *>(get<uint32_t>(in.data(), 92));
    using SampleFn = int32_t (*)(const void *, int32_t, int32_t, void *, void *);
    using CopyFn = int32_t (*)(const void *, void *, void *, const void *, const void *);
    using FillFn = int32_t (*)(const void *, const void *, const void *, void *);
    using IterateFn = int32_t (*)(void *, int32_t, int32_t, void *, const void *, void *, PixelFunc, void *);
    using NewWorldFn = int32_t (*)(const void *, int32_t, int32_t, int32_t, void *);
    using PortFn = int32_t (*)(const void *, void *, void **, void **);
    using DisposeWorldFn = int32_t (*)(const void *, void *);
    using NewHandleFn = Handle (*)(uint32_t);
    using DisposeHandleFn = void (*)(Handle);
    using FormatFn = void (*)(char *, const char *, ...);
    using CopyStringFn = void (*)(char *, const char *);

    // newWorld fills a 76-byte record: pixels at 12, row bytes 16, width 20,
    // height 24, extent (top, left, bottom, right) at 28.
    std::array<uint8_t, 76> world;
    world.fill(0xCC);
    ASSERT_EQ(fn<NewWorldFn>(utils, 56)(ref, 5, 3, 1, world.data()), 0);
    const uint32_t pixels = get<uint32_t>(world.data(), 12);
    ASSERT_NE(pixels, 0u);
    EXPECT_EQ(get<int32_t>(world.data(), 16), 20);
    EXPECT_EQ(get<int32_t>(world.data(), 20), 5);
    EXPECT_EQ(get<int32_t>(world.data(), 24), 3);
    EXPECT_EQ(get<int16_t>(world.data(), 28), 0);
    EXPECT_EQ(get<int16_t>(world.data(), 30), 0);
    EXPECT_EQ(get<int16_t>(world.data(), 32), 3);
    EXPECT_EQ(get<int16_t>(world.data(), 34), 5);

    // fillWorld at 36, then sampleAt at 4 through an 84-byte block with the
    // world at 12.
    const HostPixel colour{200, 1, 2, 3};
    ASSERT_EQ(fn<FillFn>(utils, 36)(ref, &colour, nullptr, world.data()), 0);
    std::array<uint8_t, 84> block{};
    put(block.data(), 12, reinterpret_cast<uint32_t>(world.data()));
    HostPixel sample{};
    ASSERT_EQ(fn<SampleFn>(utils, 4)(ref, 4 << 16, (2 << 16) + 0x8000, block.data(), &sample), 0);
    EXPECT_EQ(sample.alpha, 100); // half of the bottom row, half transparent below it

    // copyWorld at 32 and iterate at 44.
    World copy(5, 3);
    ASSERT_EQ(fn<CopyFn>(utils, 32)(ref, world.data(), &copy.record(), nullptr, nullptr), 0);
    EXPECT_EQ(copy.at(4, 2).alpha, 200);
    int32_t visits = 0;
    auto count = [](void *refcon, int32_t, int32_t, HostPixel *, HostPixel *) -> int32_t {
        ++*static_cast<int32_t *>(refcon);
        return 0;
    };
    ASSERT_EQ(fn<IterateFn>(utils, 44)(in.data(), 0, 3, nullptr, nullptr, &visits, count, world.data()), 0);
    EXPECT_EQ(visits, 15);

    // getWorldPort at 60: a porting-library port whose pixel map handle is
    // at byte 2 and names the world's pixels; disposeWorld at 64.
    void *port = nullptr, *device = nullptr;
    ASSERT_EQ(fn<PortFn>(utils, 60)(ref, world.data(), &port, &device), 0);
    const uint32_t pixMap = get<uint32_t>(port, 2);
    EXPECT_EQ(get<uint32_t>(reinterpret_cast<void *>(get<uint32_t>(reinterpret_cast<void *>(pixMap), 0)), 0), pixels);
    ASSERT_EQ(fn<DisposeWorldFn>(utils, 64)(ref, world.data()), 0);

    // newHandle at 84, disposeHandle at 96.
    Handle h = fn<NewHandleFn>(utils, 84)(4);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(host.live().hostHandles, 1);
    fn<DisposeHandleFn>(utils, 96)(h);

    // formatString at 168 reads 32-bit values; copyString at 172.
    char text[kReturnMessageSize];
    fn<FormatFn>(utils, 168)(text, "v%ld.%ld (%ld)", int32_t{3}, int32_t{2}, int32_t{-5});
    EXPECT_STREQ(text, "v3.2 (-5)");
    fn<CopyStringFn>(utils, 172)(text, "Size");
    EXPECT_STREQ(text, "Size");

    // The erase pattern lies 118 bytes into the drawing globals: all white.
    const uint8_t *globals = reinterpret_cast<const uint8_t *>(get<uint32_t>(in.data(), 128));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(globals[118 + i], 0) << i;
    EXPECT_TRUE(host.live().empty()) << host.live();
}

} // namespace

#endif
