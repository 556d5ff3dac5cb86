// A stored settings record as a project or another tool may hand it over:
// presented to the module through instance re-setup, then, when accepted,
// rendered and shown in the options dialog, which the user cancels. The
// bytes after the record choose the render's settings. Every path must end
// with the module's own answer and with nothing held: no handle, lock,
// world, port, window or device context.
#include "require.h"
#include "host.h"
#include "record/stored_record.h"
#include "scripted_user.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

corvane::Host &host()
{
    static corvane::Host *h = [] {
        auto *made = new corvane::Host(QM_MODULE_PATH);
        if (made->globalSetup() != 0 || made->paramSetup() != 0) {
            std::fprintf(stderr, "global or parameter setup failed: %s\n", made->message().c_str());
            std::abort();
        }
        return made;
    }();
    return *h;
}

} // namespace

using qmtest::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace corvane;
    Host &h = host();
    const LiveCounts before = h.live();
    constexpr size_t kSize = record::kStoredSize;
    std::vector<uint8_t> stored(data, data + std::min(size, kSize));
    stored.resize(kSize);
    const auto extra = [&](size_t i) -> uint8_t { return kSize + i < size ? data[kSize + i] : 0; };

    // The codec reads any bytes; what it encodes again decodes to the same fields.
    const record::Fields fields = record::decode(stored);
    try {
        require(record::decode(record::encode(fields)) == fields, "a record's fields changed on a round trip");
    } catch (const std::invalid_argument &) {
        // a text that fills its field has no room for a terminator
    }

    // Relocation stress when asked: the record and every unlocked block move
    // on each porting-library call.
    Host::setPortingHeapScramble(extra(0) & 1);
    Instance &instance = h.newInstance();
    instance.setStoredRecord(stored);
    if (instance.resetup() == 0 && instance.hasRecord()) {
        RenderSettings settings;
        settings.size = extra(1) % 96;
        settings.quality = extra(0) & 2 ? 0 : 1;
        settings.composite = extra(0) & 4;
        settings.x = (extra(2) % 64) << 16;
        settings.y = (extra(3) % 32) << 16;
        settings.downsampleXDen = 1 + (extra(0) >> 6);
        World input(64, 32, {255, 40, 80, 120});
        World output(64, 32);
        instance.render(settings, input, output);
        win32::queueScript(win32::Script().cancel());
        instance.options();
        win32::clearScripts();
        win32::clearDialogReports();
    }
    h.removeInstance(instance);
    Host::setPortingHeapScramble(false);

    require(h.live() == before, "something acquired was not released");
    require(h.misuses().empty(), "the module misused a host service");
    require(win32::liveWindows() == 0 && win32::liveDeviceContexts() == 0, "a window or device context was left");
    return 0;
}
