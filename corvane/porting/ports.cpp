// Drawing ports: the screen port, 1-bit (and 32-bit) offscreen worlds and
// ports over host 32-bit worlds; the process-wide current port; colours,
// pen and pattern fills. Every pixel written is inside the port's bounds.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

namespace corvane1 {
namespace {

constexpr uint32_t kPortMagic = 0x43765074; // "CvPt"
constexpr int16_t kRowBytesFlags = int16_t(0x8000);
constexpr int32_t kMaxRowBytes = 0x3FFF;
constexpr int16_t kScreenWidth = 640, kScreenHeight = 480;

struct GDeviceTag {
    int32_t unused;
};
GDeviceTag gMainDevice{0};
GDeviceTag *gMainDeviceMaster = &gMainDevice;

struct PortTable {
    std::unordered_set<Port *> live;
    Port *screen = nullptr;
    Port *current = nullptr;
    GDHandle currentDevice = reinterpret_cast<GDHandle>(&gMainDeviceMaster);
    int32_t offscreens = 0;
    int32_t hostPorts = 0;
};

PortTable &table();

Port *makePort(PortKind kind, const QdRect &bounds, int16_t depth, char *pixels, int32_t rowBytes)
{
    Port *p = new (std::nothrow) Port{};
    if (!p)
        return nullptr;
    p->magic = kPortMagic;
    p->kind = kind;
    p->pixMap.baseAddr = pixels;
    p->pixMap.rowBytes = static_cast<int16_t>((rowBytes <= kMaxRowBytes ? rowBytes : 0) | kRowBytesFlags);
    p->pixMap.bounds = bounds;
    p->pixMap.pixelSize = depth;
    p->pixMapMaster = &p->pixMap;
    p->head.device = 0;
    p->head.portPixMap = &p->pixMapMaster;
    p->rowBytes = rowBytes;
    p->pixelsLocked = kind != PortKind::Offscreen; // only offscreen pixels ever move
    p->movable = MovablePixels{&p->pixMap.baseAddr,
                               static_cast<size_t>(rowBytes) * static_cast<size_t>(bounds.bottom - bounds.top),
                               &p->pixelsLocked};
    p->penH = 0;
    p->penV = 0;
    return p;
}

// Fills fresh pixels with white.
void clearToWhite(char *pixels, size_t size, int16_t depth)
{
    std::memset(pixels, depth == 1 ? 0x00 : 0xFF, size);
}

// Never destroyed, like the heap: ports may be released during exit.
PortTable &table()
{
    static PortTable &t = *new PortTable;
    if (!t.screen) {
        QdRect bounds{0, 0, kScreenHeight, kScreenWidth};
        int32_t rowBytes = ((kScreenWidth + 31) / 32) * 4;
        size_t size = static_cast<size_t>(rowBytes) * kScreenHeight;
        char *pixels = static_cast<char *>(std::malloc(size));
        if (pixels)
            clearToWhite(pixels, size, 1);
        t.screen = makePort(PortKind::Screen, bounds, 1, pixels, pixels ? rowBytes : 0);
        if (!t.screen || !pixels)
            std::abort(); // no memory at load: nothing can draw
        t.live.insert(t.screen);
        t.current = t.screen;
    }
    return t;
}

bool insertLive(Port *p)
{
    try {
        table().live.insert(p);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Guards for a port under construction: each releases its part unless the
// port was completed.
struct FreePixels {
    void operator()(char *pixels) const { std::free(pixels); }
};
using PixelsGuard = std::unique_ptr<char, FreePixels>;
using PortGuard = std::unique_ptr<Port>;

// A port's entry in the live table, taken out again unless kept.
class LiveGuard {
public:
    explicit LiveGuard(Port *p) : port_(p && insertLive(p) ? p : nullptr) {}
    ~LiveGuard()
    {
        if (port_)
            table().live.erase(port_);
    }
    LiveGuard(const LiveGuard &) = delete;
    LiveGuard &operator=(const LiveGuard &) = delete;
    explicit operator bool() const { return port_ != nullptr; }
    void keep() { port_ = nullptr; }

private:
    Port *port_;
};

Port *livePort(const void *p)
{
    PortTable &t = table();
    Port *port = static_cast<Port *>(const_cast<void *>(p));
    if (!port || !t.live.count(port) || port->magic != kPortMagic)
        return nullptr;
    return port;
}

Port *portOfPixMap(PixMapHandle pm)
{
    if (!pm)
        return nullptr;
    for (Port *p : table().live)
        if (p->head.portPixMap == pm)
            return p;
    return nullptr;
}

void destroyPort(Port *p)
{
    PortTable &t = table();
    // Drawing must never reach a freed port: the screen takes over.
    if (t.current == p) {
        t.current = t.screen;
        t.currentDevice = reinterpret_cast<GDHandle>(&gMainDeviceMaster);
    }
    t.live.erase(p);
    if (p->kind == PortKind::Offscreen) {
        unregisterMovable(&p->movable);
        std::memset(p->pixMap.baseAddr, 0xDB, p->movable.size);
        std::free(p->pixMap.baseAddr);
        --t.offscreens;
    } else {
        --t.hostPorts;
    }
    p->magic = 0;
    delete p;
}

struct Rgba {
    uint8_t a, r, g, b;
};

// The classic colour constants; false for any other value.
bool colourValue(int32_t colour, Rgba &out)
{
    switch (colour) {
    case whiteColor:
        out = {255, 255, 255, 255};
        return true;
    case blackColor:
        out = {255, 0, 0, 0};
        return true;
    case 205:
        out = {255, 255, 0, 0};
        return true; // red
    case 341:
        out = {255, 0, 255, 0};
        return true; // green
    case 409:
        out = {255, 0, 0, 255};
        return true; // blue
    case 273:
        out = {255, 0, 255, 255};
        return true; // cyan
    case 137:
        out = {255, 255, 0, 255};
        return true; // magenta
    case 69:
        out = {255, 255, 255, 0};
        return true; // yellow
    default:
        return false;
    }
}

} // namespace

Port *currentPort()
{
    return table().current;
}

void portCounts(int32_t &offscreens, int32_t &ports)
{
    offscreens = table().offscreens;
    ports = table().hostPorts;
}

namespace {

uint8_t *rowOf(Port *p, int32_t v)
{
    return reinterpret_cast<uint8_t *>(p->pixMap.baseAddr) +
           static_cast<size_t>(v - p->pixMap.bounds.top) * p->rowBytes;
}

// Applies an ink operation to bits [x0, x1) of a 1-bit row (x0 < x1), where
// fetch(d) gives the ink bits lined up with row byte d.
template <class Fetch> void inkBits(uint8_t *row, int32_t x0, int32_t x1, InkOp op, Fetch fetch)
{
    int32_t d0 = x0 >> 3, d1 = (x1 - 1) >> 3;
    uint8_t first = static_cast<uint8_t>(0xFF >> (x0 & 7));
    uint8_t last = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
    auto each = [&](auto apply) {
        if (d0 == d1) {
            apply(row[d0], static_cast<uint8_t>(fetch(d0) & first & last));
            return;
        }
        apply(row[d0], static_cast<uint8_t>(fetch(d0) & first));
        for (int32_t d = d0 + 1; d < d1; ++d)
            apply(row[d], fetch(d));
        apply(row[d1], static_cast<uint8_t>(fetch(d1) & last));
    };
    if (op.invert)
        each([](uint8_t &b, uint8_t ink) { b ^= ink; });
    else if (op.colour == whiteColor)
        each([](uint8_t &b, uint8_t ink) { b &= static_cast<uint8_t>(~ink); });
    else
        each([](uint8_t &b, uint8_t ink) { b |= ink; });
}

// 32-bit pixels [x0, x1) of a row, where ink(x) says which take the ink.
template <class Ink> void inkPixels(uint8_t *row, int32_t x0, int32_t x1, InkOp op, Ink ink)
{
    HostPixel *px = reinterpret_cast<HostPixel *>(row);
    if (op.invert) {
        for (int32_t x = x0; x < x1; ++x)
            if (ink(x))
                px[x] = HostPixel{255, uint8_t(255 - px[x].red), uint8_t(255 - px[x].green), uint8_t(255 - px[x].blue)};
        return;
    }
    Rgba c{};
    if (!colourValue(op.colour, c))
        return;
    const HostPixel value{c.a, c.r, c.g, c.b};
    for (int32_t x = x0; x < x1; ++x)
        if (ink(x))
            px[x] = value;
}

} // namespace

void inkRow(Port *p, const uint8_t *src, int32_t width, int32_t h, int32_t v, InkOp op)
{
    const QdRect &b = p->pixMap.bounds;
    if (v < b.top || v >= b.bottom || !p->pixMap.baseAddr || width <= 0)
        return;
    // Row-relative x of the source's bit 0, and the part of the row it covers.
    int32_t shift = h - b.left;
    int32_t x0 = std::max<int32_t>(shift, 0), x1 = std::min<int32_t>(shift + width, b.right - b.left);
    if (x0 >= x1)
        return;
    uint8_t *row = rowOf(p, v);
    if (p->pixMap.pixelSize == 1) {
        // The row byte d takes source bits from byte (8d - shift) >> 3 and
        // the one after; with a zero byte on either side of a copy of the
        // source, every byte the row needs is there to read (the first is
        // at most one before the source, the last at most one after).
        const int32_t srcBytes = (width + 7) >> 3;
        uint8_t local[256];
        std::vector<uint8_t> large;
        uint8_t *padded = local;
        if (srcBytes + 2 > static_cast<int32_t>(sizeof local)) {
            large.resize(static_cast<size_t>(srcBytes) + 2);
            padded = large.data();
        }
        padded[0] = 0;
        std::memcpy(padded + 1, src, static_cast<size_t>(srcBytes));
        padded[srcBytes + 1] = 0;
        const int32_t k = (-shift) & 7, right = 8 - k;
        inkBits(row, x0, x1, op, [&](int32_t d) {
            const uint8_t *b = padded + 1 + ((d * 8 - shift) >> 3);
            return static_cast<uint8_t>(((uint32_t{b[0]} << 8 | b[1]) >> right) & 0xFF);
        });
    } else {
        inkPixels(row, x0, x1, op, [&](int32_t x) {
            int32_t s = x - shift;
            return (src[s >> 3] & (0x80 >> (s & 7))) != 0;
        });
    }
}

void inkSpan(Port *p, int32_t h0, int32_t h1, int32_t v, InkOp op)
{
    const QdRect &b = p->pixMap.bounds;
    if (v < b.top || v >= b.bottom || !p->pixMap.baseAddr)
        return;
    int32_t x0 = std::max<int32_t>(h0, b.left) - b.left, x1 = std::min<int32_t>(h1, b.right) - b.left;
    if (x0 >= x1)
        return;
    uint8_t *row = rowOf(p, v);
    if (p->pixMap.pixelSize == 1)
        inkBits(row, x0, x1, op, [](int32_t) { return uint8_t(0xFF); });
    else
        inkPixels(row, x0, x1, op, [](int32_t) { return true; });
}

namespace {

// Fills the port pixels of r (already inside the bounds) from an 8 x 8
// pattern anchored to the port's origin: 1 bits fore, 0 bits back colour.
void fillPattern(Port *p, const QdRect &r, const uint8_t *pat)
{
    if (!p->pixMap.baseAddr)
        return;
    const QdRect &b = p->pixMap.bounds;
    int32_t x0 = r.left - b.left, x1 = r.right - b.left;
    if (p->pixMap.pixelSize == 1) {
        bool foreInk = p->text.foreColour != whiteColor, backInk = p->text.backColour != whiteColor;
        // Row byte k holds the pixels from b.left + 8k: the pattern turned to match.
        int32_t turn = b.left & 7;
        int32_t d0 = x0 >> 3, d1 = (x1 - 1) >> 3;
        uint8_t first = static_cast<uint8_t>(0xFF >> (x0 & 7));
        uint8_t last = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
        if (d0 == d1)
            first = last = static_cast<uint8_t>(first & last);
        for (int32_t v = r.top; v < r.bottom; ++v) {
            uint32_t bits = pat[v & 7];
            uint32_t ink = (foreInk ? bits : 0) | (backInk ? ~bits & 0xFF : 0);
            uint8_t byte = static_cast<uint8_t>(((ink << turn) | (ink >> (8 - turn))) & 0xFF);
            uint8_t *row = rowOf(p, v);
            row[d0] = static_cast<uint8_t>((row[d0] & ~first) | (byte & first));
            if (d1 > d0) {
                if (d1 - d0 > 1)
                    std::memset(row + d0 + 1, byte, static_cast<size_t>(d1 - d0 - 1));
                row[d1] = static_cast<uint8_t>((row[d1] & ~last) | (byte & last));
            }
        }
        return;
    }
    Rgba fc{}, bc{};
    bool foreOk = colourValue(p->text.foreColour, fc), backOk = colourValue(p->text.backColour, bc);
    const HostPixel fore{fc.a, fc.r, fc.g, fc.b}, back{bc.a, bc.r, bc.g, bc.b};
    for (int32_t v = r.top; v < r.bottom; ++v) {
        uint8_t bits = pat[v & 7];
        HostPixel *px = reinterpret_cast<HostPixel *>(rowOf(p, v));
        for (int32_t x = x0; x < x1; ++x) {
            if (bits & (0x80 >> ((x + b.left) & 7))) {
                if (foreOk)
                    px[x] = fore;
            } else if (backOk) {
                px[x] = back;
            }
        }
    }
}

} // namespace

bool isColourConstant(int32_t colour)
{
    Rgba c{};
    return colourValue(colour, c);
}

} // namespace corvane1

using namespace corvane1;

namespace {
char gMainWindow[16] = "Corvane main";
} // namespace

extern "C" {

QM_PORTING_DATA void *hWndMain = gMainWindow;

void GetGWorld(GWorldPtr *port, GDHandle *device)
{
    enterCall();
    PortTable &t = table();
    if (port)
        *port = &t.current->head;
    if (device)
        *device = t.currentDevice;
}

void SetGWorld(GWorldPtr port, GDHandle device)
{
    enterCall();
    Port *p = livePort(port);
    if (!p) {
        setError(paramErr);
        return;
    }
    table().current = p;
    table().currentDevice = device;
    setError(noErr);
}

int16_t NewGWorld(GWorldPtr *offscreen, int16_t depth, const QdRect *bounds, void *colorTable, GDHandle device,
                  uint32_t flags)
{
    (void)colorTable;
    (void)device;
    (void)flags;
    enterCall();
    auto fail = [&](int16_t err) {
        if (offscreen)
            *offscreen = nullptr;
        setError(err);
        return err;
    };
    if (!offscreen || !bounds || (depth != 1 && depth != 32))
        return fail(paramErr);
    int32_t width = int32_t(bounds->right) - bounds->left;
    int32_t height = int32_t(bounds->bottom) - bounds->top;
    if (width <= 0 || height <= 0)
        return fail(paramErr);
    int32_t rowBytes = depth == 1 ? ((width + 31) / 32) * 4 : width * 4;
    if (rowBytes > kMaxRowBytes)
        return fail(paramErr);
    if (allocationShouldFail())
        return fail(memFullErr);
    size_t size = static_cast<size_t>(rowBytes) * static_cast<size_t>(height);
    PixelsGuard pixels(static_cast<char *>(std::malloc(size)));
    if (!pixels)
        return fail(memFullErr);
    clearToWhite(pixels.get(), size, depth);
    PortGuard p(makePort(PortKind::Offscreen, *bounds, depth, pixels.get(), rowBytes));
    if (!p)
        return fail(memFullErr);
    p->pixelsLocked = false;
    LiveGuard live(p.get());
    if (!live || !registerMovable(&p->movable))
        return fail(memFullErr);
    // Complete: from here the port owns its pixels and the table owns the port.
    live.keep();
    pixels.release();
    ++table().offscreens;
    *offscreen = &p.release()->head;
    setError(noErr);
    return noErr;
}

uint8_t LockPixels(PixMapHandle pm)
{
    enterCall();
    Port *p = portOfPixMap(pm);
    if (!p) {
        setError(paramErr);
        return 0;
    }
    p->pixelsLocked = true;
    setError(noErr);
    return 1;
}

void UnlockPixels(PixMapHandle pm)
{
    enterCall();
    Port *p = portOfPixMap(pm);
    if (!p) {
        setError(paramErr);
        return;
    }
    if (p->kind == PortKind::Offscreen)
        p->pixelsLocked = false;
    setError(noErr);
}

void DisposeGWorld(GWorldPtr world)
{
    enterCall();
    Port *p = livePort(world);
    if (!p || p->kind != PortKind::Offscreen) {
        setError(paramErr);
        return;
    }
    destroyPort(p);
    setError(noErr);
}

GWorldPtr CorvaneNewPortOnPixels(HostPixel *base, int32_t rowBytes, int32_t width, int32_t height)
{
    if (!base || width <= 0 || height <= 0 || width > 32767 || height > 32767 || rowBytes / 4 < width) {
        setError(paramErr);
        return nullptr;
    }
    if (allocationShouldFail()) {
        setError(memFullErr);
        return nullptr;
    }
    QdRect bounds{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    PortGuard p(makePort(PortKind::HostPixels, bounds, 32, reinterpret_cast<char *>(base), rowBytes));
    LiveGuard live(p.get());
    if (!p || !live) {
        setError(memFullErr);
        return nullptr;
    }
    live.keep();
    ++table().hostPorts;
    setError(noErr);
    return &p.release()->head;
}

void CorvaneDisposePort(GWorldPtr port)
{
    Port *p = livePort(port);
    if (!p || p->kind != PortKind::HostPixels) {
        setError(paramErr);
        return;
    }
    destroyPort(p);
    setError(noErr);
}

void ForeColor(int32_t colour)
{
    enterCall();
    if (!isColourConstant(colour)) {
        setError(paramErr);
        return;
    }
    currentPort()->text.foreColour = colour;
    setError(noErr);
}

void BackColor(int32_t colour)
{
    enterCall();
    if (!isColourConstant(colour)) {
        setError(paramErr);
        return;
    }
    currentPort()->text.backColour = colour;
    setError(noErr);
}

void TextMode(int16_t mode)
{
    enterCall();
    // 0 copy, 1 or, 2 xor, 3 bic: the source-transfer modes text honours.
    if (mode < 0 || mode > 3) {
        setError(paramErr);
        return;
    }
    currentPort()->text.mode = mode;
    setError(noErr);
}

void TextFace(int16_t face)
{
    enterCall();
    currentPort()->text.face = face;
    setError(noErr);
}

void TextSize(int16_t size)
{
    enterCall();
    if (size < 0) {
        setError(paramErr);
        return;
    }
    currentPort()->text.size = size;
    setError(noErr);
}

void _MoveTo(int16_t h, int16_t v)
{
    enterCall();
    Port *p = currentPort();
    p->penH = static_cast<Fixed>(static_cast<uint32_t>(int32_t(h)) << 16);
    p->penV = v;
}

// 1 bits of the pattern paint the fore colour, 0 bits the back colour. The
// pattern is anchored to the port's coordinate origin.
void _FillRect(const QdRect *rect, const void *pattern)
{
    enterCall();
    if (!rect || !pattern) {
        setError(paramErr);
        return;
    }
    Port *p = currentPort();
    QdRect r{};
    if (!sectRect(*rect, p->pixMap.bounds, r)) {
        setError(noErr);
        return;
    }
    fillPattern(p, r, static_cast<const uint8_t *>(pattern));
    setError(noErr);
}

} // extern "C"
