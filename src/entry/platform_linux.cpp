// How the module is entered on Linux: the loader has no entry point with a
// reason code, so a load-time constructor makes the attach call, and the
// command entry is exported under the symbol name `main`.
#include "module.h"
#include "../host/win32.h"

extern "C" {

// The compiled resources, linked in from the resource compiler's output.
extern const uint8_t qmResourceBlob[];
extern const uint32_t qmResourceBlobSize;

__attribute__((visibility("default"))) int32_t QmExportedMain(int32_t command, HostInData *in, HostOutData *out,
                                                              ParamDef **params, EffectWorld *output) __asm__("main");

int32_t QmExportedMain(int32_t command, HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    return EffectMain(command, in, out, params, output);
}

} // extern "C"

namespace {

QmModuleDescriptor gDescriptor;

__attribute__((constructor)) void AttachModule()
{
    gDescriptor.magic = QM_MODULE_DESCRIPTOR_MAGIC;
    gDescriptor.resourceSize = qmResourceBlobSize;
    gDescriptor.resources = qmResourceBlob;
    ModuleEntry(&gDescriptor, 1, nullptr);
}

} // namespace
