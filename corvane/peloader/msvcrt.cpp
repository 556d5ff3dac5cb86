// The msvcrt functions Windows modules built with mingw-w64 call: runtime
// start-up (_initterm, _lock, _amsg_exit), memory and strings (glibc's own
// functions: cdecl with the same argument layout on i386), and the few
// stdio calls its error reports make, on msvcrt's _iob array, which is data.
#include "host_imports.h"
#include "loader_faults.h"
#include "msvcrt.h"

#include <pthread.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace corvane::pe {

namespace {

#define QM_CDECL_SHIM __attribute__((force_align_arg_pointer))

constexpr int kLockCount = 64;

MsvcrtFile gIob[kMsvcrtStreams] = {
    {nullptr, 0, nullptr, 0x0001, 0, 0, 0, nullptr}, // stdin, _IOREAD
    {nullptr, 0, nullptr, 0x0002, 1, 0, 0, nullptr}, // stdout, _IOWRT
    {nullptr, 0, nullptr, 0x0002, 2, 0, 0, nullptr}, // stderr, _IOWRT
};

pthread_mutex_t *lockTable()
{
    static pthread_mutex_t *locks = [] {
        auto *l = new pthread_mutex_t[kLockCount];
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        for (int i = 0; i < kLockCount; ++i)
            pthread_mutex_init(&l[i], &attr);
        pthread_mutexattr_destroy(&attr);
        return l;
    }();
    return locks;
}

using Initializer = void (*)();

void QM_CDECL_SHIM initterm(Initializer *begin, Initializer *end)
{
    for (Initializer *p = begin; p < end; ++p)
        if (*p)
            (*p)();
}

void QM_CDECL_SHIM amsgExit(int code)
{
    // msvcrt ends the process here; so does the host.
    std::fprintf(stderr, "runtime error R60%02d in a Windows module\n", code);
    std::fflush(stderr);
    std::_Exit(255);
}

void QM_CDECL_SHIM lock(int index)
{
    if (index >= 0 && index < kLockCount)
        pthread_mutex_lock(&lockTable()[index]);
}

void QM_CDECL_SHIM unlock(int index)
{
    if (index >= 0 && index < kLockCount)
        pthread_mutex_unlock(&lockTable()[index]);
}

MsvcrtFile *QM_CDECL_SHIM iobFunc()
{
    return gIob;
}

int *QM_CDECL_SHIM errnoLocation()
{
    return &errno;
}

size_t QM_CDECL_SHIM fwriteShim(const void *data, size_t size, size_t count, MsvcrtFile *stream)
{
    FILE *f = hostStream(stream);
    if (!f) {
        errno = EBADF;
        return 0;
    }
    return std::fwrite(data, size, count, f);
}

int QM_CDECL_SHIM vfprintfShim(MsvcrtFile *stream, const char *format, va_list args)
{
    FILE *f = hostStream(stream);
    std::string translated;
    if (!f || !format || !translateMsvcrtFormat(format, translated)) {
        errno = f ? EINVAL : EBADF;
        return -1;
    }
    return std::vfprintf(f, translated.c_str(), args);
}

int QM_CDECL_SHIM fprintfShim(MsvcrtFile *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = vfprintfShim(stream, format, args);
    va_end(args);
    return n;
}

int QM_CDECL_SHIM fputsShim(const char *s, MsvcrtFile *stream)
{
    FILE *f = hostStream(stream);
    return f ? std::fputs(s, f) : EOF;
}

int QM_CDECL_SHIM fputcShim(int c, MsvcrtFile *stream)
{
    FILE *f = hostStream(stream);
    return f ? std::fputc(c, f) : EOF;
}

int QM_CDECL_SHIM fflushShim(MsvcrtFile *stream)
{
    if (!stream)
        return std::fflush(nullptr);
    FILE *f = hostStream(stream);
    return f ? std::fflush(f) : EOF;
}

// The C library's allocator, behind the loader's fault injection.
void *QM_CDECL_SHIM mallocShim(size_t size)
{
    if (loaderFaultFires(LoaderFault::Allocation)) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::malloc(size);
}

void *QM_CDECL_SHIM callocShim(size_t count, size_t size)
{
    if (loaderFaultFires(LoaderFault::Allocation)) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::calloc(count, size);
}

void *QM_CDECL_SHIM reallocShim(void *block, size_t size)
{
    if (loaderFaultFires(LoaderFault::Allocation)) {
        errno = ENOMEM;
        return nullptr; // the block stays the caller's, as the C library leaves it
    }
    return std::realloc(block, size);
}

template <typename F> void *address(F *f)
{
    return reinterpret_cast<void *>(f);
}

} // namespace

