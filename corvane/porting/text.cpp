// Text state and drawing (interim: fonts not wired yet).
#include "internal.h"

using namespace corvane1;

extern "C" {

void GetFNum(const unsigned char *pascalName, int16_t *fontNum) {
    enterCall();
    (void)pascalName;
    if (fontNum)
        *fontNum = 0;
    setError(noErr);
}

void TextFont(int16_t font) {
    enterCall();
    currentPort()->text.font = font;
    setError(noErr);
}

void SetFractEnable(uint8_t on) {
    enterCall();
    (void)on;
}

void FontMetrics(FMetricRec *out) {
    enterCall();
    if (out)
        *out = FMetricRec{};
    setError(corvaneNoFontErr);
}

void GetFontInfo(FontInfo *out) {
    enterCall();
    if (out)
        *out = FontInfo{};
    setError(corvaneNoFontErr);
}

int16_t TextWidth(const void *text, int16_t firstByte, int16_t byteCount) {
    enterCall();
    (void)text;
    (void)firstByte;
    (void)byteCount;
    setError(corvaneNoFontErr);
    return 0;
}

void _DrawText(const void *text, int16_t firstByte, int16_t byteCount) {
    enterCall();
    (void)text;
    (void)firstByte;
    (void)byteCount;
    setError(corvaneNoFontErr);
}

int32_t CorvaneFontCount(void) { return 0; }

int32_t CorvaneGetFontDesc(int32_t index, CorvaneFontDesc *out) {
    (void)index;
    (void)out;
    return paramErr;
}

} // extern "C"
