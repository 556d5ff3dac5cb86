// sampleAt, copyWorld, fillWorld and iterate as a module calls them.
#include "test_support.h"
#include "thread_pool.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <set>
#include <thread>
#include <utility>

using namespace corvane;
using namespace qmtest;

namespace {

class PixelServices : public ::testing::Test {
protected:
    Host host{QM_MODULE_PATH};
    HostUtilTable &u = *host.in().utils;
    EffectRef ref = host.in().effectRef;
};

// ---------------------------------------------------------------------------
// sampleAt

struct SampleRow {
    double x, y;
    uint8_t alpha;
};

TEST_F(PixelServices, SamplerIsBilinearWithTransparentSurroundings)
{
    // Alpha values of a 3 x 2 world.
    World w(3, 2);
    const uint8_t alphas[2][3] = {{0, 200, 100}, {40, 80, 255}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            w.at(x, y) = px(alphas[y][x]);
    SamplingBlock block{};
    block.src = &w.record();

    const SampleRow rows[] = {
        {0, 0, 0},      {1, 0, 200},    {2, 1, 255},    // on pixels
        {0.5, 0, 100},  {0.25, 0, 50},  {1.5, 0, 150},  // between columns
        {0, 0.5, 20},   {1, 0.5, 140},  {1, 0.25, 170}, // between rows
        {0.5, 0.5, 80},                                 // four neighbours
        {-0.5, 1, 20},  {-0.75, 1, 10}, {2.5, 1, 128},  // half outside: transparent neighbour
        {2.25, 1, 191}, {2, 1.5, 128},  {1, -0.5, 100}, {-1, 0, 0}, {3, 0, 0}, {0, -1, 0}, // wholly outside
        {0, 2, 0},      {-40000, 1, 0}, {1, 40000, 0},
    };
    for (const SampleRow &r : rows) {
        HostPixel out = px(9, 9, 9, 9);
        ASSERT_EQ(u.sampleAt(ref, fx(r.x), fx(r.y), &block, &out), 0);
        EXPECT_EQ(out.alpha, r.alpha) << "at (" << r.x << ", " << r.y << ")";
    }
    for (Fixed extreme : {INT32_MIN, INT32_MAX}) {
        HostPixel out = px(9, 9, 9, 9);
        ASSERT_EQ(u.sampleAt(ref, extreme, extreme, &block, &out), 0);
        EXPECT_TRUE(same(out, px(0))) << extreme;
    }
    EXPECT_EQ(host.calls(Service::SampleAt), static_cast<int32_t>(std::size(rows)) + 2);
}

TEST_F(PixelServices, SamplerInterpolatesEveryChannel)
{
    World w(2, 1);
    w.at(0, 0) = px(0, 10, 20, 30);
    w.at(1, 0) = px(200, 30, 40, 250);
    SamplingBlock block{};
    block.src = &w.record();
    HostPixel out{};
    ASSERT_EQ(u.sampleAt(ref, fx(0.5), 0, &block, &out), 0);
    EXPECT_TRUE(same(out, px(100, 20, 30, 140)));
    // A sixteenth of a pixel is seen, not rounded away.
    ASSERT_EQ(u.sampleAt(ref, fx(0.0625), 0, &block, &out), 0);
    EXPECT_EQ(out.alpha, 13); // 200 / 16 = 12.5, halves up
}

TEST_F(PixelServices, SamplerRefusesMissingArgumentsAndObeysInjectedFaults)
{
    World w(1, 1, px(255));
    SamplingBlock block{};
    HostPixel out = px(1, 1, 1, 1);
    EXPECT_EQ(u.sampleAt(ref, 0, 0, &block, &out), -50); // no source world
    EXPECT_TRUE(same(out, px(0)));
    block.src = &w.record();
    EXPECT_EQ(u.sampleAt(ref, 0, 0, &block, nullptr), -50);
    EXPECT_EQ(u.sampleAt(ref, 0, 0, nullptr, &out), -50);

    host.failAt(Service::SampleAt, 2, -77);
    EXPECT_EQ(u.sampleAt(ref, 0, 0, &block, &out), 0);
    EXPECT_EQ(out.alpha, 255);
    EXPECT_EQ(u.sampleAt(ref, 0, 0, &block, &out), -77);
    EXPECT_EQ(u.sampleAt(ref, 0, 0, &block, &out), 0); // only the Nth call fails
}

// ---------------------------------------------------------------------------
// copyWorld and fillWorld

// One-to-one copy expected at destination (x, y), or nothing.
bool expectedSource(int32_t x, int32_t y, const QdRect &s, const QdRect &d, int32_t srcW, int32_t srcH, int32_t *sx,
                    int32_t *sy)
{
    const int32_t w = std::min(s.right - s.left, d.right - d.left);
    const int32_t h = std::min(s.bottom - s.top, d.bottom - d.top);
    const int32_t i = x - d.left, j = y - d.top;
    if (i < 0 || j < 0 || i >= w || j >= h)
        return false;
    *sx = s.left + i;
    *sy = s.top + j;
    return *sx >= 0 && *sy >= 0 && *sx < srcW && *sy < srcH;
}

TEST_F(PixelServices, CopyKeepsToBothWorldsWhateverTheRectangles)
{
    const QdRect rects[] = {
        rect(0, 0, 5, 4),     rect(-2, -1, 3, 3),   rect(3, 2, 10, 10),
        rect(-5, -5, 20, 20), rect(1, 1, 3, 2),     rect(-32768, -32768, 32767, 32767),
        rect(4, 0, 2, 4), // empty
        rect(6, 6, 9, 9),     rect(-9, -9, -6, -6), rect(2, -3, 4, 1),
    };
    World src(5, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            src.at(x, y) = tag(x, y);
    int cases = 0;
    for (const QdRect &s : rects)
        for (const QdRect &d : rects) {
            GuardedWorld dst(6, 5);
            ASSERT_EQ(u.copyWorld(ref, &src.record(), dst.record(), &s, &d), 0);
            ASSERT_TRUE(dst.guardIntact()) << "wrote outside the destination, case " << cases;
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 6; ++x) {
                    int32_t sx, sy;
                    const HostPixel want = expectedSource(x, y, s, d, 5, 4, &sx, &sy) ? tag(sx, sy) : px(0);
                    ASSERT_TRUE(same(dst.at(x, y), want)) << "case " << cases << " pixel " << x << "," << y;
                }
            ++cases;
        }
}

TEST_F(PixelServices, CopyWithNullRectanglesCopiesTheWholeWorld)
{
    World src(4, 3), dst(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            src.at(x, y) = tag(x, y);
    ASSERT_EQ(u.copyWorld(ref, &src.record(), &dst.record(), nullptr, nullptr), 0);
    EXPECT_TRUE(std::equal(src.pixels().begin(), src.pixels().end(), dst.pixels().begin(), same));

    // A smaller source onto the whole destination: its size, from the corner.
    World small(2, 2, px(9)), big(4, 4);
    ASSERT_EQ(u.copyWorld(ref, &small.record(), &big.record(), nullptr, nullptr), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(big.at(x, y).alpha, x < 2 && y < 2 ? 9 : 0) << x << "," << y;
}

TEST_F(PixelServices, CopyWithinOneWorldHandlesOverlap)
{
    World w(3, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            w.at(x, y) = tag(x, y);
    // Down by one row and right by one column, onto itself.
    const QdRect s = rect(0, 0, 3, 4), d = rect(1, 1, 4, 5);
    ASSERT_EQ(u.copyWorld(ref, &w.record(), &w.record(), &s, &d), 0);
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 3; ++x)
            EXPECT_TRUE(same(w.at(x, y), tag(x - 1, y - 1))) << x << "," << y;
    EXPECT_TRUE(same(w.at(0, 3), tag(0, 3)));
}

TEST_F(PixelServices, FillKeepsToTheWorld)
{
    const QdRect rects[] = {rect(-3, -3, 2, 2), rect(4, 3, 40, 40), rect(-32768, 1, 32767, 2), rect(3, 3, 1, 1)};
    const HostPixel colour = px(1, 2, 3, 4);
    for (const QdRect &r : rects) {
        GuardedWorld w(5, 4);
        ASSERT_EQ(u.fillWorld(ref, &colour, &r, w.record()), 0);
        ASSERT_TRUE(w.guardIntact());
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                EXPECT_TRUE(same(w.at(x, y), inside ? px(1, 2, 3, 4) : px(0))) << x << "," << y;
            }
    }
    GuardedWorld all(3, 3);
    const HostPixel zero{};
    all.fill(px(8, 8, 8, 8));
    ASSERT_EQ(u.fillWorld(ref, &zero, nullptr, all.record()), 0);
    EXPECT_TRUE(all.guardIntact());
    EXPECT_TRUE(same(all.at(2, 2), px(0)));
}

TEST_F(PixelServices, CopyAndFillRefuseBrokenWorldsAndObeyFaults)
{
    World a(2, 2), b(2, 2);
    EffectWorld broken = a.record();
    broken.rowBytes = 4; // rows would overlap
    const HostPixel zero{};
    EXPECT_EQ(u.copyWorld(ref, nullptr, &b.record(), nullptr, nullptr), -50);
    EXPECT_EQ(u.copyWorld(ref, &broken, &b.record(), nullptr, nullptr), -50);
    EXPECT_EQ(u.fillWorld(ref, nullptr, nullptr, &a.record()), -50);
    EXPECT_EQ(u.fillWorld(ref, &zero, nullptr, nullptr), -50);
    host.failAt(Service::CopyWorld, 1, -34);
    host.failAt(Service::FillWorld, 1, -35);
    EXPECT_EQ(u.copyWorld(ref, &a.record(), &b.record(), nullptr, nullptr), -34);
    EXPECT_EQ(u.fillWorld(ref, &zero, nullptr, &a.record()), -35);
}

// ---------------------------------------------------------------------------
// iterate

struct Visit {
    std::vector<std::pair<int32_t, int32_t>> at;
    std::vector<HostPixel> src;
    bool pointersMatch = true;
    EffectWorld *dst = nullptr;
    size_t stopAfter = SIZE_MAX;
    int32_t stopWith = 0;
};

int32_t record(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst)
{
    auto *v = static_cast<Visit *>(refcon);
    v->at.emplace_back(x, y);
    v->src.push_back(*src);
    const auto *expected = reinterpret_cast<HostPixel *>(reinterpret_cast<char *>(v->dst->data) +
                                                         static_cast<ptrdiff_t>(y) * v->dst->rowBytes) +
                           x;
    if (dst != expected)
        v->pointersMatch = false;
    dst->alpha = static_cast<uint8_t>(dst->alpha + 1);
    return v->at.size() >= v->stopAfter ? v->stopWith : 0;
}

TEST_F(PixelServices, IterateVisitsEachPixelOfTheClippedAreaOnce)
{
    struct Case {
        const char *what;
        bool whole;
        QdRect area;
        int32_t left, top, right, bottom; // expected, clipped
    };
    const Case cases[] = {
        {"whole world", true, {}, 0, 0, 7, 5},
        {"inside", false, rect(2, 1, 5, 3), 2, 1, 5, 3},
        {"over the top left", false, rect(-4, -2, 3, 2), 0, 0, 3, 2},
        {"over the bottom right", false, rect(5, 3, 400, 300), 5, 3, 7, 5},
        {"around", false, rect(-32768, -32768, 32767, 32767), 0, 0, 7, 5},
        {"outside", false, rect(8, 0, 12, 5), 0, 0, 0, 0},
        {"inverted", false, rect(4, 4, 2, 2), 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        GuardedWorld dst(7, 5);
        Visit v;
        v.dst = dst.record();
        ASSERT_EQ(u.iterate(&host.in(), 0, 5, nullptr, c.whole ? nullptr : &c.area, &v, record, dst.record()), 0)
            << c.what;
        std::set<std::pair<int32_t, int32_t>> seen(v.at.begin(), v.at.end());
        EXPECT_EQ(seen.size(), v.at.size()) << c.what << ": a pixel was visited twice";
        EXPECT_EQ(v.at.size(), static_cast<size_t>((c.right - c.left) * (c.bottom - c.top))) << c.what;
        for (auto [x, y] : v.at)
            EXPECT_TRUE(x >= c.left && x < c.right && y >= c.top && y < c.bottom) << c.what << " " << x << "," << y;
        EXPECT_TRUE(v.pointersMatch) << c.what;
        EXPECT_TRUE(dst.guardIntact()) << c.what;
    }
}

TEST_F(PixelServices, IterateHandsTheSourcePixelAtTheSamePlace)
{
    World src(3, 2), dst(4, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            src.at(x, y) = tag(x, y);
    Visit v;
    v.dst = &dst.record();
    ASSERT_EQ(u.iterate(&host.in(), 0, 1, &src.record(), nullptr, &v, record, &dst.record()), 0);
    ASSERT_EQ(v.at.size(), 12u);
    for (size_t i = 0; i < v.at.size(); ++i) {
        auto [x, y] = v.at[i];
        // Beyond the source world the function sees a transparent pixel.
        const HostPixel want = x < 3 && y < 2 ? tag(x, y) : px(0);
        EXPECT_TRUE(same(v.src[i], want)) << x << "," << y;
    }
}

TEST_F(PixelServices, IterateReportsProgressFromBaseToFinal)
{
    std::vector<std::pair<int32_t, int32_t>> reports;
    host.setProgress([&](int32_t cur, int32_t total) { reports.emplace_back(cur, total); });
    World dst(4, 6);
    Visit v;
    v.dst = &dst.record();
    const QdRect area = rect(0, 2, 4, 5);
    ASSERT_EQ(u.iterate(&host.in(), 36, 516, nullptr, &area, &v, record, &dst.record()), 0);
    const std::vector<std::pair<int32_t, int32_t>> want = {{36, 516}, {37, 516}, {38, 516}, {39, 516}};
    EXPECT_EQ(reports, want);
}

TEST_F(PixelServices, IterateStopsOnTheFirstNonZeroReturn)
{
    World dst(5, 5);
    Visit v;
    v.dst = &dst.record();
    v.stopAfter = 7;
    v.stopWith = 42;
    EXPECT_EQ(u.iterate(&host.in(), 0, 5, nullptr, nullptr, &v, record, &dst.record()), 42);
    EXPECT_EQ(v.at.size(), 7u);
}

TEST_F(PixelServices, IterateHonoursACancelBeforeTheNextRow)
{
    World dst(3, 4);
    Visit v;
    v.dst = &dst.record();
    host.setProgress([&](int32_t cur, int32_t) {
        if (cur == 2)
            host.requestCancel(-128);
    });
    EXPECT_EQ(u.iterate(&host.in(), 0, 4, nullptr, nullptr, &v, record, &dst.record()), -128);
    EXPECT_EQ(v.at.size(), 6u); // two rows, then the cancel
    // The cancel stands for checkAbort too, until cleared.
    EXPECT_EQ(host.in().checkAbort(host.in().effectRef), -128);
    host.clearCancel();
    EXPECT_EQ(host.in().checkAbort(host.in().effectRef), 0);
}

TEST_F(PixelServices, CancelAtACheckStopsLaterIterations)
{
    host.cancelAtCheck(3, 9);
    const EffectRef r = host.in().effectRef;
    EXPECT_EQ(host.in().checkAbort(r), 0);
    EXPECT_EQ(host.in().checkAbort(r), 0);
    EXPECT_EQ(host.in().checkAbort(r), 9);
    EXPECT_EQ(host.in().checkAbort(r), 9);
    World dst(2, 2);
    Visit v;
    v.dst = &dst.record();
    EXPECT_EQ(u.iterate(&host.in(), 0, 2, nullptr, nullptr, &v, record, &dst.record()), 9);
    EXPECT_TRUE(v.at.empty());
    EXPECT_EQ(host.calls(Service::CheckAbort), 4);
}

TEST_F(PixelServices, IterateRefusesMissingArgumentsAndObeysFaults)
{
    World dst(2, 2);
    Visit v;
    v.dst = &dst.record();
    EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &v, nullptr, &dst.record()), -50);
    EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &v, record, nullptr), -50);
    host.failAt(Service::Iterate, 1, -3);
    EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &v, record, &dst.record()), -3);
    EXPECT_TRUE(v.at.empty());
    EXPECT_EQ(host.calls(Service::Iterate), 3);
}

