#include "render/render.h"

namespace {

// Straight (not premultiplied) colour at opacity b/255 over base, for
// 0 < b < 255. The exact forms below give the quotients of the general
// rule, which divides in 1/65025 units; the largest term there,
// 255 * 255 * 65025, still fits 32 unsigned bits.
HostPixel Blend(HostPixel colour, HostPixel base, uint32_t b)
{
    HostPixel out;
    if (base.alpha == 0) {
        // Nothing beneath: the colour itself, as opaque as its coverage.
        out = colour;
        out.alpha = static_cast<uint8_t>(b);
        return out;
    }
    if (base.alpha == 255) {
        // Both weights share the factor 65025: what is left divides by 255,
        // which (v + 1 + (v >> 8)) >> 8 does exactly below 65535.
        const uint32_t a = 255u - b;
        const auto mix = [&](uint32_t c, uint32_t s) {
            const uint32_t v = c * b + s * a;
            return static_cast<uint8_t>((v + 1 + (v >> 8)) >> 8);
        };
        out.red = mix(colour.red, base.red);
        out.green = mix(colour.green, base.green);
        out.blue = mix(colour.blue, base.blue);
        out.alpha = 255;
        return out;
    }
    const uint32_t d = base.alpha * (255u - b) * 255u;
    const uint32_t e = b * 65025u;
    const uint32_t f = d + e;
    out.red = static_cast<uint8_t>((colour.red * e + base.red * d) / f);
    out.green = static_cast<uint8_t>((colour.green * e + base.green * d) / f);
    out.blue = static_cast<uint8_t>((colour.blue * e + base.blue * d) / f);
    out.alpha = static_cast<uint8_t>(f / 65025u);
    return out;
}

// Pixels with text, out of line, so that the pixels without need no stack
// frame and test nothing else; it takes the pixel function's own arguments,
// so reaching it moves no register.
__attribute__((noinline, noipa)) int32_t BlendCovered(void *refcon, int32_t, int32_t, HostPixel *src, HostPixel *dst)
{
    const BlendRefcon *r = static_cast<const BlendRefcon *>(refcon);
    const uint32_t b = dst->blue;
    if (b == 255) {
        // The colour itself, opaque, whether or not composite is on.
        *dst = r->colour;
        dst->alpha = 255;
        return 0;
    }
    *dst = Blend(r->colour, (r->composite & 1) ? *src : HostPixel{}, b);
    return 0;
}

// BlendPixel with composite on: a pixel without text is its source pixel.
int32_t BlendOverPixel(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst)
{
    if (__builtin_expect(dst->blue != 0, 0))
        return BlendCovered(refcon, x, y, src, dst);
    *dst = *src;
    return 0;
}

} // namespace

extern "C" int32_t BlendPixel(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst)
{
    // Most of a frame has no text at all; then the pixel is the base as it stands.
    if (__builtin_expect(dst->blue != 0, 0))
        return BlendCovered(refcon, x, y, src, dst);
    if (__builtin_expect(static_cast<const BlendRefcon *>(refcon)->composite & 1, 1))
        *dst = *src;
    else
        *dst = HostPixel{};
    return 0;
}

PixelFunc BlendPixelFor(const BlendRefcon *refcon)
{
    return (refcon->composite & 1) ? BlendOverPixel : BlendPixel;
}
