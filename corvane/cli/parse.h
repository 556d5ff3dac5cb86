// Parsing of the command line's values: colours, positions, frame ranges,
// keyframes, ratios, plate sizes and the typed text. Every parser throws
// UsageError with a message that names the offending value and what was
// expected; nothing here touches the module.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

// A mistake in what the user typed: reported as is, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};

// "#RRGGBB", "#RGB" or a colour name ("red", "white", "skyblue", ...; case
// is ignored).
Rgb parseColour(const std::string &text);
std::string formatColour(Rgb c); // "#rrggbb"
// The names parseColour knows, in alphabetical order.
std::vector<std::string> colourNames();

// One coordinate of a position: output pixels, or a percentage of the
// plate's width or height ("50%").
struct Coord {
    double value = 0;
    bool percent = false;
    double resolve(double extent) const { return percent ? value * extent / 100.0 : value; }
    bool operator==(const Coord &) const = default;
};
struct Position {
    Coord x, y;
    bool operator==(const Position &) const = default;
};
Position parsePosition(const std::string &text); // "X,Y"

// An inclusive range of frame numbers, "A-B" or a single "A"; 0 <= A <= B.
struct FrameRange {
    int32_t first = 1, last = 1;
    int32_t count() const { return last - first + 1; }
    bool operator==(const FrameRange &) const = default;
};
FrameRange parseFrameRange(const std::string &text);

// "FRAME=VALUE", split at the first '='; the frame is a whole number >= 0.
struct KeyText {
    int32_t frame = 0;
    std::string value;
};
KeyText splitKeyframe(const std::string &text, const std::string &what);

// A downsample ratio "N/D" or "N" (0 < N/D <= 1), for one or both axes:
// "1/2" or "1/2,1/4".
struct Ratio {
    int32_t num = 1;
    uint32_t den = 1;
    double value() const { return static_cast<double>(num) / den; }
    bool operator==(const Ratio &) const = default;
};
struct Downsample {
    Ratio x, y;
    bool operator==(const Downsample &) const = default;
};
Downsample parseDownsample(const std::string &text);
std::string formatDownsample(const Downsample &d);

// "WIDTHxHEIGHT", each 1..kMaxImageSide.
struct PlateSize {
    int32_t width = 0, height = 0;
    bool operator==(const PlateSize &) const = default;
};
PlateSize parsePlateSize(const std::string &text);

// The host's worlds address pixels with 16-bit coordinates.
constexpr int32_t kMaxImageSide = 32767;

// Whole number in [lo, hi], named `what` in the message.
int32_t parseInt(const std::string &text, const std::string &what, int32_t lo, int32_t hi);

// The typed text: "\n" (backslash, n) and real line feeds become line
// breaks, "\\" a backslash; other backslashes stay. Returns the lines.
std::vector<std::string> splitTextLines(const std::string &text);

// Output names: a printf-style frame number ("%04d", "%d") once in the
// name; "%%" is a literal percent sign.
bool hasFramePattern(const std::string &pattern); // throws on a malformed pattern
std::string expandFramePattern(const std::string &pattern, int32_t frame);

} // namespace quillomark
