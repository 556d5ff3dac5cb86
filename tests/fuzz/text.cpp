// Text crossing between the user's UTF-8, the templates' UTF-16 and the
// module's Windows-1252: every conversion either refuses with a message or
// gives text that converts back to what it was.
#include "require.h"
#include "text/encoding.h"

#include <cstdint>
#include <span>
#include <string>

using qmtest::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace corvane::text;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    // Every 1252 byte has a character, so 1252 text survives the round trip.
    require(utf8ToCp1252(cp1252ToUtf8(bytes)) == bytes, "1252 text changed on a round trip");
    const auto cp1252 = tryUtf8ToCp1252(bytes);
    try {
        require(utf8ToCp1252(bytes) == cp1252, "the two UTF-8 conversions disagree");
        require(cp1252ToUtf8(*cp1252) == bytes, "UTF-8 text changed on a round trip");
    } catch (const EncodingError &) {
        require(!cp1252, "one UTF-8 conversion refused what the other took");
    }

    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    require(utf16ToCp1252(units).size() <= units.size(), "more 1252 bytes than UTF-16 units");
    // Every unit becomes at most three UTF-8 bytes (a pair, four for two).
    require(utf16leToUtf8(std::span<const uint8_t>(data, size / 2 * 2)).size() <= 3 * units.size(),
            "more UTF-8 bytes than UTF-16 can give");
    return 0;
}
