#include "render/render.h"

namespace {

// Offset of the erase pattern in the host's drawing globals.
constexpr int32_t kErasePatternOffset = 118;

bool IsCoordinate(int32_t v)
{
    return v >= INT16_MIN && v <= INT16_MAX;
}

} // namespace

int32_t DrawTextLines(const char *text, const QdRect *blockRect, int16_t alignment)
{
    int32_t result = 0;
    SetFractEnable(1);
    FontInfo info{};
    GetFontInfo(&info);

    char buffer[kTextBufferSize];
    CopyTextField(buffer, text);

    const int32_t lineSpacing = info.ascent + info.descent + info.leading;
    int32_t baseline = blockRect->top + info.ascent;
    if (buffer[0] != 0) {
        char *line = buffer;
        for (;;) {
            // Past the 16-bit range a baseline would wrap to the far side of the port.
            if (!IsCoordinate(baseline))
                break;
            char *cr = strchr(line, '\r');
            if (cr)
                *cr = 0;
            const int16_t length = static_cast<int16_t>(strlen(line));

            int32_t x = blockRect->left;
            if (alignment == kAlignRight || alignment == kAlignCenter) {
                const int32_t w = TextWidth(line, 0, length);
                x = alignment == kAlignRight ? blockRect->right - w : (blockRect->left + blockRect->right - w) >> 1;
            }
            // A start left of -32768 puts the whole line left of every port: nothing to draw.
            if (IsCoordinate(x)) {
                _MoveTo(static_cast<int16_t>(x), static_cast<int16_t>(baseline));
                _DrawText(line, 0, length);
                result = QDError();
            }
            baseline += lineSpacing;

            if (!cr)
                break;
            line = cr + 1;
            if (*line == '\n') // typed line breaks arrive as CR LF
                ++line;
            if (result != 0)
                break;
        }
    }

    SetFractEnable(0);
    return result;
}

int32_t DrawTextBlock(uint8_t *drawGlobals, const TextSettings *settings, int16_t pointSize, const QdRect *eraseRect,
                      const QdRect *blockRect, GWorldPtr port, GDHandle device)
{
    GWorldPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(port, device);

    int16_t fontNumber = 0;
    GetFNum(settings->fontName, &fontNumber);
    TextFont(fontNumber);
    TextSize(pointSize);
    TextFace(static_cast<int16_t>(settings->style));
    TextMode(0);
    // White on black: in a 1-bit world ink is a 0 bit, the background a 1 bit.
    ForeColor(whiteColor);
    BackColor(blackColor);
    if (eraseRect)
        _FillRect(eraseRect, drawGlobals + kErasePatternOffset);

    const int32_t result = DrawTextLines(settings->text, blockRect, static_cast<int16_t>(settings->alignment));
    SetGWorld(savedPort, savedDevice);
    return result;
}
