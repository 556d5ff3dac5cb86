// The loader core on the fixture DLLs: mapping, relocation, imports,
// initialisation order, exports, resources and release.
#include "pe_test_support.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <string>

using corvane::pe::LoadOptions;
using corvane::pe::PeError;
using corvane::pe::PeImage;
using qmtest::fixture;
using qmtest::FixtureHost;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

constexpr uintptr_t kBasicBase = 0x63000000;

// Event codes the fixture records: 100 + reason (first TLS callback),
// 200 + reason (second), 300 + reason (entry point).
constexpr uint32_t kAttachOrder[] = {101, 201, 301};
constexpr uint32_t kDetachOrder[] = {100, 200, 300};

class PeImageTest : public testing::Test {
protected:
    void SetUp() override { FixtureHost::reset(); }
    std::unique_ptr<PeImage> load(const std::string &name, const LoadOptions &options = {})
    {
        return PeImage::load(fixture(name), host_, options);
    }
    FixtureHost host_;
};

TEST_F(PeImageTest, MapsAtThePreferredBaseAndRunsTlsCallbacksBeforeTheEntryPoint)
{
    auto image = load("pe_basic.dll");
    EXPECT_EQ(image->base(), kBasicBase);
    EXPECT_FALSE(image->relocated());
    EXPECT_THAT(FixtureHost::recorded, ElementsAre(101, 201, 301));

    const auto events = static_cast<const uint32_t *>(image->findExport("events"));
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(qmtest::exportedValue<uint32_t>(*image, "eventCount"), 3u);
    EXPECT_TRUE(std::equal(std::begin(kAttachOrder), std::end(kAttachOrder), events));
}

TEST_F(PeImageTest, EntryPointSeesItsThreadBlockAndTlsThroughFs)
{
    auto image = load("pe_basic.dll");
    const uint32_t self = qmtest::exportedValue<uint32_t>(*image, "attachSelf");
    EXPECT_EQ(self, corvane::pe::ThreadBlock::current().address());
    EXPECT_EQ(qmtest::exportedValue<uint32_t>(*image, "attachSegmentAgrees"), 1u);
    ASSERT_GE(image->tlsIndex(), 0);
    EXPECT_EQ(qmtest::exportedValue<uint32_t>(*image, "attachTlsIndex"), static_cast<uint32_t>(image->tlsIndex()));
    EXPECT_EQ(qmtest::exportedValue<uint32_t>(*image, "attachTlsValue"), 0x5EED1234u);
    // The template is copied, so this thread's copy changes alone.
    qmtest::callExport<void (*)(uint32_t)>(*image, "setCurrentTlsValue", 99u);
    EXPECT_EQ(qmtest::callExport<uint32_t (*)()>(*image, "currentTlsValue"), 99u);
}

TEST_F(PeImageTest, ImportsAreBoundByNameByOrdinalAndAsData)
{
    auto image = load("pe_basic.dll");
    FixtureHost::counter = 5;
    // hostTwice (by ordinal) doubles, hostCounter (data) is read in place.
    EXPECT_EQ(qmtest::callExport<int32_t (*)(int32_t)>(*image, "callImports", 10), 25);
    EXPECT_EQ(qmtest::callExport<int32_t *(*)()>(*image, "counterAddress"), &FixtureHost::counter);
}

// The lookups themselves are the PE reader's (pe_file_test); these reach code.
TEST_F(PeImageTest, ExportsByNameAndOrdinal)
{
    auto image = load("pe_basic.dll");
    EXPECT_EQ((qmtest::callExport<int32_t (*)(int32_t, int32_t)>(*image, "add", 2, 40)), 42);

    auto secret = reinterpret_cast<int32_t (*)()>(image->findExport(uint16_t{7}));
    ASSERT_NE(secret, nullptr);
    EXPECT_EQ(secret(), 7777);
    EXPECT_EQ(image->findExport("forwarded"), nullptr); // lives in another DLL
    EXPECT_THAT(image->exportNames(), testing::Contains("add"));
}

