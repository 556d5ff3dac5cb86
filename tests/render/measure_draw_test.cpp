#include "geometry.h"
#include "fake_porting.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace qmtest;

namespace {

std::vector<std::string> CallsStartingWith(const std::string &prefix)
{
    std::vector<std::string> out;
    for (const std::string &c : fake::state().calls)
        if (c.rfind(prefix, 0) == 0)
            out.push_back(c);
    return out;
}

// The two-line metrics: at 18 points ascent 12.5, descent 3.25, leading 1.0,
// widest 13.0; lines 40 and 17 wide. At 72 points a block of 176 x 144.
class TextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        fake::scriptTwoLineMetrics();
        fake::State &s = fake::state();
        // A port of the caller's, which measuring and drawing must give back.
        callerPort = fake::newDeepPort(callerPixels.data(), 16, 4, 4);
        SetGWorld(callerPort, reinterpret_cast<GDHandle>(0x1234));
        s.calls.clear();

        settings.magic = kSettingsMagic;
        settings.fontName[0] = 6;
        std::memcpy(settings.fontName + 1, "Geneva", 6);
        settings.style = kFaceBold | kFaceUnderline;
    }

    void ExpectCallerPortBack()
    {
        EXPECT_EQ(fake::state().current, fake::portOf(callerPort));
        EXPECT_EQ(fake::state().currentDevice, reinterpret_cast<GDHandle>(0x1234));
        EXPECT_FALSE(fake::state().fractEnable);
        EXPECT_EQ(fake::state().liveOffscreens(), 0);
    }

    void SetText(const char *text, uint16_t alignment = kAlignLeft)
    {
        std::memset(settings.text, 0, sizeof settings.text);
        std::strcpy(settings.text, text);
        settings.alignment = alignment;
    }

    // Draws into a 64 x 40 port over host pixels.
    int32_t Draw(const QdRect &block, const QdRect *erase = nullptr)
    {
        pixels.assign(64 * 40, HostPixel{0, 0, 0, 0});
        GWorldPtr port = fake::newDeepPort(pixels.data(), 64 * 4, 64, 40);
        fake::state().calls.clear();
        return DrawTextBlock(globals, &settings, 18, erase, &block, port, reinterpret_cast<GDHandle>(0x99));
    }

    GWorldPtr callerPort = nullptr;
    std::vector<HostPixel> callerPixels = std::vector<HostPixel>(16);
    std::vector<HostPixel> pixels;
    uint8_t globals[200] = {};
    TextSettings settings{};
};

TEST_F(TextTest, TwoLinesMeasureAtOnceAndFourTimesInAScratchWorld)
{
    QdRect r1{9, 9, 9, 9}, r4{9, 9, 9, 9};
    int16_t allowance = -1;
    EXPECT_EQ(MeasureTextExtents(3, 18, 5, "first line\rsecond", &r1, &r4, &allowance), 0);
    EXPECT_TRUE((r1 == QdRect{0, 0, 36, 44}));
    EXPECT_TRUE((r4 == QdRect{0, 0, 144, 176}));
    EXPECT_EQ(allowance, 3);
    const std::vector<std::string> expected = {"NewGWorld 1 1,1,3,3 flags 8",
                                               "SetGWorld",
                                               "TextFont 3",
                                               "TextSize 18",
                                               "TextFace 5",
                                               "SetFractEnable 1",
                                               "SetFractEnable 0",
                                               "TextSize 72",
                                               "SetFractEnable 1",
                                               "SetFractEnable 0",
                                               "SetGWorld",
                                               "DisposeGWorld"};
    EXPECT_EQ(fake::state().calls, expected);
    ExpectCallerPortBack();
}

struct MeasureCase {
    const char *text;
    QdRect block;
};

TEST_F(TextTest, LinesWidthsAndRounding)
{
    fake::state().widths[{"\ncd", 18}] = 99;
    fake::state().widths[{"forty", 18}] = 39;
    const MeasureCase cases[] = {
        {"", {0, 0, 0, 0}},
        {"\r", {0, 0, 36, 4}},                      // two empty lines, 1 wide each
        {"second\r", {0, 0, 36, 20}},               // a trailing CR adds a line
        {"ab\r\ncd", {0, 0, 36, 100}},              // the LF is measured with the next line
        {"ab\ncd", {0, 0, 16, 32}},                 // a lone LF is a character: 5 bytes, 30 + 1
        {"forty", {0, 0, 16, 40}},                  // already a multiple of 4
        {"first line\rsecond\r\r", {0, 0, 68, 44}}, // 4 lines: 4 x 16.75 - 1 = 66 -> 68
    };
    for (const MeasureCase &c : cases) {
        QdRect r{};
        int16_t allowance = 0;
        EXPECT_EQ(MeasureTextExtents(0, 18, 0, c.text, &r, nullptr, &allowance), 0);
        EXPECT_TRUE(r == c.block) << '"' << c.text << "\" gave " << r.right << " x " << r.bottom;
        EXPECT_EQ(allowance, 3) << c.text;
    }
}

