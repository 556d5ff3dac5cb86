#include "encoding.h"

#include <cstdio>

namespace corvane::text {
namespace {

// 0x80..0x9F; the rest of 1252 is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum class Fault { None, Stray, NotContinued, CutShort, Overlong, Surrogate, TooLarge };

// One UTF-8 character at a position: its value and the bytes it took, or
// the fault (for NotContinued and CutShort, `length` is where it showed).
struct Step {
    char32_t c = 0;
    size_t length = 1;
    Fault fault = Fault::None;
};

Step decodeAt(std::string_view s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t lead = byte(i);
    size_t length = 0;
    if (lead < 0x80)
        return {lead, 1};
    char32_t c = 0;
    if (lead >= 0xC0 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        length = 4;
        c = lead & 0x07;
    } else {
        return {0, 1, Fault::Stray};
    }
    for (size_t k = 1; k < length; ++k) {
        if (i + k >= s.size())
            return {0, k, Fault::CutShort};
        if ((byte(i + k) & 0xC0) != 0x80)
            return {0, k, Fault::NotContinued};
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // The least value each length may carry; anything less is overlong.
    constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length])
        return {c, length, Fault::Overlong};
    if (c >= 0xD800 && c <= 0xDFFF)
        return {c, length, Fault::Surrogate};
    if (c > 0x10FFFF)
        return {c, length, Fault::TooLarge};
    return {c, length};
}

std::string codePoint(char32_t c)
{
    char s[16];
    std::snprintf(s, sizeof s, "U+%04X", static_cast<unsigned>(c));
    return s;
}

std::string hexBytes(std::string_view bytes)
{
    std::string out;
    for (char b : bytes) {
        char s[8];
        std::snprintf(s, sizeof s, "%s0x%02X", out.empty() ? "" : " ", static_cast<uint8_t>(b));
        out += s;
    }
    return out;
}

std::string describeFault(std::string_view s, size_t i, const Step &step)
{
    const std::string at = " at position " + std::to_string(i);
    const std::string bytes = hexBytes(s.substr(i, step.length));
    switch (step.fault) {
    case Fault::Stray:
        return "byte " + bytes + at + " starts no character";
    case Fault::NotContinued:
        return "byte " + hexBytes(s.substr(i + step.length, 1)) + " at position " + std::to_string(i + step.length) +
               " does not continue the character begun" + at;
    case Fault::CutShort:
        return "the character begun by byte " + hexBytes(s.substr(i, 1)) + at + " is cut short";
    case Fault::Overlong:
        return "bytes " + bytes + at + " are an overlong form of " + codePoint(step.c);
    case Fault::Surrogate:
        return "bytes " + bytes + at + " encode the surrogate " + codePoint(step.c);
    case Fault::TooLarge:
        return "bytes " + bytes + at + " encode " + codePoint(step.c) + ", past U+10FFFF";
    case Fault::None:
        break;
    }
    return {};
}

// Controls are not shown as themselves.
std::string describeCharacter(char32_t c, std::string_view utf8)
{
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return codePoint(c);
    return "\"" + std::string(utf8) + "\" (" + codePoint(c) + ")";
}

// Converts up to the first refusal; `why`, when given, learns what it was.
bool convertUtf8(std::string_view utf8, std::string &out, std::string *why)
{
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const Step step = decodeAt(utf8, i);
        if (step.fault != Fault::None) {
            if (why)
                *why = "not valid UTF-8: " + describeFault(utf8, i, step);
            return false;
        }
        const auto byte = unicodeToCp1252(step.c);
        if (!byte) {
            if (why)
                *why = "the character " + describeCharacter(step.c, utf8.substr(i, step.length)) + " at position " +
                       std::to_string(i) + " cannot be written in Windows-1252, the module's code page";
            return false;
        }
        out += static_cast<char>(*byte);
        i += step.length;
    }
    return true;
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Hands each character of `count` code units, read by `unit`, to `emit`.
template <class Unit, class Emit> void decodeUtf16(size_t count, Unit unit, Emit emit)
{
    for (size_t i = 0; i < count; ++i) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < count) {
            const char32_t low = unit(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                emit(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        emit(u >= 0xD800 && u < 0xE000 ? char32_t{0xFFFD} : u);
    }
}

} // namespace

char32_t cp1252ToUnicode(uint8_t byte)
{
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
}

std::optional<uint8_t> unicodeToCp1252(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<uint8_t>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c)
            return static_cast<uint8_t>(0x80 + i);
    return std::nullopt;
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

std::string utf8ToCp1252(std::string_view utf8)
{
    std::string out, why;
    if (!convertUtf8(utf8, out, &why))
        throw EncodingError(why);
    return out;
}

std::optional<std::string> tryUtf8ToCp1252(std::string_view utf8)
{
    std::string out;
    if (!convertUtf8(utf8, out, nullptr))
        return std::nullopt;
    return out;
}

std::string utf8ToCp1252Replacing(std::string_view utf8, char replacement, size_t *replaced)
{
    std::string out;
    out.reserve(utf8.size());
    size_t count = 0;
    for (size_t i = 0; i < utf8.size();) {
        const Step step = decodeAt(utf8, i);
        const auto byte = step.fault == Fault::None ? unicodeToCp1252(step.c) : std::nullopt;
        count += !byte;
        out += byte ? static_cast<char>(*byte) : replacement;
        // A broken sequence ends where it showed, so the byte that broke it
        // is read again as a character of its own.
        i += step.length;
    }
    if (replaced)
        *replaced = count;
    return out;
}

std::string cp1252ToUtf8(std::string_view cp1252)
{
    std::string out;
    out.reserve(cp1252.size() * 2);
    for (char b : cp1252)
        appendUtf8(out, cp1252ToUnicode(static_cast<uint8_t>(b)));
    return out;
}

std::string utf16leToUtf8(std::span<const uint8_t> units)
{
    if (units.size() % 2)
        throw EncodingError("UTF-16 text of " + std::to_string(units.size()) + " bytes ends in half a code unit");
    std::string out;
    decodeUtf16(
        units.size() / 2, [&](size_t i) { return char32_t(units[2 * i] | (units[2 * i + 1] << 8)); },
        [&](char32_t c) { appendUtf8(out, c); });
    return out;
}

std::string utf16ToCp1252(std::u16string_view text, char replacement)
{
    std::string out;
    out.reserve(text.size());
    decodeUtf16(
        text.size(), [&](size_t i) { return char32_t{text[i]}; },
        [&](char32_t c) { out += static_cast<char>(unicodeToCp1252(c).value_or(static_cast<uint8_t>(replacement))); });
    return out;
}

} // namespace corvane::text
