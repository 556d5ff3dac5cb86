#include "fake_porting.h"

#include <algorithm>
#include <cstring>

namespace qmtest::fake {

namespace {

State gState;

std::string Text(const void *text, int16_t first, int16_t count)
{
    return std::string(static_cast<const char *>(text) + first, static_cast<size_t>(std::max<int16_t>(count, 0)));
}

const Metrics &CurrentMetrics()
{
    static const Metrics none{};
    if (!gState.current)
        return none;
    const auto it = gState.metrics.find(gState.current->size);
    return it == gState.metrics.end() ? none : it->second;
}

// Colours by the classic constants: white is ink.
void Paint(Port &port, int32_t x, int32_t y, bool white)
{
    if (x < 0 || y < 0 || x >= port.width || y >= port.height)
        return;
    if (port.deep) {
        HostPixel *p = reinterpret_cast<HostPixel *>(reinterpret_cast<uint8_t *>(port.pixels) + y * port.rowBytes) + x;
        *p = white ? HostPixel{255, 255, 255, 255} : HostPixel{255, 0, 0, 0};
    } else {
        uint8_t &byte = port.bits[static_cast<size_t>(y * port.rowBytes + x / 8)];
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        byte = white ? static_cast<uint8_t>(byte & ~bit) : static_cast<uint8_t>(byte | bit);
    }
}

} // namespace

std::string RectText(const QdRect &r)
{
    return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
           std::to_string(r.right);
}

bool Port::ink(int32_t x, int32_t y) const
{
    if (deep) {
        const HostPixel *p =
            reinterpret_cast<const HostPixel *>(reinterpret_cast<const uint8_t *>(pixels) + y * rowBytes) + x;
        return p->blue == 255;
    }
    return (bits[static_cast<size_t>(y * rowBytes + x / 8)] & (0x80 >> (x & 7))) == 0;
}

int32_t State::liveOffscreens() const
{
    return static_cast<int32_t>(
        std::count_if(ports.begin(), ports.end(), [](const auto &p) { return !p.second->deep; }));
}

int32_t State::lockedHandles() const
{
    return static_cast<int32_t>(std::count_if(locks.begin(), locks.end(), [](const auto &l) { return l.second > 0; }));
}

bool State::called(const std::string &call) const
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

State &state()
{
    return gState;
}

void reset()
{
    gState = State{};
}

Port *portOf(GWorldPtr port)
{
    const auto it = gState.ports.find(port);
    return it == gState.ports.end() ? nullptr : it->second.get();
}

GWorldPtr newDeepPort(HostPixel *pixels, int32_t rowBytes, int32_t width, int32_t height)
{
    auto port = std::make_unique<Port>();
    port->deep = true;
    port->pixels = pixels;
    port->rowBytes = rowBytes;
    port->width = width;
    port->height = height;
    port->head.portPixMap = &port->mapPtr;
    port->map.baseAddr = reinterpret_cast<char *>(pixels);
    GWorldPtr key = &port->head;
    gState.ports[key] = std::move(port);
    return key;
}

void disposeDeepPort(GWorldPtr port)
{
    gState.ports.erase(port);
}

void scriptTwoLineMetrics()
{
    const auto F = [](double v) { return static_cast<Fixed>(v * 65536.0); };
    State &s = state();
    s.metrics[18] = {{F(12.5), F(3.25), F(1.0), F(13.0), 0}, {12, 4, 13, 1}};
    s.metrics[72] = {{F(54.0), F(16.0), F(4.0), F(52.0), 0}, {54, 16, 52, 4}};
    s.widths[{"first line", 18}] = 40;
    s.widths[{"second", 18}] = 17;
    s.widths[{"first line", 72}] = 175;
    s.widths[{"second", 72}] = 60;
}

} // namespace qmtest::fake

using namespace qmtest;

using fake::gState;

