// Shared state of the porting library's parts. Not installed; tests may
// include it to reach the same faces and pixel rules the library uses.
#pragma once

#include "corvane1_ext.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace corvane1 {

// Every classic entry point starts with this: it scrambles the heap when
// stress mode is on. Errors are then set by the call itself.
void enterCall();
void setError(int16_t err);

// Runs the body of a C entry point: no exception may cross into C callers,
// and running out of memory inside is reported like any allocation failure.
template <class Result, class Body> Result guarded(Result onFailure, Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        setError(memFullErr);
    } catch (...) {
        setError(paramErr);
    }
    return onFailure;
}
template <class Body> void guarded(Body &&body) noexcept
{
    guarded(0, [&] {
        body();
        return 0;
    });
}

// Allocation fault hook: true when this allocation must fail.
bool allocationShouldFail();

// Offscreen pixel buffers take part in the scramble; the ports module
// registers them here.
struct MovablePixels {
    char **base; // where the current address is kept (the pixel map's baseAddr)
    size_t size;
    bool *locked;
};
bool registerMovable(MovablePixels *m); // false when out of memory
void unregisterMovable(MovablePixels *m);

// Live offscreens and host-pixel ports, for CorvaneGetCounts.
void portCounts(int32_t &offscreens, int32_t &ports);

// Text state of a port. The face bits beyond the four supported ones are
// kept but have no effect.
struct TextState {
    int16_t font = 0;
    int16_t size = 0; // 0: the default size
    int16_t face = 0;
    int16_t mode = 0;
    int32_t foreColour = blackColor;
    int32_t backColour = whiteColor;
};

constexpr int16_t kDefaultTextSize = 12;

enum class PortKind { Screen, Offscreen, HostPixels };

// A drawing port. The public head must stay first: callers read the pixel
// map handle at byte 2 of the port's address.
struct Port {
    GrafPortHead head;
    alignas(void *) PixMap pixMap; // aligned, so its base address can be moved through a pointer
    PixMap *pixMapMaster;          // master pointer of head.portPixMap
    uint32_t magic;
    PortKind kind;
    int32_t rowBytes; // full row distance (the pixel map keeps it with flag bits)
    bool pixelsLocked;
    MovablePixels movable;
    TextState text;
    Fixed penH; // 16.16, so fractional advances accumulate
    int16_t penV;
};

// The current port; never null (the screen port when nothing else is set).
Port *currentPort();

// What ink does to the pixels it covers: paints them in a classic colour
// constant, or inverts them.
struct InkOp {
    bool invert = false;
    int32_t colour = blackColor;
};

// Ink of one row of a 1-bit source (most significant bit leftmost): bits
// [0, width) of `src`, bit 0 landing at port (h, v). Only pixels inside the
// port's bounds change; nothing is read beyond the row's (width + 7) / 8 bytes.
void inkRow(Port *port, const uint8_t *src, int32_t width, int32_t h, int32_t v, InkOp op);
// Ink over the port pixels [h0, h1) of row v, clipped to the bounds.
void inkSpan(Port *port, int32_t h0, int32_t h1, int32_t v, InkOp op);

// Intersection of two rectangles; false (and an empty out) when empty.
inline bool sectRect(const QdRect &a, const QdRect &b, QdRect &out)
{
    out.top = a.top > b.top ? a.top : b.top;
    out.left = a.left > b.left ? a.left : b.left;
    out.bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
    out.right = a.right < b.right ? a.right : b.right;
    if (out.right > out.left && out.bottom > out.top)
        return true;
    out = QdRect{0, 0, 0, 0};
    return false;
}

} // namespace corvane1
