// Shared helpers for the porting-library tests: a fixture that leaves the
// library as it found it, RAII worlds, pixel readers and a reference face
// opened with FreeType directly.
#pragma once

#include "corvane1_ext.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qmtest {

// Restores the process-wide state every test may change.
class PortingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetGWorld(&savedPort_, &savedDevice_);
        CorvaneGetCounts(&countsBefore_);
    }
    void TearDown() override
    {
        CorvaneSetHeapScramble(0);
        CorvaneClearFaults();
        SetFractEnable(0);
        SetGWorld(savedPort_, savedDevice_);
        CorvaneCounts after{};
        CorvaneGetCounts(&after);
        EXPECT_EQ(after.handles, countsBefore_.handles) << "a test leaked handles";
        EXPECT_EQ(after.offscreens, countsBefore_.offscreens) << "a test leaked offscreens";
        EXPECT_EQ(after.ports, countsBefore_.ports) << "a test leaked ports";
    }

private:
    GWorldPtr savedPort_ = nullptr;
    GDHandle savedDevice_ = nullptr;
    CorvaneCounts countsBefore_{};
};

// A 1-bit offscreen world, current while the object lives.
class Offscreen {
public:
    Offscreen(int16_t width, int16_t height, int16_t left = 0, int16_t top = 0)
    {
        QdRect bounds{top, left, static_cast<int16_t>(top + height), static_cast<int16_t>(left + width)};
        err_ = NewGWorld(&world_, 1, &bounds, nullptr, nullptr, 8);
        GetGWorld(&oldPort_, &oldDevice_);
        if (world_)
            SetGWorld(world_, nullptr);
    }
    ~Offscreen()
    {
        SetGWorld(oldPort_, oldDevice_);
        if (world_)
            DisposeGWorld(world_);
    }
    Offscreen(const Offscreen &) = delete;
    Offscreen &operator=(const Offscreen &) = delete;

    GWorldPtr world() const { return world_; }
    int16_t error() const { return err_; }
    const PixMap &pixMap() const { return **world_->portPixMap; }
    const QdRect &bounds() const { return pixMap().bounds; }
    int32_t rowBytes() const { return pixMap().rowBytes & 0x3FFF; }
    // Port coordinates; true for a 1 (black) bit.
    bool bit(int32_t h, int32_t v) const
    {
        const PixMap &pm = pixMap();
        int32_t x = h - pm.bounds.left, y = v - pm.bounds.top;
        auto *row = reinterpret_cast<const uint8_t *>(pm.baseAddr) + y * rowBytes();
        return row[x >> 3] & (0x80 >> (x & 7));
    }
    // Every pixel of the world, row by row, 1 for black.
    std::vector<uint8_t> ink() const
    {
        std::vector<uint8_t> out;
        const QdRect &b = bounds();
        for (int32_t v = b.top; v < b.bottom; ++v)
            for (int32_t h = b.left; h < b.right; ++h)
                out.push_back(bit(h, v));
        return out;
    }
    // Bits of the row padding beyond the right edge, which nothing may touch.
    bool paddingClear() const
    {
        const PixMap &pm = pixMap();
        int32_t width = pm.bounds.right - pm.bounds.left;
        for (int32_t y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y) {
            auto *row = reinterpret_cast<const uint8_t *>(pm.baseAddr) + y * rowBytes();
            for (int32_t x = width; x < rowBytes() * 8; ++x)
                if (row[x >> 3] & (0x80 >> (x & 7)))
                    return false;
        }
        return true;
    }

private:
    GWorldPtr world_ = nullptr;
    GWorldPtr oldPort_ = nullptr;
    GDHandle oldDevice_ = nullptr;
    int16_t err_ = 0;
};

inline int32_t countInk(const std::vector<uint8_t> &ink)
{
    int32_t n = 0;
    for (uint8_t b : ink)
        n += b;
    return n;
}

