// Helpers for the options command's tests through `main`: records in
// stored form, and a host with one instance set up.
#pragma once

#include "host.h"
#include "resource_ids.h"
#include "scripted_user.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace qmtest {

using namespace corvane::win32;

inline FontEntry trueType(std::string face, uint8_t charSet = ANSI_CHARSET)
{
    return FontEntry{face, face, charSet, TRUETYPE_FONTTYPE};
}

inline const std::vector<FontEntry> kFontList = {trueType("Verdana"), trueType("arial"), trueType("Times New Roman"),
                                                 trueType("Courier New")};
inline const std::vector<std::string> kSortedFonts = {"arial", "Courier New", "Times New Roman", "Verdana"};

using corvane::record::bytesOf;
using corvane::record::Field;

// A record in stored form.
inline std::vector<uint8_t> record(std::string text, std::string font, uint16_t style = 0, uint16_t alignment = 0)
{
    return corvane::record::encode({.text = text, .fontName = font, .style = style, .alignment = alignment});
}

class Options : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetStandIn();
        setFontList(kFontList);
        host_ = std::make_unique<corvane::Host>(QM_MODULE_PATH);
        // Relocation stress (see tests/dialog/CMakeLists.txt): the dialog
        // keeps a pointer into the record across calls that move blocks.
        corvane::Host::setPortingHeapScramble(std::getenv("QM_HEAP_SCRAMBLE") != nullptr);
        ASSERT_EQ(host_->globalSetup(), 0);
        instance_ = &host_->newInstance();
        ASSERT_EQ(instance_->setup(), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(host_->live().portingLocks, 0);
        EXPECT_EQ(liveDeviceContexts(), 0);
        EXPECT_EQ(liveWindows(), 0);
        EXPECT_TRUE(host_->misuses().empty());
        corvane::Host::setPortingHeapScramble(false);
        host_.reset();
        resetStandIn();
    }

    // The options command on `instance` with `script` at the dialog, whose
    // steps must all succeed.
    int32_t options(Script script, corvane::Instance *instance = nullptr)
    {
        queueScript(std::move(script));
        const int32_t result = (instance ? instance : instance_)->options();
        EXPECT_EQ(queuedScripts(), 0u);
        EXPECT_EQ(lastDialogReport().error, "");
        EXPECT_TRUE(lastDialogReport().closedByScript);
        return result;
    }

    std::vector<uint8_t> stored() const { return instance_->storedRecord(); }
    corvane::record::Fields fields() const { return corvane::record::decode(stored()); }
    void store(const std::vector<uint8_t> &r) { instance_->setStoredRecord(r); }

    std::unique_ptr<corvane::Host> host_;
    corvane::Instance *instance_ = nullptr;
};

} // namespace qmtest