TEST_F(PeImageTest, UnloadRunsDetachInOrderAndReleasesEverything)
{
    auto image = load("pe_basic.dll");
    const uint32_t size = image->size();
    const int32_t tls = image->tlsIndex();
    FixtureHost::recorded.clear();
    image.reset();

    EXPECT_THAT(FixtureHost::recorded, ElementsAre(100, 200, 300));
    EXPECT_EQ(PeImage::fromBase(reinterpret_cast<void *>(kBasicBase)), nullptr);
    EXPECT_TRUE(qmtest::addressRangeFree(kBasicBase, size));
    // The TLS slot is free again: the next image gets the same one.
    auto again = load("pe_basic.dll");
    EXPECT_EQ(again->tlsIndex(), tls);
}

TEST_F(PeImageTest, RefusedAttachIsToldToDetachAndNothingStays)
{
    FixtureHost::attachAnswer = 0;
    try {
        load("pe_basic.dll");
        FAIL() << "an image whose entry point refuses must not load";
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr("refused to attach"));
    }
    EXPECT_THAT(FixtureHost::recorded, ElementsAre(101, 201, 301, 100, 200, 300));
    EXPECT_TRUE(qmtest::addressRangeFree(kBasicBase, 0x10000));
}

TEST_F(PeImageTest, SecondCopyIsRelocatedAndKeepsItsOwnData)
{
    auto first = load("pe_basic.dll");
    auto second = load("pe_basic.dll");
    ASSERT_EQ(first->base(), kBasicBase);
    EXPECT_TRUE(second->relocated());
    EXPECT_NE(second->base(), first->base());
    EXPECT_EQ(second->preferredBase(), kBasicBase);

    // A relocated pointer in data reaches the copy's own variable.
    qmtest::callExport<void (*)(int32_t)>(*first, "writeTarget", 5);
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*first, "readTarget"), 5);
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*second, "readTarget"), 42);
    qmtest::callExport<void (*)(int32_t)>(*second, "writeTarget", 6);
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*first, "readTarget"), 5);
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*second, "readTarget"), 6);

    // Each copy has its own TLS slot, initialised from its own template.
    EXPECT_NE(first->tlsIndex(), second->tlsIndex());
    EXPECT_EQ(qmtest::callExport<uint32_t (*)()>(*second, "currentTlsValue"), 0x5EED1234u);
    EXPECT_EQ((qmtest::callExport<int32_t (*)(int32_t, int32_t)>(*second, "add", 1, 2)), 3);
    EXPECT_EQ(PeImage::containing(reinterpret_cast<void *>(second->base() + 0x1000)), second.get());
}

TEST_F(PeImageTest, RelocatesWhenThePreferredBaseIsTaken)
{
    qmtest::AddressBlocker blocker(kBasicBase, 0x1000);
    ASSERT_TRUE(blocker.held());
    auto image = load("pe_basic.dll");
    EXPECT_TRUE(image->relocated());
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*image, "readTarget"), 42);
    EXPECT_THAT(FixtureHost::recorded, ElementsAre(101, 201, 301));
}

TEST_F(PeImageTest, ImageWithoutRelocationsNeedsItsBase)
{
    auto first = load("pe_basic.dll");
    ASSERT_EQ(first->base(), kBasicBase);
    // Copies that cannot be moved: flagged so, or with an empty relocation table.
    qmtest::PeBytes flagged = qmtest::basic(), emptied = qmtest::basic();
    flagged.bytes[flagged.coff + offsetof(corvane::pe::FileHeader, characteristics)] |=
        corvane::pe::kFileRelocsStripped;
    emptied.set<uint32_t>(emptied.directory(corvane::pe::kDirBaseReloc) + 4, 0);
    for (const auto &file : {flagged, emptied}) {
        qmtest::ScratchFile fixed("fixed.dll", file.bytes);
        try {
            PeImage::load(fixed.path(), host_);
            ADD_FAILURE() << "a second copy cannot be placed";
        } catch (const PeError &e) {
            EXPECT_THAT(e.what(), HasSubstr("fixed.dll: cannot be placed at its preferred base 0x63000000"));
            EXPECT_THAT(e.what(), HasSubstr("no relocations"));
        }
    }
    EXPECT_EQ(qmtest::callExport<int32_t (*)()>(*first, "readTarget"), 42);
}

