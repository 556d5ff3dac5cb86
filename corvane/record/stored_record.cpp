#include "stored_record.h"

#include <algorithm>
#include <stdexcept>

namespace corvane::record {
namespace {

struct Extent {
    size_t offset, size;
};

constexpr Extent extentOf(Field field)
{
    switch (field) {
    case Field::Magic:
        return {0, 4};
    case Field::Version:
        return {4, 2};
    case Field::Text:
        return {6, 256};
    case Field::FontName:
        return {262, 256};
    case Field::Style:
        return {518, 2};
    case Field::Alignment:
        return {520, 2};
    }
    return {0, 0};
}
static_assert(extentOf(Field::Alignment).offset + extentOf(Field::Alignment).size == kStoredSize);

constexpr size_t kLongestString = 255;

uint32_t readNumber(std::span<const uint8_t> bytes)
{
    uint32_t v = 0;
    for (uint8_t b : bytes)
        v = v << 8 | b;
    return v;
}

void writeNumber(std::span<uint8_t> bytes, uint32_t v)
{
    for (size_t i = bytes.size(); i-- > 0; v >>= 8)
        bytes[i] = static_cast<uint8_t>(v);
}

void checkLength(const std::string &s, const char *what)
{
    if (s.size() > kLongestString)
        throw std::invalid_argument(std::string("a settings record's ") + what + " holds at most 255 bytes, not " +
                                    std::to_string(s.size()));
}

template <class Byte> std::span<Byte> fieldOf(std::span<Byte> stored, Field field)
{
    if (stored.size() != kStoredSize)
        throw std::invalid_argument("a stored settings record is " + std::to_string(kStoredSize) + " bytes, not " +
                                    std::to_string(stored.size()));
    return stored.subspan(extentOf(field).offset, extentOf(field).size);
}

} // namespace

size_t offsetOf(Field field)
{
    return extentOf(field).offset;
}

std::span<uint8_t> bytesOf(std::vector<uint8_t> &stored, Field field)
{
    return fieldOf(std::span<uint8_t>(stored), field);
}

std::span<const uint8_t> bytesOf(std::span<const uint8_t> stored, Field field)
{
    return fieldOf(stored, field);
}

std::vector<uint8_t> encode(const Fields &fields)
{
    checkLength(fields.text, "text");
    checkLength(fields.fontName, "font name");
    if (fields.text.find('\0') != std::string::npos)
        throw std::invalid_argument("a settings record's text ends at its first zero byte");
    std::vector<uint8_t> stored(kStoredSize, 0);
    writeNumber(bytesOf(stored, Field::Magic), fields.magic);
    writeNumber(bytesOf(stored, Field::Version), fields.version);
    std::ranges::copy(fields.text, bytesOf(stored, Field::Text).begin());
    const auto font = bytesOf(stored, Field::FontName);
    font[0] = static_cast<uint8_t>(fields.fontName.size());
    std::ranges::copy(fields.fontName, font.begin() + 1);
    writeNumber(bytesOf(stored, Field::Style), fields.style);
    writeNumber(bytesOf(stored, Field::Alignment), fields.alignment);
    return stored;
}

Fields decode(std::span<const uint8_t> stored)
{
    Fields f;
    f.magic = readNumber(bytesOf(stored, Field::Magic));
    f.version = static_cast<uint16_t>(readNumber(bytesOf(stored, Field::Version)));
    const auto text = bytesOf(stored, Field::Text);
    f.text.assign(text.begin(), std::ranges::find(text, 0));
    const auto font = bytesOf(stored, Field::FontName);
    f.fontName.assign(font.begin() + 1, font.begin() + 1 + font[0]);
    f.style = static_cast<uint16_t>(readNumber(bytesOf(stored, Field::Style)));
    f.alignment = static_cast<uint16_t>(readNumber(bytesOf(stored, Field::Alignment)));
    return f;
}

} // namespace corvane::record
