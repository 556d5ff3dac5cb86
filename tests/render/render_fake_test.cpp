#include "geometry.h"
#include "fake_host.h"
#include "fake_porting.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace qmtest;

namespace {

bool Same(const HostPixel &a, const HostPixel &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const HostPixel kRed{0, 255, 0, 0};

// The two-line block: 44 x 36 with allowance 3 at 18 points, 176 x 144 at 72.
class RenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        fake::scriptTwoLineMetrics();
        host.setText("first line\rsecond", kAlignCenter);
        host.setParams(18, F(100.5), F(50.0), kRed, false);
        host.out.outFlags = 0x1234;
    }

    void ExpectNothingHeld()
    {
        EXPECT_EQ(fake::state().lockedHandles(), 0);
        EXPECT_EQ(fake::state().liveOffscreens(), 0);
        EXPECT_EQ(host.liveWorlds, 0);
        EXPECT_EQ(host.livePorts, 0);
        EXPECT_EQ(fake::state().current, nullptr) << "the current port was not given back";
    }

    std::string Message() const { return host.out.returnMessage; }

    FakeHost host;
};

TEST_F(RenderTest, DraftPlacesTheBlockOnWholePixelsByAlignment)
{
    const int16_t lefts[] = {101, 79, 57};
    for (uint16_t alignment = 0; alignment < 3; ++alignment) {
        SCOPED_TRACE(alignment);
        host.setText("first line\rsecond", alignment);
        host.newWorlds.clear();
        host.copyTargets.clear();
        host.iterates.clear();
        EXPECT_EQ(host.render(0), 0);
        const int16_t left = lefts[alignment];
        ASSERT_EQ(host.newWorlds.size(), 1u);
        EXPECT_EQ(host.newWorlds[0].width, 47);
        EXPECT_EQ(host.newWorlds[0].height, 36);
        EXPECT_EQ(host.newWorlds[0].flags, 1);
        ASSERT_EQ(host.copyTargets.size(), 1u);
        EXPECT_TRUE((host.copyTargets[0] == QdRect{32, left, 68, static_cast<int16_t>(left + 47)}));
        ASSERT_EQ(host.iterates.size(), 1u);
        EXPECT_EQ(host.iterates[0].base, 0);
        EXPECT_EQ(host.iterates[0].final, 480);
        EXPECT_TRUE(host.iterates[0].whole);
        EXPECT_TRUE(host.iterates[0].hasSource);
        ExpectNothingHeld();
    }
    // Right-aligned lines end at the block's right edge (57 + 44), the first
    // line's ink box spans rows 32 to 47: full colour there, clear outside.
    EXPECT_TRUE(Same(host.output.at(100, 32), HostPixel{255, 255, 0, 0}));
    EXPECT_TRUE(Same(host.output.at(61, 47), HostPixel{255, 255, 0, 0}));
    EXPECT_TRUE(Same(host.output.at(101, 32), HostPixel{0, 0, 0, 0}));
    EXPECT_TRUE(Same(host.output.at(60, 32), HostPixel{0, 0, 0, 0}));
    EXPECT_TRUE(Same(host.output.at(70, 48), HostPixel{0, 0, 0, 0}));
}

TEST_F(RenderTest, DraftPlacesThroughTheLibraryRectangles)
{
    struct Case {
        uint16_t alignment;
        int16_t dh; // dv is 32 for every alignment
    };
    const Case cases[] = {{kAlignLeft, 101}, {kAlignCenter, 79}, {kAlignRight, 57}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alignment);
        fake::state().rectCalls.clear();
        host.setText("first line\rsecond", c.alignment);
        EXPECT_EQ(host.render(0), 0);
        const std::string placed = fake::RectText(QdRect{32, c.dh, 68, static_cast<int16_t>(c.dh + 44)});
        const std::vector<std::string> expected = {
            "_SetRect 0,0,44,36",
            "_SetRect 0,0,176,144", // the measurement, 1x and 4x
            "_SetRect 0,0,640,480",
            "_OffsetRect " + std::to_string(c.dh) + ",32",
            "SectRect " + placed + " 0,0,480,640 -> " + placed,
            "_OffsetRect " + std::to_string(-c.dh) + ",-32",
        };
        EXPECT_EQ(fake::state().rectCalls, expected);
        EXPECT_EQ(fake::state().rectWraps, 0);
    }
}

