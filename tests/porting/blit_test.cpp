// Pattern fills and text drawing compared byte for byte, row padding
// included, with a plain pixel-at-a-time model: 1-bit and 32-bit worlds,
// bounds at odd offsets, rectangles and pens partly or wholly outside,
// every text mode and colour sense, worlds full of noise beforehand.
#include "porting_fixture.h"

#include "fonts.h"
#include "text/encoding.h"

#include FT_ADVANCES_H

#include <algorithm>
#include <array>
#include <cstddef>

using namespace qmtest;

namespace {

class Blit : public PortingTest {};

HostPixel colourPixel(int32_t colour)
{
    switch (colour) {
    case whiteColor:
        return {255, 255, 255, 255};
    case blackColor:
        return {255, 0, 0, 0};
    case 205:
        return {255, 255, 0, 0};
    case 341:
        return {255, 0, 255, 0};
    case 409:
        return {255, 0, 0, 255};
    default:
        ADD_FAILURE() << "colour " << colour << " not in the model";
        return {};
    }
}

// A world of either depth, current while it lives, with a copy of its bytes
// that the model draws into.
class World {
public:
    // depth 1 or 32 through NewGWorld; depth 0: a port over caller pixels
    // with rows longer than the width.
    World(int16_t depth, int16_t left, int16_t top, int16_t width, int16_t height) : depth_(depth ? depth : 32)
    {
        GetGWorld(&oldPort_, &oldDevice_);
        if (depth) {
            QdRect b{top, left, static_cast<int16_t>(top + height), static_cast<int16_t>(left + width)};
            EXPECT_EQ(NewGWorld(&world_, depth, &b, nullptr, nullptr, 0), noErr);
            owned_ = true;
        } else {
            hostPixels_.resize(static_cast<size_t>(width + 3) * height);
            world_ = CorvaneNewPortOnPixels(hostPixels_.data(), (width + 3) * 4, width, height);
        }
        if (!world_)
            return;
        SetGWorld(world_, nullptr);
        const PixMap &pm = **world_->portPixMap;
        rowBytes_ = depth ? (pm.rowBytes & 0x3FFF) : (width + 3) * 4;
        size_ = static_cast<size_t>(rowBytes_) * height;
        // Noise everywhere, padding too: drawing must keep to its pixels.
        uint32_t seed = 0x9E3779B9u ^ static_cast<uint32_t>(left * 31 + top);
        for (size_t i = 0; i < size_; ++i) {
            seed = seed * 1664525u + 1013904223u;
            bytes()[i] = static_cast<uint8_t>(seed >> 24);
        }
        model_.assign(bytes(), bytes() + size_);
    }
    ~World()
    {
        SetGWorld(oldPort_, oldDevice_);
        if (world_ && owned_)
            DisposeGWorld(world_);
        else if (world_)
            CorvaneDisposePort(world_);
    }
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    bool ok() const { return world_ != nullptr; }
    const QdRect &bounds() const { return (**world_->portPixMap).bounds; }
    uint8_t *bytes() const { return reinterpret_cast<uint8_t *>((**world_->portPixMap).baseAddr); }
    bool matches() const { return std::equal(model_.begin(), model_.end(), bytes()); }
    // First differing pixel, for the failure message.
    std::string firstDifference() const
    {
        for (size_t i = 0; i < size_; ++i)
            if (model_[i] != bytes()[i]) {
                size_t y = i / rowBytes_, x = i % rowBytes_;
                return "row " + std::to_string(y) + " byte " + std::to_string(x) + ": want " +
                       std::to_string(model_[i]) + " got " + std::to_string(bytes()[i]);
            }
        return "none";
    }