TEST_F(PixelServices, ProgressExceptionsReachTheHostCaller)
{
    World dst(2, 2);
    Visit v;
    v.dst = &dst.record();
    host.setProgress([](int32_t, int32_t) { throw std::runtime_error("interrupted"); });
    EXPECT_THROW(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &v, record, &dst.record()), std::runtime_error);
}

// ---------------------------------------------------------------------------
// The same services with their rows shared among threads

// Thread-safe: counts the visits of each pixel, writes its destination from
// its source, and fails at chosen pixels.
struct SharedVisit {
    int32_t width = 0;
    std::vector<std::atomic<int32_t>> visits;
    std::vector<std::pair<std::pair<int32_t, int32_t>, int32_t>> failures; // (x, y) -> error
    Host *cancelAtOrigin = nullptr;                                        // requests a cancel at (0, 0)
    std::atomic<int32_t> total{0};
    SharedVisit(int32_t w, int32_t h) : width(w), visits(static_cast<size_t>(w) * h) {}
};

int32_t sharedVisit(void *refcon, int32_t x, int32_t y, HostPixel *src, HostPixel *dst)
{
    auto *v = static_cast<SharedVisit *>(refcon);
    v->visits[static_cast<size_t>(y) * v->width + x].fetch_add(1);
    v->total.fetch_add(1);
    if (v->cancelAtOrigin && x == 0 && y == 0)
        v->cancelAtOrigin->requestCancel(-128);
    *dst = px(static_cast<uint8_t>(src->alpha + 1), src->red, src->green, 7);
    for (const auto &[at, error] : v->failures)
        if (at == std::make_pair(x, y))
            return error;
    return 0;
}