TEST_F(RenderTest, HighQualityMovesTheDrawingRectangleThroughTheLibrary)
{
    struct Case {
        Fixed x;
        uint16_t alignment;
        const char *move; // the 4x drawing rectangle's move, the only library rectangle call after measuring
    };
    const Case cases[] = {
        {F(100.5), kAlignCenter, "_OffsetRect 0,0"},
        {F(-10.25), kAlignLeft, "_OffsetRect -40,0"}, // section starts 10 pixels into the block
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.move);
        fake::state().rectCalls.clear();
        host.setText("first line\rsecond", c.alignment);
        host.setParams(18, c.x, F(50.0), kRed, false);
        EXPECT_EQ(host.render(1), 0);
        const std::vector<std::string> expected = {"_SetRect 0,0,44,36", "_SetRect 0,0,176,144", c.move};
        EXPECT_EQ(fake::state().rectCalls, expected);
    }
}

TEST_F(RenderTest, HighQualityDrawsTheWidenedSectionAtFourTimesItsSize)
{
    EXPECT_EQ(host.render(1), 0);
    ASSERT_EQ(host.newWorlds.size(), 1u);
    EXPECT_EQ(host.newWorlds[0].width, 47);
    EXPECT_EQ(host.newWorlds[0].height, 36);
    EXPECT_EQ(host.newWorlds[0].flags, 0);
    EXPECT_TRUE(fake::state().called("NewGWorld 1 0,0,144,188 flags 8"));
    EXPECT_TRUE(fake::state().called("FillRect 0,0,144,188"));
    EXPECT_TRUE(fake::state().called("LockPixels"));
    // Drawing rectangle unmoved: centred lines at the 4x baselines.
    EXPECT_TRUE(fake::state().called("MoveTo 0,54"));
    EXPECT_TRUE(fake::state().called("MoveTo 58,128"));
    EXPECT_TRUE(fake::state().called("TextSize 72"));

    ASSERT_EQ(host.iterates.size(), 2u);
    EXPECT_EQ(host.iterates[0].base, 0);
    EXPECT_EQ(host.iterates[0].final, 516);
    EXPECT_TRUE((host.iterates[0].area == QdRect{32, 78, 68, 126}));
    EXPECT_FALSE(host.iterates[0].hasSource);
    EXPECT_EQ(host.iterates[1].base, 36);
    EXPECT_EQ(host.iterates[1].final, 516);
    EXPECT_TRUE(host.iterates[1].whole);
    // x0 -78.5, y0 -32: the first pixel (78, 32) samples at (-0.5, 0).
    ASSERT_FALSE(host.samples.empty());
    EXPECT_EQ(host.samples[0].first, F(-0.5));
    EXPECT_EQ(host.samples[0].second, 0);
    ExpectNothingHeld();

    // Inside the first line: full colour. Its left edge falls mid-pixel: half.
    EXPECT_TRUE(Same(host.output.at(90, 40), HostPixel{255, 255, 0, 0}));
    EXPECT_TRUE(Same(host.output.at(78, 40), HostPixel{128, 255, 0, 0}));
    // 4x rows 68 to 71 hold ink in 2 of 4: the temporary world's row 17 is 128.
    EXPECT_EQ(host.output.at(90, 49).alpha, 128);
    for (int32_t y = 0; y < 480; y += 7) {
        for (int32_t x = 0; x < 640; x += 3) {
            if (x < 78 || x >= 126 || y < 32 || y >= 68) {
                ASSERT_TRUE(Same(host.output.at(x, y), HostPixel{0, 0, 0, 0})) << x << "," << y;
            }
        }
    }
}

