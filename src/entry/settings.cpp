#include "settings.h"

namespace {

void reverseBytes(char *p, int n)
{
    for (int i = 0, j = n - 1; i < j; ++i, --j) {
        char t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

} // namespace

extern "C" void swapSettings(Handle settings)
{
    char *record = *settings;
    // An empty handle has no record to convert; the handlers report it.
    if (!record)
        return;
    reverseBytes(record + offsetof(TextSettings, magic), 4);
    reverseBytes(record + offsetof(TextSettings, version), 2);
    reverseBytes(record + offsetof(TextSettings, style), 2);
    reverseBytes(record + offsetof(TextSettings, alignment), 2);
}
