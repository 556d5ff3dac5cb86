// The values a render is described in, shared by every front end: colours,
// positions, frame ranges and downsample ratios. Parsing them from text is
// the command line's business (corvane/cli/parse.h).
#pragma once

#include <cstdint>
#include <stdexcept>

namespace quillomark {

// A mistake in what the user gave (text, options, keyframes): reported as
// is; the command line exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An sRGB colour, 8 bits a channel, as the module's Text Color holds it.
struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};

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

// An inclusive range of frame numbers; 0 <= first <= last.
struct FrameRange {
    int32_t first = 1, last = 1;
    int32_t count() const { return last - first + 1; }
    bool operator==(const FrameRange &) const = default;
};

// A downsample ratio num/den (0 < num/den <= 1) for each axis.
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

// The host's worlds address pixels with signed 16-bit coordinates.
constexpr int32_t kMaxImageSide = 32767;

} // namespace quillomark
