// The settings record as the host keeps it between commands, read and
// written by field name: 522 bytes, numbers big-endian, the text
// zero-terminated and the font name length-prefixed. The command line,
// tests and benchmarks go through here, so no offset is written anywhere
// else outside the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvane::record {

inline constexpr size_t kStoredSize = 522;
inline constexpr uint32_t kMagic = 0x00FF2BED;
inline constexpr uint16_t kVersion = 0x0100;

enum class Field { Magic, Version, Text, FontName, Style, Alignment };

// Where a field's bytes begin.
size_t offsetOf(Field field);
// A field's bytes, for inspecting or damaging a record byte by byte.
std::span<uint8_t> bytesOf(std::vector<uint8_t> &stored, Field field);
std::span<const uint8_t> bytesOf(std::span<const uint8_t> stored, Field field);

struct Fields {
    uint32_t magic = kMagic;
    uint16_t version = kVersion;
    std::string text = {};     // without its terminator; lines end with CR
    std::string fontName = {}; // without its length byte
    uint16_t style = 0;
    uint16_t alignment = 0;
    bool operator==(const Fields &) const = default;
};

// Every byte the fields do not use is zero, so `encode({})` is a new
// record. Throws std::invalid_argument for a string longer than 255 bytes
// or a text holding a zero byte.
std::vector<uint8_t> encode(const Fields &fields);
// Throws std::invalid_argument unless given exactly kStoredSize bytes. A
// text without a terminator fills its whole field.
Fields decode(std::span<const uint8_t> stored);

} // namespace corvane::record
