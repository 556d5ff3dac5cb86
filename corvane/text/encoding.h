// Text encodings of the stand-ins: UTF-8 (the user's and fontconfig's),
// UTF-16 (resource names and dialog templates) and Windows-1252, the code
// page of every 8-bit text the module handles.
//
// One strictness everywhere: UTF-8 that is overlong, encodes a surrogate or
// a value past U+10FFFF, is cut short or has stray bytes is refused. UTF-16
// is read as Windows writes it, where an unpaired surrogate stands for
// U+FFFD. Positions in messages count bytes from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane::text {

// Names the offending character or byte and its position.
struct EncodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The character a 1252 byte stands for. The five bytes 1252 leaves
// unassigned map to the C1 controls of the same value, as the system's own
// conversion does.
char32_t cp1252ToUnicode(uint8_t byte);
// The 1252 byte of a character; none when the code page cannot hold it.
std::optional<uint8_t> unicodeToCp1252(char32_t c);
// Lower-case partner of a 1252 byte; other bytes unchanged.
uint8_t cp1252Fold(uint8_t byte);

// Throws EncodingError for invalid UTF-8 and for the first character 1252
// cannot hold.
std::string utf8ToCp1252(std::string_view utf8);
// The same without the reason: none on any refusal.
std::optional<std::string> tryUtf8ToCp1252(std::string_view utf8);
// For callers with no way to refuse: every character 1252 cannot hold, and
// every byte that starts no valid UTF-8 character, becomes `replacement`.
// `replaced`, when given, learns how many did.
std::string utf8ToCp1252Replacing(std::string_view utf8, char replacement = '?', size_t *replaced = nullptr);
std::string cp1252ToUtf8(std::string_view cp1252);

// Little-endian UTF-16 code units (an even number of bytes) to UTF-8.
std::string utf16leToUtf8(std::span<const uint8_t> units);
// Characters 1252 cannot hold become `replacement`, as in a Windows
// conversion with a default character.
std::string utf16ToCp1252(std::u16string_view text, char replacement = '?');

} // namespace corvane::text
