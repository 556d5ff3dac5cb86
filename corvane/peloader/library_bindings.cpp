// Corvane1.dll and user32/gdi32: bound by name to the Linux porting library
// and the Win32 stand-in.
#include "host/porting.h"
#include "host/win32.h"

#include "host_imports.h"
#include "scripted_user.h"

#include <dlfcn.h>

#include <type_traits>

namespace corvane::pe {

namespace {

// The porting library's exports, from the module's own export list.
#define QM_BIND_PORTING_FUNCTION(n)                                                                                    \
    static_assert(!isStdcall(static_cast<decltype(&n)>(nullptr)), #n " is cdecl on both sides");
#define QM_BIND_PORTING_DATA(n) static_assert(!std::is_function_v<decltype(n)>, #n " is a data export");
#include "corvane1_exports.inc"
#undef QM_BIND_PORTING_FUNCTION
#undef QM_BIND_PORTING_DATA

const Binding kCorvane1[] = {
#define QM_BIND_PORTING_FUNCTION(n) Binding{#n, nullptr, 0},
#define QM_BIND_PORTING_DATA(n) Binding{#n, nullptr, 0, true},
#include "corvane1_exports.inc"
#undef QM_BIND_PORTING_FUNCTION
#undef QM_BIND_PORTING_DATA
};

#define QM_USER32(n)                                                                                                   \
    Binding                                                                                                            \
    {                                                                                                                  \
#n, nullptr, QM_CHECKED_STDCALL(kUser32Declared, #n, n)                                                        \
    }
#define QM_GDI32(n)                                                                                                    \
    Binding                                                                                                            \
    {                                                                                                                  \
#n, nullptr, QM_CHECKED_STDCALL(kGdi32Declared, #n, n)                                                         \
    }

const Binding kUser32[] = {
    QM_USER32(DialogBoxParamA),    QM_USER32(EndDialog),        QM_USER32(GetDlgItem),      QM_USER32(CheckDlgButton),
    QM_USER32(IsDlgButtonChecked), QM_USER32(CheckRadioButton), QM_USER32(SetDlgItemTextA), QM_USER32(GetDlgItemTextA),
    QM_USER32(SetFocus),           QM_USER32(SendMessageA),
};

const Binding kGdi32[] = {
    QM_GDI32(CreateDCA),
    QM_GDI32(DeleteDC),
    QM_GDI32(EnumFontsA),
};

decltype(&DialogBoxParamA) gStandInDialogBoxParam = nullptr;

// The module names itself by its image base, which only this loader knows:
// the stand-in is handed the resources read from the mapped image.
__attribute__((force_align_arg_pointer)) INT_PTR WINAPI dialogBoxParam(HINSTANCE instance, LPCSTR templateName,
                                                                       HWND owner, DLGPROC proc, LPARAM param)
{
    try {
        const PeImage *image = PeImage::fromBase(instance);
        if (!image)
            return gStandInDialogBoxParam(instance, templateName, owner, proc, param);
        return win32::dialogBoxFromResources(image->resources(), templateName, owner, proc, param);
    } catch (...) {
        return -1; // DialogBoxParamA's failure value
    }
}
static_assert(argBytes(&dialogBoxParam) == argBytes(static_cast<decltype(&DialogBoxParamA)>(nullptr)));

void *openLibrary(const char *soname, std::string &problem)
{
    void *handle = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
    if (!handle && problem.find(soname) == std::string::npos) {
        const char *why = dlerror();
        problem += (problem.empty() ? "" : "; ") + std::string("cannot open ") + soname + ": " + (why ? why : "?");
    }
    return handle;
}

std::vector<Binding> bind(std::span<const Binding> table, void *library)
{
    std::vector<Binding> out(table.begin(), table.end());
    if (!library)
        return out;
    for (Binding &b : out) {
        const std::string name(b.name);
        // A program that uses a library's variable may hold its own copy of
        // it (a copy relocation), which the library then uses too: the
        // process-wide lookup finds that one. Functions come from the
        // library itself.
        b.address = b.data ? dlsym(RTLD_DEFAULT, name.c_str()) : nullptr;
        if (!b.address)
            b.address = dlsym(library, name.c_str());
    }
    return out;
}

} // namespace

std::vector<Binding> corvane1Bindings(std::string &problem)
{
    return bind(kCorvane1, openLibrary("libCorvane1.so", problem));
}

std::vector<Binding> user32Bindings(std::string &problem)
{
    std::vector<Binding> out = bind(kUser32, openLibrary("libCorvaneWin32.so", problem));
    for (Binding &b : out)
        if (b.name == "DialogBoxParamA" && b.address) {
            gStandInDialogBoxParam = reinterpret_cast<decltype(&DialogBoxParamA)>(b.address);
            b.address = reinterpret_cast<void *>(&dialogBoxParam);
        }
    return out;
}

std::vector<Binding> gdi32Bindings(std::string &problem)
{
    return bind(kGdi32, openLibrary("libCorvaneWin32.so", problem));
}

} // namespace corvane::pe