TEST_F(RenderTest, PlacementClipsTheBlockAndWidensTheSection)
{
    const QdRect block1x{0, 0, 36, 44};
    DraftPlacement d{};
    ASSERT_TRUE(PlaceDraftBlock(&block1x, 3, F(100.5), F(50.0), kAlignCenter, 640, 480, &d));
    EXPECT_TRUE((d.section == QdRect{32, 79, 68, 126}));
    EXPECT_TRUE((d.block == QdRect{0, 0, 36, 44}));
    // Clipped at the top left: the block starts before the temporary world.
    ASSERT_TRUE(PlaceDraftBlock(&block1x, 3, F(10.0), F(5.0), kAlignLeft, 640, 480, &d));
    EXPECT_TRUE((d.section == QdRect{0, 10, 23, 57}));
    EXPECT_TRUE((d.block == QdRect{-13, 0, 23, 44}));
    // Clipped at the right: still widened, past the output.
    ASSERT_TRUE(PlaceDraftBlock(&block1x, 3, F(630.0), F(50.0), kAlignLeft, 640, 480, &d));
    EXPECT_TRUE((d.section == QdRect{32, 630, 68, 643}));
    EXPECT_FALSE(PlaceDraftBlock(&block1x, 3, F(-44.5), F(50.0), kAlignLeft, 640, 480, &d));

    const QdRect block4x{0, 0, 144, 176};
    const QdRect extent{0, 0, 480, 640};
    HighQualityPlacement h{};
    ASSERT_TRUE(PlaceHighQualityBlock(&block4x, 3, F(100.5), F(50.0), kAlignCenter, &extent, &h));
    EXPECT_TRUE((h.sectionQd == QdRect{0, 0, 36, 47}));
    EXPECT_EQ(h.x0, F(-78.5));
    EXPECT_EQ(h.y0, F(-32.0));
    EXPECT_TRUE((h.areaQd == QdRect{32, 78, 68, 126}));
    // Clipped on the left at a quarter pixel: the section starts inside the block.
    ASSERT_TRUE(PlaceHighQualityBlock(&block4x, 3, F(-10.25), F(50.0), kAlignLeft, &extent, &h));
    EXPECT_TRUE((h.sectionQd == QdRect{0, 10, 36, 47}));
    EXPECT_EQ(h.x0, F(0.25));
    EXPECT_TRUE((h.areaQd == QdRect{32, -1, 68, 37}));
}

TEST_F(RenderTest, PlacementNearTheEndsOfTheCoordinateRangeDoesNotWrap)
{
    const QdRect block1x{0, 0, 36, 44};
    DraftPlacement d{};
    // Right-aligned far left, and left-aligned at the far right: nothing wraps into view.
    EXPECT_FALSE(PlaceDraftBlock(&block1x, 3, INT32_MIN, F(50.0), kAlignRight, 640, 480, &d));
    EXPECT_FALSE(PlaceDraftBlock(&block1x, 3, INT32_MAX, F(50.0), kAlignLeft, 640, 480, &d));
    // A wide output whose right end the block straddles.
    ASSERT_TRUE(PlaceDraftBlock(&block1x, 3, F(32750.0), F(50.0), kAlignLeft, 40000, 480, &d));
    EXPECT_TRUE((d.section == QdRect{32, 32750, 68, 32767}));
    EXPECT_TRUE((d.block == QdRect{0, 0, 36, 44}));

    const QdRect block4x{0, 0, 144, 176};
    HighQualityPlacement h{};
    const QdRect small{0, 0, 480, 640};
    EXPECT_FALSE(PlaceHighQualityBlock(&block4x, 3, INT32_MIN, F(50.0), kAlignRight, &small, &h));
    EXPECT_FALSE(PlaceHighQualityBlock(&block4x, 3, INT32_MAX, F(50.0), kAlignLeft, &small, &h));
    // Past +32768 pixels the block's right edge leaves the 16.16 range.
    const QdRect wide{0, 0, 480, 32767};
    ASSERT_TRUE(PlaceHighQualityBlock(&block4x, 3, F(32750.5), F(50.0), kAlignLeft, &wide, &h));
    EXPECT_TRUE((h.sectionQd == QdRect{0, 0, 36, 20}));
    EXPECT_EQ(h.x0, F(-32750.5));
    EXPECT_TRUE((h.areaQd == QdRect{32, 32750, 68, 32767}));
}

