// Per-pixel services: sampleAt, copyWorld, fillWorld, iterate. These run once
// per pixel or per row of a render, so each call finds its host and checks
// its worlds once, works a row at a time with no allocation, and shares the
// rows of a large area among the host's threads.
#include "host_impl.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace corvane {
namespace {

constexpr int32_t kParamErr = -50;

// Below this many pixels per thread, waking a thread costs more than it saves.
constexpr int64_t kPixelsPerThread = 32768;
// Rows are handed out in this many pieces per thread, so a thread slowed by
// other work on its core takes fewer of them.
constexpr int32_t kPiecesPerThread = 4;

// Half-open box in world coordinates.
struct Box {
    int32_t left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
    int64_t pixels() const { return int64_t(right - left) * (bottom - top); }
};

inline bool usable(const EffectWorld *w)
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

// Threads besides the caller worth waking for an area.
int32_t helpersFor(const Host::Impl *impl, const Box &b)
{
    if (!impl)
        return 0;
    const int64_t threads = std::min<int64_t>({impl->threads, b.pixels() / kPixelsPerThread, b.bottom - b.top});
    return static_cast<int32_t>(std::max<int64_t>(threads - 1, 0));
}

int32_t pieceRows(int32_t rows, int32_t threads)
{
    return std::max(1, rows / (threads * kPiecesPerThread));
}

// Runs rowFn(y) for every row of [top, bottom), on the caller and `helpers`
// pool threads. For work that cannot fail and calls no module code.
template <class RowFn> void eachRow(Host::Impl *impl, int32_t helpers, int32_t top, int32_t bottom, RowFn rowFn)
{
    if (helpers == 0) {
        for (int32_t y = top; y < bottom; ++y)
            rowFn(y);
        return;
    }
    struct Shared {
        RowFn *rowFn;
        std::atomic<int32_t> next;
        int32_t bottom, piece;
    } shared{&rowFn, {top}, bottom, pieceRows(bottom - top, helpers + 1)};
    impl->workers().run(
        helpers,
        [](void *arg) {
            Shared &s = *static_cast<Shared *>(arg);
            for (;;) {
                const int32_t first = s.next.fetch_add(s.piece, std::memory_order_relaxed);
                if (first >= s.bottom)
                    return;
                for (int32_t y = first, end = std::min(first + s.piece, s.bottom); y < end; ++y)
                    (*s.rowFn)(y);
            }
        },
        &shared);
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
    // Equal neighbours interpolate to themselves exactly: text coverage is
    // mostly all or nothing.
    if (p00 == p10 && p00 == p01 && p00 == p11)
        return p00;
    constexpr uint32_t kEven = 0x00FF00FFu;
    const uint32_t even = lerpPair(lerpPair(p00 & kEven, p10 & kEven, wx), lerpPair(p01 & kEven, p11 & kEven, wx), wy);
    const uint32_t odd = lerpPair(lerpPair((p00 >> 8) & kEven, (p10 >> 8) & kEven, wx),
                                  lerpPair((p01 >> 8) & kEven, (p11 >> 8) & kEven, wx), wy);
    return even | (odd << 8);
}

inline uint32_t word(const HostPixel *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Weights of a 16.16 position: the nearest 1/256 of its fraction; a fraction
// that rounds up to a whole pixel lands on it exactly.
inline uint32_t weight(Fixed v)
{
    return ((static_cast<uint32_t>(v) & 0xFFFFu) + 128) >> 8;
}

// Two neighbours of each row, the left one in the low half.
__attribute__((noinline)) int32_t sampleBetween(uint64_t top, uint64_t bottom, Fixed x, Fixed y, HostPixel *out)
{
    const uint32_t v =
        lerpPixel(static_cast<uint32_t>(top), static_cast<uint32_t>(top >> 32), static_cast<uint32_t>(bottom),
                  static_cast<uint32_t>(bottom >> 32), weight(x), weight(y));
    std::memcpy(out, &v, 4);
    return 0;
}

// Every call that the short path below leaves: counted through the host,
// checked in full, and sampled at the world's edges, where neighbours
// outside the world count as transparent. A world checked here becomes the
// thread's sampling world for the rest of its pass.
__attribute__((noinline)) int32_t sampleChecked(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out)
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
    const EffectWorld *w = block ? block->src : nullptr;
    if (!usable(w)) {
        *out = {};
        return kParamErr;
    }
    CallTally *t = tCallTally;
    if (t && t->ref == ref && !t->sampleFaultArmed && w->data)
        t->sampling = {w, w->data, w->rowBytes, static_cast<uint32_t>(std::max(w->width - 1, 0)),
                       static_cast<uint32_t>(std::max(w->height - 1, 0))};
    const int32_t ix = x >> 16, iy = y >> 16; // toward -infinity
    if (ix < -1 || iy < -1 || ix >= w->width || iy >= w->height) {
        *out = {};
        return 0;
    }
    const bool hasLeft = ix >= 0, hasRight = ix + 1 < w->width;
    const bool hasTop = iy >= 0, hasBottom = iy + 1 < w->height;
    const HostPixel *top = hasTop ? rowOf(w, iy) : nullptr;
    const HostPixel *bottom = hasBottom ? rowOf(w, iy + 1) : nullptr;
    const uint32_t v = lerpPixel(hasTop && hasLeft ? word(top + ix) : 0, hasTop && hasRight ? word(top + ix + 1) : 0,
                                 hasBottom && hasLeft ? word(bottom + ix) : 0,
                                 hasBottom && hasRight ? word(bottom + ix + 1) : 0, weight(x), weight(y));
    std::memcpy(out, &v, 4);
    return 0;
}

int32_t sampleAt(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out)
{
    // Once per pixel of a transfer, so the common call takes a short path:
    // from a pass of this thread's host, on the world checked before, with
    // four neighbours inside it.
    CallTally *t = tCallTally;
    if (t && t->ref == ref && block && out) {
        const CallTally::Sampling &s = t->sampling;
        const EffectWorld *w = block->src;
        const uint32_t ix = static_cast<uint32_t>(x >> 16), iy = static_cast<uint32_t>(y >> 16);
        // A tally keeps no world until it has checked one (inner size 0), so
        // the bounds come first and a null world never gets past them.
        if (ix < s.innerWidth && iy < s.innerHeight && w == s.world && w->data == s.data) {
            ++t->counts[static_cast<size_t>(Service::SampleAt)];
            const char *p = reinterpret_cast<const char *>(s.data) + static_cast<ptrdiff_t>(iy) * s.rowBytes + 4 * ix;
            uint64_t top, bottom;
            std::memcpy(&top, p, 8);
            std::memcpy(&bottom, p + s.rowBytes, 8);
            // Equal neighbours interpolate to themselves exactly: text
            // coverage is mostly all or nothing.
            const uint32_t p00 = static_cast<uint32_t>(top);
            if (top != bottom || p00 != static_cast<uint32_t>(top >> 32))
                return sampleBetween(top, bottom, x, y, out);
            std::memcpy(out, &p00, 4);
            return 0;
        }
    }
    return sampleChecked(ref, x, y, block, out);
}

int32_t copyWorld(EffectRef ref, EffectWorld *src, EffectWorld *dst, const QdRect *srcRect, const QdRect *dstRect)
{
    Host::Impl *impl = implFrom(ref);
    if (impl)
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
    const auto from = [&](int32_t j) { return rowOf(src, s.top + j) + s.left + i0; };
    const auto to = [&](int32_t j) { return rowOf(dst, d.top + j) + d.left + i0; };
    const auto span = [&](auto row) {
        const char *a = reinterpret_cast<const char *>(row(j0)), *b = reinterpret_cast<const char *>(row(j1 - 1));
        return std::make_pair(std::min(a, b), std::max(a, b) + bytes);
    };
    const auto [srcFirst, srcEnd] = span(from);
    const auto [dstFirst, dstEnd] = span(to);
    if (srcEnd <= dstFirst || dstEnd <= srcFirst) {
        // Apart in memory: rows in any order, on any thread.
        const Box area{i0, j0, i1, j1};
        eachRow(impl, helpersFor(impl, area), j0, j1, [&](int32_t j) { std::memcpy(to(j), from(j), bytes); });
        return 0;
    }
    // Within one buffer a downward copy must start from the bottom row.
    const bool upward = reinterpret_cast<char *>(to(j0)) > reinterpret_cast<char *>(from(j0));
    for (int32_t n = 0; n < j1 - j0; ++n) {
        const int32_t j = upward ? j1 - 1 - n : j0 + n;
        std::memmove(to(j), from(j), bytes);
    }
    return 0;
}

int32_t fillWorld(EffectRef ref, const HostPixel *colour, const QdRect *rect, EffectWorld *world)
{
    Host::Impl *impl = implFrom(ref);
    if (impl)
        if (const auto *f = impl->hit(Service::FillWorld))
            return f->error;
    if (!colour || !usable(world))
        return kParamErr;
    const Box b = clipTo(boxOf(rect, world), world);
    if (b.empty())
        return 0;
    const HostPixel c = *colour;
    const size_t count = static_cast<size_t>(b.right - b.left);
    const bool bytewise = c.alpha == c.red && c.alpha == c.green && c.alpha == c.blue;
    eachRow(impl, helpersFor(impl, b), b.top, b.bottom, [&](int32_t y) {
        HostPixel *row = rowOf(world, y) + b.left;
        if (bytewise)
            std::memset(row, c.alpha, count * sizeof(HostPixel));
        else
            std::fill_n(row, count, c);
    });
    return 0;
}

// One iterate call, shared by the threads that visit its rows.
struct Visit {
    Host::Impl *impl = nullptr;
    PixelFunc fn = nullptr;
    void *refcon = nullptr;
    EffectWorld *src = nullptr, *dst = nullptr;
    Box area{};
    int32_t piece = 1;
    std::thread::id caller = std::this_thread::get_id();
    int32_t progressBase = 0, progressFinal = 0;

