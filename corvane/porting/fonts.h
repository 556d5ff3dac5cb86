// The font table: families found through fontconfig, numbered stably, and
// the FreeType face that draws a family in a given style.
#pragma once

#include "internal.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>

namespace corvane1 {

// A family's face for one combination of bold and italic, and what must be
// synthesised because the family has no such face.
struct ResolvedFace {
    FT_Face face = nullptr;
    std::string file;
    int32_t index = 0;
    bool synthBold = false;
    bool synthItalic = false;
    const uint32_t *glyphs = nullptr; // glyph index of each 1252 byte
};

// Number of families; font numbers run from 0 to count - 1.
int32_t fontCount();

// The face for font number `font` (unknown numbers give font 0). False when
// no face could be opened at all.
bool resolveFace(int16_t font, bool bold, bool italic, ResolvedFace &out);

} // namespace corvane1
