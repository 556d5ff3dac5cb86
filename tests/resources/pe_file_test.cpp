// The PE reader on the fixture DLLs, on every build: headers, the tables a
// loader binds from, pages, resources in both layouts, and damaged copies
// (the loader's tests load the same copies on 32-bit x86).
#include "pe_file.h"
#include "pe_fixtures.h"
#include "res_builder.h"
#include "res_file.h"

#include <gmock/gmock.h>

using namespace corvane::pe;
using corvane::PeLayout;
using corvane::ResourceFile;

namespace {

constexpr uint32_t kBasicBase = 0x63000000;

// A fixture as read and laid out the way the loader maps it.
struct Laid {
    std::vector<uint8_t> file;
    Headers headers;
    std::vector<uint8_t> bytes;

    explicit Laid(std::vector<uint8_t> f) : file(std::move(f)), headers(readHeaders(file, true))
    {
        checkLoadable(headers, file.size());
        bytes.resize(mappedSize(headers));
        layOut(file, headers, bytes);
    }
    std::span<const uint8_t> image() const { return std::span(bytes).first(headers.optional.sizeOfImage); }
};

Laid basicDll()
{
    return Laid(qmtest::readBytes(qmtest::fixture("pe_basic.dll")));
}

TEST(PeFile, HeadersOfA32BitDllAndA64BitOne)
{
    const Laid dll = basicDll();
    EXPECT_EQ(dll.headers.file.machine, kMachineI386);
    EXPECT_FALSE(dll.headers.pe32Plus);
    EXPECT_EQ(dll.headers.optional.imageBase, kBasicBase);
    EXPECT_NE(dll.headers.directory(kDirResource).size, 0u);

    const auto amd64 = qmtest::readBytes(qmtest::fixture("pe_amd64.dll"));
    const Headers wide = readHeaders(amd64);
    EXPECT_EQ(wide.file.machine, kMachineAmd64);
    EXPECT_TRUE(wide.pe32Plus);
    EXPECT_FALSE(wide.sections.empty());
    qmtest::expectRefused([&] { readHeaders(amd64, true); }, "64-bit (x86-64)");
}

TEST(PeFile, PagesTakeTheirSectionsProtection)
{
    // Headers, .text, .data, .rdata.
    const std::vector<uint16_t> pages = pageProtections(basicDll().headers);
    ASSERT_GE(pages.size(), 4u);
    EXPECT_THAT(std::vector(pages.begin(), pages.begin() + 4),
                testing::ElementsAre(kPageReadOnly, kPageExecuteRead, kPageReadWrite, kPageReadOnly));
}

TEST(PeFile, ImportsByNameByOrdinalAndOfData)
{
    const Laid dll = basicDll();
    const auto dlls = readImports(dll.image(), dll.headers);
    ASSERT_EQ(dlls.size(), 1u);
    EXPECT_EQ(dlls[0].dll, "PeFixtureHost.dll");
    std::vector<std::string> names;
    for (const Import &i : dlls[0].imports) {
        names.push_back(i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name);
        EXPECT_EQ(corvane::detail::read32(dll.image(), i.slot, "slot") & kImportByOrdinal,
                  i.name.empty() ? kImportByOrdinal : 0)
            << "the unbound slot still holds its lookup entry";
    }
    EXPECT_THAT(names, testing::UnorderedElementsAre("hostRecord", "hostAttachAnswer", "#5", "hostCounter"));
}

TEST(PeFile, ExportsByNameAndOrdinal)
{
    const Laid dll = basicDll();
    const ExportTable exports(dll.image(), dll.headers.directory(kDirExport));
    const uint32_t text = dll.headers.sections[0].virtualAddress;
    EXPECT_GE(exports.find("add"), text);
    EXPECT_GE(exports.find(uint16_t{7}), text); // exported without a name
    EXPECT_EQ(exports.find("secret"), 0u);      // so not by this one
    EXPECT_EQ(exports.find("forwarded"), 0u);   // lives in another DLL
    EXPECT_EQ(exports.find("ad"), 0u);          // a prefix of a name
    EXPECT_EQ(exports.find("addx"), 0u);
    EXPECT_EQ(exports.find(""), 0u);
    EXPECT_EQ(exports.find(uint16_t{0}), 0u); // below the ordinal base
    EXPECT_EQ(exports.find(uint16_t{99}), 0u);
    EXPECT_THAT(exports.names(), testing::IsSupersetOf({"add", "forwarded", "events"}));
    EXPECT_THAT(exports.names(), testing::Not(testing::Contains("secret")));
}

TEST(PeFile, RelocationsMoveEveryAddressWithTheImage)
{
    Laid dll = basicDll();
    const auto relocations = readRelocations(dll.image(), dll.headers);
    ASSERT_FALSE(relocations.empty());
    const uint32_t size = dll.headers.optional.sizeOfImage;
    std::vector<uint32_t> before;
    for (const Relocation &r : relocations) {
        ASSERT_EQ(r.type, kRelHighLow);
        before.push_back(corvane::detail::read32(dll.image(), r.rva, "a relocated word"));
        EXPECT_THAT(before.back() - kBasicBase, testing::Lt(size)) << "at " << hex(r.rva);
    }
    const uint32_t delta = 0x10000;
    applyRelocations(dll.bytes, relocations, delta);
    for (size_t i = 0; i < relocations.size(); ++i)
        EXPECT_EQ(corvane::detail::read32(dll.image(), relocations[i].rva, "a relocated word"), before[i] + delta);
}

TEST(PeFile, TlsTemplateHoldsTheInitialValue)
{
    const Laid dll = basicDll();
    const TlsTemplate tls = readTls(dll.image(), dll.headers.directory(kDirTls), kBasicBase);
    ASSERT_GE(tls.end - tls.start, 4u);
    EXPECT_EQ(corvane::detail::read32(dll.image(), tls.start, "the template"), 0x5EED1234u);
    EXPECT_TRUE(tls.hasCallbacks);
    EXPECT_EQ(corvane::detail::read32(dll.image(), tls.indexRva, "the index"), 0xFFFFFFFFu);
}

TEST(PeFile, ResourceDirectoryIsWalkedToEveryLanguageInBothLayouts)
{
    const Laid dll = basicDll();
    struct Row {
        corvane::ResName type, name;
        uint16_t language;
        std::string data;
    };
    const Row expected[] = {
        {{false, 0, "CUSTOM"}, {false, 0, "NAMED"}, 0x409, "custom type and name"},
        {{true, 10, {}}, {true, 1, {}}, 0x409, "first"},
        {{true, 10, {}}, {true, 2, {}}, 0x407, "zweite"},
        {{true, 10, {}}, {true, 2, {}}, 0x409, "second, two languages"},
    };
    for (const auto &[layout, bytes] :
         {std::pair{PeLayout::File, std::span<const uint8_t>(dll.file)}, std::pair{PeLayout::Mapped, dll.image()}}) {
        SCOPED_TRACE(layout == PeLayout::File ? "file" : "mapped");
        const ResourceFile file = ResourceFile::parsePe(bytes, layout);
        const auto &resources = file.resources();
        ASSERT_EQ(resources.size(), std::size(expected));
        for (size_t i = 0; i < resources.size(); ++i) {
            EXPECT_EQ(resources[i].type, expected[i].type) << i;
            EXPECT_EQ(resources[i].name, expected[i].name) << i;
            EXPECT_EQ(resources[i].language, expected[i].language) << i;
            EXPECT_EQ(std::string(resources[i].data.begin(), resources[i].data.end()), expected[i].data) << i;
        }
    }
}

// Reads all that the loader reads, in its order, as data.
void inspect(const std::vector<uint8_t> &file, bool relocating)
{
    const Laid dll(file);
    const auto image = dll.image();
    if (relocating)
        readRelocations(image, dll.headers);
    readImports(image, dll.headers);
    ExportTable(image, dll.headers.directory(kDirExport));
    ResourceFile::parsePe(image, PeLayout::Mapped);
    readTls(image, dll.headers.directory(kDirTls), dll.headers.optional.imageBase);
}

class DamagedFile : public testing::TestWithParam<qmtest::DamageCase> {};

TEST_P(DamagedFile, IsRefusedWithAClearMessage)
{
    const qmtest::DamageCase &c = GetParam();
    qmtest::PeBytes file = qmtest::basic();
    c.damage(file);
    qmtest::expectRefused([&] { inspect(file.bytes, c.forceRelocation); }, c.message);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedFile, testing::ValuesIn(qmtest::kDamage),
                         [](const testing::TestParamInfo<qmtest::DamageCase> &info) { return info.param.name; });

TEST(PeFile, TheUndamagedFixturePassesInspection)
{
    EXPECT_NO_THROW(inspect(qmtest::basic().bytes, true));
}

} // namespace
