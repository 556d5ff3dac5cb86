// Whole renders through `main` with the stand-in host, the porting library
// and real fonts; every suite also runs with the library moving every
// unlocked block on each call.
#include "geometry.h"
#include "host.h"
#include "render/render.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using corvane::Host;
using corvane::LiveCounts;
using corvane::RenderSettings;
using corvane::Service;
using corvane::World;

using namespace qmtest;

namespace {

bool Same(const HostPixel &a, const HostPixel &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const char kFont[] = "DejaVu Sans";
const char kText[] = "Quillomark\r\nrenders text\r\nAlign me";

bool WritePng(const std::string &path, const World &world)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(world.width()), static_cast<png_uint_32>(world.height()), 8,
                     PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<uint8_t> row(static_cast<size_t>(world.width()) * 4);
        for (int32_t y = 0; y < world.height(); ++y) {
            const HostPixel *p = world.row(y);
            for (int32_t x = 0; x < world.width(); ++x) {
                row[4 * x] = p[x].red;
                row[4 * x + 1] = p[x].green;
                row[4 * x + 2] = p[x].blue;
                row[4 * x + 3] = p[x].alpha;
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

// Bounding box of the pixels whose alpha is not 0; empty when there are none.
struct Box {
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    int64_t coverage = 0;
    bool empty() const { return right < left; }
};

Box InkBox(const World &w)
{
    Box b;
    for (int32_t y = 0; y < w.height(); ++y)
        for (int32_t x = 0; x < w.width(); ++x) {
            const uint8_t a = w.row(y)[x].alpha;
            if (a == 0)
                continue;
            b.coverage += a;
            b.left = std::min(b.left, x);
            b.top = std::min(b.top, y);
            b.right = std::max(b.right, x + 1);
            b.bottom = std::max(b.bottom, y + 1);
        }
    return b;
}

class RenderThroughHost : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        Host::setPortingHeapScramble(GetParam());
        ASSERT_EQ(host.globalSetup(), 0);
        ASSERT_EQ(host.paramSetup(), 0);
        ASSERT_EQ(instance.setup(), 0);
        SetText(kText);
        for (int32_t y = 0; y < input.height(); ++y)
            for (int32_t x = 0; x < input.width(); ++x)
                input.row(y)[x] = HostPixel{255, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90};
        settings.size = 36;
        settings.x = F(160);
        settings.y = F(100);
        settings.colour = HostPixel{0, 255, 200, 0};
        baseline = host.live();
    }

    void TearDown() override
    {
        host.clearFaults();
        Host::setPortingHeapScramble(false);
    }

    void SetText(const std::string &text, uint16_t alignment = kAlignCenter, uint16_t style = 0)
    {
        instance.setStoredRecord(
            corvane::record::encode({.text = text, .fontName = kFont, .style = style, .alignment = alignment}));
    }

    int32_t Render() { return instance.render(settings, input, output); }

    // The module holds nothing after a render: only what setup made is live.
    void ExpectNothingHeld()
    {
        EXPECT_EQ(host.live(), baseline);
        EXPECT_TRUE(host.misuses().empty()) << host.misuses().front();
    }

    // The block as the module measures it, with the real library.
    void Measure(QdRect *block1x, QdRect *block4x, int16_t *allowance)
    {
        const std::string pascal = std::string(1, static_cast<char>(sizeof kFont - 1)) + kFont;
        int16_t font = 0;
        GetFNum(reinterpret_cast<const unsigned char *>(pascal.c_str()), &font);
        ASSERT_EQ(MeasureTextExtents(font, settings.size, 0, kText, block1x, block4x, allowance), 0);
    }

    Host host{QM_MODULE_PATH};
    corvane::Instance &instance = host.newInstance();
    World input{320, 200};
    World output{320, 200};
    RenderSettings settings;
    LiveCounts baseline;
};

TEST_P(RenderThroughHost, CoverageStaysInsideTheBlock)
{
    QdRect b1{}, b4{};
    int16_t allowance = 0;
    Measure(&b1, &b4, &allowance);
    ASSERT_GT(b1.right, 40);
    for (uint16_t alignment = 0; alignment < 3; ++alignment) {
        SetText(kText, alignment);
        settings.quality = 0;
        ASSERT_EQ(Render(), 0) << host.message();
        DraftPlacement d{};
        ASSERT_TRUE(PlaceDraftBlock(&b1, allowance, settings.x, settings.y, alignment, 320, 200, &d));
        Box ink = InkBox(output);
        ASSERT_FALSE(ink.empty());
        EXPECT_GE(ink.left, d.section.left);
        EXPECT_GE(ink.top, d.section.top);
        EXPECT_LE(ink.right, d.section.right);
        EXPECT_LE(ink.bottom, d.section.bottom);
        // Draft coverage is all or nothing.
        for (const HostPixel &p : output.pixels())
            ASSERT_TRUE(p.alpha == 0 || Same(p, HostPixel{255, 255, 200, 0}));

        settings.quality = 1;
        ASSERT_EQ(Render(), 0) << host.message();
        HighQualityPlacement h{};
        ASSERT_TRUE(
            PlaceHighQualityBlock(&b4, allowance, settings.x, settings.y, alignment, &output.record().extent, &h));
        ink = InkBox(output);
        ASSERT_FALSE(ink.empty());
        EXPECT_GE(ink.left, h.areaQd.left);
        EXPECT_GE(ink.top, h.areaQd.top);
        EXPECT_LE(ink.right, h.areaQd.right);
        EXPECT_LE(ink.bottom, h.areaQd.bottom);
        // Anti-aliased: partial coverage exists.
        EXPECT_TRUE(std::any_of(output.pixels().begin(), output.pixels().end(),
                                [](const HostPixel &p) { return p.alpha > 0 && p.alpha < 255; }));
    }
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, CompositeOnKeepsTheInputOutsideTheText)
{
    for (int32_t quality : {0, 1}) {
        settings.quality = quality;
        settings.composite = false;
        ASSERT_EQ(Render(), 0);
        std::vector<HostPixel> alone(output.pixels().begin(), output.pixels().end());
        settings.composite = true;
        ASSERT_EQ(Render(), 0);
        for (size_t i = 0; i < alone.size(); ++i) {
            const HostPixel &p = output.pixels()[i];
            if (alone[i].alpha == 0)
                ASSERT_TRUE(Same(p, input.pixels()[i])) << i;
            else if (alone[i].alpha == 255)
                ASSERT_TRUE(Same(p, HostPixel{255, 255, 200, 0})) << i;
            else // over an opaque input: opaque, between the two colours
                ASSERT_EQ(p.alpha, 255) << i;
        }
    }
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, SizeZeroCopiesOrClears)
{
    settings.size = 0;
    for (bool composite : {true, false}) {
        settings.composite = composite;
        output.fill(HostPixel{1, 2, 3, 4});
        host.resetCalls();
        ASSERT_EQ(Render(), 0);
        EXPECT_EQ(host.calls(Service::NewWorld), 0);
        EXPECT_EQ(host.calls(Service::Iterate), 0);
        for (size_t i = 0; i < output.pixels().size(); ++i)
            ASSERT_TRUE(Same(output.pixels()[i], composite ? input.pixels()[i] : HostPixel{0, 0, 0, 0})) << i;
    }
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, NothingToDrawMakesNoWorld)
{
    struct Case {
        const char *text;
        Fixed x;
    };
    for (const Case c : {Case{kText, F(-900)}, Case{kText, F(2000)}, Case{"", F(160)}})
        for (int32_t quality : {0, 1})
            for (bool composite : {false, true}) {
                SetText(c.text);
                settings.x = c.x;
                settings.quality = quality;
                settings.composite = composite;
                host.resetCalls();
                ASSERT_EQ(Render(), 0);
                EXPECT_EQ(host.calls(Service::NewWorld), 0);
                EXPECT_EQ(host.calls(Service::Iterate), 1);
                for (size_t i = 0; i < output.pixels().size(); ++i)
                    ASSERT_TRUE(Same(output.pixels()[i], composite ? input.pixels()[i] : HostPixel{0, 0, 0, 0}));
            }
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, HighQualityKeepsToTheExtentDraftToTheWorld)
{
    output.setExtent(QdRect{0, 0, 50, 50});
    settings.x = F(200);
    settings.y = F(120);
    settings.quality = 1;
    host.resetCalls();
    ASSERT_EQ(Render(), 0);
    EXPECT_EQ(host.calls(Service::NewWorld), 0);
    EXPECT_TRUE(InkBox(output).empty());
    settings.quality = 0;
    ASSERT_EQ(Render(), 0);
    EXPECT_EQ(host.calls(Service::NewWorld), 1);
    EXPECT_FALSE(InkBox(output).empty());
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, AQuarterPixelMovesEdgeCoverageSmoothly)
{
    settings.quality = 1;
    SetText("IIII", kAlignLeft);
    settings.x = F(100.0);
    ASSERT_EQ(Render(), 0);
    std::vector<HostPixel> whole(output.pixels().begin(), output.pixels().end());
    const Box before = InkBox(output);
    settings.x = F(100.25);
    ASSERT_EQ(Render(), 0);
    const Box after = InkBox(output);

    int32_t changed = 0, largest = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        const int32_t d = std::abs(int32_t{whole[i].alpha} - output.pixels()[i].alpha);
        changed += d != 0;
        largest = std::max(largest, d);
    }
    EXPECT_GT(changed, 20);
    // A quarter of a pixel moves each sample a quarter of the way to its neighbour.
    EXPECT_LE(largest, 255 / 4 + 2);
    // The same ink, not more or less of it.
    EXPECT_NEAR(static_cast<double>(after.coverage), static_cast<double>(before.coverage), before.coverage * 0.02);
    // No whole-pixel shift of the first image gives the second.
    for (int32_t shift : {0, 1}) {
        bool same = true;
        for (int32_t y = 0; y < output.height() && same; ++y)
            for (int32_t x = 1; x < output.width() && same; ++x)
                same = whole[static_cast<size_t>(y * output.width() + x - shift)].alpha == output.row(y)[x].alpha;
        EXPECT_FALSE(same) << "shift " << shift;
    }
    ExpectNothingHeld();
}

struct Injected {
    Service service;
    int32_t quality;
    int32_t message; // string-table entry, -1 none
};

TEST_P(RenderThroughHost, EveryHostFailureIsReportedAndReleased)
{
    const Injected cases[] = {
        {Service::FillWorld, 1, -1},
        {Service::NewWorld, 0, kStrNoTextBuffer},
        {Service::NewWorld, 1, kStrNoTextBuffer},
        {Service::GetWorldPort, 0, kStrNoTextBuffer},
        {Service::CopyWorld, 0, -1},
        {Service::DisposeWorld, 0, -1},
        {Service::DisposeWorld, 1, -1},
        {Service::Iterate, 0, -1},
        {Service::Iterate, 1, -1},
        {Service::SampleAt, 1, -1},
    };
    for (const Injected &c : cases) {
        settings.quality = c.quality;
        // The nth call of the service, for every n a render makes.
        int32_t n = 1;
        for (; n < 4; ++n) {
            SCOPED_TRACE(testing::Message()
                         << "service " << static_cast<int>(c.service) << " quality " << c.quality << " call " << n);
            host.clearFaults();
            host.failAt(c.service, n, -4000 - n);
            const int32_t result = Render();
            if (result == 0)
                break; // no nth call
            EXPECT_EQ(result, -4000 - n);
            EXPECT_EQ(host.message(), c.message < 0 ? "" : gStringTable[c.message]);
            EXPECT_EQ(host.out().outFlags, 0);
            ExpectNothingHeld();
        }
        EXPECT_GT(n, 1) << "service " << static_cast<int>(c.service) << " never failed the render";
    }
}

TEST_P(RenderThroughHost, EveryPortingAllocationFailureIsReportedAndReleased)
{
    for (int32_t quality : {0, 1}) {
        settings.quality = quality;
        int32_t n = 1;
        for (; n < 6; ++n) {
            SCOPED_TRACE(testing::Message() << "quality " << quality << " allocation " << n);
            host.clearFaults();
            host.failPortingAllocationAt(n);
            const int32_t result = Render();
            if (result == 0)
                break;
            // The measurement's scratch world first: its code alone. Then the
            // offscreen or the draft port: the text-buffer message.
            EXPECT_EQ(host.message(), n == 1 ? "" : gStringTable[kStrNoTextBuffer]);
            EXPECT_EQ(host.out().outFlags, 0);
            ExpectNothingHeld();
        }
        EXPECT_EQ(n, 3) << "quality " << quality;
    }
}

TEST_P(RenderThroughHost, ACancelAtEveryPointStopsCleanly)
{
    for (int32_t quality : {0, 1}) {
        settings.quality = quality;
        host.clearFaults();
        host.resetCalls();
        ASSERT_EQ(Render(), 0);
        const int32_t checks = host.calls(Service::CheckAbort);
        // Before drawing and before the final pass; high quality once per row as well.
        if (quality == 0)
            EXPECT_EQ(checks, 2);
        else
            EXPECT_GT(checks, 10);
        for (int32_t n = 1; n <= checks; ++n) {
            host.clearFaults();
            host.cancelAtCheck(n, 900 + n);
            EXPECT_EQ(Render(), 900 + n) << "quality " << quality << " check " << n;
            EXPECT_EQ(host.message(), "");
            ExpectNothingHeld();
        }
    }
}

TEST_P(RenderThroughHost, DamagedRecordIsRefused)
{
    instance.setStoredRecord(
        corvane::record::encode({.magic = corvane::record::kMagic ^ 1, .text = kText, .fontName = kFont}));
    output.fill(HostPixel{9, 8, 7, 6});
    EXPECT_EQ(Render(), kErrSettingsDamaged);
    EXPECT_EQ(host.message(), gStringTable[kStrDamaged]);
    EXPECT_EQ(host.out().outFlags, kErrorMessageFlags);
    for (const HostPixel &p : output.pixels())
        ASSERT_TRUE(Same(p, HostPixel{9, 8, 7, 6}));
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, UnterminatedTextRendersAsTheWholeField)
{
    // A damaged record: right magic, 256 text bytes and no zero among them.
    std::vector<uint8_t> bytes = corvane::record::encode({.fontName = kFont, .alignment = kAlignLeft});
    const auto text = corvane::record::bytesOf(bytes, corvane::record::Field::Text);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = (i % 16 == 15) ? '\r' : static_cast<uint8_t>('a' + i % 16);
    instance.setStoredRecord(bytes);
    settings.size = 8;
    settings.x = F(2);
    settings.y = F(100);
    for (int32_t quality : {0, 1}) {
        settings.quality = quality;
        ASSERT_EQ(Render(), 0);
        EXPECT_FALSE(InkBox(output).empty());
    }
    ExpectNothingHeld();
}

TEST_P(RenderThroughHost, ImagesForAPersonToLookAt)
{
    const bool write = !GetParam(); // the files once, from the plain run
    struct Style {
        const char *name;
        uint16_t face;
    };
    const Style styles[] = {{"plain", 0},
                            {"bold", kFaceBold},
                            {"italic", kFaceItalic},
                            {"underline", kFaceUnderline},
                            {"outline", kFaceOutline}};
    const char *alignments[] = {"left", "centre", "right"};
    World big{480, 200};
    World backdrop{480, 200};
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 480; ++x)
            backdrop.row(y)[x] =
                HostPixel{255, static_cast<uint8_t>(40 + x / 4), 60, static_cast<uint8_t>(150 - y / 2)};
    settings.colour = HostPixel{0, 255, 230, 90};
    settings.composite = true;
    settings.size = 40;
    settings.y = F(100.5);
    int64_t plainCoverage = 0;
    for (int32_t quality : {0, 1})
        for (uint16_t a = 0; a < 3; ++a)
            for (const Style &s : styles) {
                if (s.face != 0 && a != kAlignCenter)
                    continue;
                SetText("Quillomark\r\nText on a layer", a, s.face);
                settings.quality = quality;
                settings.x = a == kAlignLeft ? F(20.5) : a == kAlignCenter ? F(240.25) : F(460.75);
                ASSERT_EQ(instance.render(settings, backdrop, big), 0) << host.message();
                const std::string path = std::string(QM_TEST_OUTPUT_DIR) + "/render_" + (quality ? "hq" : "draft") +
                                         "_" + alignments[a] + "_" + s.name + ".png";
                if (write) {
                    EXPECT_TRUE(WritePng(path, big)) << path;
                }
                // Text changes the image, and a bold face inks more than a plain one.
                int64_t changed = 0;
                for (size_t i = 0; i < big.pixels().size(); ++i)
                    changed += !Same(big.pixels()[i], backdrop.pixels()[i]);
                EXPECT_GT(changed, 500) << path;
                if (a == kAlignCenter && s.face == 0)
                    plainCoverage = changed;
                if (a == kAlignCenter && s.face == kFaceBold) {
                    EXPECT_GT(changed, plainCoverage) << path;
                }
            }
    ExpectNothingHeld();
}

