// The module entry, called as the system's loader would.
#include "entry/module.h"

#include <gtest/gtest.h>

namespace {

TEST(ModuleEntry, ReturnsOneForEveryReasonAndKeepsOnlyTheAttachHandle)
{
    static int marks[8];
    gModuleHandle = &marks[7];
    struct Row {
        uint32_t reason;
        void *handle;
        void *after; // gModuleHandle afterwards
    };
    const Row rows[] = {
        {0, &marks[0], &marks[7]}, // detach
        {1, &marks[1], &marks[1]}, // attach
        {2, &marks[2], &marks[1]}, // thread attach
        {3, &marks[3], &marks[1]}, // thread detach
        {1, &marks[4], &marks[4]}, {0xFFFFFFFFu, &marks[5], &marks[4]},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(ModuleEntry(r.handle, r.reason, nullptr), 1) << r.reason;
        EXPECT_EQ(gModuleHandle, r.after) << r.reason;
    }
}

} // namespace
