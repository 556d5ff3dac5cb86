// Text of the current port: font selection, metrics, widths and monochrome
// drawing through FreeType. Bytes are Windows-1252. One point is one pixel.
//
// Styles come from the family's own faces where it has them; otherwise bold
// is a horizontal smear, italic a row shear, both on the glyph's bitmap as
// the classic interface made them. Outline is always drawn hollow from the
// glyph's bitmap; underline is a bar under the whole run.
#include "text.h"
#include "glyph_cache.h"

#include FT_ADVANCES_H
#include FT_OUTLINE_H
#include FT_BITMAP_H

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <unordered_map>
#include <vector>

namespace corvane1 {
namespace {

bool gFractEnable = false;

// Horizontal shear of synthesised italic, in pixels per pixel of height.
constexpr double kItalicSlope = 0.21;

// Glyphs up to this many pixels are rendered whole; larger ones only in the
// window the port can show.
constexpr int64_t kMaxDirectPixels = int64_t(4096) * 4096;

Fixed clampFixed(int64_t v)
{
    return static_cast<Fixed>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t roundFixed(int64_t v)
{
    return static_cast<int32_t>((v + 0x8000) >> 16);
}

int16_t clamp16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

// Each face keeps one size; setting it again is costly for hinted faces.
bool setPixelSize(FT_Face face, int32_t ppem)
{
    static auto &current = *new std::unordered_map<FT_Face, int32_t>; // outlives exit-time callers
    auto it = current.find(face);
    if (it != current.end() && it->second == ppem)
        return true;
    FT_Error err;
    if (FT_IS_SCALABLE(face)) {
        err = FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem));
    } else {
        // A bitmap font draws at its strike nearest the wanted size.
        int best = -1;
        for (int i = 0; i < face->num_fixed_sizes; ++i)
            if (best < 0 ||
                std::abs(face->available_sizes[i].height - ppem) < std::abs(face->available_sizes[best].height - ppem))
                best = i;
        err = best < 0 ? FT_Err_Invalid_Pixel_Size : FT_Select_Size(face, best);
    }
    if (err) {
        current.erase(face);
        return false;
    }
    current[face] = ppem;
    return true;
}

// Unstyled 16.16 advances of the 256 bytes at one size.
const std::array<Fixed, 256> &rawAdvances(const TextSetup &s)
{
    struct Entry {
        std::array<Fixed, 256> adv;
    };
    static auto &cache = *new std::map<std::pair<FT_Face, int32_t>, Entry>; // outlives exit-time callers
    auto key = std::make_pair(s.face.face, s.ppem);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second.adv;
    if (cache.size() >= 64)
        cache.clear();
    Entry e{};
    for (int b = 0; b < 256; ++b) {
        FT_Fixed a = 0;
        if (FT_Get_Advance(s.face.face, s.face.glyphs[b], FT_LOAD_NO_HINTING, &a) != 0)
            a = 0;
        e.adv[b] = clampFixed(a);
    }
    return cache.emplace(key, e).first->second.adv;
}

// Ink of one glyph in port coordinates: one byte per pixel, rows top down.
struct Mask {
    int32_t left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> px;
};

// Copies a rendered bitmap whose top-left pixel sits at (left, top).
bool maskFromBitmap(const FT_Bitmap &bm, int32_t left, int32_t top, Mask &m)
{
    m.left = left;
    m.top = top;
    m.width = static_cast<int32_t>(bm.width);
    m.height = static_cast<int32_t>(bm.rows);
    m.px.assign(static_cast<size_t>(m.width) * m.height, 0);
    for (int32_t y = 0; y < m.height; ++y) {
        const uint8_t *row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
        for (int32_t x = 0; x < m.width; ++x) {
            bool ink;
            if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
                ink = row[x >> 3] & (0x80 >> (x & 7));
            else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY)
                ink = row[x] >= 128;
            else
                return false;
            m.px[static_cast<size_t>(y) * m.width + x] = ink;
        }
    }
    return true;
}

