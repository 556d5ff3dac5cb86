#include "render/render.h"

#include <algorithm>
#include <limits>

namespace {

Fixed SaturatingAdd(Fixed a, Fixed b)
{
    const int64_t sum = static_cast<int64_t>(a) + b;
    return static_cast<Fixed>(
        std::clamp<int64_t>(sum, std::numeric_limits<Fixed>::min(), std::numeric_limits<Fixed>::max()));
}

// Floor and ceiling of a 16.16 value fit 32 bits; only 32768 overflows a
// QdRect edge, and that stays 32767 rather than wrapping to -32768.
int16_t ToEdge(int32_t pixels)
{
    return static_cast<int16_t>(std::min<int32_t>(pixels, std::numeric_limits<int16_t>::max()));
}

} // namespace

void OffsetFixedRect(FixedRect *rect, Fixed dh, Fixed dv)
{
    rect->left = SaturatingAdd(rect->left, dh);
    rect->right = SaturatingAdd(rect->right, dh);
    rect->top = SaturatingAdd(rect->top, dv);
    rect->bottom = SaturatingAdd(rect->bottom, dv);
}

bool SectFixedRect(const FixedRect *a, const FixedRect *b, FixedRect *out)
{
    // Field by field, each read before it is written, so out may alias a or b.
    out->left = std::max(a->left, b->left);
    out->top = std::max(a->top, b->top);
    out->right = std::min(a->right, b->right);
    out->bottom = std::min(a->bottom, b->bottom);
    return out->bottom > out->top && out->right > out->left;
}

void FixedToQdRect(const FixedRect *source, QdRect *destination)
{
    const auto up = [](Fixed v) { return (v >> 16) + ((v & 0xFFFF) != 0 ? 1 : 0); };
    destination->left = ToEdge(source->left >> 16);
    destination->top = ToEdge(source->top >> 16);
    destination->right = ToEdge(up(source->right));
    destination->bottom = ToEdge(up(source->bottom));
}

void QdToFixedRect(const QdRect *source, FixedRect *destination)
{
    // Multiplying keeps the sign; a left shift of a negative value would not be portable C++.
    destination->left = static_cast<Fixed>(source->left) * 65536;
    destination->top = static_cast<Fixed>(source->top) * 65536;
    destination->right = static_cast<Fixed>(source->right) * 65536;
    destination->bottom = static_cast<Fixed>(source->bottom) * 65536;
}
