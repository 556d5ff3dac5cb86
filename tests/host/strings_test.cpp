// String tables, formatString and copyString.
#include "test_support.h"

#include <climits>

using namespace corvane;
using namespace qmtest;

namespace {

const char *const kEnd = reinterpret_cast<const char *>(~static_cast<uintptr_t>(0));

class Strings : public ::testing::Test {
protected:
    Host host{QM_MODULE_PATH};
    HostInData &in = host.in();
    HostUtilTable &u = *host.in().utils;
};

TEST_F(Strings, TableIsCountedToItsEndMarkAndLendsItsOwnAddresses)
{
    static const char *const table[] = {"zero", "one", "two", kEnd, "beyond"};
    StringTableRef ref = 0;
    ASSERT_EQ(in.openStringTable(table, 4087, "Effect", 1, &ref), 0);
    ASSERT_NE(ref, 0u);
    const StringTableInfo *info = host.lastStringTable();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->entries, 3);
    EXPECT_EQ(info->id, 4087);
    EXPECT_EQ(info->countArgument, 1);
    EXPECT_EQ(info->effectName, "Effect");
    EXPECT_EQ(host.live().stringTables, 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(in.getString(ref, i), table[i]) << "entry " << i << " must be the table's own address";
    EXPECT_TRUE(host.misuses().empty());
    EXPECT_STREQ(in.getString(ref, 3), ""); // the end mark is not an entry
    EXPECT_STREQ(in.getString(ref, -1), "");
    EXPECT_EQ(host.misuses().size(), 2u);
    in.closeStringTable(ref);
    EXPECT_EQ(host.live().stringTables, 0);
    EXPECT_STREQ(in.getString(ref, 0), ""); // closed
    in.closeStringTable(ref);
    EXPECT_EQ(host.misuses().size(), 4u);
}

TEST_F(Strings, BadTablesAreRefusedClearly)
{
    static const char *const withHole[] = {"a", nullptr, "c", kEnd};
    StringTableRef ref = 77;
    EXPECT_EQ(in.openStringTable(withHole, 1, "x", 1, &ref), -50);
    EXPECT_EQ(ref, 77u);
    ASSERT_EQ(host.misuses().size(), 1u);
    EXPECT_NE(host.misuses()[0].find("entry 1 is null"), std::string::npos) << host.misuses()[0];
    EXPECT_EQ(in.openStringTable(nullptr, 1, "x", 1, &ref), -50);
    static const char *const ok[] = {kEnd};
    EXPECT_EQ(in.openStringTable(ok, 1, "x", 1, nullptr), -50);
    // An empty table is still a table.
    ASSERT_EQ(in.openStringTable(ok, 1, nullptr, 1, &ref), 0);
    EXPECT_EQ(host.lastStringTable()->entries, 0);
    in.closeStringTable(ref);
    EXPECT_EQ(host.live().stringTables, 0);
}

TEST_F(Strings, InjectedOpenFailuresWithAndWithoutATable)
{
    static const char *const table[] = {"a", kEnd};
    StringTableRef ref = 0;
    host.failAt(Service::OpenStringTable, 1, -192);
    EXPECT_EQ(in.openStringTable(table, 1, "x", 1, &ref), -192);
    EXPECT_EQ(ref, 0u);
    EXPECT_EQ(host.live().stringTables, 0);
    // A failure after the table was opened hands its value out too.
    host.failAt(Service::OpenStringTable, 1, -193, true);
    EXPECT_EQ(in.openStringTable(table, 1, "x", 1, &ref), -193);
    EXPECT_NE(ref, 0u);
    EXPECT_EQ(host.live().stringTables, 1);
    in.closeStringTable(ref);
    EXPECT_EQ(host.live().stringTables, 0);
    EXPECT_EQ(host.calls(Service::OpenStringTable), 2);
    EXPECT_EQ(host.calls(Service::CloseStringTable), 1);
}

struct FormatRow {
    const char *format;
    int32_t a, b;
    const char *want;
};

TEST_F(Strings, FormatReadsLongAsThirtyTwoBits)
{
    const FormatRow rows[] = {
        {"Quillomark, v%ld.%ld\r\r", 3, 2, "Quillomark, v3.2\r\r"},
        {"%ld|%ld", -1, 2, "-1|2"},
        {"%ld %ld", INT32_MIN, INT32_MAX, "-2147483648 2147483647"},
        {"%lu %lx", -1, 255, "4294967295 ff"},
        {"%d/%i", -7, 8, "-7/8"},
        {"[%5ld][%-4ld]", 42, 7, "[   42][7   ]"},
        {"[%05ld][%+ld]", -42, 5, "[-0042][+5]"},
        {"%.3ld %X", 5, 0xBEEF, "005 BEEF"},
        {"%hd %c", 65537, 'Q', "1 Q"},
        {"100%% %q %ld", 1, 0, "100% %q 1"},
    };
    for (const FormatRow &r : rows) {
        char buf[64];
        u.formatString(buf, r.format, r.a, r.b);
        EXPECT_STREQ(buf, r.want) << r.format;
    }
    char buf[64];
    u.formatString(buf, "%s and %.2s and %-4s|%s", "all", "partial", "ab", static_cast<const char *>(nullptr));
    EXPECT_STREQ(buf, "all and pa and ab  |(null)");
    EXPECT_EQ(host.calls(Service::FormatString), static_cast<int32_t>(std::size(rows)) + 1);
}

TEST_F(Strings, FormatAndCopyNeverPassTheMessageBuffer)
{
    const std::string longText(400, 'x');
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<char> buf(600, 'Z');
        if (pass == 0)
            u.formatString(buf.data(), "%s", longText.c_str());
        else if (pass == 1)
            u.formatString(buf.data(), "%300ld", 1); // padding alone overflows
        else
            u.copyString(buf.data(), longText.c_str());
        EXPECT_EQ(std::strlen(buf.data()), static_cast<size_t>(kReturnMessageSize - 1)) << pass;
        EXPECT_EQ(buf[kReturnMessageSize - 1], 0) << pass;
        EXPECT_EQ(buf[kReturnMessageSize], 'Z') << pass << ": wrote past the buffer";
    }
    char small[8];
    u.copyString(small, "Size");
    EXPECT_STREQ(small, "Size");
    u.copyString(small, nullptr);
    EXPECT_STREQ(small, "");
    u.copyString(nullptr, "ignored"); // no destination, no crash
}

} // namespace