    // The model: one pixel in port coordinates, clipped to the bounds.
    void set(int32_t h, int32_t v, int32_t colour)
    {
        uint8_t *px = at(h, v);
        if (!px)
            return;
        if (depth_ == 1) {
            uint8_t bit = static_cast<uint8_t>(0x80 >> ((h - bounds().left) & 7));
            *px = colour == whiteColor ? (*px & ~bit) : (*px | bit);
        } else {
            HostPixel c = colourPixel(colour);
            std::memcpy(px, &c, 4);
        }
    }
    void invert(int32_t h, int32_t v)
    {
        uint8_t *px = at(h, v);
        if (!px)
            return;
        if (depth_ == 1) {
            *px ^= static_cast<uint8_t>(0x80 >> ((h - bounds().left) & 7));
        } else {
            HostPixel c;
            std::memcpy(&c, px, 4);
            c = HostPixel{255, uint8_t(255 - c.red), uint8_t(255 - c.green), uint8_t(255 - c.blue)};
            std::memcpy(px, &c, 4);
        }
    }
    // An even number of inversions: only a host pixel's alpha shows it.
    void invertTwice(int32_t h, int32_t v)
    {
        if (uint8_t *px = at(h, v); px && depth_ != 1)
            px[offsetof(HostPixel, alpha)] = 255;
    }
    void paint(int32_t h, int32_t v, int16_t mode, int32_t fore, int32_t back)
    {
        if (mode == 2)
            invert(h, v);
        else
            set(h, v, mode == 3 ? back : fore);
    }

private:
    uint8_t *at(int32_t h, int32_t v)
    {
        const QdRect &b = bounds();
        if (h < b.left || h >= b.right || v < b.top || v >= b.bottom)
            return nullptr;
        size_t row = static_cast<size_t>(v - b.top) * rowBytes_;
        return model_.data() + row + (depth_ == 1 ? (h - b.left) >> 3 : (h - b.left) * 4);
    }

    int16_t depth_;
    GWorldPtr world_ = nullptr;
    GWorldPtr oldPort_ = nullptr;
    GDHandle oldDevice_ = nullptr;
    bool owned_ = false;
    std::vector<HostPixel> hostPixels_;
    int32_t rowBytes_ = 0;
    size_t size_ = 0;
    std::vector<uint8_t> model_;
};

struct Bounds {
    int16_t depth, left, top, width, height;
};

// Offsets that put the pattern and the bytes out of step, widths that end
// mid-byte and mid-word, negative origins; depth 0 is a host-pixel port.
const Bounds kWorlds[] = {
    {1, 0, 0, 64, 20},  {1, 3, -5, 37, 17}, {1, -11, 2, 9, 11},  {1, 5, 7, 1, 3},
    {1, -8, -8, 70, 9}, {1, 13, 0, 100, 6}, {32, -3, 4, 21, 10}, {0, 0, 0, 19, 12},
};

TEST_F(Blit, FillRectMatchesThePixelModel)
{
    const uint8_t patterns[][8] = {
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0, 0, 0, 0, 0, 0, 0, 0},
        {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55},
        {0x81, 0x42, 0x24, 0x18, 0x0F, 0xF0, 0x3C, 0x01},
    };
    const int32_t colours[][2] = {{blackColor, whiteColor},
                                  {whiteColor, blackColor},
                                  {blackColor, blackColor},
                                  {whiteColor, whiteColor},
                                  {205, 409}};
    for (const Bounds &wb : kWorlds) {
        for (const auto &pat : patterns) {
            for (const auto &fb : colours) {
                World w(wb.depth, wb.left, wb.top, wb.width, wb.height);
                ASSERT_TRUE(w.ok());
                ForeColor(fb[0]);
                BackColor(fb[1]);
                const QdRect &b = w.bounds();
                // Inside, straddling each edge, covering all, outside, empty, inverted.
                const QdRect rects[] = {
                    {int16_t(b.top + 1), int16_t(b.left + 1), int16_t(b.bottom - 1), int16_t(b.right - 2)},
                    {int16_t(b.top - 4), int16_t(b.left - 9), int16_t(b.top + 3), int16_t(b.left + 5)},
                    {int16_t(b.bottom - 2), int16_t(b.right - 3), int16_t(b.bottom + 6), int16_t(b.right + 17)},
                    {int16_t(b.top - 100), int16_t(b.left - 100), int16_t(b.bottom + 100), int16_t(b.right + 100)},
                    {int16_t(b.top + 2), int16_t(b.right), int16_t(b.bottom), int16_t(b.right + 9)},
                    {int16_t(b.top + 1), int16_t(b.left + 2), int16_t(b.top + 1), int16_t(b.left + 9)},
                    {int16_t(b.top + 5), int16_t(b.left + 6), int16_t(b.top + 2), int16_t(b.left + 3)},
                    {int16_t(b.top), int16_t(b.left + 3), int16_t(b.top + 2), int16_t(b.left + 4)},
                };
                for (const QdRect &r : rects) {
                    _FillRect(&r, pat);
                    EXPECT_EQ(QDError(), noErr);
                    for (int32_t v = r.top; v < r.bottom; ++v)
                        for (int32_t h = r.left; h < r.right; ++h)
                            w.set(h, v, (pat[v & 7] & (0x80 >> (h & 7))) ? fb[0] : fb[1]);
                    ASSERT_TRUE(w.matches())
                        << "world depth " << wb.depth << " at " << wb.left << "," << wb.top << " rect " << r.left << ","
                        << r.top << "-" << r.right << "," << r.bottom << " pattern " << int(pat[0]) << " colours "
                        << fb[0] << "/" << fb[1] << ": " << w.firstDifference();
                }
            }
        }
    }
}

