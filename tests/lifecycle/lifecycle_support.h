// Helpers for driving the module through the stand-in host.
#pragma once

#include "host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qmtest {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kRecordSize = 522;
inline constexpr size_t kStyleAt = 518, kAlignAt = 520, kTextAt = 6, kFontAt = 262;

// A new record as the host holds it: magic, version, then zeros.
inline Bytes blankStored()
{
    Bytes b(kRecordSize, 0);
    const uint8_t head[6] = {0x00, 0xFF, 0x2B, 0xED, 0x01, 0x00};
    std::memcpy(b.data(), head, sizeof head);
    return b;
}

// A stored record with every field in use, so a conversion shows anywhere.
inline Bytes busyStored(uint8_t v0 = 0x01, uint8_t v1 = 0x00)
{
    Bytes b = blankStored();
    b[4] = v0;
    b[5] = v1;
    const char text[] = "First line\rSecond";
    std::memcpy(&b[kTextAt], text, sizeof text);
    const char font[] = "\x05"
                        "Arial";
    std::memcpy(&b[kFontAt], font, sizeof font - 1);
    b[kStyleAt] = 0x00;
    b[kStyleAt + 1] = 0x05;
    b[kAlignAt] = 0x00;
    b[kAlignAt + 1] = 0x02;
    return b;
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
    return h ? Bytes(*h, *h + kRecordSize) : Bytes();
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
