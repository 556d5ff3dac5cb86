#include "dialog_template.h"

#include "byte_reader.h"
#include "codepage.h"

#include <string_view>

namespace corvane::win32 {
namespace {

constexpr uint32_t kDsSetFont = 0x40; // also part of DS_SHELLFONT

std::u16string wideString(ByteCursor &r, const char *what, std::u16string s = {})
{
    for (char16_t c = r.u16(what); c != 0; c = r.u16(what))
        s.push_back(c);
    return s;
}

// sz_Or_Ord: 0 for none, 0xFFFF and an ordinal, or a string.
struct NameOrOrdinal {
    bool present = false;
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::string name;
};

NameOrOrdinal nameOrOrdinal(ByteCursor &r, const char *what)
{
    NameOrOrdinal n;
    const uint16_t first = r.u16(what);
    if (first == 0)
        return n;
    n.present = true;
    if (first == 0xFFFF) {
        n.isOrdinal = true;
        n.ordinal = r.u16(what);
        return n;
    }
    n.name = utf16ToCp1252(wideString(r, what, std::u16string(1, static_cast<char16_t>(first))));
    return n;
}

DialogTemplate parse(std::span<const uint8_t> bytes)
{
    ByteCursor r(bytes, "dialog template");
    DialogTemplate t;
    const uint16_t version = r.u16("the header");
    const uint16_t signature = r.u16("the header");
    if (version != 1 || signature != 0xFFFF)
        throw TemplateError("not an extended dialog template (version " + std::to_string(version) + ", signature " +
                            std::to_string(signature) + ")");
    t.helpId = r.u32("the header");
    t.exStyle = r.u32("the header");
    t.style = r.u32("the header");
    const uint16_t count = r.u16("the header");
    t.x = r.i16("the header");
    t.y = r.i16("the header");
    t.cx = r.i16("the header");
    t.cy = r.i16("the header");

    t.hasMenu = nameOrOrdinal(r, "the menu name").present;
    t.hasClass = nameOrOrdinal(r, "the class name").present;
    t.title = utf16ToCp1252(wideString(r, "the title"));

    if ((t.style & kDsSetFont) != 0) {
        t.hasFont = true;
        t.pointSize = r.u16("the font");
        t.weight = r.u16("the font");
        t.italic = r.u8("the font");
        t.charSet = r.u8("the font");
        t.typeface = utf16ToCp1252(wideString(r, "the font name"));
    }

    t.items.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        r.alignTo4();
        const std::string what = "control " + std::to_string(i + 1);
        ItemTemplate item;
        item.helpId = r.u32(what.c_str());
        item.exStyle = r.u32(what.c_str());
        item.style = r.u32(what.c_str());
        item.x = r.i16(what.c_str());
        item.y = r.i16(what.c_str());
        item.cx = r.i16(what.c_str());
        item.cy = r.i16(what.c_str());
        item.id = r.u32(what.c_str());

        const auto cls = nameOrOrdinal(r, what.c_str());
        if (!cls.present)
            throw TemplateError(what + " names no window class");
        item.classIsOrdinal = cls.isOrdinal;
        item.classOrdinal = cls.ordinal;
        item.className = cls.name;

        const auto title = nameOrOrdinal(r, what.c_str());
        item.titleIsOrdinal = title.isOrdinal;
        item.titleOrdinal = title.ordinal;
        item.title = title.name;

        const uint16_t extra = r.u16(what.c_str());
        const auto data = r.take(extra, what.c_str());
        item.creationData.assign(data.begin(), data.end());
        t.items.push_back(std::move(item));
    }
    return t;
}

} // namespace

DialogTemplate parseDialogTemplate(std::span<const uint8_t> bytes)
{
    try {
        return parse(bytes);
    } catch (const FormatError &e) {
        throw TemplateError(e.what());
    }
}

} // namespace corvane::win32