class ThreadedPixelServices : public ::testing::TestWithParam<int32_t> {
protected:
    static constexpr int32_t kW = 400, kH = 300; // large enough for eight threads
    Host host{QM_MODULE_PATH, GetParam()};
    HostUtilTable &u = *host.in().utils;
    World src{kW, kH}, dst{kW, kH};
    void SetUp() override
    {
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x)
                src.row(y)[x] = tag(x % 200, y % 200);
    }
    int32_t iterate(SharedVisit &v, const QdRect *area, int32_t base = 0, int32_t final = kH)
    {
        return u.iterate(&host.in(), base, final, &src.record(), area, &v, sharedVisit, &dst.record());
    }
};

TEST_P(ThreadedPixelServices, EveryPixelOnceAndProgressRisingOnTheCallingThread)
{
    EXPECT_EQ(host.threads(), GetParam());
    std::vector<int32_t> reports;
    bool callerOnly = true;
    const auto caller = std::this_thread::get_id();
    host.setProgress([&](int32_t cur, int32_t total) {
        reports.push_back(cur);
        callerOnly = callerOnly && std::this_thread::get_id() == caller && total == 900;
    });
    const QdRect area = rect(-5, 20, 390, 290);
    SharedVisit v(kW, kH);
    ASSERT_EQ(iterate(v, &area, 600, 900), 0);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const bool inside = x < 390 && y >= 20 && y < 290;
            ASSERT_EQ(v.visits[static_cast<size_t>(y) * kW + x].load(), inside ? 1 : 0) << x << "," << y;
            const HostPixel want = inside ? px(2, src.at(x, y).red, src.at(x, y).green, 7) : px(0);
            ASSERT_TRUE(same(dst.at(x, y), want)) << x << "," << y;
        }
    EXPECT_TRUE(callerOnly);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 600);
    EXPECT_EQ(reports.back(), 870);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
}

