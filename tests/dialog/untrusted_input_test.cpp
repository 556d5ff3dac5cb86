// The options command on records and host state it cannot trust: a damaged
// or missing record, a missing global block, strings that fill their fields.
#include "options_fixture.h"

using namespace qmtest;

namespace {

constexpr char kDamaged[] = "Quillomark internal structure damaged.";

class OptionsFaults : public Options {
protected:
    // The command through `main` with the records as they stand; the dialog
    // must not open, and the host hears of the damage.
    void expectRefused(const std::function<int32_t()> &command)
    {
        host_->out().outFlags = 0x1234;
        host_->out().returnMessage[0] = '\0';
        const size_t dialogs = dialogReports().size();
        queueScript(Script().ok());
        EXPECT_EQ(command(), 512);
        EXPECT_EQ(host_->message(), kDamaged);
        EXPECT_EQ(host_->out().outFlags, 256);
        EXPECT_EQ(dialogReports().size(), dialogs);
        EXPECT_EQ(queuedScripts(), 1u);
        clearScripts();
    }
};

} // namespace

TEST_F(OptionsFaults, ADamagedRecordIsReportedAndLeftAlone)
{
    for (size_t byte : {0u, 1u, 2u, 3u}) {
        auto r = record("text", "Verdana", 1, 1);
        bytesOf(r, Field::Magic)[byte] ^= 0x01;
        store(r);
        expectRefused([&] { return instance_->options(); });
        EXPECT_EQ(stored(), r) << byte;
    }
    // Only the magic is checked, not the version.
    store(corvane::record::encode({.version = 0x0200, .text = "text", .fontName = "Verdana"}));
    EXPECT_EQ(options(Script().ok()), 0);
}

TEST_F(OptionsFaults, AMissingRecordIsReportedNotFollowed)
{
    expectRefused([&] { return host_->command(CmdOptionsDialog, nullptr); });
}

TEST_F(OptionsFaults, AMissingGlobalBlockIsReportedNotFollowed)
{
    store(record("text", "Verdana", 3));
    const auto before = stored();
    HostInData &in = host_->in();
    const Handle block = in.globalData;
    char *nothing = nullptr;
    for (Handle missing : {static_cast<Handle>(nullptr), static_cast<Handle>(&nothing)}) {
        in.globalData = missing;
        in.sequenceData = host_->out().sequenceData = instance_->handle();
        expectRefused([&] { return host_->callMain(CmdOptionsDialog); });
    }
    in.globalData = block;
    EXPECT_EQ(stored(), before);
}

TEST_F(OptionsFaults, ATextFillingItsWholeFieldLosesItsLastCharacterOnly)
{
    auto r = record("", "Verdana", 2, 1);
    std::ranges::fill(bytesOf(r, Field::Text), 'A');
    store(r);
    EXPECT_EQ(
        options(
            Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.text(kIdTextField), std::string(255, 'A')); }).cancel()),
        517);
    auto expected = r;
    bytesOf(expected, Field::Text)[255] = 0;
    EXPECT_EQ(stored(), expected); // fontName and the rest untouched

    store(r);
    EXPECT_EQ(options(Script().ok()), 0);
    EXPECT_EQ(fields().text, std::string(254, 'A'));
    EXPECT_EQ(fields().fontName, "Verdana");
}

TEST_F(OptionsFaults, FontNamesThatFillTheirFieldOrHoldAZeroKeepTheirBytes)
{
    struct Row {
        const char *what;
        std::string name;
    } rows[] = {
        {"255 characters", std::string(255, 'x')},
        {"a zero inside", std::string("Ver\0dana", 8)},
        {"a zero first", std::string("\0arial", 6)},
    };
    for (const Row &r : rows) {
        auto bytes = record("t", r.name);
        const auto font = bytesOf(bytes, Field::FontName);
        std::fill(font.begin() + 1 + r.name.size(), font.end(), 0x77); // stale bytes beyond the name
        store(bytes);
        EXPECT_EQ(
            options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "arial"); }).cancel()),
            517)
            << r.what;
        EXPECT_EQ(stored(), bytes) << r.what;
    }
    // What OK writes is the list entry, zero-padded nowhere else.
    store(record("t", std::string(255, 'x')));
    EXPECT_EQ(options(Script().pickFont("Verdana").ok()), 0);
    const auto after = stored();
    EXPECT_EQ(corvane::record::decode(after).fontName, "Verdana");
    EXPECT_EQ(bytesOf(after, Field::FontName)[8], 'x'); // the old name's tail is not the new name's business
}

TEST_F(OptionsFaults, RepeatedOpeningsReleaseEverything)
{
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(options(Script().type("x").ok()), 0);
        EXPECT_EQ(options(Script().cancel()), 517);
    }
    EXPECT_EQ(fields().text, "xxxxx");
    EXPECT_EQ(liveDeviceContexts(), 0);
    EXPECT_EQ(host_->live().portingLocks, 0);
}
