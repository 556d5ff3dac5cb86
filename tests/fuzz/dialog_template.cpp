// Dialog templates as a module's resources may hold them: parsed, and when
// well-formed run as a dialog that the user walks away from. Every fault
// must be a TemplateError or a refused dialog; no window may be left.
#include "dialog_template.h"
#include "scripted_user.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace corvane::win32;
    const std::span<const uint8_t> bytes(data, size);
    try {
        parseDialogTemplate(bytes);
    } catch (const TemplateError &) {
        return 0;
    }
    runDialogTemplate(bytes, nullptr, nullptr, 0);
    clearDialogReports();
    if (liveWindows() != 0) {
        std::fprintf(stderr, "fault: a window outlived its dialog\n");
        std::abort();
    }
    return 0;
}
