// Instance setup, re-setup and teardown through `main`, their failure paths,
// and whole lifecycles that must leave nothing behind.
#include "lifecycle_support.h"
#include "corvane1_ext.h"

using namespace corvane;
using namespace qmtest;

namespace {

class Instances : public ModuleTest {
protected:
    Instance &inst = host.newInstance();
};

TEST_F(Instances, SetupLeavesABlankRecordInStoredForm)
{
    host.out().outFlags = 0x3;
    ASSERT_EQ(inst.command(CmdInstanceSetup), 0);
    EXPECT_EQ(host.out().outFlags, 128);
    ASSERT_TRUE(inst.hasRecord());
    EXPECT_EQ(host.out().sequenceData, inst.handle());
    EXPECT_EQ(inst.storedRecord(), blankStored()); // 00 FF 2B ED 01 00 and 516 zeros
    EXPECT_EQ(host.live().portingHandles, 1);
    EXPECT_EQ(host.live().portingLocks, 0);
}

struct VersionRow {
    uint16_t version;
    bool kept;
};

TEST_F(Instances, ResetupKeepsKnownVersionsAndReplacesOthers)
{
    const VersionRow rows[] = {
        {0x0100, true}, {0x017F, true}, {0x01FF, true}, {0x0200, false}, {0x00FF, false}, {0xFF01, false},
    };
    for (const VersionRow &r : rows) {
        ASSERT_EQ(inst.setup(), 0);
        const Bytes stored = busyStored(r.version);
        inst.setStoredRecord(stored);
        const Handle before = inst.handle();
        host.out().outFlags = 0x33;
        ASSERT_EQ(inst.command(CmdInstanceResetup), 0) << r.version;
        EXPECT_EQ(host.out().outFlags, 0x33) << "re-setup does not write the flags";
        if (r.kept) {
            EXPECT_EQ(inst.handle(), before);
            EXPECT_EQ(inst.storedRecord(), stored) << r.version;
        } else {
            EXPECT_NE(inst.handle(), before) << "the host is handed a new record";
            EXPECT_EQ(inst.storedRecord(), blankStored()) << r.version;
        }
        EXPECT_EQ(host.live().portingHandles, 1) << "a replaced record is released";
        ASSERT_EQ(inst.teardown(), 0);
    }
}

// The failing handler's record is converted back all the same.
TEST_F(Instances, ResetupOfADamagedRecordLeavesItWithTheHost)
{
    ASSERT_EQ(inst.setup(), 0);
    for (uint32_t magic : {0x12FF2BEDu, 0x00FF2BEEu}) {
        const Bytes damaged = busyStored(record::kVersion, magic);
        inst.setStoredRecord(damaged);
        const Handle before = inst.handle();
        host.out().outFlags = 0x33;
        EXPECT_EQ(inst.command(CmdInstanceResetup), 512) << magic;
        EXPECT_EQ(host.message(), kDamaged);
        EXPECT_EQ(host.out().outFlags, 256);
        EXPECT_EQ(inst.handle(), before);
        EXPECT_EQ(inst.storedRecord(), damaged) << magic;
        EXPECT_EQ(host.live().portingHandles, 1);
    }
}

TEST_F(Instances, EmptyHandlesAreReportedNotFollowed)
{
    // A handle whose block is gone: nothing to convert, nothing to read.
    char *master = nullptr;
    Handle empty = &master;
    for (int32_t cmd : {2, int32_t(CmdAbout)})
        EXPECT_EQ(host.command(cmd, empty), 0) << cmd;
    host.out().outFlags = 0x33;
    EXPECT_EQ(host.command(CmdInstanceResetup, empty), 512);
    EXPECT_EQ(host.message(), kDamaged);
    EXPECT_EQ(host.out().outFlags, 256);
    EXPECT_EQ(master, nullptr);
    EXPECT_TRUE(host.live().portingHandles == 0) << "no replacement is made for it";
}

TEST_F(Instances, ResetupWithoutARecordGivesABlankOne)
{
    ASSERT_FALSE(inst.hasRecord());
    ASSERT_EQ(inst.resetup(), 0);
    ASSERT_TRUE(inst.hasRecord());
    EXPECT_EQ(inst.storedRecord(), blankStored());
    EXPECT_EQ(host.out().outFlags, 128);
}

TEST_F(Instances, TeardownReleasesWhateverIsPresented)
{
    // No record: nothing to release, and the output names none.
    host.out().outFlags = 0x44;
    host.out().sequenceData = reinterpret_cast<Handle>(&host); // overwritten by command()
    EXPECT_EQ(inst.command(CmdInstanceTeardown), 0);
    EXPECT_EQ(host.out().sequenceData, nullptr);
    EXPECT_EQ(host.out().outFlags, 0x44);

    // A damaged record is released all the same: the magic is not examined.
    ASSERT_EQ(inst.setup(), 0);
    Bytes damaged(record::kStoredSize, 0x99);
    inst.setStoredRecord(damaged);
    EXPECT_EQ(inst.teardown(), 0);
    EXPECT_FALSE(inst.hasRecord());
    EXPECT_EQ(host.live().portingHandles, 0);
}

TEST_F(Instances, FailedAllocationsReportAndLeaveNothing)
{
    struct Row {
        const char *what;
        Bytes presented; // empty: no record
        int32_t command;
    };
    const Row rows[] = {
        {"setup", {}, CmdInstanceSetup},
        {"re-setup replacing version 02 00", busyStored(0x0200), CmdInstanceResetup},
        {"re-setup without a record", {}, CmdInstanceResetup},
    };
    for (const Row &r : rows) {
        if (!r.presented.empty())
            inst.setStoredRecord(r.presented);
        host.failPortingAllocationAt(1);
        host.out().outFlags = 0x33;
        std::memset(host.out().returnMessage, 0, kReturnMessageSize);
        EXPECT_EQ(inst.command(r.command), -108) << r.what;
        EXPECT_EQ(host.message(), kNoMemory) << r.what;
        EXPECT_EQ(host.out().outFlags, 256) << r.what;
        EXPECT_FALSE(inst.hasRecord()) << r.what;
        const LiveCounts live = host.live();
        EXPECT_EQ(live.portingHandles, 0) << r.what;
        EXPECT_EQ(live.hostHandles, 1) << r.what << ": only the global block";
        host.clearFaults();
    }
}

TEST_F(Instances, StoredRecordsOfTheWrongSizeAreRefused)
{
    const Bytes shortRecord(100, 0);
    EXPECT_THROW(inst.setStoredRecord(shortRecord), HostError);
    EXPECT_FALSE(inst.hasRecord());
}

// Every step of a life, with and without the relocation stress of the
// porting library (a module that held an unlocked address would fail).
class WholeLife : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Host::setPortingHeapScramble(GetParam()); }
    void TearDown() override { Host::setPortingHeapScramble(false); }
};

