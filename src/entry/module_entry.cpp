#include "module.h"

extern "C" {

void *gModuleHandle = nullptr;

int32_t ModuleEntry(void *instance, uint32_t reason, void *)
{
    // Attach is the only moment the handle is known; nothing is released on
    // detach because nothing was acquired.
    if (reason == 1)
        gModuleHandle = instance;
    return 1;
}

} // extern "C"
