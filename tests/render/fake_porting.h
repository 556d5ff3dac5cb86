// A scripted stand-in for the porting library, linked into unit tests in its
// place: metrics and widths per point size are set by the test, calls are
// logged, and drawing paints each line as a solid ink box so that placement
// can be checked pixel by pixel.
#pragma once

#include "host/porting.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qmtest::fake {

struct Port {
    GrafPortHead head{}; // what the module sees
    PixMap map{};
    PixMap *mapPtr = &map;
    bool deep = false;           // over 32-bit host pixels, else 1 bit deep
    std::vector<uint8_t> bits;   // 1-bit pixels (offscreens)
    HostPixel *pixels = nullptr; // 32-bit pixels (ports over host worlds)
    int32_t rowBytes = 0;
    int32_t width = 0, height = 0;
    int16_t font = 0, size = 0, face = 0, mode = -1;
    int32_t fore = 0, back = 0;
    int16_t penH = 0, penV = 0;

    bool ink(int32_t x, int32_t y) const; // a 0 bit, or a white pixel
};

struct Metrics {
    FMetricRec fm{};
    FontInfo fi{};
};

struct State {
    // Script
    std::map<int16_t, Metrics> metrics;                        // by point size
    std::map<std::pair<std::string, int16_t>, int16_t> widths; // (line, size); otherwise 6 per byte
    int32_t failNewGWorldAt = 0;                               // 1-based call number, 0 never
    int16_t newGWorldError = memFullErr;
    int32_t failDrawAt = 0; // QDError reports drawError after this _DrawText call
    int16_t drawError = -108;

    // Record
    std::vector<std::string> calls;
    int32_t newGWorldCalls = 0;
    int32_t drawCalls = 0;
    int16_t lastError = 0;
    bool fractEnable = false;
    Port *current = nullptr;
    GDHandle currentDevice = nullptr;
    std::map<GWorldPtr, std::unique_ptr<Port>> ports;
    std::map<Handle, int32_t> locks;
    QdRect lastOffscreenBounds{};
    const void *lastPattern = nullptr;
    std::vector<Port *> drawnInto; // port of each _DrawText, in order
    // Rectangle calls apart from the rest: "_SetRect l,t,r,b" (its arguments),
    // "_OffsetRect dh,dv", "SectRect a b -> result" (rectangles as t,l,b,r).
    std::vector<std::string> rectCalls;
    int32_t rectWraps = 0; // 16-bit sums that wrapped, as a plain library's would

    int32_t liveOffscreens() const;
    int32_t lockedHandles() const;
    bool called(const std::string &call) const;
};

State &state();
std::string RectText(const QdRect &r); // t,l,b,r
void reset();                          // forgets every port and script
// Scripts the metrics of a two-line block: at 18 points ascent 12.5, descent 3.25,
// leading 1.0, widest 13.0, lines "first line" 40 and "second" 17 wide
// (a 44 x 36 block, allowance 3); at 72 points a block of 176 x 144.
void scriptTwoLineMetrics();

// Deep ports, as the host's getWorldPort hands them out.
GWorldPtr newDeepPort(HostPixel *pixels, int32_t rowBytes, int32_t width, int32_t height);
void disposeDeepPort(GWorldPtr port);
Port *portOf(GWorldPtr port);

} // namespace qmtest::fake