FILE *hostStream(const MsvcrtFile *stream)
{
    const auto p = reinterpret_cast<uintptr_t>(stream);
    const auto first = reinterpret_cast<uintptr_t>(gIob);
    if (p < first || p >= first + sizeof gIob || (p - first) % sizeof(MsvcrtFile) != 0)
        return nullptr;
    // Only the three standard streams are open; the other entries are free.
    switch ((p - first) / sizeof(MsvcrtFile)) {
    case 0:
        return stdin;
    case 1:
        return stdout;
    case 2:
        return stderr;
    default:
        return nullptr;
    }
}

MsvcrtFile *msvcrtStreams()
{
    return gIob;
}

bool translateMsvcrtFormat(const char *format, std::string &out)
{
    out.clear();
    for (const char *p = format; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        out += *p++;
        if (*p == '%') {
            out += *p++;
            continue;
        }
        // Flags, width, precision pass through unchanged.
        while (*p && std::strchr("-+ #0123456789.*", *p))
            out += *p++;
        // Size prefixes msvcrt has and glibc spells otherwise.
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            out += "ll";
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'I') {
            p += 1; // pointer-sized: 32 bits here
        }
        // wchar_t is 2 bytes on Windows and 4 here: wide text cannot be printed.
        if (*p == 'S' || *p == 'C' || *p == 'w' || ((*p == 'l') && (p[1] == 's' || p[1] == 'c')))
            return false;
        if (!*p)
            return false;
        while (*p && std::strchr("hlLjzt", *p))
            out += *p++;
        if (!*p)
            return false;
        out += *p++;
    }
    return true;
}

std::vector<Binding> msvcrtBindings()
{
    return {
        {"_initterm", address(&initterm), 0},
        {"_amsg_exit", address(&amsgExit), 0},
        {"_lock", address(&lock), 0},
        {"_unlock", address(&unlock), 0},
        {"_iob", static_cast<void *>(gIob), 0},
        {"__iob_func", address(&iobFunc), 0},
        {"_errno", address(&errnoLocation), 0},
        {"abort", address(&std::abort), 0},
        {"fwrite", address(&fwriteShim), 0},
        {"vfprintf", address(&vfprintfShim), 0},
        {"fprintf", address(&fprintfShim), 0},
        {"fputs", address(&fputsShim), 0},
        {"fputc", address(&fputcShim), 0},
        {"fflush", address(&fflushShim), 0},
        {"malloc", address(&mallocShim), 0},
        {"calloc", address(&callocShim), 0},
        {"realloc", address(&reallocShim), 0},
        // Same argument layout and meaning in both C libraries.
        {"free", address(&std::free), 0},
        {"memcpy", address(&std::memcpy), 0},
        {"memmove", address(&std::memmove), 0},
        {"memset", address(&std::memset), 0},
        {"memcmp", address(&std::memcmp), 0},
        {"memchr", address(static_cast<const void *(*)(const void *, int, size_t)>(&std::memchr)), 0},
        {"strlen", address(&std::strlen), 0},
        {"strcmp", address(&std::strcmp), 0},
        {"strncmp", address(&std::strncmp), 0},
        {"strcpy", address(&std::strcpy), 0},
        {"strncpy", address(&std::strncpy), 0},
        {"strcat", address(&std::strcat), 0},
        {"strchr", address(static_cast<const char *(*)(const char *, int)>(&std::strchr)), 0},
        {"strrchr", address(static_cast<const char *(*)(const char *, int)>(&std::strrchr)), 0},
        {"strstr", address(static_cast<const char *(*)(const char *, const char *)>(&std::strstr)), 0},
        {"floor", address(static_cast<double (*)(double)>(&std::floor)), 0},
        {"ceil", address(static_cast<double (*)(double)>(&std::ceil)), 0},
        {"sqrt", address(static_cast<double (*)(double)>(&std::sqrt)), 0},
    };
}

} // namespace corvane::pe
