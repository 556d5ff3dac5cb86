// Windows-1252, the code page of the module's 8-bit text.
#include "host.h"
#include "corvane1_ext.h"

#include <cstdio>

namespace corvane {
namespace {

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string describe(char32_t c, const std::string &utf8)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    // Controls are not shown as themselves.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return code;
    return "\"" + utf8 + "\" (" + code + ")";
}

} // namespace

std::string utf8ToCp1252(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    const auto *s = reinterpret_cast<const unsigned char *>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        size_t len = 0;
        char32_t c = 0;
        if (b < 0x80) {
            len = 1;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            c = b & 0x07;
        } else {
            throw HostError("text is not valid UTF-8 (byte " + std::to_string(i) + ")");
        }
        if (i + len > n)
            throw HostError("text is not valid UTF-8 (truncated character at byte " + std::to_string(i) + ")");
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                throw HostError("text is not valid UTF-8 (byte " + std::to_string(i + k) + ")");
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        const bool overlong = (len == 3 && c < 0x800) || (len == 4 && c < 0x10000);
        if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            throw HostError("text is not valid UTF-8 (byte " + std::to_string(i) + ")");
        const int32_t byte = CorvaneUnicodeToCp1252(c);
        if (byte < 0)
            throw HostError("the character " + describe(c, utf8.substr(i, len)) +
                            " cannot be written in Windows-1252, the module's code page");
        out += static_cast<char>(byte);
        i += len;
    }
    return out;
}

std::string cp1252ToUtf8(const std::string &cp1252)
{
    std::string out;
    out.reserve(cp1252.size() * 2);
    for (char ch : cp1252)
        appendUtf8(out, CorvaneCp1252ToUnicode(static_cast<uint8_t>(ch)));
    return out;
}

} // namespace corvane
