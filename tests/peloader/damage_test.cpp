// Damaged and foreign files: each gets a PeError that says what is wrong,
// never a crash, and leaves nothing mapped.
#include "pe_test_support.h"

#include <gmock/gmock.h>

#include <random>

using namespace corvane::pe;
using qmtest::basic;
using qmtest::DamageCase;
using qmtest::FixtureHost;
using qmtest::kDamage;
using qmtest::PeBytes;
using testing::HasSubstr;

namespace {

class DamageTest : public testing::TestWithParam<DamageCase> {
protected:
    void SetUp() override { FixtureHost::reset(); }
};

TEST_P(DamageTest, IsRefusedWithAClearMessage)
{
    const DamageCase &c = GetParam();
    PeBytes file = basic();
    c.damage(file);
    qmtest::ScratchFile scratch(std::string(c.name) + ".dll", file.bytes);
    std::unique_ptr<qmtest::AddressBlocker> blocker;
    if (c.forceRelocation)
        blocker = std::make_unique<qmtest::AddressBlocker>(0x63000000, 0x1000);
    FixtureHost host;
    try {
        PeImage::load(scratch.path(), host);
        FAIL() << c.name << " loaded";
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr(scratch.path() + ": ")) << c.name;
        EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.name;
    }
    EXPECT_TRUE(FixtureHost::recorded.empty()) << c.name << ": no code may run";
    if (!c.forceRelocation) {
        EXPECT_TRUE(qmtest::addressRangeFree(0x63000000, 0xB000)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DamageTest, testing::ValuesIn(kDamage),
                         [](const testing::TestParamInfo<DamageCase> &info) { return info.param.name; });

TEST(DamagedFiles, SixtyFourBitDllIsRefused)
{
    FixtureHost host;
    try {
        PeImage::load(qmtest::fixture("pe_amd64.dll"), host);
        FAIL();
    } catch (const PeError &e) {
        EXPECT_THAT(e.what(), HasSubstr("64-bit"));
        EXPECT_THAT(e.what(), HasSubstr("32-bit x86 modules only"));
    }
}

// Cut anywhere before the last section's data, the file is refused; cut
// after it (only trailing bytes lost), it still loads.
TEST(DamagedFiles, EveryTruncationBeforeTheDataIsRefused)
{
    const PeBytes whole = basic();
    const uint32_t end = whole.rawEnd();
    ASSERT_LE(end, whole.bytes.size());
    FixtureHost host;
    for (uint32_t cut = 0; cut < whole.bytes.size(); cut += (cut < 0x400 ? 7 : 61)) {
        std::vector<uint8_t> part(whole.bytes.begin(), whole.bytes.begin() + cut);
        qmtest::ScratchFile scratch("cut.dll", part);
        if (cut < end) {
            EXPECT_THROW(PeImage::load(scratch.path(), host, LoadOptions{.initialize = false}), PeError) << cut;
        } else {
            EXPECT_NO_THROW(PeImage::load(scratch.path(), host, LoadOptions{.initialize = false})) << cut;
        }
    }
    EXPECT_TRUE(qmtest::addressRangeFree(0x63000000, 0xB000));
}

// Random damage to the headers and tables: every outcome is a load or a
// PeError. No code runs, so damage to code cannot matter.
TEST(DamagedFiles, RandomHeaderDamageNeverCrashes)
{
    const PeBytes whole = basic();
    std::mt19937 random(20240611);
    // Headers, and the import, export, TLS and resource tables.
    std::vector<std::pair<uint32_t, uint32_t>> areas = {{0, 0x400}};
    for (uint32_t dir : {kDirImport, kDirExport, kDirTls, kDirResource, kDirBaseReloc}) {
        const uint32_t rva = whole.get<uint32_t>(whole.directory(dir));
        const uint32_t size = whole.get<uint32_t>(whole.directory(dir) + 4);
        areas.emplace_back(whole.fileOffset(rva), size);
    }
    FixtureHost host;
    int loaded = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        PeBytes f = whole;
        const auto &area = areas[random() % areas.size()];
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            f.bytes[area.first + random() % area.second] ^= static_cast<uint8_t>(1u << (random() % 8));
        qmtest::ScratchFile scratch("random.dll", f.bytes);
        try {
            PeImage::load(scratch.path(), host, LoadOptions{.initialize = false});
            ++loaded;
        } catch (const PeError &e) {
            ++refused;
            EXPECT_THAT(e.what(), HasSubstr(scratch.path())) << round;
        }
    }
    EXPECT_EQ(loaded + refused, 400);
    EXPECT_GT(refused, 0);
}

} // namespace