TEST_P(ThreadedPixelServices, TheFirstErrorInRowOrderWins)
{
    struct Case {
        const char *what;
        std::vector<std::pair<std::pair<int32_t, int32_t>, int32_t>> failures;
        int32_t result;
    };
    const Case cases[] = {
        {"one", {{{10, 150}, -5}}, -5},
        {"the earlier row", {{{10, 290}, -1}, {{399, 40}, -2}, {{0, 200}, -3}}, -2},
        {"the earlier pixel of a row", {{{300, 100}, -7}, {{7, 100}, -8}, {{0, 101}, -9}}, -8},
    };
    for (const Case &c : cases)
        for (int repeat = 0; repeat < 5; ++repeat) {
            SharedVisit v(kW, kH);
            v.failures = c.failures;
            EXPECT_EQ(iterate(v, nullptr), c.result) << c.what;
            EXPECT_LT(v.total.load(), kW * kH) << c.what;
        }
}

TEST_P(ThreadedPixelServices, ACancelStopsEveryThread)
{
    SharedVisit v(kW, kH);
    v.cancelAtOrigin = &host;
    EXPECT_EQ(iterate(v, nullptr), -128);
    EXPECT_LT(v.total.load(), kW * kH);
    for (const auto &n : v.visits)
        ASSERT_LE(n.load(), 1);
    // Stands until cleared, for the next pass too.
    SharedVisit again(kW, kH);
    EXPECT_EQ(iterate(again, nullptr), -128);
    EXPECT_EQ(again.total.load(), 0);
}

