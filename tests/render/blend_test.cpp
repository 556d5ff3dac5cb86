#include "fake_host.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct BlendRow {
    uint8_t b;
    int16_t composite;
    HostPixel colour, source, result;
};

TEST(BlendPixel, TableRows)
{
    const BlendRow rows[] = {
        {255, 0, {7, 250, 128, 0}, {1, 2, 3, 4}, {255, 250, 128, 0}},
        {255, 1, {7, 250, 128, 0}, {1, 2, 3, 4}, {255, 250, 128, 0}},
        {0, 1, {9, 9, 9, 9}, {200, 10, 20, 30}, {200, 10, 20, 30}},
        {0, 0, {9, 9, 9, 9}, {200, 10, 20, 30}, {0, 0, 0, 0}},
        {100, 0, {0, 250, 128, 0}, {200, 10, 20, 30}, {100, 250, 128, 0}},
        {100, 1, {0, 250, 128, 0}, {200, 10, 20, 30}, {221, 118, 68, 16}},
        {128, 1, {0, 255, 255, 255}, {255, 0, 0, 0}, {255, 128, 128, 128}},
        // Over a transparent source: the colour exactly, alpha the coverage.
        {37, 1, {0, 1, 2, 3}, {0, 200, 100, 50}, {37, 1, 2, 3}},
        // Only the lowest bit of composite counts.
        {100, 2, {0, 250, 128, 0}, {200, 10, 20, 30}, {100, 250, 128, 0}},
        {100, 3, {0, 250, 128, 0}, {200, 10, 20, 30}, {221, 118, 68, 16}},
    };
    for (const BlendRow &row : rows) {
        BlendRefcon refcon{row.colour, row.composite};
        // The colour pass's own choice for this refcon gives the same bytes.
        for (const PixelFunc blend : {PixelFunc{BlendPixel}, BlendPixelFor(&refcon)}) {
            HostPixel src = row.source;
            HostPixel dst{0x55, 0x66, 0x77, row.b};
            EXPECT_EQ(blend(&refcon, 3, 4, &src, &dst), 0);
            EXPECT_EQ(dst.alpha, row.result.alpha) << "b " << int(row.b) << " composite " << row.composite;
            EXPECT_EQ(dst.red, row.result.red) << "b " << int(row.b);
            EXPECT_EQ(dst.green, row.result.green) << "b " << int(row.b);
            EXPECT_EQ(dst.blue, row.result.blue) << "b " << int(row.b);
        }
    }
}

TEST(BlendPixel, PartialCoverageOverOpaqueIsOpaque)
{
    for (int b = 1; b < 255; b += 17) {
        BlendRefcon refcon{{0, 10, 200, 30}, 1};
        HostPixel src{255, 90, 90, 90};
        HostPixel dst{0, 0, 0, static_cast<uint8_t>(b)};
        BlendPixel(&refcon, 0, 0, &src, &dst);
        EXPECT_EQ(dst.alpha, 255) << b;
    }
}

// The rule with its divisions, as the blend is specified.
HostPixel RuleBlend(HostPixel colour, HostPixel base, uint32_t b)
{
    const uint32_t d = base.alpha * (255u - b) * 255u, e = b * 65025u, f = d + e;
    return HostPixel{static_cast<uint8_t>(f / 65025u), static_cast<uint8_t>((colour.red * e + base.red * d) / f),
                     static_cast<uint8_t>((colour.green * e + base.green * d) / f),
                     static_cast<uint8_t>((colour.blue * e + base.blue * d) / f)};
}

// Over a transparent or an opaque pixel the blend takes exact shortcuts:
// every coverage with every colour value, over source values a few apart,
// gives the rule's bytes.
TEST(BlendPixel, ShortcutsOverClearAndOpaqueMatchTheRule)
{
    for (uint8_t baseAlpha : {0, 255})
        for (uint32_t b = 1; b < 255; ++b)
            for (uint32_t c = 0; c < 256; ++c)
                for (uint32_t s = 0; s < 256; s += 15) {
                    const auto byte = [](uint32_t v) { return static_cast<uint8_t>(v); };
                    BlendRefcon refcon{{0, byte(c), byte(255 - c), byte(c ^ 0x5A)}, 1};
                    HostPixel src{baseAlpha, byte(s), byte(s + 5), byte(s + 10)};
                    HostPixel dst{0, 0, 0, byte(b)};
                    BlendPixel(&refcon, 0, 0, &src, &dst);
                    const HostPixel want = RuleBlend(refcon.colour, src, b);
                    ASSERT_EQ(std::memcmp(&dst, &want, 4), 0)
                        << "alpha " << int(baseAlpha) << " b " << b << " c " << c << " s " << s;
                }
}

