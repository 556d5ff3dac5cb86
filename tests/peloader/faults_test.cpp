// The loader's own acquisitions failing one at a time: the image's
// mappings, its page protections, and the memory and TLS slots the runtime
// shims hand out. Each failure is a clean refusal naming what failed, or the
// module's own answer; nothing stays mapped or registered, no slot is kept.
#include "host_imports.h"
#include "loader_faults.h"
#include "pe_test_support.h"

#include <gmock/gmock.h>

using namespace corvane::pe;
using qmtest::FixtureHost;
using testing::HasSubstr;

namespace {

// The fixtures' own host first, then the shims the mingw runtime calls.
struct Imports : FixtureHost {
    void *resolve(const ImportRef &ref) override
    {
        void *own = FixtureHost::resolve(ref);
        return own ? own : HostImports::instance().resolve(ref);
    }
};

struct Row {
    const char *name;
    const char *dll;
    uintptr_t base;
    uint32_t size;
    LoaderFault kind;
    const char *refusal;    // how a refused load says what failed (a regular expression)
    bool relocated = false; // the preferred base is taken, so the image is mapped a second time
};

const Row kRows[] = {
    {"BasicMapping", "pe_basic.dll", 0x63000000, 0xB000, LoaderFault::Mapping, "cannot map", true},
    {"BasicProtection", "pe_basic.dll", 0x63000000, 0xB000, LoaderFault::Protection, "cannot set page protections"},
    {"BasicAllocation", "pe_basic.dll", 0x63000000, 0xB000, LoaderFault::Allocation, "no free TLS slot"},
    {"RuntimeProtection", "pe_runtime.dll", 0x61EC0000, 0x1C000, LoaderFault::Protection,
     "cannot set page protections"},
    {"RuntimeAllocation", "pe_runtime.dll", 0x61EC0000, 0x1C000, LoaderFault::Allocation,
     "no free TLS slot|refused to attach"},
};

class LoaderFaults : public testing::TestWithParam<Row> {
protected:
    void SetUp() override { FixtureHost::reset(); }
    void TearDown() override { clearLoaderFaults(); }
    Imports imports_;
};

TEST_P(LoaderFaults, EachFailureIsRefusedCleanlyOrAnsweredByTheModule)
{
    const Row &row = GetParam();
    const std::string path = qmtest::fixture(row.dll);
    std::unique_ptr<qmtest::AddressBlocker> blocker;
    if (row.relocated)
        blocker = std::make_unique<qmtest::AddressBlocker>(row.base, 0x1000);
    clearLoaderFaults();
    int32_t tlsIndex = -1;
    {
        auto image = PeImage::load(path, imports_);
        tlsIndex = image->tlsIndex();
    }
    const int32_t calls = loaderCalls(row.kind);
    ASSERT_GT(calls, 0) << "a load acquires at least one of these";
    int refused = 0;
    for (int32_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(n);
        clearLoaderFaults();
        failLoaderAt(row.kind, n);
        try {
            auto image = PeImage::load(path, imports_);
        } catch (const PeError &e) {
            ++refused;
            EXPECT_THAT(e.what(), testing::ContainsRegex(row.refusal));
        }
        if (!row.relocated) {
            EXPECT_TRUE(qmtest::addressRangeFree(row.base, row.size));
        }
        EXPECT_EQ(PeImage::findByFileName(row.dll), nullptr);
    }
    EXPECT_GT(refused, 0);
    clearLoaderFaults();
    EXPECT_EQ(PeImage::load(path, imports_)->tlsIndex(), tlsIndex) << "the image's TLS slot was kept";
}

INSTANTIATE_TEST_SUITE_P(Acquisitions, LoaderFaults, testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// The shims answer as the C library and kernel32 do when they run out.
TEST(LoaderFaultShims, AllocationFailuresReachTheModuleAsNull)
{
    Imports imports;
    auto image = PeImage::load(qmtest::fixture("pe_runtime.dll"), imports);
    failLoaderAt(LoaderFault::Allocation, 1);
    EXPECT_EQ(qmtest::callExport<int(__attribute__((cdecl)) *)(const char *)>(*image, "notMain", "four"), -1);
    EXPECT_EQ(qmtest::callExport<int(__attribute__((cdecl)) *)(const char *)>(*image, "notMain", "four"), 4);
    clearLoaderFaults();
}

} // namespace