// Plain text: glyphs from FreeType itself, placed at the rounded pen, then
// painted by mode into the model.
TEST_F(Blit, PlainTextMatchesFreeTypeThroughEveryMode)
{
    const std::string texts[] = {"Quill", "W\xE9j,", "i"};
    const int16_t sizes[] = {9, 23, 41};
    const int32_t colours[][2] = {{blackColor, whiteColor}, {whiteColor, blackColor}, {341, 205}};
    for (int16_t size : sizes) {
        ReferenceFace ref(size);
        ASSERT_NE(ref.face(), nullptr) << "DejaVu Sans is installed by the set-up";
        for (const Bounds &wb : kWorlds) {
            // Pens left of, inside and below the world, at every bit phase.
            const int32_t pens[][2] = {{wb.left - size, wb.top + size},
                                       {wb.left + 1, wb.top + wb.height / 2},
                                       {wb.left + 6, wb.top + wb.height + size / 3},
                                       {wb.left + wb.width - 3, wb.top + 2}};
            for (const std::string &text : texts)
                for (int16_t mode = 0; mode < 4; ++mode)
                    for (const auto &fb : colours) {
                        if (wb.depth == 1 && fb[0] == 341)
                            continue; // 1-bit worlds know only ink and paper
                        for (const auto &pen : pens) {
                            World w(wb.depth, wb.left, wb.top, wb.width, wb.height);
                            ASSERT_TRUE(w.ok());
                            setText(0, size);
                            TextMode(mode);
                            ForeColor(fb[0]);
                            BackColor(fb[1]);
                            _MoveTo(static_cast<int16_t>(pen[0]), static_cast<int16_t>(pen[1]));
                            _DrawText(text.data(), 0, static_cast<int16_t>(text.size()));
                            EXPECT_EQ(QDError(), noErr);

                            FT_Face face = ref.face();
                            int32_t x = pen[0];
                            for (char ch : text) {
                                uint32_t cp = corvane::text::cp1252ToUnicode(static_cast<uint8_t>(ch));
                                FT_UInt gi = FT_Get_Char_Index(face, cp);
                                ASSERT_EQ(FT_Load_Glyph(face, gi, FT_LOAD_TARGET_MONO), 0);
                                ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
                                const FT_Bitmap &bm = face->glyph->bitmap;
                                int32_t left = x + face->glyph->bitmap_left, top = pen[1] - face->glyph->bitmap_top;
                                for (int32_t r = 0; r < static_cast<int32_t>(bm.rows); ++r)
                                    for (int32_t c = 0; c < static_cast<int32_t>(bm.width); ++c)
                                        if (bm.buffer[r * bm.pitch + (c >> 3)] & (0x80 >> (c & 7)))
                                            w.paint(left + c, top + r, mode, fb[0], fb[1]);
                                FT_Fixed adv = 0;
                                ASSERT_EQ(FT_Get_Advance(face, gi, FT_LOAD_NO_HINTING, &adv), 0);
                                x += static_cast<int32_t>((adv + 0x8000) >> 16);
                            }
                            ASSERT_TRUE(w.matches())
                                << "'" << text << "' size " << size << " mode " << mode << " colours " << fb[0] << "/"
                                << fb[1] << " world depth " << wb.depth << " at " << wb.left << "," << wb.top << " pen "
                                << pen[0] << "," << pen[1] << ": " << w.firstDifference();
                        }
                    }
        }
    }
}

