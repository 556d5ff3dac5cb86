// Binds Windows modules to this host: Corvane1.dll to the porting library,
// user32/gdi32 to the Win32 stand-in (both found with dlopen/dlsym, so the
// Linux libraries that serve Quillomark.so serve the Windows module too),
// and the kernel32/msvcrt functions the mingw runtime calls to small shims.
//
// Calling conventions are kept, not converted: porting functions are cdecl
// on both sides and Win32 functions stdcall on both, so calls go straight
// through. A data export (hWndMain) binds to the datum's own address.
#pragma once

#include "import_tables.h"
#include "pe_image.h"

#include <string>
#include <vector>

namespace corvane::pe {

class HostImports : public ImportResolver {
public:
    // The bindings shared by every load; libraries are opened on first use.
    static HostImports &instance();

    void *resolve(const ImportRef &ref) override;
    std::string note() const override;

private:
    HostImports();
    struct Library {
        std::string name; // lower case, e.g. "user32.dll"
        std::vector<Binding> bindings;
    };
    const Library *find(std::string_view dll) const;
    std::vector<Library> libraries_;
    std::string note_;
};

// The providers, one per DLL (sources of their own).
std::vector<Binding> kernel32Bindings();
std::vector<Binding> msvcrtBindings();
// Bind to the porting library / Win32 stand-in; `problem` receives why a
// library could not be opened (its bindings then stay null).
std::vector<Binding> corvane1Bindings(std::string &problem);
std::vector<Binding> user32Bindings(std::string &problem);
std::vector<Binding> gdi32Bindings(std::string &problem);

} // namespace corvane::pe