TEST_P(ThreadedPixelServices, FaultsAndCountsAreExact)
{
    SamplingBlock block{};
    block.src = &src.record();
    const auto sampler = [](void *refcon, int32_t x, int32_t y, HostPixel *, HostPixel *d) -> int32_t {
        auto *b = static_cast<std::pair<Host *, SamplingBlock *> *>(refcon);
        return b->first->in().utils->sampleAt(b->first->in().effectRef, x << 16, y << 16, b->second, d);
    };
    std::pair<Host *, SamplingBlock *> refcon{&host, &block};
    ASSERT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &refcon, sampler, &dst.record()), 0);
    EXPECT_EQ(host.calls(Service::SampleAt), kW * kH);
    for (int32_t n : {1, 5000, kW * kH}) {
        host.resetCalls();
        host.failAt(Service::SampleAt, n, -40);
        EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &refcon, sampler, &dst.record()), -40) << n;
        EXPECT_GE(host.calls(Service::SampleAt), n);
        host.resetCalls();
        EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &refcon, sampler, &dst.record()), 0) << "fired twice";
        EXPECT_EQ(host.calls(Service::SampleAt), kW * kH);
    }
}

// Inside a pass the sampler keeps the world it checked last; it must still
// follow the world each call names, and notice a world that went away.
struct TwoWorlds {
    Host *host;
    SamplingBlock blocks[2];
};

