// In-place conversion between zero-terminated and length-prefixed strings.
#include "internal.h"

#include <cstring>

using namespace corvane1;

extern "C" {

char *c2pstr(char *s)
{
    enterCall();
    if (!s)
        return nullptr;
    // A length byte holds at most 255: longer text is cut there.
    size_t len = std::strlen(s);
    if (len > 255)
        len = 255;
    std::memmove(s + 1, s, len);
    s[0] = static_cast<char>(len);
    return s;
}

char *p2cstr(unsigned char *s)
{
    enterCall();
    if (!s)
        return nullptr;
    size_t len = s[0];
    std::memmove(s, s + 1, len);
    s[len] = 0;
    return reinterpret_cast<char *>(s);
}

} // extern "C"
