// Text: glyph ink against FreeType itself, clipping, metrics, widths,
// fractional widths, styles and the 1252 byte mapping.
#include "porting_fixture.h"

#include "fonts.h"

using namespace qmtest;

namespace {

class Text : public PortingTest {};

// Draws `text` into a fresh world and returns its ink.
std::vector<uint8_t> drawInk(const std::string &text, int16_t size, int16_t face, int16_t x, int16_t baseline,
                             int16_t width = 160, int16_t height = 80, int16_t font = 0)
{
    Offscreen off(width, height);
    setText(font, size, face);
    _MoveTo(x, baseline);
    _DrawText(text.data(), 0, static_cast<int16_t>(text.size()));
    EXPECT_EQ(QDError(), noErr);
    return off.ink();
}

TEST_F(Text, GlyphInkMatchesFreeType)
{
    ReferenceFace ref(40);
    ASSERT_NE(ref.face(), nullptr) << "DejaVu Sans is installed by the set-up";
    // The second time round the glyphs come from the glyph cache.
    for (int round = 0; round < 2; ++round)
        for (char c : std::string("gQ&e")) {
            Offscreen off(80, 60);
            setText(0, 40);
            _MoveTo(10, 45);
            _DrawText(&c, 0, 1);
            ASSERT_EQ(QDError(), noErr);
            std::vector<uint8_t> expect = ref.render(static_cast<uint8_t>(c), 10, 45, off.bounds());
            EXPECT_GT(countInk(expect), 20);
            EXPECT_EQ(off.ink(), expect) << "glyph '" << c << "', round " << round;
        }
}

// Glyphs cut by every edge: the visible part is exact, nothing lands outside.
TEST_F(Text, ClippedGlyphsKeepToTheWorld)
{
    ReferenceFace ref(48);
    ASSERT_NE(ref.face(), nullptr);
    struct Case {
        int16_t x, baseline;
    };
    const Case cases[] = {{-12, 40}, {25, 40}, {5, 10}, {5, 55}, {-20, 8}};
    for (const Case &c : cases) {
        Offscreen off(37, 30, 0, 0); // 37 wide: the row has padding bits
        setText(0, 48);
        _MoveTo(c.x, c.baseline);
        _DrawText("W", 0, 1);
        EXPECT_EQ(off.ink(), ref.render('W', c.x, c.baseline, off.bounds())) << c.x << "," << c.baseline;
        EXPECT_TRUE(off.paddingClear()) << c.x << "," << c.baseline;
    }
}

TEST_F(Text, WorldsWithOffsetBoundsDrawInPortCoordinates)
{
    ReferenceFace ref(30);
    ASSERT_NE(ref.face(), nullptr);
    Offscreen off(60, 40, 100, 200);
    setText(0, 30);
    _MoveTo(110, 230);
    _DrawText("A", 0, 1);
    EXPECT_EQ(off.ink(), ref.render('A', 110, 230, off.bounds()));
    EXPECT_GT(countInk(off.ink()), 10);
}

TEST_F(Text, HostWorldGetsOnlyInkInTheForeColour)
{
    const HostPixel sentinel = {1, 2, 3, 4};
    const int32_t w = 30, h = 30, g = 2, stride = w + 2 * g;
    std::vector<HostPixel> px(stride * (h + 2 * g), sentinel);
    GWorldPtr port = CorvaneNewPortOnPixels(&px[g * stride + g], stride * 4, w, h);
    ASSERT_NE(port, nullptr);
    GWorldPtr old = nullptr;
    GDHandle oldDevice = nullptr;
    GetGWorld(&old, &oldDevice);
    SetGWorld(port, nullptr);
    setText(0, 60);
    ForeColor(whiteColor);
    BackColor(blackColor);
    _MoveTo(-8, 40);
    _DrawText("Mg", 0, 2);
    EXPECT_EQ(QDError(), noErr);
    SetGWorld(old, oldDevice);
    CorvaneDisposePort(port);

    int32_t ink = 0, untouched = 0;
    for (int32_t y = 0; y < h + 2 * g; ++y)
        for (int32_t x = 0; x < stride; ++x) {
            const HostPixel &p = px[y * stride + x];
            bool inside = x >= g && x < g + w && y >= g && y < g + h;
            bool isSentinel = std::memcmp(&p, &sentinel, 4) == 0;
            if (!inside) {
                ASSERT_TRUE(isSentinel) << "written outside the world at " << x << "," << y;
            } else if (isSentinel) {
                ++untouched;
            } else {
                ASSERT_EQ(p.alpha, 255);
                ASSERT_EQ(p.red, 255);
                ASSERT_EQ(p.green, 255);
                ASSERT_EQ(p.blue, 255);
                ++ink;
            }
        }
    EXPECT_GT(ink, 50);
    EXPECT_GT(untouched, 50) << "the glyph background is not painted";
}

TEST_F(Text, MetricsComeFromTheFace)
{
    for (int16_t size : {9, 12, 40, 173}) {
        ReferenceFace ref(size);
        ASSERT_NE(ref.face(), nullptr);
        Offscreen off(4, 4);
        setText(0, size);
        FMetricRec m{};
        FontMetrics(&m);
        EXPECT_EQ(QDError(), noErr);
        FT_Face f = ref.face();
        double scale = double(size) / f->units_per_EM * 65536.0;
        EXPECT_NEAR(m.ascent, f->ascender * scale, 1.0) << size;
        EXPECT_NEAR(m.descent, -f->descender * scale, 1.0) << size;
        EXPECT_NEAR(m.leading, (f->height - f->ascender + f->descender) * scale, 1.0) << size;
        EXPECT_NEAR(m.widMax, f->max_advance_width * scale, 1.0) << size;
        // FreeType's own whole-pixel size metrics agree within a pixel.
        EXPECT_NEAR(m.ascent / 65536.0, f->size->metrics.ascender / 64.0, 1.0);
        FontInfo fi{};
        GetFontInfo(&fi);
        EXPECT_EQ(fi.ascent, (m.ascent + 0x8000) >> 16);
        EXPECT_EQ(fi.descent, (m.descent + 0x8000) >> 16);
        EXPECT_EQ(fi.leading, (m.leading + 0x8000) >> 16);
        EXPECT_EQ(fi.widMax, (m.widMax + 0x8000) >> 16);
    }
}

TEST_F(Text, SizeZeroIsTheDefaultTwelve)
{
    Offscreen off(4, 4);
    setText(0, 12);
    FMetricRec twelve{};
    FontMetrics(&twelve);
    int16_t w12 = TextWidth("Quill", 0, 5);
    TextSize(0);
    FMetricRec dflt{};
    FontMetrics(&dflt);
    EXPECT_EQ(std::memcmp(&twelve, &dflt, sizeof dflt), 0);
    EXPECT_EQ(TextWidth("Quill", 0, 5), w12);
    EXPECT_EQ(QDError(), noErr);
}

// Whole-pixel widths add up glyph by glyph; fractional widths are the sum of
// the exact advances, rounded once.
TEST_F(Text, WidthsAddUpAndFractionsRoundOnce)
{
    const std::string text = "Illuminated iiiii lllll, a fair copy.";
    for (int16_t size : {7, 11, 13, 50}) {
        ReferenceFace ref(size);
        ASSERT_NE(ref.face(), nullptr);
        Offscreen off(4, 4);
        setText(0, size);
        int64_t wholeSum = 0, exact = 0, perChar = 0;
        for (char c : text) {
            FT_Fixed a = ref.advance(static_cast<uint8_t>(c));
            wholeSum += (a + 0x8000) >> 16;
            exact += a;
            perChar += TextWidth(&c, 0, 1);
        }
        SetFractEnable(0);
        int16_t whole = TextWidth(text.data(), 0, static_cast<int16_t>(text.size()));
        EXPECT_EQ(whole, wholeSum) << size;
        EXPECT_EQ(whole, perChar) << size;
        EXPECT_EQ(TextWidth(text.data(), 3, 5) + TextWidth(text.data(), 8, 4), TextWidth(text.data(), 3, 9));
        SetFractEnable(1);
        int16_t fract = TextWidth(text.data(), 0, static_cast<int16_t>(text.size()));
        EXPECT_EQ(fract, (exact + 0x8000) >> 16) << size;
        SetFractEnable(0);
    }
}

TEST_F(Text, PenAdvancesSoRunsJoin)
{
    for (uint8_t fract : {0, 1}) {
        SetFractEnable(fract);
        std::vector<uint8_t> whole = drawInk("Wave", 23, 0, 3, 30);
        Offscreen off(160, 80);
        setText(0, 23);
        _MoveTo(3, 30);
        _DrawText("Wave", 0, 2);
        _DrawText("Wave", 2, 2);
        EXPECT_EQ(off.ink(), whole) << "fractional " << int(fract);
    }
    SetFractEnable(0);
}

TEST_F(Text, BytesAreWindows1252)
{
    ReferenceFace ref(36);
    ASSERT_NE(ref.face(), nullptr);
    struct Case {
        uint8_t byte;
        uint32_t codePoint;
    };
    const Case cases[] = {{0xE9, 0xE9}, {0x80, 0x20AC}, {0x9F, 0x178}, {0x8A, 0x160}, {0x41, 0x41}};
    for (const Case &c : cases) {
        Offscreen off(60, 60);
        setText(0, 36);
        _MoveTo(10, 45);
        _DrawText(&c.byte, 0, 1);
        std::vector<uint8_t> expect = ref.render(c.codePoint, 10, 45, off.bounds());
        EXPECT_GT(countInk(expect), 10);
        EXPECT_EQ(off.ink(), expect) << "byte " << int(c.byte);
    }
}

// A family that has no bold or no italic face of its own, so the library
// must synthesise it; -1 when every installed family has both.
int16_t familyLacking(bool bold)
{
    for (int16_t i = 0; i < CorvaneFontCount(); ++i) {
        corvane1::ResolvedFace rf;
        if (corvane1::resolveFace(i, bold, !bold, rf) && (bold ? rf.synthBold : rf.synthItalic))
            return i;
    }
    return -1;
}

TEST_F(Text, EveryStyleChangesTheInk)
{
    std::vector<int16_t> fonts = {0};
    for (bool bold : {true, false})
        if (int16_t f = familyLacking(bold); f >= 0)
            fonts.push_back(f);
    for (int16_t font : fonts) {
        std::vector<uint8_t> plain = drawInk("Hig", 40, 0, 10, 50, 160, 80, font);
        int32_t plainInk = countInk(plain);
        ASSERT_GT(plainInk, 100) << "font " << font;
        for (int16_t face : {kFaceBold, kFaceItalic, kFaceUnderline, kFaceOutline}) {
            std::vector<uint8_t> styled = drawInk("Hig", 40, face, 10, 50, 160, 80, font);
            EXPECT_NE(styled, plain) << "font " << font << " face " << face;
            if (face == kFaceBold) {
                EXPECT_GT(countInk(styled), plainInk) << "font " << font;
            }
            if (face == kFaceUnderline) {
                // A solid bar under the baseline across the run.
                bool bar = false;
                for (int v = 51; v < 58 && !bar; ++v) {
                    bar = true;
                    for (int h = 12; h < 60; ++h)
                        bar = bar && styled[v * 160 + h];
                }
                EXPECT_TRUE(bar) << "font " << font;
            }
            if (face == kFaceOutline) {
                // Hollow: the ring lies around the plain ink, never on it
                // (one glyph, as the ring widens every advance).
                std::vector<uint8_t> h = drawInk("H", 40, 0, 10, 50, 160, 80, font);
                std::vector<uint8_t> ring = drawInk("H", 40, kFaceOutline, 10, 50, 160, 80, font);
                int32_t overlap = 0;
                for (size_t i = 0; i < h.size(); ++i)
                    overlap += h[i] && ring[i];
                EXPECT_EQ(overlap, 0) << "font " << font;
                EXPECT_GT(countInk(ring), countInk(h) / 4) << "font " << font;
            }
        }
    }
}

TEST_F(Text, SynthesisedItalicLeansRight)
{
    int16_t font = familyLacking(false);
    if (font < 0)
        GTEST_SKIP() << "every installed family has its own italic";
    std::vector<uint8_t> ink = drawInk("I", 60, kFaceItalic, 20, 65, 100, 80, font);
    auto meanX = [&](int v) {
        int32_t sum = 0, n = 0;
        for (int h = 0; h < 100; ++h)
            if (ink[v * 100 + h]) {
                sum += h;
                ++n;
            }
        return n ? double(sum) / n : -1.0;
    };
    // Find the stem's top and bottom rows.
    int top = -1, bottom = -1;
    for (int v = 0; v < 80; ++v)
        if (meanX(v) >= 0) {
            if (top < 0)
                top = v;
            bottom = v;
        }
    ASSERT_GT(bottom - top, 20);
    EXPECT_GT(meanX(top + 2) - meanX(bottom - 2), 5.0);
}

TEST_F(Text, StyledWidthsIncludeTheStyle)
{
    Offscreen off(4, 4);
    const char *text = "Style";
    setText(0, 40, 0);
    int16_t plain = TextWidth(text, 0, 5);
    TextFace(kFaceOutline);
    EXPECT_GT(TextWidth(text, 0, 5), plain) << "the ring widens every glyph";
    TextFace(kFaceUnderline);
    EXPECT_EQ(TextWidth(text, 0, 5), plain);
    TextFace(kFaceBold);
    EXPECT_GT(TextWidth(text, 0, 5), plain) << "the bold face is wider";
    int16_t font = familyLacking(true);
    if (font >= 0) {
        setText(font, 40, 0);
        int16_t p = TextWidth(text, 0, 5);
        TextFace(kFaceBold);
        EXPECT_EQ(TextWidth(text, 0, 5), p + 5 * 2) << "synthesised bold adds its smear to each glyph";
        FMetricRec plainM{}, boldM{};
        TextFace(0);
        FontMetrics(&plainM);
        TextFace(kFaceBold);
        FontMetrics(&boldM);
        EXPECT_EQ(boldM.widMax - plainM.widMax, 2 << 16);
    }
}

TEST_F(Text, ModesPaintInkOnly)
{
    Offscreen off(80, 60);
    setText(0, 36);
    _MoveTo(5, 40);
    _DrawText("Ox", 0, 2);
    std::vector<uint8_t> once = off.ink();
    TextMode(2); // xor twice restores
    _MoveTo(5, 40);
    _DrawText("Ox", 0, 2);
    EXPECT_EQ(countInk(off.ink()), 0);
    TextMode(3); // bic paints the back colour
    QdRect all{0, 0, 60, 80};
    const uint8_t black[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    _FillRect(&all, black);
    _MoveTo(5, 40);
    _DrawText("Ox", 0, 2);
    EXPECT_EQ(countInk(off.ink()), 80 * 60 - countInk(once));
}

TEST_F(Text, BadTextArgumentsAreRefused)
{
    Offscreen off(20, 20);
    setText(0, 12);
    EXPECT_EQ(TextWidth(nullptr, 0, 3), 0);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(TextWidth("abc", -1, 2), 0);
    EXPECT_EQ(QDError(), paramErr);
    _DrawText("abc", 0, -2);
    EXPECT_EQ(QDError(), paramErr);
    _DrawText(nullptr, 0, 0); // nothing to draw: fine
    EXPECT_EQ(QDError(), noErr);
    FontMetrics(nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(countInk(off.ink()), 0);
}

TEST_F(Text, HugeSizesMeasureAndClipWithoutTrouble)
{
    Offscreen off(64, 64);
    setText(0, 32000);
    FMetricRec m{};
    FontMetrics(&m);
    EXPECT_GT(m.ascent, 0) << "the 16.16 value still fits";
    EXPECT_GT(TextWidth("WW", 0, 2), 0);
    _MoveTo(30000, 10); // glyphs far outside: nothing rasterised, nothing drawn
    _DrawText("WW", 0, 2);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(countInk(off.ink()), 0);
}

// Beyond a few thousand pixels only the part of a glyph near the port is
// rasterised; the pixels must be those FreeType gives for the whole glyph.
TEST_F(Text, HugeGlyphsDrawExactlyWhereVisible)
{
    ReferenceFace ref(6000);
    ASSERT_NE(ref.face(), nullptr);
    FT_Face f = ref.face();
    ASSERT_EQ(FT_Load_Char(f, 'W', FT_LOAD_TARGET_MONO), 0);
    ASSERT_EQ(FT_Render_Glyph(f->glyph, FT_RENDER_MODE_MONO), 0);
    const FT_Bitmap &bm = f->glyph->bitmap;
    ASSERT_GT(bm.width * bm.rows, 4096u * 4096u) << "large enough to be drawn in a window";
    // Aim the port at the first ink of a few rows: an edge of the stroke.
    for (unsigned row : {bm.rows / 20, bm.rows / 2, bm.rows - 3}) {
        unsigned col = 0;
        while (col < bm.width && !(bm.buffer[row * bm.pitch + (col >> 3)] & (0x80 >> (col & 7))))
            ++col;
        ASSERT_LT(col, bm.width);
        int16_t x = static_cast<int16_t>(45 - (f->glyph->bitmap_left + int32_t(col)));
        int16_t baseline = static_cast<int16_t>(35 + (f->glyph->bitmap_top - int32_t(row)));
        Offscreen off(90, 70);
        setText(0, 6000);
        _MoveTo(x, baseline);
        _DrawText("W", 0, 1);
        std::vector<uint8_t> expect = ref.render('W', x, baseline, off.bounds());
        EXPECT_GT(countInk(expect), 0) << "row " << row;
        EXPECT_LT(countInk(expect), 90 * 70) << "row " << row;
        // The raster may break ties on an edge differently once the outline
        // is shifted: a differing pixel must lie on the glyph's edge.
        std::vector<uint8_t> got = off.ink();
        int32_t differing = 0;
        for (int32_t v = 0; v < 70; ++v)
            for (int32_t h = 0; h < 90; ++h) {
                size_t i = static_cast<size_t>(v) * 90 + h;
                if (got[i] == expect[i])
                    continue;
                ++differing;
                bool onEdge = false;
                for (int32_t dv = -1; dv <= 1; ++dv)
                    for (int32_t dh = -1; dh <= 1; ++dh) {
                        int32_t vv = v + dv, hh = h + dh;
                        if (vv >= 0 && vv < 70 && hh >= 0 && hh < 90 && expect[vv * 90 + hh] != expect[i])
                            onEdge = true;
                    }
                EXPECT_TRUE(onEdge) << "row " << row << " pixel " << h << "," << v;
            }
        EXPECT_LE(differing, 8) << "row " << row;
        EXPECT_TRUE(off.paddingClear());
    }
}

TEST_F(Text, UnknownFontNumberDrawsTheSystemFont)
{
    std::vector<uint8_t> sys = drawInk("Ab", 20, 0, 4, 30);
    std::vector<uint8_t> unknown = drawInk("Ab", 20, 0, 4, 30, 160, 80, 32000);
    EXPECT_EQ(sys, unknown);
}

} // namespace