// Sliding-window "any ink within [i - before, i + after]" over one line of
// `n` values `stride` apart, so the cost stays linear at large sizes.
void spread(const uint8_t *in, uint8_t *out, int32_t n, int32_t outN, size_t stride, int32_t before, int32_t after)
{
    int32_t count = 0; // ink among in[i - before .. i + after]
    auto inkAt = [&](int32_t i) { return i >= 0 && i < n && in[static_cast<size_t>(i) * stride]; };
    for (int32_t i = -before; i < after; ++i)
        count += inkAt(i);
    for (int32_t i = 0; i < outN; ++i) {
        count += inkAt(i + after);
        out[static_cast<size_t>(i) * stride] = count > 0;
        count -= inkAt(i - before);
    }
}

// Classic bold: every ink pixel smeared `extra` pixels to the right.
void smear(Mask &m, int32_t extra)
{
    Mask out = m;
    out.width = m.width + extra;
    out.px.assign(static_cast<size_t>(out.width) * out.height, 0);
    for (int32_t y = 0; y < m.height; ++y)
        spread(&m.px[static_cast<size_t>(y) * m.width], &out.px[static_cast<size_t>(y) * out.width], m.width, out.width,
               1, extra, 0);
    m = std::move(out);
}

int32_t italicShift(int32_t baseline, int32_t y)
{
    return static_cast<int32_t>(std::floor((baseline - y - 0.5) * kItalicSlope + 0.5));
}

void shear(Mask &m, int32_t baseline)
{
    if (m.height == 0)
        return;
    int32_t lo = italicShift(baseline, m.top + m.height - 1), hi = italicShift(baseline, m.top);
    Mask out = m;
    out.left = m.left + lo;
    out.width = m.width + (hi - lo);
    out.px.assign(static_cast<size_t>(out.width) * out.height, 0);
    for (int32_t y = 0; y < m.height; ++y) {
        int32_t d = italicShift(baseline, m.top + y) - lo;
        for (int32_t x = 0; x < m.width; ++x)
            out.px[static_cast<size_t>(y) * out.width + x + d] = m.px[static_cast<size_t>(y) * m.width + x];
    }
    m = std::move(out);
}

// Hollow: the ring of pixels within t of the ink, the ink itself left empty.
void hollow(Mask &m, int32_t t)
{
    Mask wide;
    wide.left = m.left - t;
    wide.top = m.top - t;
    wide.width = m.width + 2 * t;
    wide.height = m.height + 2 * t;
    // Rows of the ink, widened by t each side...
    std::vector<uint8_t> rows(static_cast<size_t>(wide.width) * wide.height, 0);
    for (int32_t y = 0; y < m.height; ++y)
        spread(&m.px[static_cast<size_t>(y) * m.width], &rows[static_cast<size_t>(y + t) * wide.width], m.width,
               wide.width, 1, 2 * t, 0);
    // ...then columns, widened by t above and below.
    wide.px.assign(rows.size(), 0);
    for (int32_t x = 0; x < wide.width; ++x)
        spread(&rows[x], &wide.px[x], wide.height, wide.height, wide.width, t, t);
    for (int32_t y = 0; y < m.height; ++y)
        for (int32_t x = 0; x < m.width; ++x)
            if (m.px[static_cast<size_t>(y) * m.width + x])
                wide.px[static_cast<size_t>(y + t) * wide.width + x + t] = 0;
    m = std::move(wide);
}

InkOp textInk(const Port *p)
{
    switch (p->text.mode) {
    case 2:
        return InkOp{true, 0};
    case 3:
        return InkOp{false, p->text.backColour};
    default:
        return InkOp{false, p->text.foreColour};
    }
}

// Rows of the mask that the port shows, packed to bits and inked whole.
void paintMask(Port *p, const Mask &m)
{
    const QdRect &b = p->pixMap.bounds;
    int32_t y0 = std::max<int32_t>(0, b.top - m.top), y1 = std::min<int32_t>(m.height, b.bottom - m.top);
    int32_t x0 = std::max<int32_t>(0, b.left - m.left), x1 = std::min<int32_t>(m.width, b.right - m.left);
    if (y0 >= y1 || x0 >= x1)
        return;
    InkOp op = textInk(p);
    std::vector<uint8_t> bits(static_cast<size_t>((x1 - x0 + 7) >> 3));
    for (int32_t y = y0; y < y1; ++y) {
        std::fill(bits.begin(), bits.end(), uint8_t(0));
        const uint8_t *px = &m.px[static_cast<size_t>(y) * m.width];
        for (int32_t x = x0; x < x1; ++x)
            if (px[x])
                bits[static_cast<size_t>((x - x0) >> 3)] |= static_cast<uint8_t>(0x80 >> ((x - x0) & 7));
        inkRow(p, bits.data(), x1 - x0, m.left + x0, m.top + y, op);
    }
}

