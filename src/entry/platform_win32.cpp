// How the module is entered on Windows: the loader calls DllMain, and the
// command entry is exported as `main` by the module's .def file.
#include "module.h"
#include "../host/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return ModuleEntry(instance, reason, reserved);
}
