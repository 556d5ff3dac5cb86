/*
 * Text rendering: measurement, line drawing, the 4x4 coverage reduction,
 * coverage transfer and colour blend, 16.16 rectangle helpers, and the
 * render command that ties them together.
 *
 * Conventions of this subsystem:
 *  - Right and bottom edges are exclusive, in FixedRect and QdRect alike.
 *  - 16.16 to whole pixels rounds halves up (add 0x8000, shift right
 *    arithmetically), except FixedToQdRect, which rounds outward.
 *  - Text is 8-bit, lines end with CR (13). Measuring and drawing work on a
 *    copy; the caller's text is never split in place. Text reads stop at the
 *    end of the settings record's text field even when no zero ends it.
 *  - Fractional character widths are on while measuring or drawing and off
 *    afterwards.
 *  - Between the coverage pass and the colour pass, byte 3 (blue) of each
 *    output pixel holds the text's coverage, 0 to 255.
 *  - Every function reports failure by its result; none throws.
 */
#ifndef QUILLOMARK_RENDER_RENDER_H
#define QUILLOMARK_RENDER_RENDER_H

#include "entry/module.h"
#include "host/porting.h"

#include <stdint.h>
#include <string.h>

/* ---------------------------------------------------------------------
 * Working copies of the text
 */

/* The whole text field and a terminating zero: a damaged record whose field
 * holds no zero still ends at the field's end. */
enum { kTextBufferSize = kSettingsTextSize + 1 };

/* Copies text into buf and ends it with a zero; returns its length. */
inline size_t CopyTextField(char (&buf)[kTextBufferSize], const char *text)
{
    const void *end = memchr(text, 0, kSettingsTextSize);
    const size_t length =
        end ? static_cast<size_t>(static_cast<const char *>(end) - text) : static_cast<size_t>(kSettingsTextSize);
    memcpy(buf, text, length);
    buf[length] = 0;
    return length;
}

/* ---------------------------------------------------------------------
 * 16.16 rectangles (rects.cpp)
 */

/* Moves the rectangle in place. Sums beyond the 32-bit range stop at its
 * ends rather than wrapping. */
void OffsetFixedRect(FixedRect *rect, Fixed dh, Fixed dv);

/* Writes the intersection of a and b to out (which may be a or b); true
 * when it is not empty. out is written in full either way. */
bool SectFixedRect(const FixedRect *a, const FixedRect *b, FixedRect *out);

/* The smallest whole-pixel rectangle containing source: left and top round
 * down, right and bottom up. An edge past 32767 is stored as 32767. */
void FixedToQdRect(const FixedRect *source, QdRect *destination);

/* The same rectangle in 16.16. */
void QdToFixedRect(const QdRect *source, FixedRect *destination);

/* ---------------------------------------------------------------------
 * Measurement (measure.cpp)
 */

/* Largest block side in pixels; a multiple of 4. */
enum { kMaxBlockSide = 32000 };

/* Measures `text` in the given font at pointSize (into blockRect1x, with
 * rightAllowance) and at four times it (into blockRect4x); either rectangle
 * may be null to skip it. Both come back with top 0 and left 0 and sides
 * that are multiples of 4. Uses a scratch world of its own; the current
 * port is the same afterwards. Non-zero: the scratch world could not be
 * made, and nothing was measured. */
int32_t MeasureTextExtents(int16_t fontNumber, int16_t pointSize, int16_t face, const char *text, QdRect *blockRect1x,
                           QdRect *blockRect4x, int16_t *rightAllowance);

/* Measures with the current port's font settings. rightAllowance is a
 * quarter of the widest character, to the nearest pixel. */
void MeasureTextBlock(const char *text, QdRect *blockRect, int16_t *rightAllowance);

/* ---------------------------------------------------------------------
 * Drawing (draw.cpp)
 */

/* Draws the settings' lines in white into `port`/`device`, aligned within
 * blockRect, after filling eraseRect (if given) with the pattern 118 bytes
 * into the host's drawing globals. Restores the current port. Non-zero is
 * the library's QDError after the line at which drawing stopped. */
int32_t DrawTextBlock(uint8_t *drawGlobals, const TextSettings *settings, int16_t pointSize, const QdRect *eraseRect,
                      const QdRect *blockRect, GWorldPtr port, GDHandle device);

/* Draws the lines into the current port: 0 left, 1 centre, 2 right, any
 * other value left. A line whose baseline falls outside the 16-bit
 * coordinate range ends the drawing. */
int32_t DrawTextLines(const char *text, const QdRect *blockRect, int16_t alignment);

