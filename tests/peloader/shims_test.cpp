// The host's import bindings: which names each DLL provides, and the
// kernel32 and msvcrt shims as Windows code calls them (stdcall / cdecl,
// through the addresses an image would receive).
#include "pe_test_support.h"

#include "host/porting.h"
#include "host/win32.h"

#include "declared_sizes.h"
#include "host_imports.h"
#include "msvcrt.h"

#include <gmock/gmock.h>

#include <chrono>
#include <cerrno>
#include <fstream>
#include <regex>
#include <thread>

using namespace corvane::pe;
using testing::HasSubstr;

namespace {

#define STDCALL __attribute__((stdcall))

void *provided(std::string_view dll, std::string_view name)
{
    ImportRef ref;
    ref.dll = dll;
    ref.name = name;
    return HostImports::instance().resolve(ref);
}

template <typename Fn> Fn shim(std::string_view dll, std::string_view name)
{
    void *p = provided(dll, name);
    if (!p)
        throw std::runtime_error(std::string(name) + " is not provided");
    return reinterpret_cast<Fn>(p);
}

uint32_t lastError()
{
    return shim<uint32_t(STDCALL *)()>("KERNEL32.dll", "GetLastError")();
}

// ---------------------------------------------------------------------------
// What is provided

TEST(HostImports, EveryPortingExportIsBoundToTheLibrary)
{
    std::ifstream def(QM_CORVANE1_DEF);
    ASSERT_TRUE(def) << QM_CORVANE1_DEF;
    std::vector<std::string> names;
    const std::regex line(R"(^\s+([A-Za-z_][A-Za-z0-9_]*)(\s+DATA)?\s*$)");
    for (std::string s; std::getline(def, s);) {
        std::smatch m;
        if (std::regex_match(s, m, line))
            names.push_back(m[1]);
    }
    ASSERT_GT(names.size(), 30u);
    for (const std::string &name : names)
        EXPECT_NE(provided("Corvane1.dll", name), nullptr) << name;
    // Straight to the library's own functions and data; no thunks between.
    EXPECT_EQ(provided("Corvane1.dll", "hWndMain"), static_cast<void *>(&hWndMain));
    EXPECT_EQ(provided("Corvane1.dll", "NewHandleClear"), reinterpret_cast<void *>(&NewHandleClear));
    EXPECT_EQ(provided("Corvane1.dll", "_MoveTo"), reinterpret_cast<void *>(&_MoveTo));
    EXPECT_EQ(provided("Corvane1.dll", "MoveTo"), nullptr);
    EXPECT_EQ(provided("Corvane1.dll", "malloc"), nullptr); // a dependency's, not an export
}

TEST(HostImports, Win32NamesGoToTheStandIn)
{
    EXPECT_EQ(provided("USER32.dll", "EndDialog"), reinterpret_cast<void *>(&EndDialog));
    EXPECT_EQ(provided("USER32.dll", "SendMessageA"), reinterpret_cast<void *>(&SendMessageA));
    EXPECT_EQ(provided("GDI32.dll", "EnumFontsA"), reinterpret_cast<void *>(&EnumFontsA));
    // The dialog call goes through a shim that hands the stand-in the image's resources.
    EXPECT_NE(provided("USER32.dll", "DialogBoxParamA"), nullptr);
    EXPECT_NE(provided("USER32.dll", "DialogBoxParamA"), reinterpret_cast<void *>(&DialogBoxParamA));
    EXPECT_EQ(provided("USER32.dll", "MessageBoxA"), nullptr);
    EXPECT_EQ(provided("GDI32.dll", "EndDialog"), nullptr); // the wrong DLL
}

TEST(HostImports, DllNamesMatchInAnyCaseWithOrWithoutExtension)
{
    for (const char *dll : {"KERNEL32.dll", "kernel32.DLL", "Kernel32", "kernel32.dll"})
        EXPECT_NE(provided(dll, "Sleep"), nullptr) << dll;
    EXPECT_EQ(provided("kernel32.so", "Sleep"), nullptr);
    EXPECT_EQ(provided("ntdll.dll", "Sleep"), nullptr);
    EXPECT_EQ(provided("KERNEL32.dll", "sleep"), nullptr); // function names are exact
    ImportRef byOrdinal;
    byOrdinal.dll = "KERNEL32.dll";
    byOrdinal.ordinal = 1386;
    EXPECT_EQ(HostImports::instance().resolve(byOrdinal), nullptr);
}

TEST(HostImports, DeclaredSizesComeFromTheImportLibraries)
{
    struct Row {
        std::span<const DeclaredImport> table;
        std::string_view name;
        uint32_t bytes;
    };
    const Row rows[] = {
        {kUser32Declared, "DialogBoxParamA", 20}, {kUser32Declared, "SendMessageA", 16},
        {kUser32Declared, "GetDlgItemTextA", 16}, {kGdi32Declared, "EnumFontsA", 16},
        {kGdi32Declared, "CreateDCA", 16},        {kKernel32Declared, "Sleep", 4},
        {kKernel32Declared, "VirtualQuery", 12},  {kKernel32Declared, "GetLastError", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(declaredBytes(row.table, row.name), row.bytes) << row.name;
    EXPECT_EQ(declaredBytes(kUser32Declared, "NoSuchFunction"), kNotDeclared);
}

// ---------------------------------------------------------------------------
// kernel32

TEST(Kernel32, CriticalSectionsAreRecursiveLocks)
{
    alignas(4) uint8_t cs[24];
    using Fn = void(STDCALL *)(void *);
    auto init = shim<Fn>("KERNEL32.dll", "InitializeCriticalSection");
    auto enter = shim<Fn>("KERNEL32.dll", "EnterCriticalSection");
    auto leave = shim<Fn>("KERNEL32.dll", "LeaveCriticalSection");
    auto remove = shim<Fn>("KERNEL32.dll", "DeleteCriticalSection");
    init(cs);
    enter(cs);
    enter(cs); // the owner may enter again
    int shared = 0;
    std::thread other([&] {
        enter(cs);
        shared = 2;
        leave(cs);
    });
    shared = 1;
    leave(cs);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(shared, 1); // still held once
    leave(cs);
    other.join();
    EXPECT_EQ(shared, 2);
    remove(cs);
}

TEST(Kernel32, LastErrorIsPerThread)
{
    auto set = shim<void(STDCALL *)(uint32_t)>("KERNEL32.dll", "SetLastError");
    set(31);
    uint32_t other = 1;
    std::thread t([&] { other = lastError(); });
    t.join();
    EXPECT_EQ(lastError(), 31u);
    EXPECT_EQ(other, 0u);
}

TEST(Kernel32, ModulesAreOnlyTheImagesThisLoaderMapped)
{
    using GetModule = void *(STDCALL *)(const char *);
    auto getModule = shim<GetModule>("KERNEL32.dll", "GetModuleHandleA");
    auto loadLibrary = shim<GetModule>("KERNEL32.dll", "LoadLibraryA");
    auto freeLibrary = shim<int32_t(STDCALL *)(void *)>("KERNEL32.dll", "FreeLibrary");
    auto getProc = shim<void *(STDCALL *)(void *, const char *)>("KERNEL32.dll", "GetProcAddress");

    // The mingw runtime looks for a shared libgcc and must not find one.
    EXPECT_EQ(getModule("libgcc_s_dw2-1.dll"), nullptr);
    EXPECT_EQ(lastError(), 126u);
    EXPECT_EQ(getModule(nullptr), nullptr);

    qmtest::FixtureHost host;
    auto image = PeImage::load(qmtest::fixture("pe_basic.dll"), host, LoadOptions{.initialize = false});
    void *base = reinterpret_cast<void *>(image->base());
    for (const char *name : {"pe_basic.dll", "PE_BASIC.DLL", "pe_basic", "C:\\modules\\pe_basic.dll"})
        EXPECT_EQ(getModule(name), base) << name;
    EXPECT_EQ(loadLibrary("pe_basic.dll"), base);
    EXPECT_EQ(loadLibrary("user32.dll"), nullptr); // nothing new is ever loaded
    EXPECT_EQ(freeLibrary(base), 1);
    EXPECT_EQ(freeLibrary(&host), 0);
    EXPECT_EQ(lastError(), 6u);

    EXPECT_EQ(getProc(base, "add"), image->findExport("add"));
    EXPECT_EQ(getProc(base, reinterpret_cast<const char *>(7)), image->findExport(uint16_t{7}));
    EXPECT_EQ(getProc(base, "missing"), nullptr);
    EXPECT_EQ(lastError(), 127u);
    EXPECT_EQ(getProc(&host, "add"), nullptr);
    EXPECT_EQ(lastError(), 6u);
}

TEST(Kernel32, TlsValuesThroughTheShims)
{
    auto alloc = shim<uint32_t(STDCALL *)()>("KERNEL32.dll", "TlsAlloc");
    auto release = shim<int32_t(STDCALL *)(uint32_t)>("KERNEL32.dll", "TlsFree");
    auto get = shim<void *(STDCALL *)(uint32_t)>("KERNEL32.dll", "TlsGetValue");
    auto set = shim<int32_t(STDCALL *)(uint32_t, void *)>("KERNEL32.dll", "TlsSetValue");

    const uint32_t index = alloc();
    ASSERT_LT(index, kTlsSlotCount);
    EXPECT_EQ(get(index), nullptr);
    EXPECT_EQ(lastError(), 0u); // a stored null, not a failure
    int value = 0;
    EXPECT_EQ(set(index, &value), 1);
    EXPECT_EQ(get(index), &value);
    EXPECT_EQ(release(index), 1);
    EXPECT_EQ(get(index), nullptr);
    EXPECT_EQ(lastError(), 87u);
    EXPECT_EQ(set(index, &value), 0);
    EXPECT_EQ(release(index), 0);
    EXPECT_EQ(get(1000), nullptr);
}

TEST(Kernel32, VirtualQueryAndProtectSeeImagePages)
{
    struct Info {
        uint32_t base, allocationBase, allocationProtect, size, state, protect, type;
    };
    auto query = shim<uint32_t(STDCALL *)(const void *, Info *, uint32_t)>("KERNEL32.dll", "VirtualQuery");
    auto protect = shim<int32_t(STDCALL *)(void *, uint32_t, uint32_t, uint32_t *)>("KERNEL32.dll", "VirtualProtect");

    qmtest::FixtureHost host;
    auto image = PeImage::load(qmtest::fixture("pe_basic.dll"), host, LoadOptions{.initialize = false});
    auto *text = reinterpret_cast<uint8_t *>(image->base() + 0x1000);
    Info info{};
    ASSERT_EQ(query(text + 5, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.base, image->base() + 0x1000);
    EXPECT_EQ(info.allocationBase, image->base());
    EXPECT_EQ(info.size, 0x1000u);
    EXPECT_EQ(info.state, 0x1000u);   // committed
    EXPECT_EQ(info.type, 0x1000000u); // image
    EXPECT_EQ(info.protect, 0x20u);   // execute-read
    EXPECT_EQ(query(text, &info, 10), 0u);
    EXPECT_EQ(lastError(), 24u);
    int local = 0;
    EXPECT_EQ(query(&local, &info, sizeof info), 0u); // not an image page

    // The runtime's pseudo-relocation pass: make writable, patch, restore.
    uint32_t old = 0;
    ASSERT_EQ(protect(text, 4, 0x40, &old), 1);
    EXPECT_EQ(old, 0x20u);
    const uint8_t saved = text[0];
    text[0] = 0xCC;
    text[0] = saved;
    ASSERT_EQ(protect(text, 4, old, &old), 1);
    EXPECT_EQ(old, 0x40u);
    ASSERT_EQ(query(text, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.protect, 0x20u);
    EXPECT_EQ(protect(text, 4, 0x40, nullptr), 0);
    EXPECT_EQ(protect(&local, 4, 0x40, &old), 0);
    EXPECT_EQ(lastError(), 487u);
}

TEST(Kernel32, SleepWaitsAtLeastAsLong)
{
    auto sleep = shim<void(STDCALL *)(uint32_t)>("KERNEL32.dll", "Sleep");
    const auto start = std::chrono::steady_clock::now();
    sleep(0);
    sleep(15);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

// ---------------------------------------------------------------------------
// msvcrt

int gOrder[4];
int gCalls = 0;
void first()
{
    gOrder[gCalls++] = 1;
}
void second()
{
    gOrder[gCalls++] = 2;
}

TEST(Msvcrt, InittermCallsEachNonNullEntryInOrder)
{
    using Init = void (*)();
    Init table[] = {first, nullptr, second, first};
    auto initterm = shim<void (*)(Init *, Init *)>("msvcrt.dll", "_initterm");
    gCalls = 0;
    initterm(table, table + 3);
    EXPECT_EQ(gCalls, 2);
    EXPECT_EQ(gOrder[0], 1);
    EXPECT_EQ(gOrder[1], 2);
    initterm(table + 3, table + 3); // empty range
    EXPECT_EQ(gCalls, 2);
}

TEST(Msvcrt, IobIsDataAndItsStreamsReachOurs)
{
    auto *iob = static_cast<MsvcrtFile *>(provided("msvcrt.dll", "_iob"));
    ASSERT_EQ(iob, msvcrtStreams());
    EXPECT_EQ(hostStream(&iob[0]), stdin);
    EXPECT_EQ(hostStream(&iob[1]), stdout);
    EXPECT_EQ(hostStream(&iob[2]), stderr);
    EXPECT_EQ(hostStream(&iob[3]), nullptr);
    EXPECT_EQ(hostStream(reinterpret_cast<MsvcrtFile *>(reinterpret_cast<char *>(iob) + 4)), nullptr);
    auto iobFunc = shim<MsvcrtFile *(*)()>("msvcrt.dll", "__iob_func");
    EXPECT_EQ(iobFunc(), iob);

    auto fwriteShim = shim<size_t (*)(const void *, size_t, size_t, MsvcrtFile *)>("msvcrt.dll", "fwrite");
    testing::internal::CaptureStderr();
    EXPECT_EQ(fwriteShim("runtime says hi\n", 1, 16, &iob[2]), 16u);
    auto fprintfShim = shim<int (*)(MsvcrtFile *, const char *, ...)>("msvcrt.dll", "fprintf");
    EXPECT_EQ(fprintfShim(&iob[2], "%I64d|%I32u|%Id|%s\n", 1234567890123ll, 7u, -3, "x"), 21);
    fflush(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "runtime says hi\n1234567890123|7|-3|x\n");

    int local = 0;
    errno = 0;
    EXPECT_EQ(fwriteShim("x", 1, 1, reinterpret_cast<MsvcrtFile *>(&local)), 0u);
    EXPECT_EQ(errno, EBADF);
}

TEST(Msvcrt, FormatTranslation)
{
    struct Row {
        const char *in;
        bool ok;
        const char *out;
    };
    const Row rows[] = {
        {"plain", true, "plain"},
        {"%d %s %p %%", true, "%d %s %p %%"},
        {"%-08.3f|%*d|%#x", true, "%-08.3f|%*d|%#x"},
        {"%I64d %I64x", true, "%lld %llx"},
        {"%I32d %Iu", true, "%d %u"},
        {"%ld %hd %lld", true, "%ld %hd %lld"},
        {"%ls", false, ""}, // wchar_t differs in size
        {"%S", false, ""},
        {"%lc", false, ""},
        {"%wc", false, ""},
        {"ends with %", false, ""},
        {"%5", false, ""},
    };
    for (const Row &row : rows) {
        std::string out;
        EXPECT_EQ(translateMsvcrtFormat(row.in, out), row.ok) << row.in;
        if (row.ok) {
            EXPECT_EQ(out, row.out) << row.in;
        }
    }
}

TEST(Msvcrt, LocksAreRecursiveAndBadNumbersAreIgnored)
{
    auto lock = shim<void (*)(int)>("msvcrt.dll", "_lock");
    auto unlock = shim<void (*)(int)>("msvcrt.dll", "_unlock");
    lock(8);
    lock(8);
    bool got = false;
    std::thread t([&] {
        lock(8);
        got = true;
        unlock(8);
    });
    unlock(8);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got);
    unlock(8);
    t.join();
    EXPECT_TRUE(got);
    lock(-1);
    unlock(100000);
}

TEST(Msvcrt, ErrnoAndMemoryAreTheCLibrarys)
{
    auto errnoLocation = shim<int *(*)()>("msvcrt.dll", "_errno");
    EXPECT_EQ(errnoLocation(), &errno);
    auto callocShim = shim<void *(*)(size_t, size_t)>("msvcrt.dll", "calloc");
    auto freeShim = shim<void (*)(void *)>("msvcrt.dll", "free");
    auto *p = static_cast<uint8_t *>(callocShim(4, 4));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + 16, 0), 16);
    freeShim(p);
    EXPECT_EQ(shim<size_t (*)(const char *)>("msvcrt.dll", "strlen")("four"), 4u);
    EXPECT_EQ(provided("msvcrt.dll", "fopen"), nullptr);
}

} // namespace
