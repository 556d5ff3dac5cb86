#include "render/render.h"

extern "C" int32_t BlendPixel(void *refcon, int32_t, int32_t, HostPixel *src, HostPixel *dst)
{
    const BlendRefcon *r = static_cast<const BlendRefcon *>(refcon);
    const uint32_t b = dst->blue;
    if (b == 255) {
        *dst = r->colour;
        dst->alpha = 255;
        return 0;
    }
    HostPixel base{};
    if (r->composite & 1)
        base = *src;
    if (b == 0) {
        *dst = base;
        return 0;
    }
    // Straight (not premultiplied) colour at opacity b/255 over base, in 1/65025
    // units; the largest term, 255 * 255 * 65025, still fits 32 unsigned bits.
    const uint32_t d = base.alpha * (255u - b) * 255u;
    const uint32_t e = b * 65025u;
    const uint32_t f = d + e;
    HostPixel out;
    out.red = static_cast<uint8_t>((r->colour.red * e + base.red * d) / f);
    out.green = static_cast<uint8_t>((r->colour.green * e + base.green * d) / f);
    out.blue = static_cast<uint8_t>((r->colour.blue * e + base.blue * d) / f);
    out.alpha = static_cast<uint8_t>(f / 65025u);
    *dst = out;
    return 0;
}