// An unstyled mono bitmap goes to the port as it is, row by row.
void paintBitmap(Port *p, const FT_Bitmap &bm, int32_t left, int32_t top)
{
    const QdRect &b = p->pixMap.bounds;
    int32_t rows = static_cast<int32_t>(bm.rows);
    int32_t y0 = std::max<int32_t>(0, b.top - top), y1 = std::min<int32_t>(rows, b.bottom - top);
    InkOp op = textInk(p);
    for (int32_t y = y0; y < y1; ++y)
        inkRow(p, bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch, static_cast<int32_t>(bm.width), left, top + y, op);
}

// Rasterises only the part of a large outline near the port: the same
// mono raster, shifted by whole pixels, into a window of the glyph. Pixel
// centres lying exactly on an edge may fall the other way than in a whole
// render, as the raster's rounding sees other coordinates.
bool renderWindow(FT_GlyphSlot slot, int64_t wl, int64_t wb, int64_t wr, int64_t wt, FT_Bitmap &bm,
                  std::vector<uint8_t> &buffer)
{
    FT_Bitmap_Init(&bm);
    bm.width = static_cast<unsigned>(wr - wl);
    bm.rows = static_cast<unsigned>(wt - wb);
    bm.pitch = static_cast<int>((bm.width + 7) / 8);
    bm.pixel_mode = FT_PIXEL_MODE_MONO;
    bm.num_grays = 2;
    buffer.assign(static_cast<size_t>(bm.pitch) * bm.rows, 0);
    bm.buffer = buffer.data();
    FT_Outline_Translate(&slot->outline, static_cast<FT_Pos>(-wl * 64), static_cast<FT_Pos>(-wb * 64));
    return FT_Outline_Get_Bitmap(slot->library, &slot->outline, &bm) == 0;
}

// Draws one glyph with its origin at (x, baseline). Glyphs wholly outside
// the port are not rasterised at all, and huge ones only near the port;
// the others come rendered from the glyph cache when their face is cached.
void drawGlyph(Port *p, const TextSetup &s, uint32_t glyph, int32_t x, int32_t baseline)
{
    FT_Face face = s.face.face;
    const FT_Outline *outline = cachedOutline(s.face, s.ppem, glyph);
    FT_GlyphSlot slot = nullptr;
    if (!outline) {
        if (FT_Load_Glyph(face, glyph, FT_LOAD_TARGET_MONO) != 0)
            return;
        slot = face->glyph;
        if (slot->format == FT_GLYPH_FORMAT_OUTLINE)
            outline = &slot->outline;
    }
    const QdRect &b = p->pixMap.bounds;
    // The glyph's bitmap and where its top-left pixel lands.
    const FT_Bitmap *bitmap = slot ? &slot->bitmap : nullptr;
    int32_t left = slot ? x + slot->bitmap_left : 0, top = slot ? baseline - slot->bitmap_top : 0;
    FT_Bitmap window;
    std::vector<uint8_t> windowBuffer;
    if (outline) {
        // Glyph pixels, y up from the baseline, x right from the origin.
        FT_BBox box;
        FT_Outline_Get_CBox(outline, &box);
        int64_t gl = box.xMin >> 6, gr = (box.xMax + 63) >> 6, gb = box.yMin >> 6, gt = (box.yMax + 63) >> 6;
        // Synthesised styles move ink: take that much more around the port.
        int64_t mx = 2 + s.boldExtra + s.outlineExtra, my = 2 + s.outlineExtra;
        if (s.face.synthItalic)
            mx += static_cast<int64_t>((gt - gb + 2 * my) * kItalicSlope) + 2;
        int64_t wl = std::max<int64_t>(gl - 1, int64_t(b.left) - x - mx);
        int64_t wr = std::min<int64_t>(gr + 1, int64_t(b.right) - x + mx);
        int64_t wt = std::min<int64_t>(gt + 1, int64_t(baseline) - b.top + my);
        int64_t wb = std::max<int64_t>(gb - 1, int64_t(baseline) - b.bottom - my);
        if (wl >= wr || wb >= wt)
            return;
        if ((gr - gl) * (gt - gb) > kMaxDirectPixels) {
            if (!slot) { // only the outline came from the cache: the window is rendered from the face
                if (FT_Load_Glyph(face, glyph, FT_LOAD_TARGET_MONO) != 0)
                    return;
                slot = face->glyph;
            }
            if (!renderWindow(slot, wl, wb, wr, wt, window, windowBuffer))
                return;
            bitmap = &window;
            left = x + static_cast<int32_t>(wl);
            top = baseline - static_cast<int32_t>(wt);
        } else if (!slot) {
            FT_BitmapGlyph rendered = cachedBitmap(s.face, s.ppem, glyph);
            if (!rendered)
                return;
            bitmap = &rendered->bitmap;
            left = x + rendered->left;
            top = baseline - rendered->top;
        } else if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) {
            return;
        } else {
            left = x + slot->bitmap_left;
            top = baseline - slot->bitmap_top;
        }
    }
    if (!bitmap)
        return;
    bool styled = s.face.synthBold || s.face.synthItalic || s.outline;
    if (!styled && bitmap->pixel_mode == FT_PIXEL_MODE_MONO) {
        paintBitmap(p, *bitmap, left, top);
        return;
    }
    Mask m;
    if (!maskFromBitmap(*bitmap, left, top, m))
        return;
    if (s.face.synthBold)
        smear(m, s.boldExtra);
    if (s.face.synthItalic)
        shear(m, baseline);
    if (s.outline)
        hollow(m, s.outlineExtra);
    paintMask(p, m);
}