TEST_F(RenderTest, ExtremePlacementsNeverWrapTheLibraryRectangles)
{
    struct Case {
        const char *name;
        Fixed x, y;
        uint16_t alignment;
        int32_t width, height;
        bool visible;
        QdRect section, block; // when visible
        bool sected;           // the bounds were met through SectRect
    };
    const QdRect none{};
    const Case cases[] = {
        {"right-aligned at the far left", INT32_MIN, F(50), kAlignRight, 640, 480, false, none, none, false},
        {"left-aligned at the far right", INT32_MAX, F(50), kAlignLeft, 640, 480, false, none, none, false},
        {"far above", F(100.5), INT32_MIN, kAlignCenter, 640, 480, false, none, none, false},
        {"below the output, top at 32750", F(100.5), INT32_MAX, kAlignCenter, 640, 480, false, none, none, true},
        {"straddles the right end",
         F(32750.0),
         F(50),
         kAlignLeft,
         40000,
         480,
         true,
         {32, 32750, 68, 32767},
         {0, 0, 36, 44},
         true},
        {"straddles the bottom end",
         F(100.5),
         F(32760.0),
         kAlignCenter,
         640,
         40000,
         true,
         {32742, 79, 32767, 126},
         {0, 0, 36, 44},
         true},
        {"in range, outside the output", F(-500), F(50), kAlignLeft, 640, 480, false, none, none, true},
    };
    const QdRect block1x{0, 0, 36, 44};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::state().rectCalls.clear();
        DraftPlacement d{};
        EXPECT_EQ(PlaceDraftBlock(&block1x, 3, c.x, c.y, c.alignment, c.width, c.height, &d), c.visible);
        EXPECT_EQ(fake::state().rectWraps, 0);
        const auto &calls = fake::state().rectCalls;
        const bool sected = std::any_of(calls.begin(), calls.end(),
                                        [](const std::string &call) { return call.rfind("SectRect", 0) == 0; });
        EXPECT_EQ(sected, c.sected);
        if (c.visible) {
            EXPECT_TRUE(d.section == c.section) << fake::RectText(d.section);
            EXPECT_TRUE(d.block == c.block) << fake::RectText(d.block);
        }
    }

    // High quality at the bottom end: the block passes 32768 pixels, the extent does not.
    const QdRect block4x{0, 0, 144, 176};
    const QdRect tall{0, 0, 32767, 640};
    HighQualityPlacement h{};
    ASSERT_TRUE(PlaceHighQualityBlock(&block4x, 3, F(100.5), F(32760.0), kAlignCenter, &tall, &h));
    EXPECT_TRUE((h.sectionQd == QdRect{0, 0, 25, 47}));
    EXPECT_EQ(h.x0, F(-78.5));
    EXPECT_EQ(h.y0, F(-32742.0));
    EXPECT_TRUE((h.areaQd == QdRect{32742, 78, 32767, 126}));
}

