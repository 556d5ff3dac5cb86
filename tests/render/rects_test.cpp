#include "geometry.h"
#include "render/render.h"

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

struct ToQdCase {
    const char *what;
    FixedRect in;
    QdRect out; // top, left, bottom, right
};

TEST(FixedToQdRect, RoundsOutwardTowardMinusInfinity)
{
    const ToQdCase cases[] = {
        {"a fractional box", {F(78.5), F(32.0), F(125.5), F(68.0)}, {32, 78, 68, 126}},
        {"a negative half", {F(-0.5), F(-0.5), F(-0.5), F(-0.5)}, {-1, -1, 0, 0}},
        {"whole edges", {F(0), F(0), F(44.0), F(36.0)}, {0, 0, 36, 44}},
        {"one unit inside whole edges", {F(1.0) + 1, F(2.0) - 1, F(3.0) + 1, F(4.0) - 1}, {1, 1, 4, 4}},
        {"the least Fixed value", {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, {-32768, -32768, -32768, -32768}},
        // 32767.5 rounds up to 32768, which no 16-bit edge holds: it stays 32767, not -32768.
        {"the greatest Fixed value", {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, {32767, 32767, 32767, 32767}},
        {"the ends of the 16-bit range", {F(-32768.0), 0, F(32767.0), F(32767.0) + 1}, {0, -32768, 32767, 32767}},
    };
    for (const ToQdCase &c : cases) {
        SCOPED_TRACE(c.what);
        QdRect out{};
        FixedToQdRect(&c.in, &out);
        EXPECT_TRUE(out == c.out) << c.in.left << "," << c.in.top << "," << c.in.right << "," << c.in.bottom << " -> "
                                  << out.left << "," << out.top << "," << out.right << "," << out.bottom;
    }
}

TEST(QdToFixedRect, WidensWithSignAndRoundTrips)
{
    const QdRect rects[] = {{0, 0, 36, 44}, {-32768, -1, 32767, 1}, {5, -7, 9, -3}};
    for (const QdRect &r : rects) {
        FixedRect f{};
        QdToFixedRect(&r, &f);
        EXPECT_EQ(f.left, r.left * 65536);
        EXPECT_EQ(f.top, r.top * 65536);
        EXPECT_EQ(f.right, r.right * 65536);
        EXPECT_EQ(f.bottom, r.bottom * 65536);
        QdRect back{};
        FixedToQdRect(&f, &back);
        EXPECT_TRUE(back == r);
    }
}

struct SectCase {
    const char *what;
    FixedRect a, b;
    bool nonEmpty;
    FixedRect out;
};

TEST(SectFixedRect, IntersectsAndReportsEmptiness)
{
    const SectCase cases[] = {
        {"inside the frame",
         {F(78.5), F(32), F(122.5), F(68)},
         {0, 0, F(640), F(480)},
         true,
         {F(78.5), F(32), F(122.5), F(68)}},
        {"over the frame's corner", {F(-10), F(-5), F(10), F(5)}, {0, 0, F(640), F(480)}, true, {0, 0, F(10), F(5)}},
        // Touching edges: empty, with right equal to left.
        {"touching edges", {0, 0, F(10), F(10)}, {F(10), 0, F(20), F(10)}, false, {F(10), 0, F(10), F(10)}},
        // An empty operand.
        {"an empty first operand", {F(5), 0, F(5), F(10)}, {0, 0, F(20), F(20)}, false, {F(5), 0, F(5), F(10)}},
        {"a first operand upside down", {0, F(5), F(10), F(4)}, {0, 0, F(20), F(20)}, false, {0, F(5), F(10), F(4)}},
        // Disjoint: clamped edges are still written.
        {"disjoint", {0, 0, F(1), F(1)}, {F(3), F(3), F(4), F(4)}, false, {F(3), F(3), F(1), F(1)}},
    };
    for (const SectCase &c : cases) {
        SCOPED_TRACE(c.what);
        FixedRect out{1, 2, 3, 4};
        EXPECT_EQ(SectFixedRect(&c.a, &c.b, &out), c.nonEmpty);
        EXPECT_TRUE(out == c.out);
        // out may be the same record as a, or as b.
        FixedRect a = c.a;
        EXPECT_EQ(SectFixedRect(&a, &c.b, &a), c.nonEmpty);
        EXPECT_TRUE(a == c.out);
        FixedRect b = c.b;
        EXPECT_EQ(SectFixedRect(&c.a, &b, &b), c.nonEmpty);
        EXPECT_TRUE(b == c.out);
    }
}

TEST(OffsetFixedRect, MovesAndStopsAtTheEndsOfTheRange)
{
    FixedRect r{F(1.5), F(2), F(3.25), F(4)};
    OffsetFixedRect(&r, F(-2), F(0.5));
    EXPECT_TRUE((r == FixedRect{F(-0.5), F(2.5), F(1.25), F(4.5)}));

    // Past the 32-bit range an edge stops at the end instead of wrapping to the other side.
    FixedRect far{F(30000), F(-30000), F(32000), F(-29000)};
    OffsetFixedRect(&far, F(2000), F(-3000));
    EXPECT_EQ(far.left, F(32000));
    EXPECT_EQ(far.right, INT32_MAX);
    EXPECT_EQ(far.top, INT32_MIN);
    EXPECT_EQ(far.bottom, F(-32000));
    EXPECT_LT(far.left, far.right);
    EXPECT_LT(far.top, far.bottom);
}

} // namespace