TEST_P(WholeLife, LeavesNothingLive)
{
    Host host(QM_MODULE_PATH);
    ASSERT_EQ(host.globalSetup(), 0);
    ASSERT_EQ(host.paramSetup(), 0);
    EXPECT_EQ(host.about().substr(0, 16), "Quillomark, v3.2");
    Instance &a = host.newInstance();
    Instance &b = host.newInstance();
    ASSERT_EQ(a.setup(), 0);
    ASSERT_EQ(b.setup(), 0);
    ASSERT_EQ(a.resetup(), 0);
    b.setStoredRecord(busyStored(0x0200));
    ASSERT_EQ(b.resetup(), 0);
    EXPECT_EQ(b.storedRecord(), blankStored());
    EXPECT_EQ(host.live().portingHandles, 2);
    ASSERT_EQ(a.teardown(), 0);
    host.removeInstance(b); // tears down its record
    ASSERT_EQ(host.globalTeardown(), 0);
    EXPECT_TRUE(host.live().empty()) << host.live();
    EXPECT_TRUE(host.misuses().empty());
}

INSTANTIATE_TEST_SUITE_P(Stress, WholeLife, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "HeapScramble" : "Plain"; });

TEST(HostShutdown, TearsDownInstancesAndGlobals)
{
    {
        Host host(QM_MODULE_PATH);
        ASSERT_EQ(host.globalSetup(), 0);
        ASSERT_EQ(host.newInstance().setup(), 0);
        ASSERT_EQ(host.newInstance().setup(), 0);
        EXPECT_EQ(host.live().portingHandles, 2);
    }
    CorvaneCounts counts{};
    CorvaneGetCounts(&counts);
    EXPECT_EQ(counts.handles, 0);
}

} // namespace
