#include "render/render.h"

#include <algorithm>

namespace {

// 1.0 in 16.16
constexpr int64_t kOne = 65536;

// Enlarges to the next multiple of 4.
int32_t RoundUp4(int32_t v)
{
    return (v + 3) & ~3;
}

} // namespace

void MeasureTextBlock(const char *text, QdRect *blockRect, int16_t *rightAllowance)
{
    char buffer[kTextBufferSize];
    CopyTextField(buffer, text);

    SetFractEnable(1);
    FMetricRec metrics{};
    FontMetrics(&metrics);

    int32_t widest = 0;
    int32_t height = 0;
    if (buffer[0] != 0) {
        int32_t lines = 0;
        char *line = buffer;
        for (;;) {
            ++lines;
            char *cr = strchr(line, '\r');
            if (cr)
                *cr = 0;
            const int16_t w = TextWidth(line, 0, static_cast<int16_t>(strlen(line)));
            // An empty line still counts one pixel wide.
            if (static_cast<int32_t>(w) + 1 > widest)
                widest = w + 1;
            if (!cr)
                break;
            // A line feed after the CR belongs to the next line here.
            line = cr + 1;
        }
        // 64 bits: a tall block must reach the clamp as a large height, not wrap.
        const int64_t lineHeight = static_cast<int64_t>(metrics.ascent) + metrics.descent + metrics.leading;
        const int64_t fixedHeight = lines * lineHeight - metrics.leading;
        const int64_t pixels = (fixedHeight + kOne / 2) >> 16; // halves go up
        height = static_cast<int32_t>(std::clamp<int64_t>(pixels, INT16_MIN, kMaxBlockSide));
    }
    SetFractEnable(0);

    widest = std::min<int32_t>(widest, kMaxBlockSide);
    _SetRect(blockRect, 0, 0, static_cast<int16_t>(RoundUp4(widest)), static_cast<int16_t>(RoundUp4(height)));
    *rightAllowance = static_cast<int16_t>(((metrics.widMax >> 2) + 0x8000) >> 16);
}

int32_t MeasureTextExtents(int16_t fontNumber, int16_t pointSize, int16_t face, const char *text, QdRect *blockRect1x,
                           QdRect *blockRect4x, int16_t *rightAllowance)
{
    GWorldPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);

    // A 2 x 2 world that only carries the font settings; nothing is drawn in it.
    GWorldPtr scratch = nullptr;
    QdRect bounds;
    bounds.top = 1;
    bounds.left = 1;
    bounds.bottom = 3;
    bounds.right = 3;
    const int16_t made = NewGWorld(&scratch, 1, &bounds, nullptr, nullptr, 8);
    if (made != noErr || !scratch)
        return made != noErr ? static_cast<int32_t>(made) : static_cast<int32_t>(memFullErr);

    SetGWorld(scratch, nullptr);
    TextFont(fontNumber);
    TextSize(pointSize);
    TextFace(face);

    if (blockRect1x)
        MeasureTextBlock(text, blockRect1x, rightAllowance);
    if (blockRect4x) {
        // Measured in its own right, with its own rounding: not 4 x the 1x block.
        int16_t unused = 0;
        TextSize(static_cast<int16_t>(pointSize * 4));
        MeasureTextBlock(text, blockRect4x, &unused);
    }

    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(scratch);
    return 0;
}