    std::atomic<int32_t> next{0};     // first row of the next piece to hand out
    std::atomic<int32_t> rowsDone{0}; // for progress
    // The earliest row at which a thread stopped (cancel or error) and why;
    // rows below it are still visited, rows after it need not be.
    std::atomic<int32_t> stopRow{INT32_MAX};
    std::mutex stopMutex;
    int32_t stopValue = 0;
    std::atomic<bool> halted{false}; // an exception: every thread stops
    std::exception_ptr thrown;
    int32_t reported = -1; // the caller's last progress report

    void stop(int32_t row, int32_t value)
    {
        std::lock_guard lock(stopMutex);
        if (row < stopRow.load(std::memory_order_relaxed)) {
            stopRow.store(row, std::memory_order_relaxed);
            stopValue = value;
        }
    }
    void halt(std::exception_ptr e)
    {
        std::lock_guard lock(stopMutex);
        if (!thrown)
            thrown = std::move(e);
        halted.store(true, std::memory_order_relaxed);
    }
    // Progress to the host's function, from the calling thread only.
    void report(int32_t done)
    {
        if (done <= reported || !impl || !impl->progress)
            return;
        reported = done;
        impl->progress(progressBase + done, progressFinal);
    }

    int32_t visitRow(int32_t y) const
    {
        // Locals, so the loop keeps them in registers across the calls.
        const PixelFunc f = fn;
        void *const r = refcon;
        HostPixel *d = rowOf(dst, y) + area.left;
        const bool srcRow = src && y < src->height;
        const int32_t split = srcRow ? std::clamp(src->width, area.left, area.right) : area.left;
        int32_t x = area.left;
        if (x < split) {
            HostPixel *s = rowOf(src, y) + x;
            for (; x < split; ++x, ++s, ++d)
                if (const int32_t err = f(r, x, y, s, d))
                    return err;
        }
        HostPixel outside; // source pixel where the source world has none
        for (const int32_t right = area.right; x < right; ++x, ++d) {
            outside = {};
            if (const int32_t err = f(r, x, y, &outside, d))
                return err;
        }
        return 0;
    }

