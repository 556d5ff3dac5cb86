// Windows-1252, the code page of every 8-bit text the library sees.
#include "internal.h"
#include "corvane1_ext.h"

namespace corvane1 {
namespace {

// 0x80..0x9F; the five bytes 1252 leaves undefined map to the C1 control of
// the same value, as the system's own conversion does.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

uint32_t cp1252ToUnicode(uint8_t byte)
{
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
}

int32_t unicodeToCp1252(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int32_t>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp)
            return 0x80 + i;
    return -1;
}

uint8_t cp1252Fold(uint8_t b)
{
    if (b >= 'A' && b <= 'Z')
        return b + 0x20;
    if (b >= 0xC0 && b <= 0xDE && b != 0xD7)
        return b + 0x20;
    switch (b) {
    case 0x8A:
        return 0x9A; // S caron
    case 0x8C:
        return 0x9C; // OE
    case 0x8E:
        return 0x9E; // Z caron
    case 0x9F:
        return 0xFF; // Y diaeresis
    default:
        return b;
    }
}

} // namespace corvane1

uint32_t CorvaneCp1252ToUnicode(uint8_t byte)
{
    return corvane1::cp1252ToUnicode(byte);
}
int32_t CorvaneUnicodeToCp1252(uint32_t codePoint)
{
    return corvane1::unicodeToCp1252(codePoint);
}
uint8_t CorvaneCp1252Fold(uint8_t byte)
{
    return corvane1::cp1252Fold(byte);
}
