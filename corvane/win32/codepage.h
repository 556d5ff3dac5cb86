// Windows-1252, the code page of every string the stand-in's controls hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::win32 {

// Lower-case partner of a 1252 byte; other bytes unchanged.
uint8_t foldCase(uint8_t byte);

// Case-insensitive ordering and equality of 1252 strings: by the lower-cased
// byte values, shorter first when one is a prefix of the other.
int compareNoCase(std::string_view a, std::string_view b);
bool equalNoCase(std::string_view a, std::string_view b);

// UTF-16 (as dialog templates store text) to 1252; characters 1252 cannot
// hold become '?'.
std::string utf16ToCp1252(std::u16string_view text);

} // namespace corvane::win32
