// The dispatcher and the settings record's conversion, through `main`.
#include "lifecycle_support.h"

#include <climits>
#include <random>

using namespace corvane;
using namespace qmtest;

namespace {

class Dispatch : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(inst.setup(), 0);
    }
    Instance &inst = host.newInstance();
};

Bytes bytesOf(const void *p, size_t n)
{
    return Bytes(static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
}

TEST_F(Dispatch, CodesWithoutHandlerAnswerZeroAndChangeNothing)
{
    inst.setStoredRecord(busyStored());
    const int32_t codes[] = {2, 7, 10, 12, -1, 255, INT32_MIN, INT32_MAX};
    for (int32_t code : codes) {
        host.in().sequenceData = host.out().sequenceData = inst.handle();
        host.in().globalData = host.out().globalData = nullptr;
        host.out().outFlags = 0x1234;
        std::strcpy(host.out().returnMessage, "untouched");
        const Bytes inBefore = bytesOf(&host.in(), sizeof(HostInData));
        const Bytes outBefore = bytesOf(&host.out(), sizeof(HostOutData));
        EXPECT_EQ(host.callMain(code), 0) << code;
        EXPECT_EQ(bytesOf(&host.in(), sizeof(HostInData)), inBefore) << code;
        EXPECT_EQ(bytesOf(&host.out(), sizeof(HostOutData)), outBefore) << code;
        // Converted on the way in and back on the way out.
        EXPECT_EQ(inst.storedRecord(), busyStored()) << code;
    }
}

TEST_F(Dispatch, RecordNamedOnlyByTheOutputIsConvertedOnlyOnExit)
{
    inst.setStoredRecord(busyStored());
    host.in().sequenceData = nullptr;
    host.out().sequenceData = inst.handle();
    ASSERT_EQ(host.callMain(2), 0);
    const Bytes once = busyStored();
    const Bytes native = inst.storedRecord();
    // Numbers reversed, strings as they were.
    EXPECT_EQ(hex(native, 0, 6), "ED 2B FF 00 00 01 ");
    EXPECT_EQ(hex(native, record::offsetOf(record::Field::Style), 4), "05 00 02 00 ");
    for (const auto field : {record::Field::Text, record::Field::FontName})
        EXPECT_TRUE(std::ranges::equal(record::bytesOf(native, field), record::bytesOf(once, field)));
    // A second conversion restores the stored form.
    host.in().sequenceData = nullptr;
    host.out().sequenceData = inst.handle();
    ASSERT_EQ(host.callMain(7), 0);
    EXPECT_EQ(inst.storedRecord(), busyStored());
}

TEST_F(Dispatch, RecordNamedOnlyByTheInputIsConvertedOnlyOnEntry)
{
    inst.setStoredRecord(blankStored());
    host.in().sequenceData = inst.handle();
    host.out().sequenceData = nullptr;
    ASSERT_EQ(host.callMain(10), 0);
    EXPECT_EQ(hex(inst.storedRecord(), 0, 6), "ED 2B FF 00 00 01 ");
}

TEST_F(Dispatch, AnyRecordSurvivesTheRoundTripUnchanged)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 20; ++round) {
        Bytes b(record::kStoredSize);
        for (auto &x : b)
            x = static_cast<uint8_t>(rng());
        inst.setStoredRecord(b);
        ASSERT_EQ(inst.command(2), 0);
        ASSERT_EQ(inst.storedRecord(), b) << "round " << round;
    }
}

} // namespace
