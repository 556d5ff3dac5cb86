// Helpers for driving the module through the stand-in host.
#pragma once

#include "host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qmtest {

using Bytes = std::vector<uint8_t>;

namespace record = corvane::record;

// A new record as the host holds it: magic, version, then zeros.
inline Bytes blankStored()
{
    return record::encode({});
}

// A stored record with every field in use, so a conversion shows anywhere.
inline Bytes busyStored(uint16_t version = record::kVersion, uint32_t magic = record::kMagic)
{
    return record::encode({magic, version, "First line\rSecond", "Arial", 5, 2});
}

inline std::string hex(const Bytes &b, size_t from = 0, size_t count = 8)
{
    std::string s;
    char buf[4];
    for (size_t i = from; i < from + count && i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X ", b[i]);
        s += buf;
    }
    return s;
}

inline Bytes recordBytes(Handle h)
{
    return h ? Bytes(*h, *h + record::kStoredSize) : Bytes();
}

inline const char *kNoMemory = "Not enough memory to execute Quillomark.";
inline const char *kDamaged = "Quillomark internal structure damaged.";
inline const char *kNotInitialised = "Quillomark could not be initialized.";

// A host with the module's globals set up (and parameters when asked).
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(host.globalSetup(), 0) << host.message(); }
    void TearDown() override
    {
        host.clearFaults();
        EXPECT_TRUE(host.misuses().empty()) << host.misuses().front();
    }
    corvane::Host host{QM_MODULE_PATH};
};

} // namespace qmtest
