#include "render/render.h"

#include <stddef.h>

const uint8_t ZeroBitCount[16] = {4, 3, 3, 2, 3, 2, 2, 1, 3, 2, 2, 1, 2, 1, 1, 0};

const uint8_t CoverageAlpha[17] = {0, 16, 32, 48, 64, 80, 96, 112, 128, 143, 159, 175, 191, 207, 223, 239, 255};

int32_t ReduceCoverage(const uint8_t *src, int32_t srcWidth, int32_t srcHeight, int32_t srcRowBytes, HostPixel *dst,
                       int32_t dstRowBytes, HostInData *in)
{
    const int32_t width = srcWidth / 4;
    const int32_t height = srcHeight / 4;
    const int32_t pairs = width / 2;
    const ptrdiff_t srcStride = srcRowBytes;

    int32_t result = 0;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *r0 = src + static_cast<ptrdiff_t>(4 * y) * srcStride;
        const uint8_t *r1 = r0 + srcStride;
        const uint8_t *r2 = r1 + srcStride;
        const uint8_t *r3 = r2 + srcStride;
        HostPixel *out =
            reinterpret_cast<HostPixel *>(reinterpret_cast<uint8_t *>(dst) + static_cast<ptrdiff_t>(y) * dstRowBytes);

        // One source byte per row gives two output pixels: high nibble, then low.
        for (int32_t i = 0; i < pairs; ++i) {
            const uint8_t b0 = *r0++, b1 = *r1++, b2 = *r2++, b3 = *r3++;
            out->alpha = CoverageAlpha[ZeroBitCount[b0 >> 4] + ZeroBitCount[b1 >> 4] + ZeroBitCount[b2 >> 4] +
                                       ZeroBitCount[b3 >> 4]];
            ++out;
            out->alpha = CoverageAlpha[ZeroBitCount[b0 & 15] + ZeroBitCount[b1 & 15] + ZeroBitCount[b2 & 15] +
                                       ZeroBitCount[b3 & 15]];
            ++out;
        }
        if (width & 1)
            out->alpha = CoverageAlpha[ZeroBitCount[*r0 >> 4] + ZeroBitCount[*r1 >> 4] + ZeroBitCount[*r2 >> 4] +
                                       ZeroBitCount[*r3 >> 4]];

        result = in->checkAbort(in->effectRef);
        if (result != 0)
            break;
    }
    return result;
}