TEST(BlendPixel, CompositeOffNeverReadsTheSource)
{
    BlendRefcon refcon{{0, 1, 2, 3}, 0};
    HostPixel dst{0, 0, 0, 0};
    EXPECT_EQ(BlendPixel(&refcon, 0, 0, nullptr, &dst), 0);
    dst.blue = 90;
    EXPECT_EQ(BlendPixel(&refcon, 0, 0, nullptr, &dst), 0);
    EXPECT_EQ(dst.alpha, 90);
}

int32_t RecordingSampler(EffectRef, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out)
{
    static_cast<void>(block);
    *out = HostPixel{static_cast<uint8_t>((x >> 16) & 0xFF), 1, 2, static_cast<uint8_t>(y >> 16)};
    return x == 0x7FFF0000 ? -9 : 0;
}

TEST(SampleCoveragePixel, WritesOnlyByteThreeAtWrappedPositions)
{
    SampleRefcon refcon{};
    refcon.x0 = -78 * 65536 - 32768;
    refcon.y0 = -32 * 65536;
    refcon.sampleAt = RecordingSampler;
    HostPixel dst{10, 20, 30, 40};
    // (80, 33) samples at (1.5, 1.0): the integer parts are 1 and 1.
    EXPECT_EQ(SampleCoveragePixel(&refcon, 80, 33, nullptr, &dst), 0);
    EXPECT_EQ(dst.alpha, 10);
    EXPECT_EQ(dst.red, 20);
    EXPECT_EQ(dst.green, 30);
    EXPECT_EQ(dst.blue, 1);

    // The sums are 32-bit two's complement: a far x0 comes back into range.
    refcon.x0 = static_cast<Fixed>(0x80000000u);
    EXPECT_EQ(SampleCoveragePixel(&refcon, 32768 + 5, 33, nullptr, &dst), 0);
    EXPECT_EQ(dst.blue, 5);
    // The sampler's error is the pixel function's result.
    refcon.x0 = 0x7FFF0000 - 3 * 65536;
    EXPECT_EQ(SampleCoveragePixel(&refcon, 3, 33, nullptr, &dst), -9);
}

TEST(TransferCoverage, SamplesTheSourceAtTheOffsetPosition)
{
    FakeHost host(8, 4);
    FakeWorld source(4, 2);
    for (int32_t x = 0; x < 4; ++x)
        source.at(x, 1).alpha = static_cast<uint8_t>(40 * (x + 1));
    for (HostPixel &p : host.output.pixels)
        p = HostPixel{1, 2, 3, 99};

    const QdRect area{1, 2, 3, 6}; // top 1, left 2, bottom 3, right 6
    EXPECT_EQ(TransferCoverage(&host.in, -2 * 65536, 0, 5, 77, &source.record, &host.output.record, &area), 0);
    ASSERT_EQ(host.iterates.size(), 1u);
    EXPECT_EQ(host.iterates[0].base, 5);
    EXPECT_EQ(host.iterates[0].final, 77);
    EXPECT_FALSE(host.iterates[0].hasSource);
    for (int32_t x = 2; x < 6; ++x) {
        EXPECT_EQ(host.output.at(x, 1).blue, 40 * (x - 1)) << x;
        EXPECT_EQ(host.output.at(x, 2).blue, 0) << x;
        EXPECT_EQ(host.output.at(x, 1).alpha, 1);
    }
    EXPECT_EQ(host.output.at(1, 1).blue, 99);
    EXPECT_EQ(host.output.at(6, 1).blue, 99);
    EXPECT_EQ(host.output.at(2, 0).blue, 99);

    // Half-pixel offset: half of each neighbour.
    EXPECT_EQ(TransferCoverage(&host.in, -2 * 65536 + 32768, 0, 0, 1, &source.record, &host.output.record, &area), 0);
    EXPECT_EQ(host.output.at(2, 1).blue, 60);
    EXPECT_EQ(host.output.at(5, 1).blue, 80);

    host.failAt(FakeHost::SampleAt, 3, -77);
    EXPECT_EQ(TransferCoverage(&host.in, 0, 0, 0, 1, &source.record, &host.output.record, &area), -77);
}

} // namespace