TEST_F(TextTest, HugeBlocksClampTo32000WithoutWrapping)
{
    // Three lines of 32000 pixels: the 16.16 height leaves 32 bits.
    fake::state().metrics[200] = {{F(16000.0), F(16000.0), 0, F(400.0), 0}, {16000, 16000, 400, 0}};
    fake::state().metrics[800] = fake::state().metrics[200];
    fake::state().widths[{"wide", 200}] = 32767;
    QdRect r1{}, r4{};
    int16_t allowance = 0;
    EXPECT_EQ(MeasureTextExtents(0, 200, 0, "a\rb\rwide", &r1, &r4, &allowance), 0);
    EXPECT_TRUE((r1 == QdRect{0, 0, kMaxBlockSide, kMaxBlockSide}));
    EXPECT_TRUE((r4 == QdRect{0, 0, kMaxBlockSide, 28})); // widths at 800 are the 6-per-byte default
    EXPECT_EQ(allowance, 100);
}

TEST_F(TextTest, OnlyTheRequestedRectanglesAreWritten)
{
    QdRect r4{};
    QdRect untouched{1, 2, 3, 4};
    int16_t allowance = 77;
    EXPECT_EQ(MeasureTextExtents(0, 18, 0, "first line", nullptr, &r4, &allowance), 0);
    EXPECT_EQ(allowance, 77);
    EXPECT_TRUE((r4 == QdRect{0, 0, 72, 176}));
    EXPECT_TRUE((untouched == QdRect{1, 2, 3, 4}));
    EXPECT_EQ(CallsStartingWith("TextSize"), (std::vector<std::string>{"TextSize 18", "TextSize 72"}));
}

TEST_F(TextTest, NoScratchWorldMeansNoMeasurement)
{
    fake::state().failNewGWorldAt = 1;
    fake::state().newGWorldError = cNoMemErr;
    QdRect r1{5, 5, 5, 5};
    int16_t allowance = 5;
    EXPECT_EQ(MeasureTextExtents(0, 18, 0, "first line", &r1, nullptr, &allowance), cNoMemErr);
    EXPECT_TRUE((r1 == QdRect{5, 5, 5, 5}));
    EXPECT_FALSE(fake::state().called("SetGWorld"));
    EXPECT_TRUE(CallsStartingWith("TextSize").empty());
    ExpectCallerPortBack();
}

TEST_F(TextTest, UnterminatedTextEndsAtTheFieldsEnd)
{
    // 256 bytes and no zero: exactly the text field, nothing after it is read.
    std::vector<char> field(kSettingsTextSize, 'x');
    QdRect r{};
    int16_t allowance = 0;
    EXPECT_EQ(MeasureTextExtents(0, 18, 0, field.data(), &r, nullptr, &allowance), 0);
    EXPECT_EQ(r.right, (6 * 256 + 1 + 3) & ~3);

    SetText("");
    std::memset(settings.text, 'y', sizeof settings.text); // runs straight into fontName
    EXPECT_EQ(Draw(QdRect{0, 0, 36, 44}), 0);
    EXPECT_EQ(CallsStartingWith("DrawText"), (std::vector<std::string>{"DrawText " + std::string(256, 'y')}));
}

struct AlignCase {
    uint16_t alignment;
    std::vector<std::string> moves;
};

TEST_F(TextTest, EachLineIsDrawnOnItsBaselineByAlignment)
{
    const AlignCase cases[] = {
        {kAlignLeft, {"MoveTo 0,12", "MoveTo 0,29"}},   {kAlignCenter, {"MoveTo 2,12", "MoveTo 13,29"}},
        {kAlignRight, {"MoveTo 4,12", "MoveTo 27,29"}}, {3, {"MoveTo 0,12", "MoveTo 0,29"}},
        {0xFFFF, {"MoveTo 0,12", "MoveTo 0,29"}},
    };
    for (const AlignCase &c : cases) {
        SetText("first line\rsecond", c.alignment);
        EXPECT_EQ(Draw(QdRect{0, 0, 36, 44}), 0);
        EXPECT_EQ(CallsStartingWith("MoveTo"), c.moves) << "alignment " << c.alignment;
        ExpectCallerPortBack();
    }
    // The port was set up from the record and drawn white on black.
    const std::vector<std::string> setup = {"SetGWorld",  "GetFNum Geneva", "TextFont 7",   "TextSize 18",
                                            "TextFace 5", "TextMode 0",     "ForeColor 30", "BackColor 33"};
    EXPECT_EQ(std::vector<std::string>(fake::state().calls.begin(), fake::state().calls.begin() + 8), setup);
    // The right-aligned ink ends at the block's right edge on both lines.
    SetText("first line\rsecond", kAlignRight);
    Draw(QdRect{0, 0, 36, 44});
    EXPECT_TRUE(pixels[12 * 64 + 43].blue == 255 && pixels[12 * 64 + 44].blue == 0);
    EXPECT_TRUE(pixels[29 * 64 + 27].blue == 255 && pixels[29 * 64 + 26].blue == 0);
}