TEST_F(RenderTest, ScalingThePointSize)
{
    struct Case {
        int16_t size;
        int32_t xn;
        uint32_t xd;
        int32_t yn;
        uint32_t yd;
        int16_t scaled;
    };
    const Case cases[] = {
        {36, 1, 2, 1, 2, 18},
        {25, 1, 2, 1, 4, 9},
        {1, 1, 2, 1, 2, 0},
        {36, 1 << 30, 0x80000000u, 1, 2, 18},    // denominators are unsigned
        {512, INT32_MAX, 1, INT32_MAX, 1, -512}, // far past 32 bits: still the low 16
        {300, 1000, 1, 1000, 1, -27680},         // 300000 keeps its low 16 bits
        {-7, 1, 1, 1, 1, -7},
    };
    for (const Case &c : cases) {
        host.in.downsampleXNum = c.xn;
        host.in.downsampleXDen = c.xd;
        host.in.downsampleYNum = c.yn;
        host.in.downsampleYDen = c.yd;
        int16_t scaled = 99;
        EXPECT_EQ(ScalePointSize(c.size, &host.in, &scaled), 0);
        EXPECT_EQ(scaled, c.scaled) << c.size << " at " << c.xn << "/" << c.xd << ", " << c.yn << "/" << c.yd;
    }
    host.in.downsampleXDen = 0;
    int16_t scaled = 99;
    EXPECT_EQ(ScalePointSize(36, &host.in, &scaled), paramErr);
    EXPECT_EQ(scaled, 99);

    // Through the render: the scaled size reaches the measurement.
    host.in.downsampleXNum = host.in.downsampleYNum = 1;
    host.in.downsampleXDen = host.in.downsampleYDen = 2;
    host.setParams(36, F(100), F(50), kRed, false);
    EXPECT_EQ(host.render(0), 0);
    EXPECT_TRUE(fake::state().called("TextSize 18"));
    EXPECT_TRUE(fake::state().called("TextSize 72"));
}

TEST_F(RenderTest, ZeroDenominatorIsAClearError)
{
    host.in.downsampleYDen = 0;
    EXPECT_EQ(host.render(1), paramErr);
    EXPECT_FALSE(Message().empty());
    EXPECT_EQ(host.out.outFlags, kErrorMessageFlags);
    EXPECT_EQ(fake::state().newGWorldCalls, 0);
    ExpectNothingHeld();
}

TEST_F(RenderTest, SizeZeroCopiesOrClears)
{
    for (size_t i = 0; i < host.input.pixels.size(); ++i)
        host.input.pixels[i] = HostPixel{static_cast<uint8_t>(i), 2, 3, static_cast<uint8_t>(i >> 8)};
    for (bool composite : {true, false}) {
        host.output.pixels.assign(host.output.pixels.size(), HostPixel{9, 9, 9, 9});
        host.setParams(0, F(100), F(50), kRed, composite);
        EXPECT_EQ(host.render(1), 0);
        for (size_t i = 0; i < host.output.pixels.size(); ++i)
            ASSERT_TRUE(Same(host.output.pixels[i], composite ? host.input.pixels[i] : HostPixel{0, 0, 0, 0})) << i;
    }
    host.setParams(-5, F(100), F(50), kRed, true);
    EXPECT_EQ(host.render(0), 0);
    EXPECT_EQ(fake::state().newGWorldCalls, 0) << "something was measured";
    EXPECT_TRUE(host.iterates.empty());
    ExpectNothingHeld();
}

TEST_F(RenderTest, NothingVisibleMeansNoWorld)
{
    host.input.pixels.assign(host.input.pixels.size(), HostPixel{200, 1, 2, 3});
    struct Case {
        const char *text;
        Fixed x;
    };
    for (const Case c : {Case{"first line\rsecond", F(-500)}, Case{"", F(100)}})
        for (int32_t quality : {0, 1})
            for (bool composite : {false, true}) {
                host.setText(c.text, kAlignLeft);
                host.setParams(18, c.x, F(50), kRed, composite);
                host.newWorlds.clear();
                host.iterates.clear();
                EXPECT_EQ(host.render(quality), 0);
                EXPECT_TRUE(host.newWorlds.empty());
                ASSERT_EQ(host.iterates.size(), 1u);
                EXPECT_EQ(host.iterates[0].base, 0);
                EXPECT_EQ(host.iterates[0].final, 480);
                EXPECT_TRUE(Same(host.output.at(5, 5), composite ? HostPixel{200, 1, 2, 3} : HostPixel{0, 0, 0, 0}));
            }
    ExpectNothingHeld();
}

