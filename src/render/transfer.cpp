#include "render/render.h"

int32_t TransferCoverage(HostInData *in, Fixed x0, Fixed y0, int32_t progressBase, int32_t progressFinal,
                         EffectWorld *source, EffectWorld *destination, const QdRect *area)
{
    SampleRefcon refcon{}; // the block's host-owned bytes start cleared
    refcon.x0 = x0;
    refcon.y0 = y0;
    refcon.block.src = source;
    refcon.effectRef = in->effectRef;
    refcon.sampleAt = in->utils->sampleAt;
    return in->utils->iterate(in, progressBase, progressFinal, nullptr, area, &refcon, SampleCoveragePixel,
                              destination);
}

extern "C" int32_t SampleCoveragePixel(void *refcon, int32_t x, int32_t y, HostPixel *, HostPixel *dst)
{
    SampleRefcon *r = static_cast<SampleRefcon *>(refcon);
    // Two's-complement sums, as the host's 32-bit arithmetic has them.
    const Fixed sx = static_cast<Fixed>(static_cast<uint32_t>(r->x0) + (static_cast<uint32_t>(x) << 16));
    const Fixed sy = static_cast<Fixed>(static_cast<uint32_t>(r->y0) + (static_cast<uint32_t>(y) << 16));
    HostPixel sample{};
    const int32_t err = r->sampleAt(r->effectRef, sx, sy, &r->block, &sample);
    dst->blue = sample.alpha; // byte 3 carries coverage until the colour pass
    return err;
}