TEST_F(TextTest, CentringRoundsTowardMinusInfinity)
{
    fake::state().widths[{"nine", 18}] = 9;
    SetText("nine", kAlignCenter);
    EXPECT_EQ(Draw(QdRect{0, 0, 36, 4}), 0);
    EXPECT_EQ(CallsStartingWith("MoveTo"), (std::vector<std::string>{"MoveTo -3,12"}));
}

struct LineCase {
    const char *text;
    std::vector<std::string> drawn;
};

TEST_F(TextTest, LineBreaks)
{
    const LineCase cases[] = {
        {"ab\r\ncd", {"DrawText ab", "DrawText cd"}},
        {"ab\r\n\ncd", {"DrawText ab", "DrawText \ncd"}},
        {"ab\ncd", {"DrawText ab\ncd"}},
        {"ab\r", {"DrawText ab", "DrawText "}},
        {"", {}},
    };
    for (const LineCase &c : cases) {
        SetText(c.text);
        EXPECT_EQ(Draw(QdRect{0, 0, 36, 44}), 0);
        EXPECT_EQ(CallsStartingWith("DrawText"), c.drawn) << c.text;
        EXPECT_EQ(CallsStartingWith("QDError").size(), c.drawn.size()) << c.text;
    }
}

TEST_F(TextTest, AnErrorStopsTheDrawingAfterItsLine)
{
    fake::state().failDrawAt = 2;
    fake::state().drawError = -152;
    SetText("one\rtwo\rthree");
    EXPECT_EQ(Draw(QdRect{0, 0, 36, 44}), -152);
    EXPECT_EQ(CallsStartingWith("DrawText"), (std::vector<std::string>{"DrawText one", "DrawText two"}));
    EXPECT_EQ(fake::state().calls.back(), "SetGWorld");
    ExpectCallerPortBack();
}

TEST_F(TextTest, EraseFillsWithTheHostPattern)
{
    SetText("");
    const QdRect erase{0, 0, 40, 64};
    EXPECT_EQ(Draw(QdRect{0, 0, 36, 44}, &erase), 0);
    EXPECT_TRUE(fake::state().called("FillRect 0,0,40,64"));
    EXPECT_EQ(fake::state().lastPattern, globals + 118);
    EXPECT_TRUE(CallsStartingWith("DrawText").empty());
    // An all-zero pattern paints the background colour (black) everywhere.
    for (const HostPixel &p : pixels)
        ASSERT_TRUE(p.alpha == 255 && p.blue == 0);
}

TEST_F(TextTest, BaselinesPastThe16BitRangeAreNotDrawn)
{
    SetText("1\r2\r3\r4\r5\r6");
    // Baselines 32712, 32729, 32746, 32763; the fifth would be 32780.
    EXPECT_EQ(Draw(QdRect{32700, 0, 32767, 44}), 0);
    EXPECT_EQ(CallsStartingWith("MoveTo"),
              (std::vector<std::string>{"MoveTo 0,32712", "MoveTo 0,32729", "MoveTo 0,32746", "MoveTo 0,32763"}));
    EXPECT_FALSE(fake::state().fractEnable);

    SetText("1\r2");
    EXPECT_EQ(Draw(QdRect{32760, 0, 32767, 44}), 0); // the first baseline is already past
    EXPECT_TRUE(CallsStartingWith("MoveTo").empty());
}

TEST_F(TextTest, LinesStartingLeftOfTheCoordinateRangeAreSkipped)
{
    // Right-aligned at -32000, a 1000-wide line would start at -33000: wholly
    // left of every port. It is not drawn at a wrapped position; the next is.
    fake::state().widths[{"long", 18}] = 1000;
    fake::state().widths[{"short", 18}] = 10;
    SetText("long\rshort", kAlignRight);
    EXPECT_EQ(Draw(QdRect{0, -32100, 36, -32000}), 0);
    EXPECT_EQ(CallsStartingWith("MoveTo"), (std::vector<std::string>{"MoveTo -32010,29"}));
    EXPECT_EQ(CallsStartingWith("DrawText"), (std::vector<std::string>{"DrawText short"}));
}

} // namespace
