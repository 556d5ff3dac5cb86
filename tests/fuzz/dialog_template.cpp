// Dialog templates as a module's resources may hold them: parsed, and when
// well-formed run as a dialog that the user walks away from. Every fault
// must be a TemplateError or a refused dialog; no window may be left.
#include "require.h"
#include "dialog_template.h"
#include "scripted_user.h"

#include <cstdint>
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
    qmtest::require(liveWindows() == 0, "a window outlived its dialog");
    return 0;
}