/* ---------------------------------------------------------------------
 * Coverage reduction (reduce.cpp)
 */

/* Zero bits of a nibble: ink pixels among four. */
extern const uint8_t ZeroBitCount[16];
/* Ink count of a 4x4 cell (0-16) to alpha: (255k + 8) / 16. */
extern const uint8_t CoverageAlpha[17];

/* Reduces a 1-bit source (0 bits are ink, most significant bit leftmost)
 * 4x4 into the alpha byte of each destination pixel, asking checkAbort
 * after every output row. Returns the last checkAbort value: non-zero means
 * cancelled, with the rows below left as they were. */
int32_t ReduceCoverage(const uint8_t *src, int32_t srcWidth, int32_t srcHeight, int32_t srcRowBytes, HostPixel *dst,
                       int32_t dstRowBytes, HostInData *in);

/* ---------------------------------------------------------------------
 * Coverage transfer and colour blend (transfer.cpp, blend.cpp)
 */

typedef int32_t (*SampleAtFn)(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out);

/* Refcon of the transfer pass: pixel (x, y) samples the source at
 * (x0 + x * 65536, y0 + y * 65536). */
struct SampleRefcon {
    Fixed x0;
    Fixed y0;
    SamplingBlock block; /* only block.src is the effect's */
    EffectRef effectRef;
    SampleAtFn sampleAt;
};

/* Refcon of the colour pass. */
struct BlendRefcon {
    HostPixel colour;  /* the Text Color parameter; its alpha is never read */
    int16_t composite; /* lowest bit set: over the source pixel, else over transparent black */
};

/* Resamples the alpha bytes of `source` into byte 3 of the destination
 * pixels in `area`, through the host's iterate and sampleAt. */
int32_t TransferCoverage(HostInData *in, Fixed x0, Fixed y0, int32_t progressBase, int32_t progressFinal,
                         EffectWorld *source, EffectWorld *destination, const QdRect *area);

extern "C" {
/* Pixel function of the transfer pass: writes the sample's alpha into byte
 * 3 of dst and nothing else. */
int32_t SampleCoveragePixel(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst);

/* Pixel function of the colour pass: the text colour at the coverage held
 * in byte 3 of dst, over transparent black or over src. Always 0. */
int32_t BlendPixel(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst);
}

/* The pixel function the colour pass hands to iterate for this refcon:
 * BlendPixel, or for composite on a form of it with the same results that
 * needs no look at the refcon for pixels without text. */
PixelFunc BlendPixelFor(const BlendRefcon *refcon);

/* ---------------------------------------------------------------------
 * Render command (render.cpp); CmdRenderHandler is declared in module.h.
 */

/* The point size at the host's current resolution: size times the mean of
 * the two downsample ratios, truncated, low 16 bits. A zero denominator
 * gives paramErr and leaves *scaled alone. */
int32_t ScalePointSize(int16_t size, const HostInData *in, int16_t *scaled);

/* Largest section side the high-quality path draws: four times it must
 * still be a 16-bit coordinate. */
enum { kMaxHighQualitySection = 8191 };

/* Where the draft path draws: the block placed on whole output pixels and
 * clipped to width x height (section, output coordinates, widened on the
 * right by the allowance), and the block in the section's coordinates. */
struct DraftPlacement {
    QdRect section;
    QdRect block;
};

/* False when no part of the block lies inside the output. The block's left
 * and top are 0 or more, as measured. Places through the porting library's
 * _SetRect, _OffsetRect and SectRect, whose 16-bit sums it never lets wrap. */
bool PlaceDraftBlock(const QdRect *blockRect1x, int16_t rightAllowance, Fixed px, Fixed py, uint16_t alignment,
                     int32_t outputWidth, int32_t outputHeight, DraftPlacement *placement);

/* Where the high-quality path draws: the visible section relative to the
 * block (whole pixels, widened), the sampling origin and the area of the
 * output that the transfer writes. */
struct HighQualityPlacement {
    QdRect sectionQd; /* relative to the block's top-left corner */
    Fixed x0, y0;     /* output pixel (x, y) samples the section world at (x0 + x, y0 + y) */
    QdRect areaQd;    /* output pixels, rounded outward */
};

/* False when no part of the block lies inside the extent, or when the placed
 * block would start before the 16.16 range (far outside any world). */
bool PlaceHighQualityBlock(const QdRect *blockRect4x, int16_t rightAllowance, Fixed px, Fixed py, uint16_t alignment,
                           const QdRect *extent, HighQualityPlacement *placement);

#endif
