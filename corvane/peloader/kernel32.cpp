// The kernel32 functions the mingw runtime calls while a module starts and
// stops: critical sections, last error, TLS values, module lookups (which
// only ever find images this loader mapped), Sleep, and the page queries
// and protection changes of its pseudo-relocation pass.
#include "host/win32.h"

#include "host_imports.h"
#include "thread_block.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace corvane::pe {

namespace {

#define QM_SHIM __attribute__((stdcall, force_align_arg_pointer))

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorBadLength = 24;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorNoAccess = 998;
constexpr DWORD kTlsOutOfIndexes = 0xFFFFFFFFu;
constexpr DWORD kMemCommit = 0x1000;
constexpr DWORD kMemImage = 0x1000000;

// Windows' CRITICAL_SECTION is 24 bytes; the recursive mutex lives inside it.
struct CriticalSection {
    alignas(4) uint8_t bytes[24];
};
static_assert(sizeof(pthread_mutex_t) <= sizeof(CriticalSection), "a mutex fits in a critical section");

pthread_mutex_t *mutexOf(CriticalSection *cs)
{
    return reinterpret_cast<pthread_mutex_t *>(cs->bytes);
}

struct MemoryBasicInformation {
    uint32_t baseAddress;
    uint32_t allocationBase;
    uint32_t allocationProtect;
    uint32_t regionSize;
    uint32_t state;
    uint32_t protect;
    uint32_t type;
};
static_assert(sizeof(MemoryBasicInformation) == 28);

void setError(DWORD error)
{
    ThreadBlock::current().setLastError(error);
}

// Strips a directory and matches the file name against the mapped images.
PeImage *imageNamed(const char *name)
{
    std::string_view n(name);
    const size_t slash = n.find_last_of("\\/");
    if (slash != std::string_view::npos)
        n.remove_prefix(slash + 1);
    if (PeImage *image = PeImage::findByFileName(n))
        return image;
    if (n.find('.') == std::string_view::npos)
        return PeImage::findByFileName(std::string(n) + ".dll");
    return nullptr;
}

void QM_SHIM InitializeCriticalSectionShim(CriticalSection *cs)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutexOf(cs), &attr);
    pthread_mutexattr_destroy(&attr);
}

void QM_SHIM DeleteCriticalSectionShim(CriticalSection *cs)
{
    pthread_mutex_destroy(mutexOf(cs));
}

void QM_SHIM EnterCriticalSectionShim(CriticalSection *cs)
{
    pthread_mutex_lock(mutexOf(cs));
}

void QM_SHIM LeaveCriticalSectionShim(CriticalSection *cs)
{
    pthread_mutex_unlock(mutexOf(cs));
}

DWORD QM_SHIM GetLastErrorShim()
{
    return ThreadBlock::current().lastError();
}

void QM_SHIM SetLastErrorShim(DWORD error)
{
    setError(error);
}

DWORD QM_SHIM GetCurrentThreadIdShim()
{
    return static_cast<DWORD>(syscall(SYS_gettid));
}

DWORD QM_SHIM GetCurrentProcessIdShim()
{
    return static_cast<DWORD>(getpid());
}

