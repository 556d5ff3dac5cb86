// The compiled-resource reader on PE images, as files and as mapped images.
#include "res_builder.h"
#include "res_file.h"

#include <gtest/gtest.h>

using corvane::PeLayout;
using corvane::ResourceFile;
using qmtest::Bytes;
using qmtest::Entry;

namespace {

std::vector<Entry> sampleEntries()
{
    return {
        {uint16_t{5}, uint16_t{101}, 1033, {1, 2, 3, 4, 5}},
        {u"PIPL", uint16_t{16000}, 1033, {6, 7}},
        {uint16_t{16}, u"INFO", 1031, {}},
    };
}

TEST(PeResources, FileAndMappedLayoutsReadTheSameResources)
{
    const qmtest::PeImage pe = qmtest::buildPe(sampleEntries());
    for (auto [layout, bytes] : {std::pair{PeLayout::File, &pe.file}, std::pair{PeLayout::Mapped, &pe.mapped}}) {
        SCOPED_TRACE(layout == PeLayout::File ? "file" : "mapped");
        const ResourceFile file = ResourceFile::parsePe(*bytes, layout);
        ASSERT_EQ(file.resources().size(), 3u);
        // Directory order: named types first.
        const auto &pipl = file.resources()[0];
        EXPECT_FALSE(pipl.type.isId);
        EXPECT_EQ(pipl.type.name, "PIPL");
        EXPECT_EQ(pipl.name.id, 16000);
        EXPECT_EQ(Bytes(pipl.data.begin(), pipl.data.end()), (Bytes{6, 7}));

        const auto *dialog = file.find(uint16_t{5}, uint16_t{101});
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->language, 1033);
        EXPECT_EQ(Bytes(dialog->data.begin(), dialog->data.end()), (Bytes{1, 2, 3, 4, 5}));
        EXPECT_GE(dialog->data.data(), bytes->data());
        EXPECT_LE(dialog->data.data() + dialog->data.size(), bytes->data() + bytes->size());

        const auto &info = file.resources()[2];
        EXPECT_EQ(info.name.name, "INFO");
        EXPECT_EQ(info.language, 1031);
        EXPECT_TRUE(info.data.empty());
    }
}

TEST(PeResources, ImageWithoutResourceDirectoryHasNoResources)
{
    const qmtest::PeImage pe = qmtest::buildPe({}, false);
    EXPECT_TRUE(ResourceFile::parsePe(pe.file).resources().empty());
}

TEST(PeResources, RefusesWhatIsNotAPeImage)
{
    const qmtest::PeImage pe = qmtest::buildPe(sampleEntries());
    struct Case {
        const char *what;
        std::function<void(Bytes &)> damage;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"empty", [](Bytes &b) { b.clear(); }, "not a PE file"},
        {"no MZ", [](Bytes &b) { b[0] = 'X'; }, "no MZ signature"},
        {"PE offset past the end", [](Bytes &b) { qmtest::set32(b, 0x3C, 0xFFFFFFF0); }, "PE header"},
        {"no PE signature", [](Bytes &b) { b[0x80] = 'N'; }, "no PE signature"},
        {"unknown optional header", [](Bytes &b) { b[0x98] = 0x07; }, "optional header magic"},
        {"section table past the end", [](Bytes &b) { b[0x86] = 0xFF; }, "section table"},
        {"directory outside every section", [](Bytes &b) { qmtest::set32(b, 0x98 + 96 + 16, 0x9000); },
         "lies in no section"},
        {"section data past the end of the file", [](Bytes &b) { qmtest::set32(b, 0x98 + 224 + 20, 0xFFFFFFF0); },
         "past the end"},
        {"directory longer than its section", [](Bytes &b) { qmtest::set32(b, 0x98 + 96 + 20, 0x10000); },
         "run past the end of their section"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = pe.file;
        c.damage(bad);
        qmtest::expectRefused([&] { ResourceFile::parsePe(bad); }, c.message);
    }
}

TEST(PeResources, RefusesDirectoriesThatBreakTheThreeLevels)
{
    const qmtest::PeImage pe = qmtest::buildPe(sampleEntries());
    const size_t root = pe.dirOffset;
    // Layout: root (40 bytes), three name directories, three language
    // directories (24 bytes each), then the data entries.
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"type entry points at data", root + 16 + 4, 40, "type entry is not a directory"},
        {"type entry points back at the root", root + 16 + 4, 0x80000000u, "loop"},
        {"entry count past the directory", root + 12, 0x00400000u, "root directory at offset 0 runs past"},
        {"name string past the directory", root + 16, 0x8000FFF0u, "entry name"},
        {"language entry is a directory", root + 40 + 3 * 24 + 16 + 4, 0x80000000u, "not a numbered data entry"},
        {"data outside every section", 0, 0, "resource data"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = pe.file;
        if (c.at) {
            qmtest::set32(bad, c.at, c.value);
        } else {
            // First data entry: after the root (40), name and language directories (3 * 24 each).
            qmtest::set32(bad, root + 40 + 6 * 24, 0x7FFF0000u);
        }
        qmtest::expectRefused([&] { ResourceFile::parsePe(bad); }, c.message);
    }
}

TEST(PeResources, CorruptOrTruncatedImagesNeverEscapeTheBytes)
{
    const qmtest::PeImage pe = qmtest::buildPe(sampleEntries());
    auto tryParse = [](const Bytes &bytes, PeLayout layout) {
        try {
            const ResourceFile file = ResourceFile::parsePe(bytes, layout);
            for (const auto &r : file.resources()) {
                ASSERT_GE(r.data.data(), bytes.data());
                ASSERT_LE(r.data.data() + r.data.size(), bytes.data() + bytes.size());
            }
        } catch (const std::runtime_error &) {
        }
    };
    for (size_t i = 0; i < pe.file.size(); ++i) {
        Bytes bad = pe.file;
        bad[i] ^= 0xFF;
        tryParse(bad, PeLayout::File);
        tryParse(Bytes(pe.file.begin(), pe.file.begin() + i), PeLayout::File);
    }
    for (size_t i = pe.sectionRva; i < pe.mapped.size(); ++i) {
        Bytes bad = pe.mapped;
        bad[i] ^= 0x80;
        tryParse(bad, PeLayout::Mapped);
    }
}

} // namespace
