// Text set-up shared by measuring and drawing: the face, size and style
// extras for a port's text state.
#pragma once

#include "fonts.h"

namespace corvane1 {

struct TextSetup {
    ResolvedFace face;
    int32_t ppem = 0;
    bool underline = false;
    bool outline = false;
    int32_t boldExtra = 0;    // pixels a synthesised bold adds to every glyph
    int32_t outlineExtra = 0; // outline ring thickness, also added per glyph
};

// Resolves the face and sets its size; false when no face can be used.
bool setupText(const TextState &state, TextSetup &s);

// 16.16 advance of one byte with the style's extra width.
Fixed styledAdvance(const TextSetup &s, uint8_t byte);

// 16.16 metrics of the set-up face.
FMetricRec metricsOf(const TextSetup &s);

// Width of a run, 16.16: fractional advances summed, or each rounded.
int64_t runWidth(const TextSetup &s, const uint8_t *bytes, int32_t count, bool fract);

} // namespace corvane1