extern "C" {

void HLock(Handle h)
{
    ++gState.locks[h];
}

void HUnlock(Handle h)
{
    --gState.locks[h];
}

void GetFNum(const unsigned char *name, int16_t *fontNum)
{
    gState.calls.push_back("GetFNum " + std::string(reinterpret_cast<const char *>(name) + 1, name[0]));
    *fontNum = 7;
}

void GetGWorld(GWorldPtr *port, GDHandle *device)
{
    *port = gState.current ? &gState.current->head : nullptr;
    *device = gState.currentDevice;
}

void SetGWorld(GWorldPtr port, GDHandle device)
{
    gState.current = port ? fake::portOf(port) : nullptr;
    gState.currentDevice = device;
    gState.calls.push_back(port ? "SetGWorld" : "SetGWorld null");
}

int16_t NewGWorld(GWorldPtr *offscreen, int16_t depth, const QdRect *bounds, void *, GDHandle, uint32_t flags)
{
    ++gState.newGWorldCalls;
    gState.calls.push_back("NewGWorld " + std::to_string(depth) + " " + std::to_string(bounds->top) + "," +
                           std::to_string(bounds->left) + "," + std::to_string(bounds->bottom) + "," +
                           std::to_string(bounds->right) + " flags " + std::to_string(flags));
    if (gState.newGWorldCalls == gState.failNewGWorldAt)
        return gState.newGWorldError;
    gState.lastOffscreenBounds = *bounds;
    auto port = std::make_unique<fake::Port>();
    port->width = bounds->right - bounds->left;
    port->height = bounds->bottom - bounds->top;
    port->rowBytes = ((port->width + 15) / 16) * 2;
    // Fresh offscreens hold noise: the erase must make them background.
    port->bits.assign(static_cast<size_t>(port->rowBytes * port->height), 0x5A);
    port->map.baseAddr = reinterpret_cast<char *>(port->bits.data());
    port->map.rowBytes = static_cast<int16_t>(port->rowBytes | 0x8000); // flag bits set, as the contract allows
    port->head.portPixMap = &port->mapPtr;
    *offscreen = &port->head;
    gState.ports[*offscreen] = std::move(port);
    return noErr;
}

uint8_t LockPixels(PixMapHandle)
{
    gState.calls.push_back("LockPixels");
    return 1;
}

void UnlockPixels(PixMapHandle) {}

void DisposeGWorld(GWorldPtr world)
{
    gState.calls.push_back("DisposeGWorld");
    if (gState.current == fake::portOf(world))
        gState.current = nullptr;
    gState.ports.erase(world);
}

void TextFont(int16_t font)
{
    gState.calls.push_back("TextFont " + std::to_string(font));
    if (gState.current)
        gState.current->font = font;
}

void TextSize(int16_t size)
{
    gState.calls.push_back("TextSize " + std::to_string(size));
    if (gState.current)
        gState.current->size = size;
}

void TextFace(int16_t face)
{
    gState.calls.push_back("TextFace " + std::to_string(face));
    if (gState.current)
        gState.current->face = face;
}

void TextMode(int16_t mode)
{
    gState.calls.push_back("TextMode " + std::to_string(mode));
    if (gState.current)
        gState.current->mode = mode;
}

void ForeColor(int32_t colour)
{
    gState.calls.push_back("ForeColor " + std::to_string(colour));
    if (gState.current)
        gState.current->fore = colour;
}

void BackColor(int32_t colour)
{
    gState.calls.push_back("BackColor " + std::to_string(colour));
    if (gState.current)
        gState.current->back = colour;
}

void SetFractEnable(uint8_t on)
{
    gState.calls.push_back("SetFractEnable " + std::to_string(on));
    gState.fractEnable = on != 0;
}

void FontMetrics(FMetricRec *out)
{
    *out = fake::CurrentMetrics().fm;
}

void GetFontInfo(FontInfo *out)
{
    *out = fake::CurrentMetrics().fi;
}

int16_t TextWidth(const void *text, int16_t firstByte, int16_t byteCount)
{
    const std::string line = fake::Text(text, firstByte, byteCount);
    const int16_t size = gState.current ? gState.current->size : 0;
    const auto it = gState.widths.find({line, size});
    return it != gState.widths.end() ? it->second : static_cast<int16_t>(6 * line.size());
}

void _MoveTo(int16_t h, int16_t v)
{
    gState.calls.push_back("MoveTo " + std::to_string(h) + "," + std::to_string(v));
    if (gState.current) {
        gState.current->penH = h;
        gState.current->penV = v;
    }
}

void _DrawText(const void *text, int16_t firstByte, int16_t byteCount)
{
    const std::string line = fake::Text(text, firstByte, byteCount);
    gState.calls.push_back("DrawText " + line);
    ++gState.drawCalls;
    gState.lastError = gState.drawCalls == gState.failDrawAt ? gState.drawError : int16_t{noErr};
    fake::Port *port = gState.current;
    if (!port)
        return;
    gState.drawnInto.push_back(port);
    // Each line is a solid box from the ascent line to the descent line.
    const int16_t w = TextWidth(text, firstByte, byteCount);
    const FontInfo &fi = fake::CurrentMetrics().fi;
    const bool white = port->fore == whiteColor;
    for (int32_t y = port->penV - fi.ascent; y < port->penV + fi.descent; ++y)
        for (int32_t x = port->penH; x < port->penH + w; ++x)
            fake::Paint(*port, x, y, white);
    port->penH = static_cast<int16_t>(port->penH + w);
}

void _FillRect(const QdRect *rect, const void *pattern)
{
    gState.calls.push_back("FillRect " + std::to_string(rect->top) + "," + std::to_string(rect->left) + "," +
                           std::to_string(rect->bottom) + "," + std::to_string(rect->right));
    gState.lastPattern = pattern;
    fake::Port *port = gState.current;
    if (!port)
        return;
    // Pattern 1 bits take the foreground colour, 0 bits the background.
    const uint8_t *rows = static_cast<const uint8_t *>(pattern);
    for (int32_t y = rect->top; y < rect->bottom; ++y)
        for (int32_t x = rect->left; x < rect->right; ++x) {
            const bool one = (rows[y & 7] & (0x80 >> (x & 7))) != 0;
            const int32_t colour = one ? port->fore : port->back;
            fake::Paint(*port, x, y, colour == whiteColor);
        }
}

int16_t QDError(void)
{
    gState.calls.push_back("QDError");
    return gState.lastError;
}

void _SetRect(QdRect *r, int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    gState.rectCalls.push_back("_SetRect " + std::to_string(left) + "," + std::to_string(top) + "," +
                               std::to_string(right) + "," + std::to_string(bottom));
    r->left = left;
    r->top = top;
    r->right = right;
    r->bottom = bottom;
}

// Wraps like 16-bit hardware arithmetic, and counts it: the module must never get here.
void _OffsetRect(QdRect *r, int16_t dh, int16_t dv)
{
    gState.rectCalls.push_back("_OffsetRect " + std::to_string(dh) + "," + std::to_string(dv));
    const auto add = [](int16_t &edge, int16_t by) {
        const int32_t sum = edge + by;
        if (sum < INT16_MIN || sum > INT16_MAX)
            ++gState.rectWraps;
        edge = static_cast<int16_t>(sum);
    };
    add(r->left, dh);
    add(r->right, dh);
    add(r->top, dv);
    add(r->bottom, dv);
}

uint8_t SectRect(const QdRect *a, const QdRect *b, QdRect *out)
{
    QdRect r;
    r.top = std::max(a->top, b->top);
    r.left = std::max(a->left, b->left);
    r.bottom = std::min(a->bottom, b->bottom);
    r.right = std::min(a->right, b->right);
    const bool nonEmpty = r.bottom > r.top && r.right > r.left;
    gState.rectCalls.push_back("SectRect " + fake::RectText(*a) + " " + fake::RectText(*b) + " -> " +
                               (nonEmpty ? fake::RectText(r) : std::string("empty")));
    *out = nonEmpty ? r : QdRect{0, 0, 0, 0};
    return nonEmpty ? 1 : 0;
}

} // extern "C"