TEST_F(RenderTest, DraftClipsToTheOutputAndHighQualityToTheExtent)
{
    host.output.record.extent = QdRect{0, 0, 100, 100};
    host.setParams(18, F(300), F(300), kRed, false);
    EXPECT_EQ(host.render(1), 0);
    EXPECT_TRUE(host.newWorlds.empty());
    EXPECT_EQ(host.render(0), 0);
    EXPECT_EQ(host.newWorlds.size(), 1u);
    EXPECT_EQ(host.output.at(300, 300).alpha, 255);
}

TEST_F(RenderTest, OversizedHighQualitySectionFailsCleanly)
{
    // A widest character of 32767 pixels: the allowance alone is 8192.
    fake::state().metrics[18].fm.widMax = INT32_MAX;
    EXPECT_EQ(host.render(1), memFullErr);
    EXPECT_EQ(Message(), gStringTable[kStrNoTextBuffer]);
    EXPECT_EQ(host.out.outFlags, 0x1234);
    EXPECT_TRUE(host.newWorlds.empty());
    EXPECT_EQ(fake::state().newGWorldCalls, 1) << "only the measurement's scratch world";
    ExpectNothingHeld();
    // The draft path has no 4x offscreen and draws it.
    EXPECT_EQ(host.render(0), 0);
    ASSERT_EQ(host.newWorlds.size(), 1u);
    EXPECT_EQ(host.newWorlds[0].width, 44 + 8192);
}

TEST_F(RenderTest, NegativeAllowanceDrawsTheSectionUnwidened)
{
    // A font whose widest character is reported below zero: its allowance
    // would cut the 44-pixel section to nothing.
    fake::state().metrics[18].fm.widMax = -200 << 16;
    for (int32_t quality : {0, 1}) {
        SCOPED_TRACE(quality);
        host.newWorlds.clear();
        EXPECT_EQ(host.render(quality), 0);
        ASSERT_EQ(host.newWorlds.size(), 1u);
        EXPECT_EQ(host.newWorlds[0].width, 44);
        ExpectNothingHeld();
    }
}

TEST_F(RenderTest, ProgressStopsAt32767)
{
    host.paramDefs[0].u.layer.height = 32760;
    EXPECT_EQ(host.render(1), 0);
    ASSERT_EQ(host.iterates.size(), 2u);
    EXPECT_EQ(host.iterates[0].final, 32767);
    EXPECT_EQ(host.iterates[1].base, 36);
    EXPECT_EQ(host.iterates[1].final, 32767);
}

TEST_F(RenderTest, DamagedRecordLeavesTheOutputAlone)
{
    host.output.pixels.assign(host.output.pixels.size(), HostPixel{1, 2, 3, 4});
    for (bool nullRecord : {false, true}) {
        host.settings.magic = 0x00FF2BEC;
        if (nullRecord)
            host.in.sequenceData = nullptr;
        host.out.outFlags = 0;
        EXPECT_EQ(host.render(1), kErrSettingsDamaged);
        EXPECT_EQ(Message(), gStringTable[kStrDamaged]);
        EXPECT_EQ(host.out.outFlags, kErrorMessageFlags);
        EXPECT_EQ(host.calls(FakeHost::FillWorld), 0);
        EXPECT_TRUE(Same(host.output.at(3, 3), HostPixel{1, 2, 3, 4}));
    }
    ExpectNothingHeld();
}

struct FailureCase {
    const char *name;
    int32_t quality;
    std::function<void(FakeHost &)> arrange;
    int32_t code;
    int32_t message; // string-table entry, or -1 for none
    bool flags256;
};