// Frames large enough for the host to share their rows among threads: the
// same bytes and the same service calls with 1, 2 and 8 threads, and a fault
// or a cancel in the middle of a shared pass still releases everything.
TEST(RenderWithThreads, SameBytesAndCleanStops)
{
    World input{960, 540};
    World output{960, 540};
    for (int32_t y = 0; y < input.height(); ++y)
        for (int32_t x = 0; x < input.width(); ++x)
            input.row(y)[x] =
                HostPixel{static_cast<uint8_t>(x ^ y), static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90};
    RenderSettings settings;
    settings.size = 72;
    settings.x = F(480.25);
    settings.y = F(270.5);
    settings.colour = HostPixel{0, 255, 200, 0};

    std::vector<std::vector<HostPixel>> reference;
    std::vector<std::pair<int32_t, int32_t>> referenceCalls;
    for (int32_t threads : {1, 2, 8}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        Host host(QM_MODULE_PATH, threads);
        corvane::Instance &instance = host.newInstance();
        ASSERT_EQ(host.globalSetup(), 0);
        ASSERT_EQ(host.paramSetup(), 0);
        ASSERT_EQ(instance.setup(), 0);
        instance.setStoredRecord(
            corvane::record::encode({.text = kText, .fontName = kFont, .alignment = kAlignCenter}));
        const LiveCounts baseline = host.live();
        size_t frame = 0;
        for (int32_t quality : {0, 1})
            for (bool composite : {false, true}) {
                settings.quality = quality;
                settings.composite = composite;
                host.resetCalls();
                ASSERT_EQ(instance.render(settings, input, output), 0);
                std::vector<HostPixel> bytes(output.pixels().begin(), output.pixels().end());
                const std::pair<int32_t, int32_t> calls{host.calls(Service::SampleAt), host.calls(Service::Iterate)};
                if (threads == 1) {
                    reference.push_back(bytes);
                    referenceCalls.push_back(calls);
                } else {
                    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), reference[frame].begin(), Same)) << frame;
                    EXPECT_EQ(calls, referenceCalls[frame]) << frame;
                }
                ++frame;
            }

        settings.quality = 1;
        host.failAt(Service::SampleAt, 5000, -77);
        EXPECT_EQ(instance.render(settings, input, output), -77);
        EXPECT_EQ(host.live(), baseline);
        // A cancel from the progress the transfer reports once it is done.
        host.setProgress([&](int32_t current, int32_t total) {
            if (current > 0 && current == total - input.height())
                host.requestCancel(-128);
        });
        EXPECT_EQ(instance.render(settings, input, output), -128);
        EXPECT_EQ(host.live(), baseline);
        EXPECT_TRUE(host.misuses().empty());
        host.setProgress(nullptr);
        host.clearFaults();
    }
}

INSTANTIATE_TEST_SUITE_P(Heap, RenderThroughHost, ::testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "Scrambled" : "Plain"; });

} // namespace
