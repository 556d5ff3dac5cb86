// How an import is bound, and the compile-time checks that keep the bound
// function's argument bytes equal to what Windows code pushes for it.
//
// Windows code calls a stdcall import expecting the callee to pop exactly
// the @N bytes its import library declares. The declared sizes are read
// from the mingw-w64 import libraries at configure time (declared_sizes.h);
// every stdcall binding is checked against them while compiling, so a
// prototype that drifts from Windows' fails the build instead of
// corrupting the stack at run time.
#pragma once

#include "declared_sizes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace corvane::pe {

#define QM_STDCALL __attribute__((stdcall))

struct Binding {
    std::string_view name;
    void *address;     // null until bound (or when the provider lacks it)
    uint32_t argBytes; // stdcall: bytes the callee pops; 0 for cdecl and data
    bool data = false; // a variable: the image receives its address
};

template <class R, class... A> constexpr uint32_t argBytes(R(QM_STDCALL *)(A...))
{
    return (0u + ... + static_cast<uint32_t>((sizeof(A) + 3) & ~std::size_t(3)));
}
template <class R, class... A> constexpr bool isStdcall(R(QM_STDCALL *)(A...))
{
    return true;
}
template <class R, class... A> constexpr bool isStdcall(R (*)(A...))
{
    return false;
}
template <class R, class... A> constexpr bool isStdcall(R (*)(A..., ...))
{
    return false;
}

inline constexpr uint32_t kNotDeclared = 0xFFFFFFFFu;

constexpr uint32_t declaredBytes(std::span<const DeclaredImport> table, std::string_view name)
{
    for (const DeclaredImport &d : table)
        if (d.name == name)
            return d.bytes;
    return kNotDeclared;
}

// Fails compilation (a throw is not a constant expression) on a mismatch.
consteval uint32_t verifiedBytes(bool stdcall, uint32_t ours, uint32_t declared)
{
    if (!stdcall)
        throw "binding is not stdcall";
    if (declared == kNotDeclared)
        throw "the import library does not declare this function";
    if (ours != declared)
        throw "argument bytes differ from the import library's @N";
    return ours;
}

// A stdcall binding whose prototype is the function type of `proto`.
#define QM_CHECKED_STDCALL(table, exportName, proto)                                                                   \
    ::corvane::pe::verifiedBytes(::corvane::pe::isStdcall(static_cast<decltype(&proto)>(nullptr)),                     \
                                 ::corvane::pe::argBytes(static_cast<decltype(&proto)>(nullptr)),                      \
                                 ::corvane::pe::declaredBytes(table, exportName))

} // namespace corvane::pe
