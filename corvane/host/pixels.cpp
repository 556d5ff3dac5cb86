// Per-pixel services: sampleAt, copyWorld, fillWorld, iterate. These run once
// per pixel or per row of a render, so they take row pointers once and do
// no allocation.
#include "host_impl.h"

#include <algorithm>
#include <cstring>

namespace corvane {
namespace {

constexpr int32_t kParamErr = -50;

// Half-open box in world coordinates.
struct Box {
    int32_t left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
};

bool usable(const EffectWorld *w)
{
    if (!w || w->width < 0 || w->height < 0)
        return false;
    if (w->width == 0 || w->height == 0)
        return true;
    const int64_t minRow = static_cast<int64_t>(w->width) * 4;
    const int64_t row = w->rowBytes < 0 ? -static_cast<int64_t>(w->rowBytes) : w->rowBytes;
    return w->data != nullptr && row >= minRow;
}

inline HostPixel *rowOf(const EffectWorld *w, int32_t y)
{
    return reinterpret_cast<HostPixel *>(reinterpret_cast<char *>(w->data) + static_cast<ptrdiff_t>(y) * w->rowBytes);
}

Box whole(const EffectWorld *w)
{
    return {0, 0, w->width, w->height};
}

Box boxOf(const QdRect *r, const EffectWorld *w)
{
    return r ? Box{r->left, r->top, r->right, r->bottom} : whole(w);
}

Box clipTo(Box b, const EffectWorld *w)
{
    return {std::max(b.left, 0), std::max(b.top, 0), std::min(b.right, w->width), std::min(b.bottom, w->height)};
}

// Weights are in 1/256 pixel; both channel pairs of a pixel are weighted at
// once in the halves of a 32-bit word (each half stays below 2^16).
inline uint32_t lerpPair(uint32_t a, uint32_t b, uint32_t w)
{
    const uint32_t v = a * (256u - w) + b * w;
    return ((v + 0x00800080u) >> 8) & 0x00FF00FFu;
}

inline uint32_t lerpPixel(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, uint32_t wx, uint32_t wy)
{
    constexpr uint32_t kEven = 0x00FF00FFu;
    const uint32_t even = lerpPair(lerpPair(p00 & kEven, p10 & kEven, wx), lerpPair(p01 & kEven, p11 & kEven, wx), wy);
    const uint32_t odd = lerpPair(lerpPair((p00 >> 8) & kEven, (p10 >> 8) & kEven, wx),
                                  lerpPair((p01 >> 8) & kEven, (p11 >> 8) & kEven, wx), wy);
    return even | (odd << 8);
}

inline uint32_t word(const HostPixel &p)
{
    uint32_t v;
    std::memcpy(&v, &p, 4);
    return v;
}

int32_t sampleAt(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out)
{
    if (Host::Impl *impl = implFrom(ref)) {
        if (const auto *f = impl->hit(Service::SampleAt)) {
            if (out)
                *out = {};
            return f->error;
        }
    }
    if (!out)
        return kParamErr;
    if (!block || !usable(block->src)) {
        *out = {};
        return kParamErr;
    }
    const EffectWorld *w = block->src;
    const int32_t ix = x >> 16, iy = y >> 16; // toward -infinity
    const uint32_t fx = static_cast<uint32_t>(x) & 0xFFFFu, fy = static_cast<uint32_t>(y) & 0xFFFFu;
    if (ix < -1 || iy < -1 || ix >= w->width || iy >= w->height) {
        *out = {};
        return 0;
    }
    const bool hasLeft = ix >= 0, hasRight = ix + 1 < w->width;
    const bool hasTop = iy >= 0, hasBottom = iy + 1 < w->height;
    const HostPixel *rowTop = hasTop ? rowOf(w, iy) : nullptr;
    const HostPixel *rowBottom = hasBottom ? rowOf(w, iy + 1) : nullptr;
    if (fx == 0 && fy == 0) {
        *out = hasTop && hasLeft ? rowTop[ix] : HostPixel{};
        return 0;
    }
    // Nearest 1/256; a fraction that rounds up to a whole pixel lands on it exactly.
    const uint32_t wx = (fx + 128) >> 8, wy = (fy + 128) >> 8;
    const uint32_t p00 = hasTop && hasLeft ? word(rowTop[ix]) : 0;
    const uint32_t p10 = hasTop && hasRight ? word(rowTop[ix + 1]) : 0;
    const uint32_t p01 = hasBottom && hasLeft ? word(rowBottom[ix]) : 0;
    const uint32_t p11 = hasBottom && hasRight ? word(rowBottom[ix + 1]) : 0;
    const uint32_t v = lerpPixel(p00, p10, p01, p11, wx, wy);
    std::memcpy(out, &v, 4);
    return 0;
}

int32_t copyWorld(EffectRef ref, EffectWorld *src, EffectWorld *dst, const QdRect *srcRect, const QdRect *dstRect)
{
    if (Host::Impl *impl = implFrom(ref))
        if (const auto *f = impl->hit(Service::CopyWorld))
            return f->error;
    if (!usable(src) || !usable(dst))
        return kParamErr;
    const Box s = boxOf(srcRect, src), d = boxOf(dstRect, dst);
    const int32_t w = std::min(s.right - s.left, d.right - d.left);
    const int32_t h = std::min(s.bottom - s.top, d.bottom - d.top);
    if (w <= 0 || h <= 0)
        return 0;
    // Offsets (i, j) from the rectangles' corners that lie inside both worlds.
    const int32_t i0 = std::max({0, -s.left, -d.left});
    const int32_t i1 = std::min({w, src->width - s.left, dst->width - d.left});
    const int32_t j0 = std::max({0, -s.top, -d.top});
    const int32_t j1 = std::min({h, src->height - s.top, dst->height - d.top});
    if (i1 <= i0 || j1 <= j0)
        return 0;
    const size_t bytes = static_cast<size_t>(i1 - i0) * sizeof(HostPixel);
    // Within one buffer a downward copy must start from the bottom row.
    const bool upward =
        reinterpret_cast<char *>(rowOf(dst, d.top + j0)) > reinterpret_cast<char *>(rowOf(src, s.top + j0));
    for (int32_t n = 0; n < j1 - j0; ++n) {
        const int32_t j = upward ? j1 - 1 - n : j0 + n;
        std::memmove(rowOf(dst, d.top + j) + d.left + i0, rowOf(src, s.top + j) + s.left + i0, bytes);
    }
    return 0;
}

int32_t fillWorld(EffectRef ref, const HostPixel *colour, const QdRect *rect, EffectWorld *world)
{
    if (Host::Impl *impl = implFrom(ref))
        if (const auto *f = impl->hit(Service::FillWorld))
            return f->error;
    if (!colour || !usable(world))
        return kParamErr;
    const Box b = clipTo(boxOf(rect, world), world);
    if (b.empty())
        return 0;
    const HostPixel c = *colour;
    for (int32_t y = b.top; y < b.bottom; ++y)
        std::fill_n(rowOf(world, y) + b.left, b.right - b.left, c);
    return 0;
}

int32_t iterate(HostInData *in, int32_t progressBase, int32_t progressFinal, EffectWorld *src, const QdRect *area,
                void *refcon, PixelFunc fn, EffectWorld *dst)
{
    Host::Impl *impl = in ? implFrom(in->effectRef) : nullptr;
    if (impl)
        if (const auto *f = impl->hit(Service::Iterate))
            return f->error;
    if (!fn || !usable(dst) || (src && !usable(src)))
        return kParamErr;
    const Box b = clipTo(boxOf(area, dst), dst);
    if (b.empty())
        return 0;

    auto report = [&](int32_t rowsDone) -> bool {
        if (!impl || !impl->progress)
            return true;
        try {
            impl->progress(progressBase + rowsDone, progressFinal);
            return true;
        } catch (...) {
            if (impl->mainDepth == 0)
                throw; // called by host code directly: nothing to unwind through
            impl->pending = std::current_exception();
            return false;
        }
    };
    if (!report(0))
        return 1;

    HostPixel outside{}; // source pixel where the source world has none
    for (int32_t y = b.top; y < b.bottom; ++y) {
        if (impl) {
            if (const int32_t cancel = impl->cancelValue.load(std::memory_order_relaxed))
                return cancel;
        }
        HostPixel *drow = rowOf(dst, y);
        const bool srcRow = src && y < src->height;
        HostPixel *srow = srcRow ? rowOf(src, y) : nullptr;
        const int32_t split = srcRow ? std::clamp(src->width, b.left, b.right) : b.left;
        for (int32_t x = b.left; x < split; ++x)
            if (const int32_t err = fn(refcon, x, y, srow + x, drow + x))
                return err;
        for (int32_t x = split; x < b.right; ++x) {
            outside = {};
            if (const int32_t err = fn(refcon, x, y, &outside, drow + x))
                return err;
        }
        if (!report(y - b.top + 1))
            return 1;
    }
    return 0;
}

} // namespace

void installPixelServices(HostUtilTable &utils)
{
    utils.sampleAt = sampleAt;
    utils.copyWorld = copyWorld;
    utils.fillWorld = fillWorld;
    utils.iterate = iterate;
}

} // namespace corvane
