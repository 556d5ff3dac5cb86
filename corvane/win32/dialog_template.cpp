#include "dialog_template.h"

#include "codepage.h"

#include <string_view>

namespace corvane::win32 {
namespace {

constexpr uint32_t kDsSetFont = 0x40; // also part of DS_SHELLFONT

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t offset() const { return pos_; }

    void need(size_t n, const char *what) const
    {
        if (bytes_.size() - pos_ < n)
            throw TemplateError(std::string("dialog template ends inside ") + what + " at byte " +
                                std::to_string(pos_));
    }
    uint8_t u8(const char *what)
    {
        need(1, what);
        return bytes_[pos_++];
    }
    uint16_t u16(const char *what)
    {
        need(2, what);
        const uint16_t v = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    uint32_t u32(const char *what)
    {
        const uint32_t lo = u16(what);
        const uint32_t hi = u16(what);
        return lo | (hi << 16);
    }
    int16_t i16(const char *what) { return static_cast<int16_t>(u16(what)); }

    std::u16string wideString(const char *what)
    {
        std::u16string s;
        for (;;) {
            const char16_t c = u16(what);
            if (c == 0)
                return s;
            s.push_back(c);
        }
    }

    // sz_Or_Ord: 0 for none, 0xFFFF and an ordinal, or a string.
    struct NameOrOrdinal {
        bool present = false;
        bool isOrdinal = false;
        uint16_t ordinal = 0;
        std::string name;
    };
    NameOrOrdinal nameOrOrdinal(const char *what)
    {
        NameOrOrdinal r;
        need(2, what);
        const uint16_t first = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        if (first == 0) {
            pos_ += 2;
            return r;
        }
        r.present = true;
        if (first == 0xFFFF) {
            pos_ += 2;
            r.isOrdinal = true;
            r.ordinal = u16(what);
            return r;
        }
        r.name = utf16ToCp1252(wideString(what));
        return r;
    }

    // Items start on 4-byte boundaries, counted from the template's start.
    void alignTo4()
    {
        const size_t aligned = (pos_ + 3) & ~size_t{3};
        pos_ = aligned <= bytes_.size() ? aligned : bytes_.size();
    }

    void skip(size_t n, const char *what)
    {
        need(n, what);
        pos_ += n;
    }
    std::span<const uint8_t> take(size_t n, const char *what)
    {
        need(n, what);
        auto s = bytes_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

} // namespace

DialogTemplate parseDialogTemplate(std::span<const uint8_t> bytes)
{
    Reader r(bytes);
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

    t.hasMenu = r.nameOrOrdinal("the menu name").present;
    t.hasClass = r.nameOrOrdinal("the class name").present;
    t.title = utf16ToCp1252(r.wideString("the title"));

    if ((t.style & kDsSetFont) != 0) {
        t.hasFont = true;
        t.pointSize = r.u16("the font");
        t.weight = r.u16("the font");
        t.italic = r.u8("the font");
        t.charSet = r.u8("the font");
        t.typeface = utf16ToCp1252(r.wideString("the font name"));
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

        const auto cls = r.nameOrOrdinal(what.c_str());
        if (!cls.present)
            throw TemplateError(what + " names no window class");
        item.classIsOrdinal = cls.isOrdinal;
        item.classOrdinal = cls.ordinal;
        item.className = cls.name;

        const auto title = r.nameOrOrdinal(what.c_str());
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

} // namespace corvane::win32
