// Ports: the offscreen record layout, bit order and colour sense, pattern
// fills, the current port, ports over host worlds and clipping.
#include "porting_fixture.h"

using namespace qmtest;

namespace {

constexpr uint8_t kBlackPat[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kWhitePat[8] = {0, 0, 0, 0, 0, 0, 0, 0};

class Ports : public PortingTest {};

TEST_F(Ports, OffscreenRecordLayout)
{
    Offscreen off(37, 5, 1, 1);
    ASSERT_EQ(off.error(), noErr);
    const auto *bytes = reinterpret_cast<const unsigned char *>(off.world());
    PixMapHandle atByte2;
    std::memcpy(&atByte2, bytes + 2, sizeof atByte2);
    PixMapHandle field = off.world()->portPixMap; // by value: the field is unaligned on 64-bit
    EXPECT_EQ(atByte2, field);
    const PixMap &pm = off.pixMap();
    EXPECT_NE(pm.rowBytes & 0x8000, 0) << "flag bit set: callers must mask";
    EXPECT_EQ(off.rowBytes(), 8) << "37 pixels in whole 32-bit words";
    EXPECT_EQ(pm.pixelSize, 1);
    EXPECT_EQ(pm.bounds.left, 1);
    EXPECT_EQ(pm.bounds.bottom, 6);
    for (uint8_t b : off.ink())
        ASSERT_EQ(b, 0) << "a new world is white";
}

TEST_F(Ports, NewGWorldRefusesBadRequests)
{
    struct Case {
        int16_t depth;
        QdRect bounds;
    };
    const Case cases[] = {
        {8, {0, 0, 4, 4}},     // unsupported depth
        {1, {0, 0, 0, 4}},     // empty
        {1, {4, 4, 0, 0}},     // inverted
        {32, {0, 0, 4, 5000}}, // rows too long for the row bytes field
    };
    for (const Case &c : cases) {
        GWorldPtr w = reinterpret_cast<GWorldPtr>(1);
        EXPECT_EQ(NewGWorld(&w, c.depth, &c.bounds, nullptr, nullptr, 8), paramErr);
        EXPECT_EQ(w, nullptr);
        EXPECT_EQ(QDError(), paramErr);
    }
    QdRect ok{0, 0, 4, 4};
    EXPECT_EQ(NewGWorld(nullptr, 1, &ok, nullptr, nullptr, 8), paramErr);
}

// Most significant bit leftmost; black is a 1 bit.
TEST_F(Ports, BitOrderAndColourSense)
{
    Offscreen off(16, 2);
    ForeColor(blackColor);
    BackColor(whiteColor);
    QdRect px{0, 0, 1, 1};
    _FillRect(&px, kBlackPat);
    QdRect px9{1, 9, 2, 10};
    _FillRect(&px9, kBlackPat);
    const auto *base = reinterpret_cast<const uint8_t *>(off.pixMap().baseAddr);
    EXPECT_EQ(base[0], 0x80);
    EXPECT_EQ(base[1], 0x00);
    EXPECT_EQ(base[off.rowBytes() + 1], 0x40);
    ForeColor(whiteColor);
    _FillRect(&px, kBlackPat);
    EXPECT_EQ(base[0], 0x00) << "white clears the bit";
}

struct FillCase {
    const char *what;
    uint8_t pattern; // every row of the pattern
    int32_t fore, back;
    uint8_t expectByte;
};

// 1 bits of the pattern take the fore colour, 0 bits the back colour.
TEST_F(Ports, FillRectPatternSense)
{
    const FillCase cases[] = {
        {"solid black on white", 0xFF, blackColor, whiteColor, 0xFF},
        {"clear pattern, black on white", 0x00, blackColor, whiteColor, 0x00},
        {"white pattern erases to the back colour", 0x00, whiteColor, blackColor, 0xFF},
        {"solid white on black", 0xFF, whiteColor, blackColor, 0x00},
        {"stripes, black on white", 0xAA, blackColor, whiteColor, 0xAA},
        {"stripes, white on black", 0xAA, whiteColor, blackColor, 0x55},
        {"any colour but white is a 1 bit", 0x0F, 205, whiteColor, 0x0F},
    };
    for (const FillCase &fc : cases) {
        Offscreen off(16, 8);
        ForeColor(fc.fore);
        BackColor(fc.back);
        uint8_t pat[8];
        std::memset(pat, fc.pattern, sizeof pat);
        QdRect all{0, 0, 8, 16};
        _FillRect(&all, pat);
        EXPECT_EQ(QDError(), noErr);
        const auto *base = reinterpret_cast<const uint8_t *>(off.pixMap().baseAddr);
        for (int v = 0; v < 8; ++v)
            for (int i = 0; i < 2; ++i)
                ASSERT_EQ(base[v * off.rowBytes() + i], fc.expectByte) << fc.what << ", row " << v;
    }
}

TEST_F(Ports, PatternRowsFollowPortCoordinates)
{
    Offscreen off(8, 8, 0, 3); // top 3: port row 3 uses pattern row 3
    ForeColor(blackColor);
    BackColor(whiteColor);
    const uint8_t pat[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    QdRect all{3, 0, 11, 8};
    _FillRect(&all, pat);
    const auto *base = reinterpret_cast<const uint8_t *>(off.pixMap().baseAddr);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(base[y * off.rowBytes()], pat[(y + 3) & 7]) << "row " << y;
}

TEST_F(Ports, FillIsClippedToTheWorld)
{
    Offscreen off(37, 6, 10, 10);
    ForeColor(blackColor);
    QdRect huge{-32768, -32768, 32767, 32767};
    _FillRect(&huge, kBlackPat);
    EXPECT_EQ(countInk(off.ink()), 37 * 6);
    EXPECT_TRUE(off.paddingClear()) << "bits beyond the right edge untouched";
    EXPECT_EQ(QDError(), noErr);
    _FillRect(nullptr, kBlackPat);
    EXPECT_EQ(QDError(), paramErr);
}

TEST_F(Ports, CurrentPortIsSavedAndRestored)
{
    GWorldPtr start = nullptr;
    GDHandle startDevice = nullptr;
    GetGWorld(&start, &startDevice);
    ASSERT_NE(start, nullptr) << "a screen port is always current";
    GWorldPtr port = nullptr;
    {
        Offscreen off(4, 4);
        GDHandle device = nullptr;
        GetGWorld(&port, &device);
        EXPECT_EQ(port, off.world());
        TextSize(30);
    }
    GWorldPtr now = nullptr;
    GetGWorld(&now, nullptr);
    EXPECT_EQ(now, start);
    SetGWorld(reinterpret_cast<GWorldPtr>(&now), nullptr); // not a port
    EXPECT_EQ(QDError(), paramErr);
    GetGWorld(&now, nullptr);
    EXPECT_EQ(now, start) << "a bad port leaves the current one";
}

TEST_F(Ports, DisposingTheCurrentWorldFallsBackToTheScreen)
{
    GWorldPtr screen = nullptr;
    GetGWorld(&screen, nullptr);
    GWorldPtr w = nullptr;
    QdRect bounds{0, 0, 4, 4};
    ASSERT_EQ(NewGWorld(&w, 1, &bounds, nullptr, nullptr, 8), noErr);
    SetGWorld(w, nullptr);
    DisposeGWorld(w);
    GWorldPtr now = nullptr;
    GetGWorld(&now, nullptr);
    EXPECT_EQ(now, screen);
    QdRect r{0, 0, 2, 2};
    _FillRect(&r, kBlackPat); // draws into the screen, not the freed world
    EXPECT_EQ(QDError(), noErr);
    DisposeGWorld(w);
    EXPECT_EQ(QDError(), paramErr);
}

// A port over a host world: guard pixels around it must never change.
class HostWorld {
public:
    static constexpr int32_t kGuard = 3;
    HostWorld(int32_t w, int32_t h) : w_(w), h_(h), pixels_((w + 2 * kGuard) * (h + 2 * kGuard), kSentinel)
    {
        port_ = CorvaneNewPortOnPixels(&pixels_[kGuard * stride() + kGuard], stride() * 4, w, h);
    }
    ~HostWorld()
    {
        if (port_)
            CorvaneDisposePort(port_);
    }
    GWorldPtr port() const { return port_; }
    int32_t stride() const { return w_ + 2 * kGuard; }
    const HostPixel &at(int32_t x, int32_t y) const { return pixels_[(y + kGuard) * stride() + x + kGuard]; }
    bool guardsIntact() const
    {
        for (int32_t y = -kGuard; y < h_ + kGuard; ++y)
            for (int32_t x = -kGuard; x < w_ + kGuard; ++x)
                if ((x < 0 || y < 0 || x >= w_ || y >= h_) && !same(at(x, y), kSentinel))
                    return false;
        return true;
    }
    static bool same(const HostPixel &a, const HostPixel &b) { return std::memcmp(&a, &b, 4) == 0; }
    static constexpr HostPixel kSentinel = {1, 2, 3, 4};

private:
    int32_t w_, h_;
    std::vector<HostPixel> pixels_;
    GWorldPtr port_ = nullptr;
};

TEST_F(Ports, HostWorldColours)
{
    HostWorld hw(6, 4);
    ASSERT_NE(hw.port(), nullptr);
    SetGWorld(hw.port(), nullptr);
    EXPECT_EQ(hw.port()[0].portPixMap[0]->pixelSize, 32);
    ForeColor(whiteColor);
    BackColor(blackColor);
    QdRect left{0, 0, 4, 3}, right{0, 3, 4, 6};
    _FillRect(&left, kBlackPat);  // fore: white
    _FillRect(&right, kWhitePat); // back: black
    EXPECT_TRUE(HostWorld::same(hw.at(0, 0), HostPixel{255, 255, 255, 255}));
    EXPECT_TRUE(HostWorld::same(hw.at(5, 3), HostPixel{255, 0, 0, 0}));
    QdRect beyond{-10, -10, 100, 100};
    ForeColor(205);
    _FillRect(&beyond, kBlackPat);
    EXPECT_TRUE(HostWorld::same(hw.at(2, 2), HostPixel{255, 255, 0, 0}));
    EXPECT_TRUE(hw.guardsIntact());
}

TEST_F(Ports, HostWorldPortRefusesBadWorlds)
{
    HostPixel px[4] = {};
    EXPECT_EQ(CorvaneNewPortOnPixels(nullptr, 8, 2, 2), nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(CorvaneNewPortOnPixels(px, 4, 2, 2), nullptr) << "rows shorter than the width";
    EXPECT_EQ(CorvaneNewPortOnPixels(px, 8, 0, 2), nullptr);
    EXPECT_EQ(CorvaneNewPortOnPixels(px, 8, 2, -1), nullptr);
}

TEST_F(Ports, ColoursAndModesOutsideTheTableAreRefused)
{
    Offscreen off(4, 4);
    ForeColor(12345);
    EXPECT_EQ(QDError(), paramErr);
    TextMode(9);
    EXPECT_EQ(QDError(), paramErr);
    TextSize(-3);
    EXPECT_EQ(QDError(), paramErr);
    ForeColor(whiteColor);
    EXPECT_EQ(QDError(), noErr);
}

TEST_F(Ports, MainWindowIsSet)
{
    EXPECT_NE(hWndMain, nullptr);
}

} // namespace
