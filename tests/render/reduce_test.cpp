#include "render/render.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// checkAbort answers `value` from call number `cancelAt` on.
struct AbortScript {
    int32_t calls = 0;
    int32_t cancelAt = 0;
    int32_t value = 0;
};

int32_t ScriptedAbort(EffectRef ref)
{
    AbortScript *s = reinterpret_cast<AbortScript *>(ref);
    ++s->calls;
    return s->cancelAt != 0 && s->calls >= s->cancelAt ? s->value : 0;
}

struct Reduction {
    AbortScript script;
    HostInData in{};
    std::vector<uint8_t> src;
    std::vector<HostPixel> dst;
    int32_t srcWidth, srcHeight, rowBytes, dstWidth, dstHeight;

    // Source rows padded past what the width needs, to show the stride is honoured.
    Reduction(int32_t w, int32_t h, uint8_t fill)
        : src(static_cast<size_t>((w / 8 + 3) * h), fill), srcWidth(w), srcHeight(h), rowBytes(w / 8 + 3),
          dstWidth(w / 4 + 1), dstHeight(h / 4 + 1)
    {
        in.checkAbort = ScriptedAbort;
        in.effectRef = reinterpret_cast<EffectRef>(&script);
        dst.assign(static_cast<size_t>(dstWidth * dstHeight), HostPixel{7, 11, 22, 33});
    }
    uint8_t &byte(int32_t row, int32_t index) { return src[static_cast<size_t>(row * rowBytes + index)]; }
    HostPixel &out(int32_t x, int32_t y) { return dst[static_cast<size_t>(y * dstWidth + x)]; }
    int32_t run() { return ReduceCoverage(src.data(), srcWidth, srcHeight, rowBytes, dst.data(), dstWidth * 4, &in); }
};

TEST(ReduceCoverage, TablesFollowTheirRules)
{
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(ZeroBitCount[n], 4 - __builtin_popcount(n)) << n;
    for (int k = 0; k <= 16; ++k)
        EXPECT_EQ(CoverageAlpha[k], (255 * k + 8) / 16) << k;
    EXPECT_EQ(CoverageAlpha[8], 128);
    EXPECT_EQ(CoverageAlpha[9], 143);
}

TEST(ReduceCoverage, NibbleExampleGives191And64)
{
    Reduction r(8, 4, 0xFF);
    r.byte(0, 0) = 0xFF;
    r.byte(1, 0) = 0x0F;
    r.byte(2, 0) = 0x0F;
    r.byte(3, 0) = 0x00;
    EXPECT_EQ(r.run(), 0);
    EXPECT_EQ(r.out(0, 0).alpha, 191);
    EXPECT_EQ(r.out(1, 0).alpha, 64);
    EXPECT_EQ(r.out(2, 0).alpha, 7) << "a third pixel was written";
    EXPECT_EQ(r.script.calls, 1);
}

TEST(ReduceCoverage, InkCountsOfWholeCells)
{
    // 8 and 9 ink bits in the high nibbles of one band.
    Reduction r(8, 8, 0xFF);
    r.byte(0, 0) = 0x0F; // 4
    r.byte(1, 0) = 0x0F; // 8
    r.byte(4, 0) = 0x0F;
    r.byte(5, 0) = 0x0F;
    r.byte(6, 0) = 0x7F; // 9
    EXPECT_EQ(r.run(), 0);
    EXPECT_EQ(r.out(0, 0).alpha, 128);
    EXPECT_EQ(r.out(0, 1).alpha, 143);
    EXPECT_EQ(r.out(1, 0).alpha, 0);

    Reduction allInk(16, 8, 0x00), noInk(16, 8, 0xFF);
    EXPECT_EQ(allInk.run(), 0);
    EXPECT_EQ(noInk.run(), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(allInk.out(x, y).alpha, 255);
            EXPECT_EQ(noInk.out(x, y).alpha, 0);
        }
}