void drawUnderline(Port *p, const TextSetup &s, int32_t x0, int32_t x1, int32_t baseline)
{
    FT_Face face = s.face.face;
    int64_t centre, thick; // 26.6, below the baseline positive
    if (FT_IS_SCALABLE(face) && face->underline_thickness > 0) {
        centre = -FT_MulFix(face->underline_position, face->size->metrics.y_scale);
        thick = FT_MulFix(face->underline_thickness, face->size->metrics.y_scale);
    } else {
        centre = 64 + 32;
        thick = 64;
    }
    int32_t rows = std::max<int32_t>(1, static_cast<int32_t>((thick + 32) >> 6));
    int32_t top = baseline + static_cast<int32_t>((centre - rows * 32 + 32) >> 6);
    for (int32_t v = top; v < top + rows; ++v)
        inkSpan(p, x0, x1, v, textInk(p));
}

bool textArgs(const void *text, int16_t firstByte, int16_t byteCount, const uint8_t *&bytes)
{
    if (firstByte < 0 || byteCount < 0 || (!text && byteCount > 0))
        return false;
    bytes = static_cast<const uint8_t *>(text) + (text ? firstByte : 0);
    return true;
}

} // namespace

bool setupText(const TextState &state, TextSetup &s)
{
    bool bold = state.face & kFaceBold, italic = state.face & kFaceItalic;
    if (!resolveFace(state.font, bold, italic, s.face))
        return false;
    s.ppem = state.size > 0 ? state.size : kDefaultTextSize;
    if (!setPixelSize(s.face.face, s.ppem))
        return false;
    s.underline = state.face & kFaceUnderline;
    s.outline = state.face & kFaceOutline;
    s.boldExtra = s.face.synthBold ? std::max(1, (s.ppem + 12) / 24) : 0;
    s.outlineExtra = s.outline ? std::max(1, (s.ppem + 24) / 48) : 0;
    return true;
}

Fixed styledAdvance(const TextSetup &s, uint8_t byte)
{
    int64_t extra = int64_t(s.boldExtra + s.outlineExtra) << 16;
    return clampFixed(rawAdvances(s)[byte] + extra);
}

FMetricRec metricsOf(const TextSetup &s)
{
    FT_Face face = s.face.face;
    FMetricRec r{};
    if (FT_IS_SCALABLE(face)) {
        // Exact scaled design values: the size metrics FreeType keeps are
        // rounded to whole pixels.
        auto scale = [&](int64_t units) {
            return clampFixed((units * s.ppem * 65536 + face->units_per_EM / 2) / face->units_per_EM);
        };
        r.ascent = scale(face->ascender);
        r.descent = scale(-int64_t(face->descender));
        r.leading = scale(std::max<int64_t>(0, int64_t(face->height) - face->ascender + face->descender));
        r.widMax = scale(face->max_advance_width);
    } else {
        const FT_Size_Metrics &m = face->size->metrics;
        r.ascent = clampFixed(int64_t(m.ascender) << 10);
        r.descent = clampFixed(-int64_t(m.descender) << 10);
        r.leading = clampFixed(std::max<int64_t>(0, int64_t(m.height) - m.ascender + m.descender) << 10);
        r.widMax = clampFixed(int64_t(m.max_advance) << 10);
    }
    r.widMax = clampFixed(int64_t(r.widMax) + (int64_t(s.boldExtra + s.outlineExtra) << 16));
    return r;
}

