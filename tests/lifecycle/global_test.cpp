// Global setup, global teardown and the about text, through `main`.
#include "lifecycle_support.h"

using namespace corvane;
using namespace qmtest;

namespace {

class Global : public ::testing::Test {
protected:
    void TearDown() override { host.clearFaults(); }
    Host host{QM_MODULE_PATH};
};

TEST_F(Global, SetupRegistersTheTableAndReportsVersionAndFlags)
{
    host.out().outFlags = 0x7FFF;
    host.out().effectVersion = 0;
    ASSERT_EQ(host.command(CmdGlobalSetup, nullptr), 0);
    EXPECT_EQ(host.out().effectVersion, 1639936);
    EXPECT_EQ(host.out().outFlags, 97); // assigned, whatever came in
    ASSERT_TRUE(host.globalRegistered());

    const auto tables = host.stringTables();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].entries, 10); // counted to the end mark
    EXPECT_EQ(tables[0].id, 4087);
    EXPECT_EQ(tables[0].countArgument, 1);
    EXPECT_EQ(tables[0].effectName, "Quillomark");
    // The 4-byte global block holds the table's value.
    Handle block = host.out().globalData;
    EXPECT_EQ(*reinterpret_cast<StringTableRef *>(*block), tables[0].ref);
    const LiveCounts live = host.live();
    EXPECT_EQ(live.hostHandles, 1);
    EXPECT_EQ(live.stringTables, 1);

    const char *const expected[] = {"Size",
                                    "Position",
                                    "Text Color",
                                    "Composite On Original",
                                    "Not enough memory to execute Quillomark.",
                                    "Quillomark internal structure damaged.",
                                    "Quillomark is unable to allocate a text buffer.",
                                    "Geneva",
                                    "Affect All Channels|Affect Color Channels Only|Affect Alpha Channel Only"};
    for (int i = 1; i < 10; ++i)
        EXPECT_STREQ(host.in().getString(tables[0].ref, i), expected[i - 1]) << i;
}

struct FailureRow {
    const char *what;
    Service service;
    int32_t error;
    bool partial;
    int32_t result;
};

TEST_F(Global, FailedSetupCleansUpAndSaysSo)
{
    const FailureRow rows[] = {
        {"string table refused", Service::OpenStringTable, -192, false, -192},
        {"string table opened, then refused", Service::OpenStringTable, -193, true, -193},
        {"no global block", Service::NewHandle, 0, false, 4},
    };
    for (const FailureRow &r : rows) {
        host.failAt(r.service, 1, r.error, r.partial);
        host.out().outFlags = 1;
        host.out().effectVersion = 0x5A5A;
        std::memset(host.out().returnMessage, 0, kReturnMessageSize);
        EXPECT_EQ(host.command(CmdGlobalSetup, nullptr), r.result) << r.what;
        EXPECT_EQ(host.out().outFlags, 257) << r.what;
        EXPECT_EQ(host.message(), kNotInitialised) << r.what;
        EXPECT_EQ(host.out().effectVersion, 0x5A5A) << r.what;
        EXPECT_FALSE(host.globalRegistered()) << r.what;
        EXPECT_TRUE(host.live().empty()) << r.what << ": " << host.live();
        EXPECT_TRUE(host.misuses().empty()) << r.what;
    }
    // The same host can still set up once the fault has passed.
    EXPECT_EQ(host.globalSetup(), 0);
}

TEST_F(Global, AboutFormatsVersionAndNotice)
{
    ASSERT_EQ(host.globalSetup(), 0);
    host.out().outFlags = 5;
    std::memset(host.out().returnMessage, 0x7E, kReturnMessageSize);
    ASSERT_EQ(host.command(CmdAbout, nullptr), 0);
    const std::string text = host.message();
    EXPECT_EQ(text.substr(0, 18), "Quillomark, v3.2\r\r");
    EXPECT_EQ(text.size(), 136u);
    EXPECT_NE(text.find("\r\rPerforms very basic character generation."), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 46), std::string(46, ' '));
    EXPECT_EQ(host.out().outFlags, 5); // no flag set
    EXPECT_EQ(host.about(), text);
}

TEST_F(Global, TeardownReleasesTheTableAndTheBlock)
{
    ASSERT_EQ(host.globalSetup(), 0);
    const int32_t closes = host.calls(Service::CloseStringTable);
    EXPECT_EQ(host.globalTeardown(), 0);
    EXPECT_EQ(host.out().globalData, nullptr);
    EXPECT_FALSE(host.globalRegistered());
    EXPECT_EQ(host.calls(Service::CloseStringTable), closes + 1);
    EXPECT_TRUE(host.live().empty()) << host.live();
    EXPECT_TRUE(host.misuses().empty());
}

TEST_F(Global, TeardownLeavesAnEmptyBlockWithTheHost)
{
    char *master = nullptr;
    Handle empty = &master;
    host.in().globalData = host.out().globalData = empty;
    EXPECT_EQ(host.callMain(CmdGlobalTeardown), 0);
    EXPECT_EQ(host.out().globalData, empty);
    EXPECT_EQ(host.calls(Service::CloseStringTable), 0);
}

} // namespace

namespace {

// A host that skips global setup (or carries on after it failed) must get a
// clear answer, not a crash: there is no string table to take messages from.
TEST(WithoutGlobalSetup, CommandsAnswerClearly)
{
    Host host(QM_MODULE_PATH);
    struct Row {
        const char *what;
        int32_t command;
        bool record;
        int32_t result;
    };
    const Row rows[] = {
        {"parameter setup", CmdParamSetup, false, 512},
        {"instance setup", CmdInstanceSetup, false, 512},
        {"re-setup without a record", CmdInstanceResetup, false, 512},
        {"re-setup with a record", CmdInstanceResetup, true, 512},
        {"render", CmdRender, true, 512},
        {"options", CmdOptionsDialog, true, 512},
        {"global teardown", CmdGlobalTeardown, false, 0},
        {"instance teardown", CmdInstanceTeardown, false, 0},
    };
    for (const Row &r : rows) {
        Instance &inst = host.newInstance();
        if (r.record)
            inst.setStoredRecord(busyStored());
        host.out().outFlags = 0x33;
        std::memset(host.out().returnMessage, 0, kReturnMessageSize);
        EXPECT_EQ(inst.command(r.command), r.result) << r.what;
        if (r.result == 512) {
            EXPECT_EQ(host.message(), kDamaged) << r.what;
            EXPECT_EQ(host.out().outFlags, 256) << r.what;
        } else {
            EXPECT_EQ(host.out().outFlags, 0x33) << r.what;
        }
        EXPECT_EQ(host.out().globalData, nullptr) << r.what;
        if (r.record) {
            EXPECT_EQ(inst.storedRecord(), busyStored()) << r.what << ": the record stays the host's";
            ASSERT_EQ(inst.teardown(), 0);
        }
        EXPECT_TRUE(host.live().empty()) << r.what << ": " << host.live();
        host.removeInstance(inst);
    }
    EXPECT_EQ(host.parameters().size(), 0u);
    // The about text needs no registered table.
    EXPECT_EQ(host.about().substr(0, 18), "Quillomark, v3.2\r\r");
    EXPECT_TRUE(host.misuses().empty());
}

} // namespace
