// Parsing of the command line's values: colours, positions, frame ranges,
// keyframes, ratios, plate sizes and the typed text. Every parser throws
// UsageError with a message that names the offending value and what was
// expected; nothing here touches the module.
#pragma once

#include "media/frame_pattern.h"
#include "media/video.h"
#include "session/values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillomark {

namespace media = corvane::media;

// "#RRGGBB", "#RGB" or a colour name ("red", "white", "skyblue", ...; case
// is ignored).
Rgb parseColour(const std::string &text);
std::string formatColour(Rgb c); // "#rrggbb"
// The names parseColour knows, in alphabetical order.
std::vector<std::string> colourNames();

Position parsePosition(const std::string &text); // "X,Y"

// "A-B" or a single "A".
FrameRange parseFrameRange(const std::string &text);

// "FRAME=VALUE", split at the first '='; the frame is a whole number >= 0.
struct KeyText {
    int32_t frame = 0;
    std::string value;
};
KeyText splitKeyframe(const std::string &text, const std::string &what);

// "N/D" or "N", for one or both axes: "1/2" or "1/2,1/4".
Downsample parseDownsample(const std::string &text);
std::string formatDownsample(const Downsample &d);

// "WIDTHxHEIGHT", each 1..kMaxImageSide.
struct PlateSize {
    int32_t width = 0, height = 0;
    bool operator==(const PlateSize &) const = default;
};
PlateSize parsePlateSize(const std::string &text);

// Whole number in [lo, hi], named `what` in the message.
int32_t parseInt(const std::string &text, const std::string &what, int32_t lo, int32_t hi);

// "left", "center" (or "centre") or "right": 0, 1 or 2.
int32_t parseAlignment(const std::string &text);
std::string formatAlignment(int32_t alignment); // 2 and beyond draw as right

// A file name with or without a frame number (%04d, ####, @@@@, $F4).
media::FramePattern parseFramePattern(const std::string &name);
// Frames per second: "24", "29.97" (read as 30000/1001), "30000/1001".
media::FrameRate parseFrameRate(const std::string &text);
// Bits per second: "8M", "2500k", "800000".
int64_t parseBitrate(const std::string &text);

} // namespace quillomark