int64_t runWidth(const TextSetup &s, const uint8_t *bytes, int32_t count, bool fract)
{
    int64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        Fixed a = styledAdvance(s, bytes[i]);
        sum += fract ? a : int64_t(roundFixed(a)) << 16;
    }
    return sum;
}

// The current port's metrics for both metric calls; false (with the error
// set) when there is nowhere to write or no face to measure.
template <typename Out> bool currentMetrics(Out *out, FMetricRec &m)
{
    enterCall();
    if (!out) {
        setError(paramErr);
        return false;
    }
    TextSetup s;
    if (!setupText(currentPort()->text, s)) {
        *out = Out{};
        setError(corvaneNoFontErr);
        return false;
    }
    m = metricsOf(s);
    return true;
}

} // namespace corvane1

using namespace corvane1;

extern "C" {

void TextFont(int16_t font)
{
    enterCall();
    // Unknown numbers are kept and draw in the system font, as they always did.
    currentPort()->text.font = font;
    setError(noErr);
}

void SetFractEnable(uint8_t on)
{
    enterCall();
    gFractEnable = on != 0;
}

void FontMetrics(FMetricRec *out)
{
    guarded([&] {
        FMetricRec m;
        if (!currentMetrics(out, m))
            return;
        *out = m;
        setError(noErr);
    });
}

void GetFontInfo(FontInfo *out)
{
    guarded([&] {
        FMetricRec m;
        if (!currentMetrics(out, m))
            return;
        out->ascent = clamp16(roundFixed(m.ascent));
        out->descent = clamp16(roundFixed(m.descent));
        out->widMax = clamp16(roundFixed(m.widMax));
        out->leading = clamp16(roundFixed(m.leading));
        setError(noErr);
    });
}

int16_t TextWidth(const void *text, int16_t firstByte, int16_t byteCount)
{
    return guarded<int16_t>(0, [&]() -> int16_t {
        enterCall();
        const uint8_t *bytes = nullptr;
        if (!textArgs(text, firstByte, byteCount, bytes)) {
            setError(paramErr);
            return 0;
        }
        TextSetup s;
        if (!setupText(currentPort()->text, s)) {
            setError(corvaneNoFontErr);
            return 0;
        }
        int64_t w = runWidth(s, bytes, byteCount, gFractEnable);
        setError(noErr);
        return clamp16(roundFixed(w));
    });
}

void _DrawText(const void *text, int16_t firstByte, int16_t byteCount)
{
    guarded([&] {
        enterCall();
        const uint8_t *bytes = nullptr;
        if (!textArgs(text, firstByte, byteCount, bytes)) {
            setError(paramErr);
            return;
        }
        Port *p = currentPort();
        TextSetup s;
        if (!setupText(p->text, s)) {
            setError(corvaneNoFontErr);
            return;
        }
        int64_t pen = p->penH, start = pen;
        int32_t baseline = p->penV;
        const QdRect &b = p->pixMap.bounds;
        for (int32_t i = 0; i < byteCount; ++i) {
            int32_t x = roundFixed(pen);
            // Past the right edge nothing more can show; the pen still advances.
            if (x < int32_t(b.right) + 2 * s.ppem)
                drawGlyph(p, s, s.face.glyphs[bytes[i]], x, baseline);
            Fixed a = styledAdvance(s, bytes[i]);
            pen += gFractEnable ? a : int64_t(roundFixed(a)) << 16;
        }
        if (s.underline)
            drawUnderline(p, s, roundFixed(start), roundFixed(pen), baseline);
        // The pen stays within the 16-bit coordinate space.
        p->penH = clampFixed(std::clamp<int64_t>(pen, int64_t(INT16_MIN) << 16, int64_t(INT16_MAX) << 16));
        setError(noErr);
    });
}

} // extern "C"
