#include "host_imports.h"

#include <algorithm>
#include <cctype>

namespace corvane::pe {

namespace {

std::string lowerDllName(std::string_view dll)
{
    std::string s(dll);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    if (s.find('.') == std::string::npos)
        s += ".dll"; // Windows assumes the extension when it is left out
    return s;
}

} // namespace

HostImports &HostImports::instance()
{
    static HostImports *imports = new HostImports;
    return *imports;
}

HostImports::HostImports()
{
    std::string problem;
    libraries_.push_back({"kernel32.dll", kernel32Bindings()});
    libraries_.push_back({"msvcrt.dll", msvcrtBindings()});
    libraries_.push_back({"corvane1.dll", corvane1Bindings(problem)});
    libraries_.push_back({"user32.dll", user32Bindings(problem)});
    libraries_.push_back({"gdi32.dll", gdi32Bindings(problem)});
    note_ = problem;
}

const HostImports::Library *HostImports::find(std::string_view dll) const
{
    const std::string name = lowerDllName(dll);
    for (const Library &library : libraries_)
        if (library.name == name)
            return &library;
    return nullptr;
}

void *HostImports::resolve(const ImportRef &ref)
{
    const Library *library = find(ref.dll);
    if (!library || ref.byOrdinal())
        return nullptr;
    for (const Binding &b : library->bindings)
        if (b.name == ref.name)
            return b.address;
    return nullptr;
}

std::string HostImports::note() const
{
    return note_;
}

} // namespace corvane::pe