int32_t sampleEither(void *refcon, int32_t x, int32_t y, HostPixel *, HostPixel *d)
{
    auto *t = static_cast<TwoWorlds *>(refcon);
    const HostInData &in = t->host->in();
    SamplingBlock *block = &t->blocks[(x / 7) % 2];
    return in.utils->sampleAt(in.effectRef, x << 16 | 0x8000, y << 16, block, d);
}

TEST_P(ThreadedPixelServices, SamplingFollowsTheWorldEachCallNames)
{
    World other{kW, kH, px(200, 1, 2, 3)};
    TwoWorlds refcon{&host, {}};
    refcon.blocks[0].src = &src.record();
    refcon.blocks[1].src = &other.record();
    ASSERT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &refcon, sampleEither, &dst.record()), 0);
    for (int32_t y = 0; y < kH; y += 7)
        for (int32_t x = 0; x < kW; x += 3) {
            HostPixel want{};
            ASSERT_EQ(u.sampleAt(host.in().effectRef, x << 16 | 0x8000, y << 16, &refcon.blocks[(x / 7) % 2], &want), 0);
            ASSERT_TRUE(same(dst.at(x, y), want)) << x << "," << y;
        }
    // A world whose record no longer names pixels is refused, not read.
    EffectWorld gone = other.record();
    refcon.blocks[1].src = &gone;
    gone.data = nullptr;
    EXPECT_EQ(u.iterate(&host.in(), 0, 1, nullptr, nullptr, &refcon, sampleEither, &dst.record()), -50);
}

TEST_P(ThreadedPixelServices, FillAndCopyShareLargeAreas)
{
    const QdRect area = rect(3, -2, 398, 299);
    const HostPixel colour = px(1, 2, 3, 4), zero = px(0);
    ASSERT_EQ(u.fillWorld(host.in().effectRef, &colour, &area, &dst.record()), 0);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            ASSERT_TRUE(same(dst.at(x, y), x >= 3 && x < 398 && y < 299 ? colour : zero)) << x << "," << y;
    ASSERT_EQ(u.copyWorld(host.in().effectRef, &src.record(), &dst.record(), nullptr, nullptr), 0);
    EXPECT_TRUE(std::equal(src.pixels().begin(), src.pixels().end(), dst.pixels().begin(), same));
}

INSTANTIATE_TEST_SUITE_P(Threads, ThreadedPixelServices, ::testing::Values(1, 2, 8));

TEST(HostThreads, ZeroMeansEveryCoreAndNegativeIsRefused)
{
    Host host(QM_MODULE_PATH, 3);
    EXPECT_EQ(host.threads(), 3);
    host.setThreads(0);
    EXPECT_EQ(host.threads(), machineThreads());
    EXPECT_THROW(host.setThreads(-1), HostError);
    EXPECT_THROW(host.setThreads(kMaxThreads + 1), HostError);
}

} // namespace