HMODULE QM_SHIM GetModuleHandleAShim(LPCSTR name)
{
    // No program image is mapped here, so a null name finds nothing either.
    PeImage *image = name ? imageNamed(name) : nullptr;
    if (!image) {
        setError(kErrorModNotFound);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(image->base());
}

// Modules cannot load further DLLs: only images already mapped are found.
HMODULE QM_SHIM LoadLibraryAShim(LPCSTR name)
{
    return GetModuleHandleAShim(name);
}

BOOL QM_SHIM FreeLibraryShim(HMODULE module)
{
    // The host owns every image's lifetime; a module cannot unload one.
    if (!PeImage::fromBase(module)) {
        setError(kErrorInvalidHandle);
        return 0;
    }
    return 1;
}

void *QM_SHIM GetProcAddressShim(HMODULE module, LPCSTR name)
{
    PeImage *image = PeImage::fromBase(module);
    if (!image) {
        setError(kErrorInvalidHandle);
        return nullptr;
    }
    const uintptr_t n = reinterpret_cast<uintptr_t>(name);
    void *address =
        n <= 0xFFFF ? image->findExport(static_cast<uint16_t>(n)) : image->findExport(std::string_view(name));
    if (!address)
        setError(kErrorProcNotFound);
    return address;
}

void QM_SHIM SleepShim(DWORD milliseconds)
{
    timespec t{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

DWORD QM_SHIM TlsAllocShim()
{
    const uint32_t index = allocateTlsSlot();
    return index < kTlsSlotCount ? index : kTlsOutOfIndexes;
}

BOOL QM_SHIM TlsFreeShim(DWORD index)
{
    if (!freeTlsSlot(index)) {
        setError(kErrorInvalidParameter);
        return 0;
    }
    return 1;
}

LPVOID QM_SHIM TlsGetValueShim(DWORD index)
{
    ThreadBlock &block = ThreadBlock::current();
    if (!tlsSlotAllocated(index)) {
        block.setLastError(kErrorInvalidParameter);
        return nullptr;
    }
    block.setLastError(0); // so a stored null can be told from a failure
    return block.slotValue(index);
}

BOOL QM_SHIM TlsSetValueShim(DWORD index, LPVOID value)
{
    if (!tlsSlotAllocated(index)) {
        setError(kErrorInvalidParameter);
        return 0;
    }
    ThreadBlock::current().setSlotValue(index, value);
    return 1;
}

BOOL QM_SHIM VirtualProtectShim(LPVOID address, uint32_t size, DWORD protection, DWORD *previous)
{
    if (!previous) {
        setError(kErrorNoAccess);
        return 0;
    }
    PeImage *image = PeImage::containing(address);
    uint32_t old = 0;
    if (!image || !image->protect(reinterpret_cast<uintptr_t>(address), size, protection, old)) {
        setError(image ? kErrorInvalidParameter : kErrorInvalidAddress);
        return 0;
    }
    *previous = old;
    return 1;
}

uint32_t QM_SHIM VirtualQueryShim(const void *address, MemoryBasicInformation *info, uint32_t length)
{
    if (length < sizeof(MemoryBasicInformation)) {
        setError(kErrorBadLength);
        return 0;
    }
    PeImage *image = PeImage::containing(address);
    MemoryRegion region;
    if (!image || !image->query(reinterpret_cast<uintptr_t>(address), region)) {
        setError(kErrorInvalidParameter);
        return 0;
    }
    MemoryBasicInformation m{};
    m.baseAddress = static_cast<uint32_t>(region.base);
    m.allocationBase = static_cast<uint32_t>(image->base());
    m.allocationProtect = kPageExecuteWriteCopy;
    m.regionSize = region.size;
    m.state = kMemCommit;
    m.protect = region.protection;
    m.type = kMemImage;
    std::memcpy(info, &m, sizeof m);
    return sizeof m;
}

#define QM_KERNEL32(n)                                                                                                 \
    Binding                                                                                                            \
    {                                                                                                                  \
#n, reinterpret_cast < void *>(&n##Shim), QM_CHECKED_STDCALL(kKernel32Declared, #n, n##Shim)                   \
    }

} // namespace

std::vector<Binding> kernel32Bindings()
{
    return {
        QM_KERNEL32(InitializeCriticalSection),
        QM_KERNEL32(DeleteCriticalSection),
        QM_KERNEL32(EnterCriticalSection),
        QM_KERNEL32(LeaveCriticalSection),
        QM_KERNEL32(GetLastError),
        QM_KERNEL32(SetLastError),
        QM_KERNEL32(GetCurrentThreadId),
        QM_KERNEL32(GetCurrentProcessId),
        QM_KERNEL32(GetModuleHandleA),
        QM_KERNEL32(LoadLibraryA),
        QM_KERNEL32(FreeLibrary),
        QM_KERNEL32(GetProcAddress),
        QM_KERNEL32(Sleep),
        QM_KERNEL32(TlsAlloc),
        QM_KERNEL32(TlsFree),
        QM_KERNEL32(TlsGetValue),
        QM_KERNEL32(TlsSetValue),
        QM_KERNEL32(VirtualProtect),
        QM_KERNEL32(VirtualQuery),
    };
}

} // namespace corvane::pe
