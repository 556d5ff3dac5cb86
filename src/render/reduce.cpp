#include "render/render.h"

#include <stddef.h>

const uint8_t ZeroBitCount[16] = {4, 3, 3, 2, 3, 2, 2, 1, 3, 2, 2, 1, 2, 1, 1, 0};

const uint8_t CoverageAlpha[17] = {0, 16, 32, 48, 64, 80, 96, 112, 128, 143, 159, 175, 191, 207, 223, 239, 255};

namespace {

// The ink of both nibbles of a source byte in one lookup: the high nibble's
// count in the upper byte, the low nibble's in the lower. Four rows summed
// stay below 17 in each half, so the halves never mix.
struct InkPairs {
    uint16_t of[256];
};

constexpr int ZeroBits(int nibble)
{
    return 4 - ((nibble & 1) + ((nibble >> 1) & 1) + ((nibble >> 2) & 1) + ((nibble >> 3) & 1));
}

constexpr InkPairs MakeInkPairs()
{
    InkPairs t{};
    for (int b = 0; b < 256; ++b)
        t.of[b] = static_cast<uint16_t>(ZeroBits(b >> 4) << 8 | ZeroBits(b & 15));
    return t;
}

constexpr InkPairs kInkPairs = MakeInkPairs();

// Eight source bytes of a band at once: 16 output pixels.
enum { kRunBytes = 8 };

inline uint64_t Load8(const uint8_t *p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

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
        int32_t i = 0;
        while (i < pairs) {
            int32_t end = pairs;
            if (pairs - i >= kRunBytes) {
                // Most of a text block is background or solid ink: a run of
                // either is written without counting.
                const uint64_t a = Load8(r0 + i), b = Load8(r1 + i), c = Load8(r2 + i), d = Load8(r3 + i);
                const bool clear = (a & b & c & d) == ~uint64_t{0}, solid = (a | b | c | d) == 0;
                if (clear || solid) {
                    const uint8_t alpha = solid ? CoverageAlpha[16] : CoverageAlpha[0];
                    for (int32_t k = 0; k < 2 * kRunBytes; ++k)
                        out[2 * i + k].alpha = alpha;
                    i += kRunBytes;
                    continue;
                }
                end = i + kRunBytes;
            }
            for (; i < end; ++i) {
                const uint32_t ink =
                    kInkPairs.of[r0[i]] + kInkPairs.of[r1[i]] + kInkPairs.of[r2[i]] + kInkPairs.of[r3[i]];
                out[2 * i].alpha = CoverageAlpha[ink >> 8];
                out[2 * i + 1].alpha = CoverageAlpha[ink & 0xFF];
            }
        }
        if (width & 1)
            out[2 * pairs].alpha = CoverageAlpha[ZeroBitCount[r0[pairs] >> 4] + ZeroBitCount[r1[pairs] >> 4] +
                                                 ZeroBitCount[r2[pairs] >> 4] + ZeroBitCount[r3[pairs] >> 4]];

        result = in->checkAbort(in->effectRef);
        if (result != 0)
            break;
    }
    return result;
}
