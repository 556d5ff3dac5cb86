#include "codepage.h"

#include "corvane1_ext.h"

namespace corvane::win32 {

uint8_t foldCase(uint8_t b)
{
    return CorvaneCp1252Fold(b);
}

int compareNoCase(std::string_view a, std::string_view b)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = foldCase(static_cast<uint8_t>(a[i]));
        const int cb = foldCase(static_cast<uint8_t>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && compareNoCase(a, b) == 0;
}

std::string utf16ToCp1252(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i; // a surrogate pair stands for one character outside 1252
            out.push_back('?');
            continue;
        }
        const int32_t byte = CorvaneUnicodeToCp1252(c);
        out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    }
    return out;
}

} // namespace corvane::win32
