// Bounds-checked little-endian reads shared by the .res and PE parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace corvane::detail {

[[noreturn]] inline void fail(const std::string &what)
{
    throw std::runtime_error(what);
}

// True when [offset, offset + size) lies inside `total` bytes, without
// overflowing.
inline bool fits(size_t total, size_t offset, size_t size)
{
    return offset <= total && size <= total - offset;
}

inline std::span<const uint8_t> slice(std::span<const uint8_t> bytes, size_t offset, size_t size, const char *what)
{
    if (!fits(bytes.size(), offset, size)) {
        fail(std::string(what) + ": " + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
             " run past the end (" + std::to_string(bytes.size()) + " bytes)");
    }
    return bytes.subspan(offset, size);
}

inline uint16_t read16(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    auto b = slice(bytes, offset, 2, what);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t read32(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    auto b = slice(bytes, offset, 4, what);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

// Appends one UTF-16 code unit sequence as UTF-8; an unpaired surrogate
// becomes U+FFFD.
inline void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes `count` UTF-16LE code units starting at `offset`.
inline std::string utf16ToUtf8(std::span<const uint8_t> bytes, size_t offset, size_t count, const char *what)
{
    auto units = slice(bytes, offset, count * 2, what);
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t u = units[2 * i] | (units[2 * i + 1] << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < count) {
            uint32_t low = units[2 * i + 2] | (units[2 * i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}

} // namespace corvane::detail