TEST(ReduceCoverage, OddWidthReadsOnlyTheHighNibbleOfTheLastByte)
{
    Reduction r(12, 4, 0xFF);
    for (int row = 0; row < 4; ++row)
        r.byte(row, 1) = 0x3F; // high nibble 3 (2 ink each), low nibble all ink
    EXPECT_EQ(r.run(), 0);
    EXPECT_EQ(r.out(2, 0).alpha, CoverageAlpha[8]);
    EXPECT_EQ(r.out(3, 0).alpha, 7) << "low nibbles of the last byte were used";
}

TEST(ReduceCoverage, RemainderColumnsAndRowsAreIgnored)
{
    Reduction r(10, 7, 0x00); // W = 2, H = 1
    EXPECT_EQ(r.run(), 0);
    EXPECT_EQ(r.out(0, 0).alpha, 255);
    EXPECT_EQ(r.out(1, 0).alpha, 255);
    EXPECT_EQ(r.out(2, 0).alpha, 7);
    EXPECT_EQ(r.out(0, 1).alpha, 7);
    EXPECT_EQ(r.script.calls, 1);
}

TEST(ReduceCoverage, TooShortOrTooNarrowSources)
{
    Reduction shortSrc(16, 3, 0x00);
    EXPECT_EQ(shortSrc.run(), 0);
    EXPECT_EQ(shortSrc.script.calls, 0);
    EXPECT_EQ(shortSrc.out(0, 0).alpha, 7);

    // Narrow: no pixel, but the host is still asked once per output row.
    Reduction narrow(3, 12, 0x00);
    EXPECT_EQ(narrow.run(), 0);
    EXPECT_EQ(narrow.script.calls, 3);
    EXPECT_EQ(narrow.out(0, 0).alpha, 7);
}

TEST(ReduceCoverage, CancelAfterRowKLeavesLaterRowsAlone)
{
    for (int32_t k = 0; k < 4; ++k) {
        Reduction r(8, 16, 0x00);
        r.script.cancelAt = k + 1;
        r.script.value = 42 + k;
        EXPECT_EQ(r.run(), 42 + k);
        EXPECT_EQ(r.script.calls, k + 1);
        for (int32_t y = 0; y < 4; ++y)
            EXPECT_EQ(r.out(0, y).alpha, y <= k ? 255 : 7) << "k " << k << " row " << y;
    }
}

// Wide bands, where runs of clear and solid bytes are written without
// counting, against the nibble-by-nibble rule with the two tables.
TEST(ReduceCoverage, WideBandsFollowTheNibbleRule)
{
    std::mt19937 random(11);
    for (int32_t srcWidth : {256, 300, 516}) {
        Reduction r(srcWidth, 16, 0xFF);
        for (size_t i = 0; i < r.src.size(); ++i) {
            // Stretches of background, of solid ink and of edges.
            const size_t stretch = (i / 8) % 5;
            r.src[i] = stretch == 0 ? 0x00 : stretch == 3 ? static_cast<uint8_t>(random()) : 0xFF;
        }
        ASSERT_EQ(r.run(), 0);
        for (int32_t y = 0; y < srcWidth / 4 && y < 4; ++y)
            for (int32_t x = 0; x < srcWidth / 4; ++x) {
                int32_t ink = 0;
                for (int32_t row = 4 * y; row < 4 * y + 4; ++row) {
                    const uint8_t byte = r.byte(row, x / 2);
                    ink += ZeroBitCount[x % 2 == 0 ? byte >> 4 : byte & 15];
                }
                ASSERT_EQ(r.out(x, y).alpha, CoverageAlpha[ink]) << "width " << srcWidth << " at " << x << "," << y;
                ASSERT_EQ(r.out(x, y).red, 11);
            }
    }
}

TEST(ReduceCoverage, WritesOnlyTheAlphaByte)
{
    Reduction r(16, 8, 0x0F);
    EXPECT_EQ(r.run(), 0);
    for (const HostPixel &p : r.dst) {
        EXPECT_EQ(p.red, 11);
        EXPECT_EQ(p.green, 22);
        EXPECT_EQ(p.blue, 33);
    }
    EXPECT_EQ(r.out(0, 0).alpha, 255);
    EXPECT_EQ(r.out(1, 0).alpha, 0);
}

} // namespace