TEST_F(PeImageTest, EveryUnresolvedImportIsNamedAndNothingRuns)
{
    host_.withheld = {"hostCounter", "#5"};
    try {
        load("pe_basic.dll");
        FAIL() << "unresolved imports must refuse the load";
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr("PeFixtureHost.dll!hostCounter"));
        EXPECT_THAT(e.what(), HasSubstr("PeFixtureHost.dll!#5"));
        EXPECT_THAT(e.what(), testing::Not(HasSubstr("hostRecord")));
    }
    EXPECT_TRUE(FixtureHost::recorded.empty());
    EXPECT_TRUE(qmtest::addressRangeFree(kBasicBase, 0x10000));
    EXPECT_EQ(PeImage::fromBase(reinterpret_cast<void *>(kBasicBase)), nullptr);
}

TEST_F(PeImageTest, InspectionRunsNoCodeOnLoadOrUnload)
{
    auto image = load("pe_basic.dll", LoadOptions{.initialize = false});
    EXPECT_NE(image->findExport("add"), nullptr);
    image.reset();
    EXPECT_TRUE(FixtureHost::recorded.empty());
}

TEST_F(PeImageTest, PageProtectionsFollowTheSections)
{
    auto image = load("pe_basic.dll");
    struct Row {
        uint32_t rva;
        uint32_t protection;
    };
    // .text execute-read, .data read-write, .rdata read-only, headers read-only.
    for (const Row row : {Row{0x1000, 0x20}, Row{0x2000, 0x04}, Row{0x3000, 0x02}, Row{0x0, 0x02}}) {
        corvane::pe::MemoryRegion region;
        ASSERT_TRUE(image->query(image->base() + row.rva + 4, region)) << row.rva;
        EXPECT_EQ(region.base, image->base() + row.rva);
        EXPECT_EQ(region.protection, row.protection) << row.rva;
    }
    uint32_t previous = 0;
    ASSERT_TRUE(image->protect(image->base() + 0x3000, 4, 0x04, previous));
    EXPECT_EQ(previous, 0x02u);
    *reinterpret_cast<volatile uint32_t *>(image->base() + 0x3000) = 1; // writable now
    ASSERT_TRUE(image->protect(image->base() + 0x3000, 4, 0x02, previous));
    EXPECT_EQ(previous, 0x04u);
    EXPECT_FALSE(image->protect(image->base() + 0x3000, 4, 0x03, previous)); // not a protection
    EXPECT_FALSE(image->protect(image->base() + image->size() + 0x10000, 4, 0x04, previous));
    corvane::pe::MemoryRegion region;
    EXPECT_FALSE(image->query(image->base() - 1, region));
}

// Read from the mapped image, as the Win32 stand-in is handed them.
TEST_F(PeImageTest, ResourcesAreReadFromTheMappedImage)
{
    auto image = load("pe_basic.dll");
    const auto &resources = image->resources();
    EXPECT_EQ(resources.resources().size(), 4u);
    for (const auto &r : resources.resources())
        EXPECT_TRUE(image->contains(r.data.data(), static_cast<uint32_t>(r.data.size())));
    const auto *found = resources.find(10, 1);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found->data.begin(), found->data.end()), "first");
}

TEST_F(PeImageTest, MissingFileIsACleanError)
{
    try {
        load("no_such_module.dll");
        FAIL();
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr("no_such_module.dll: cannot open"));
    }
    try {
        PeImage::load(QM_PE_FIXTURES, host_);
        FAIL();
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr("not a regular file"));
    }
}

} // namespace
