// Rectangle arithmetic. Right and bottom are exclusive; a rectangle with
// right <= left or bottom <= top is empty.
#include "internal.h"

using namespace corvane1;

namespace {
int16_t clamp16(int32_t v)
{
    return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
} // namespace

extern "C" {

void _SetRect(QdRect *r, int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    enterCall();
    if (!r)
        return;
    r->top = top;
    r->left = left;
    r->bottom = bottom;
    r->right = right;
}

// Offsets saturate at the 16-bit limits rather than wrap to the far side.
void _OffsetRect(QdRect *r, int16_t dh, int16_t dv)
{
    enterCall();
    if (!r)
        return;
    r->left = clamp16(int32_t(r->left) + dh);
    r->right = clamp16(int32_t(r->right) + dh);
    r->top = clamp16(int32_t(r->top) + dv);
    r->bottom = clamp16(int32_t(r->bottom) + dv);
}

uint8_t SectRect(const QdRect *a, const QdRect *b, QdRect *out)
{
    enterCall();
    QdRect r{0, 0, 0, 0};
    bool nonEmpty = a && b && sectRect(*a, *b, r);
    if (out)
        *out = r;
    return nonEmpty ? 1 : 0;
}

} // extern "C"
