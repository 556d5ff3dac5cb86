// The GDI entry points: the display's device context and font enumeration.
#include "codepage.h"
#include "corvane1_ext.h"
#include "state.h"

#include <algorithm>
#include <cstring>

using namespace corvane::win32;

namespace {

struct DeviceContext {
    int32_t unused = 0;
};

// What a TrueType enumeration hands over in place of the plain metrics.
struct NewTextMetricA {
    TEXTMETRICA tm;
    DWORD ntmFlags;
    UINT ntmSizeEM;
    UINT ntmCellHeight;
    UINT ntmAvgWidth;
};

void copyBounded(std::string_view from, char *to, size_t size)
{
    const size_t n = std::min(from.size(), size - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

std::string bounded(const char *s, size_t size)
{
    return std::string(s, strnlen(s, size));
}

void describe(const FontEntry &font, ENUMLOGFONTA &elf, NewTextMetricA &ntm)
{
    const bool trueType = (font.fontType & TRUETYPE_FONTTYPE) != 0;
    LOGFONTA &lf = elf.elfLogFont;
    lf.lfHeight = 16;
    lf.lfWeight = 400;
    lf.lfCharSet = font.charSet;
    lf.lfOutPrecision = trueType ? 3 : 1; // stroke precision for outlines, string for bitmaps
    lf.lfClipPrecision = 2;
    lf.lfQuality = 1;
    lf.lfPitchAndFamily = 2; // variable pitch
    copyBounded(font.faceName, lf.lfFaceName, sizeof lf.lfFaceName);
    copyBounded(font.fullName, reinterpret_cast<char *>(elf.elfFullName), sizeof elf.elfFullName);
    copyBounded("Regular", reinterpret_cast<char *>(elf.elfStyle), sizeof elf.elfStyle);

    TEXTMETRICA &tm = ntm.tm;
    tm.tmHeight = 16;
    tm.tmAscent = 13;
    tm.tmDescent = 3;
    tm.tmAveCharWidth = 7;
    tm.tmMaxCharWidth = 16;
    tm.tmWeight = 400;
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFF;
    tm.tmDefaultChar = 0x1F;
    tm.tmBreakChar = 0x20;
    tm.tmPitchAndFamily = trueType ? 0x07 : 0x01; // fixed-pitch bit clear means variable; vector and TrueType bits
    tm.tmCharSet = font.charSet;
    ntm.ntmSizeEM = trueType ? 2048 : 0;
    ntm.ntmCellHeight = 16;
    ntm.ntmAvgWidth = 7;
}

} // namespace

namespace corvane::win32 {

std::vector<FontEntry> currentFonts()
{
    if (standIn().fontList)
        return *standIn().fontList;
    std::vector<FontEntry> fonts;
    const int32_t count = CorvaneFontCount();
    for (int32_t i = 0; i < count; ++i) {
        CorvaneFontDesc desc{};
        if (CorvaneGetFontDesc(i, &desc) != 0)
            continue;
        FontEntry e;
        e.faceName = bounded(desc.faceName, sizeof desc.faceName);
        e.fullName = bounded(desc.fullName, sizeof desc.fullName);
        e.charSet = static_cast<uint8_t>(desc.charSet);
        e.fontType = desc.scalable ? TRUETYPE_FONTTYPE : RASTER_FONTTYPE;
        // One entry per face, as an enumeration without a face name gives.
        const bool seen = std::any_of(fonts.begin(), fonts.end(),
                                      [&](const FontEntry &f) { return equalNoCase(f.faceName, e.faceName); });
        if (!seen)
            fonts.push_back(std::move(e));
    }
    return fonts;
}

void setFontList(std::vector<FontEntry> fonts)
{
    standIn().fontList = std::move(fonts);
}

void useLibraryFonts()
{
    standIn().fontList.reset();
}

void setCreateDCFails(bool fails)
{
    standIn().createDCFails = fails;
}

int32_t liveDeviceContexts()
{
    return static_cast<int32_t>(standIn().deviceContexts.size());
}

} // namespace corvane::win32

extern "C" {

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR, LPCSTR, const void *)
{
    try {
        // Only the display: the stand-in has no printers.
        if (standIn().createDCFails || !driver || !equalNoCase(driver, "DISPLAY"))
            return nullptr;
        auto *dc = new DeviceContext;
        standIn().deviceContexts.insert(dc);
        return reinterpret_cast<HDC>(dc);
    } catch (...) {
        return nullptr;
    }
}

BOOL WINAPI DeleteDC(HDC dc)
{
    auto *context = reinterpret_cast<DeviceContext *>(dc);
    if (!dc || !standIn().deviceContexts.erase(context))
        return FALSE;
    delete context;
    return TRUE;
}

int WINAPI EnumFontsA(HDC dc, LPCSTR face, FONTENUMPROCA proc, LPARAM data)
{
    if (!dc || !proc || !standIn().deviceContexts.count(dc))
        return 0;
    std::vector<FontEntry> fonts;
    try {
        fonts = currentFonts();
    } catch (...) {
        return 0;
    }
    int last = 1;
    for (const FontEntry &font : fonts) {
        if (face && *face && !equalNoCase(font.faceName.substr(0, LF_FACESIZE - 1), face))
            continue;
        ENUMLOGFONTA elf{};
        NewTextMetricA ntm{};
        describe(font, elf, ntm);
        last = proc(&elf.elfLogFont, &ntm.tm, font.fontType, data);
        if (last == 0)
            break; // the callback stops the enumeration
    }
    return last;
}

} // extern "C"
