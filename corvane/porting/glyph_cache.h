// Glyph images kept by FreeType's cache (FTC), so text drawn again at the
// same face and size is not loaded, hinted and rasterised again: a
// high-quality frame draws its text at four times the size every frame.
// The cache holds the plain glyph; styles are made from it as they are drawn.
// Bounded in memory; like the rest of the library, one thread at a time.
#pragma once

#include "fonts.h"

#include FT_GLYPH_H

namespace corvane1 {

// The glyph's outline (hinted for monochrome) from the cache, or null when
// this face is not cached (bitmap fonts) or FreeType cannot load it. Valid
// until the next cache call.
const FT_Outline *cachedOutline(const ResolvedFace &face, int32_t ppem, uint32_t glyph);

// The same glyph rendered in monochrome, or null as above. Valid until the
// next cache call.
FT_BitmapGlyph cachedBitmap(const ResolvedFace &face, int32_t ppem, uint32_t glyph);

} // namespace corvane1