    void visitRows()
    {
        const bool reports = std::this_thread::get_id() == caller;
        std::optional<CallTally> tally;
        if (impl)
            tally.emplace(impl);
        try {
            for (;;) {
                const int32_t first = next.fetch_add(piece, std::memory_order_relaxed);
                if (first >= area.bottom)
                    return;
                for (int32_t y = first, end = std::min(first + piece, area.bottom); y < end; ++y) {
                    if (y > stopRow.load(std::memory_order_relaxed) || halted.load(std::memory_order_relaxed))
                        return;
                    if (const int32_t cancel = impl ? impl->cancelValue.load(std::memory_order_relaxed) : 0) {
                        stop(y, cancel);
                        return;
                    }
                    if (const int32_t err = visitRow(y)) {
                        stop(y, err);
                        return;
                    }
                    const int32_t done = rowsDone.fetch_add(1, std::memory_order_relaxed) + 1;
                    if (reports)
                        report(done);
                }
            }
        } catch (...) {
            halt(std::current_exception());
        }
    }
};

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

    const int32_t helpers = helpersFor(impl, b);
    Visit v;
    v.impl = impl;
    v.fn = fn;
    v.refcon = refcon;
    v.src = src;
    v.dst = dst;
    v.area = b;
    v.piece = pieceRows(b.bottom - b.top, helpers + 1);
    v.progressBase = progressBase;
    v.progressFinal = progressFinal;
    v.next.store(b.top, std::memory_order_relaxed);
    try {
        v.report(0);
    } catch (...) {
        v.halt(std::current_exception());
    }
    if (!v.halted.load(std::memory_order_relaxed)) {
        if (helpers > 0)
            impl->workers().run(
                helpers, [](void *arg) { static_cast<Visit *>(arg)->visitRows(); }, &v);
        else
            v.visitRows();
    }
    if (v.thrown) {
        if (!impl || impl->mainDepth == 0)
            std::rethrow_exception(v.thrown); // called by host code directly: nothing to unwind through
        impl->pending = v.thrown;
        return 1;
    }
    if (v.stopRow.load(std::memory_order_relaxed) != INT32_MAX)
        return v.stopValue;
    try {
        v.report(b.bottom - b.top);
    } catch (...) {
        if (impl->mainDepth == 0)
            throw;
        impl->pending = std::current_exception();
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
