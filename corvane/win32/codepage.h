// Windows-1252, the code page of every string the stand-in's controls hold.
#pragma once

#include "text/encoding.h"

#include <string_view>

namespace corvane::win32 {

using text::cp1252Fold;
// Dialog templates store their text as UTF-16.
using text::utf16ToCp1252;

// Case-insensitive ordering and equality of 1252 strings: by the lower-cased
// byte values, shorter first when one is a prefix of the other.
int compareNoCase(std::string_view a, std::string_view b);
bool equalNoCase(std::string_view a, std::string_view b);

} // namespace corvane::win32
