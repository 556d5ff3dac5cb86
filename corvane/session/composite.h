// Text over plates deeper than the module's 8 bits. The module renders its
// text alone (composite off: the text colour, with the coverage in alpha);
// the host lays it over the plate in the plate's own pixel type, alpha mode
// and range with the module's own blend (the text colour at opacity
// coverage/255 over the base pixel, on straight colours):
//
//   alpha  = b + A (1 - b)
//   colour = (C b + base A (1 - b)) / alpha      (straight)
//   colour =  C b + base (1 - b)                 (premultiplied)
//
// Pixels with no coverage are not touched: their bits pass through.
#pragma once

#include "media/image.h"

#include "host.h"

#include <array>

namespace quillomark {

// The text colour as the plate's values hold it (R, G, B).
using TextColour = std::array<float, 3>;

// Composites the module's text (`text`: its output with composite off)
// over `plate` (RGB or RGBA) in place.
void compositeText(corvane::media::Image &plate, const corvane::World &text, TextColour colour);

// The text alone over transparent black, laid out as `shape` (which has
// alpha).
corvane::media::Image textAlone(const corvane::World &text, TextColour colour, const corvane::media::ImageShape &shape);

} // namespace quillomark