// Styled text: the ink is what the library draws in a roomy white world;
// drawn anywhere else, in any mode, it must be that ink moved and clipped.
TEST_F(Blit, StyledTextIsItsInkMovedAndClipped)
{
    const int16_t faces[] = {kFaceBold, kFaceItalic, kFaceUnderline, kFaceOutline,
                             kFaceBold | kFaceItalic | kFaceUnderline | kFaceOutline};
    const std::string text = "Rag\xE9";
    // The families that synthesise a style as well as the system font.
    std::vector<int16_t> fonts = {0};
    for (int16_t i = 1; i < CorvaneFontCount() && fonts.size() < 3; ++i) {
        corvane1::ResolvedFace rf;
        if (corvane1::resolveFace(i, true, true, rf) && (rf.synthBold || rf.synthItalic))
            fonts.push_back(i);
    }
    for (int16_t font : fonts)
        for (int16_t face : faces)
            for (int16_t size : {int16_t(17), int16_t(38)}) {
                // Roomy: pen at (64, 64) of a 256 x 128 world leaves space on every
                // side. Painting ink takes the union of overlapping glyphs and the
                // underline; inverting takes their exclusive or.
                const int32_t roomX = 64, roomY = 64, roomW = 256, roomH = 128;
                std::vector<uint8_t> inkOf[2];
                for (int i = 0; i < 2; ++i) {
                    Offscreen room(roomW, roomH);
                    setText(font, size, face);
                    TextMode(i ? 2 : 1);
                    _MoveTo(roomX, roomY);
                    _DrawText(text.data(), 0, static_cast<int16_t>(text.size()));
                    inkOf[i] = room.ink();
                    ASSERT_GT(countInk(inkOf[i]), 20) << "font " << font << " face " << face;
                    for (int32_t y = 0; y < roomH; ++y)
                        for (int32_t x = 0; x < roomW; ++x)
                            if (x == 0 || y == 0 || x == roomW - 1 || y == roomH - 1) {
                                ASSERT_FALSE(inkOf[i][static_cast<size_t>(y) * roomW + x])
                                    << "ink reaches the room's edge";
                            }
                }
                for (const Bounds &wb : kWorlds)
                    for (int16_t mode : {int16_t(0), int16_t(2), int16_t(3)})
                        for (const std::array<int32_t, 2> &pen :
                             {std::array<int32_t, 2>{wb.left - 7, wb.top + wb.height - 3},
                              std::array<int32_t, 2>{wb.left + 3, wb.top + size}}) {
                            World w(wb.depth, wb.left, wb.top, wb.width, wb.height);
                            ASSERT_TRUE(w.ok());
                            setText(font, size, face);
                            TextMode(mode);
                            _MoveTo(static_cast<int16_t>(pen[0]), static_cast<int16_t>(pen[1]));
                            _DrawText(text.data(), 0, static_cast<int16_t>(text.size()));
                            for (int32_t y = 0; y < roomH; ++y)
                                for (int32_t x = 0; x < roomW; ++x) {
                                    size_t i = static_cast<size_t>(y) * roomW + x;
                                    int32_t h = pen[0] + x - roomX, v = pen[1] + y - roomY;
                                    if (mode == 2 && inkOf[0][i] && !inkOf[1][i])
                                        w.invertTwice(h, v);
                                    else if (inkOf[mode == 2][i])
                                        w.paint(h, v, mode, blackColor, whiteColor);
                                }
                            ASSERT_TRUE(w.matches()) << "font " << font << " face " << face << " size " << size
                                                     << " mode " << mode << " world depth " << wb.depth << " at "
                                                     << wb.left << "," << wb.top << ": " << w.firstDifference();
                        }
            }
}

} // namespace