// Length-prefixed copy of a name.
inline std::vector<unsigned char> pstr(const std::string &s)
{
    std::vector<unsigned char> out(1, static_cast<unsigned char>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    return out;
}

// The file fontconfig lists for a family's upright regular face.
inline std::string regularFaceFile(const char *family)
{
    std::string path;
    FcPattern *p =
        FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, family, FC_WEIGHT, FcTypeInteger, FC_WEIGHT_REGULAR, FC_SLANT,
                       FcTypeInteger, FC_SLANT_ROMAN, FC_WIDTH, FcTypeInteger, FC_WIDTH_NORMAL, nullptr);
    FcObjectSet *os = FcObjectSetBuild(FC_FILE, nullptr);
    FcConfig *config = FcInitLoadConfigAndFonts(); // own configuration, released below
    FcFontSet *set = FcFontList(config, p, os);
    FcChar8 *file = nullptr;
    if (set && set->nfont > 0 && FcPatternGetString(set->fonts[0], FC_FILE, 0, &file) == FcResultMatch)
        path = reinterpret_cast<const char *>(file);
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(os);
    FcPatternDestroy(p);
    FcConfigDestroy(config);
    return path;
}

// The system font opened with FreeType on its own, at a pixel size.
class ReferenceFace {
public:
    explicit ReferenceFace(int32_t ppem, const char *family = "DejaVu Sans")
    {
        std::string file = regularFaceFile(family);
        if (file.empty() || FT_Init_FreeType(&lib_) != 0)
            return;
        if (FT_New_Face(lib_, file.c_str(), 0, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        FT_Set_Pixel_Sizes(face_, 0, ppem);
    }
    ~ReferenceFace()
    {
        if (face_)
            FT_Done_Face(face_);
        if (lib_)
            FT_Done_FreeType(lib_);
    }
    FT_Face face() const { return face_; }

    // Mono bitmap of a character as FreeType renders it; origin at (x, baseline).
    std::vector<uint8_t> render(uint32_t codePoint, int32_t x, int32_t baseline, const QdRect &bounds) const
    {
        std::vector<uint8_t> out(static_cast<size_t>(bounds.right - bounds.left) * (bounds.bottom - bounds.top), 0);
        FT_UInt gi = FT_Get_Char_Index(face_, codePoint);
        if (FT_Load_Glyph(face_, gi, FT_LOAD_TARGET_MONO) || FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_MONO))
            return out;
        const FT_Bitmap &bm = face_->glyph->bitmap;
        int32_t left = x + face_->glyph->bitmap_left, top = baseline - face_->glyph->bitmap_top;
        for (int32_t r = 0; r < static_cast<int32_t>(bm.rows); ++r)
            for (int32_t c = 0; c < static_cast<int32_t>(bm.width); ++c) {
                if (!(bm.buffer[r * bm.pitch + (c >> 3)] & (0x80 >> (c & 7))))
                    continue;
                int32_t h = left + c, v = top + r;
                if (h >= bounds.left && h < bounds.right && v >= bounds.top && v < bounds.bottom)
                    out[static_cast<size_t>(v - bounds.top) * (bounds.right - bounds.left) + (h - bounds.left)] = 1;
            }
        return out;
    }
    // Unhinted 16.16 advance of a character.
    FT_Fixed advance(uint32_t codePoint) const
    {
        FT_Load_Glyph(face_, FT_Get_Char_Index(face_, codePoint), FT_LOAD_NO_HINTING);
        return face_->glyph->linearHoriAdvance;
    }

private:
    FT_Library lib_ = nullptr;
    FT_Face face_ = nullptr;
};

// Sets the current port's text state in one go.
inline void setText(int16_t font, int16_t size, int16_t face = 0)
{
    TextFont(font);
    TextSize(size);
    TextFace(face);
    TextMode(0);
    ForeColor(blackColor);
    BackColor(whiteColor);
}

} // namespace qmtest