TEST_F(RenderTest, EveryFailureReleasesEverything)
{
    using S = FakeHost;
    const FailureCase cases[] = {
        {"fill", 1, [](FakeHost &h) { h.failAt(S::FillWorld, 1, -1); }, -1, -1, false},
        {"copy of size 0", 1,
         [](FakeHost &h) { h.setParams(0, F(100.5), F(50), kRed, true), h.failAt(S::CopyWorld, 1, -2); }, -2, -1,
         false},
        {"measurement", 1, [](FakeHost &) { fake::state().failNewGWorldAt = 1; }, memFullErr, -1, false},
        {"cancel before drawing", 1, [](FakeHost &h) { h.cancelAtCheck(1, 5); }, 5, -1, false},
        {"cancel before the final pass (draft)", 0, [](FakeHost &h) { h.cancelAtCheck(2, 6); }, 6, -1, false},
        {"cancel during the reduction", 1, [](FakeHost &h) { h.cancelAtCheck(2, 7); }, 7, -1, false},
        {"cancel after the last row", 1, [](FakeHost &h) { h.cancelAtCheck(37, 8); }, 8, -1, false},
        {"cancel before the final pass (hq)", 1, [](FakeHost &h) { h.cancelAtCheck(38, 9); }, 9, -1, false},
        {"newWorld (draft)", 0, [](FakeHost &h) { h.failAt(S::NewWorld, 1, -10); }, -10, kStrNoTextBuffer, false},
        {"newWorld (hq)", 1, [](FakeHost &h) { h.failAt(S::NewWorld, 1, -11); }, -11, kStrNoTextBuffer, false},
        {"getWorldPort", 0, [](FakeHost &h) { h.failAt(S::GetWorldPort, 1, -12); }, -12, kStrNoTextBuffer, false},
        {"NewGWorld", 1,
         [](FakeHost &) { fake::state().failNewGWorldAt = 2, fake::state().newGWorldError = cNoMemErr; }, cNoMemErr,
         kStrNoTextBuffer, false},
        {"drawing (draft)", 0, [](FakeHost &) { fake::state().failDrawAt = 1; }, -108, kStrNoMemory, true},
        {"drawing (hq)", 1, [](FakeHost &) { fake::state().failDrawAt = 2; }, -108, kStrNoMemory, true},
        {"copy of the section", 0, [](FakeHost &h) { h.failAt(S::CopyWorld, 1, -13); }, -13, -1, false},
        {"transfer", 1, [](FakeHost &h) { h.failAt(S::SampleAt, 100, -14); }, -14, -1, false},
        {"release alone (draft)", 0, [](FakeHost &h) { h.failAt(S::DisposeWorld, 1, -15); }, -15, -1, false},
        {"release alone (hq)", 1, [](FakeHost &h) { h.failAt(S::DisposeWorld, 1, -16); }, -16, -1, false},
        {"release after a failure", 0,
         [](FakeHost &h) { h.failAt(S::CopyWorld, 1, -17), h.failAt(S::DisposeWorld, 1, -18); }, -17, -1, false},
        {"final pass (draft)", 0, [](FakeHost &h) { h.failAt(S::Iterate, 1, -19); }, -19, -1, false},
        {"final pass (hq)", 1, [](FakeHost &h) { h.failAt(S::Iterate, 2, -20); }, -20, -1, false},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        FakeHost fresh;
        fresh.setText("first line\rsecond", kAlignCenter);
        fresh.setParams(18, F(100.5), F(50.0), kRed, false);
        fresh.out.outFlags = 0x1234;
        c.arrange(fresh);
        EXPECT_EQ(fresh.render(c.quality), c.code);
        EXPECT_EQ(std::string(fresh.out.returnMessage), c.message < 0 ? "" : gStringTable[c.message]);
        EXPECT_EQ(fresh.out.outFlags, c.flags256 ? kErrorMessageFlags : 0x1234);
        EXPECT_EQ(fake::state().lockedHandles(), 0);
        EXPECT_EQ(fake::state().liveOffscreens(), 0);
        EXPECT_EQ(fresh.liveWorlds, 0);
        EXPECT_EQ(fresh.livePorts, 0);
        EXPECT_EQ(fake::state().current, nullptr);
    }
}

} // namespace
