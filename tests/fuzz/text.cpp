// Text crossing between the user's UTF-8, the templates' UTF-16 and the
// module's Windows-1252: every conversion either refuses with a message or
// gives text that converts back to what it was.
#include "byte_reader.h"
#include "codepage.h"
#include "host.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace {

void require(bool held, const char *what)
{
    if (!held) {
        std::fprintf(stderr, "fault: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    // Every 1252 byte has a character, so 1252 text survives the round trip.
    require(corvane::utf8ToCp1252(corvane::cp1252ToUtf8(bytes)) == bytes, "1252 text changed on a round trip");
    try {
        const std::string cp1252 = corvane::utf8ToCp1252(bytes);
        require(corvane::cp1252ToUtf8(cp1252) == bytes, "UTF-8 text changed on a round trip");
    } catch (const corvane::HostError &) {
    }

    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    require(corvane::win32::utf16ToCp1252(units).size() <= units.size(), "more 1252 bytes than UTF-16 units");
    corvane::detail::utf16ToUtf8(std::span<const uint8_t>(data, size), 0, size / 2, "fuzzed text");
    return 0;
}
